// Signatures prepared for the exact key search, in chunks a key can index.
//
// Keys. Centre components on 128 (p' = p - 128, m' = m - 128). Then
//   |p - m|² = |p'|² + e,   e = |m'|² - 2 p'·m',
// and |p'|² is the same for every signature, so the signature with the
// smallest key = 8192·e + place (its place in a chunk of at most 4096) is
// the nearest, and among equally near ones the earliest: exactly the plain
// rule. Components run from -15 to 255 (a "%x" conversion takes a sign), so
// -49,152 <= e <= 170,313, and every key and every partial sum on the way to
// it fits in 32 bits. The products come from 16-bit multiplies: pixel lanes
// hold 256·p' and match lanes -64·m', whose product is 8192·(-2 p'm') with
// no rounding anywhere.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>

namespace remap {

constexpr std::int32_t kChunk = 4096;      // signatures whose place fits in a key's low bits
constexpr int kPlaceBits = 13;             // keys are 8192·e + place
constexpr std::int32_t kColourSlack = 32;  // colour tables stay readable this far past a chunk

// A match colour as the multiplies take it: -64·m' per component, and a zero
// so that two 32-bit halves read (red, green) and (blue, 0).
struct Match {
  std::int16_t red, green, blue, zero;
};

// Up to kChunk signatures in command-line order, at least one.
struct Chunk {
  std::int32_t count;
  const Match* match;
  const std::int32_t* offset;   // 8192·|m'|² + place
  const std::uint32_t* colour;  // replacement bytes R | G << 8 | B << 16, then zeros
};

// The signatures a search can be given, in command-line order: every one
// whose match colour no earlier one has (a later duplicate never wins a
// tie), at least one.
struct Signatures {
  std::int32_t count;
  const std::int32_t *red, *green, *blue;  // match components, -15 to 255
  const std::int32_t* norm;                // 8192·|m'|²
  const Match* match;
  const std::uint32_t* colour;  // kColourSlack readable entries past the end
  const Chunk* chunks;          // all of them, in chunks of kChunk
  std::int32_t chunkCount;
};

// Cuts a list of `count` signatures, whose offsets count their places within
// kChunk, into `chunks`; returns how many chunks.
inline std::int32_t Chunked(std::int32_t count, const Match* match, const std::int32_t* offset,
                            const std::uint32_t* colour, Chunk* chunks) {
  const std::int32_t chunkCount = (count + kChunk - 1) / kChunk;
  for (std::int32_t c = 0; c < chunkCount; ++c) {
    const std::int32_t first = c * kChunk;
    chunks[c] = {count - first < kChunk ? count - first : kChunk, match + first, offset + first,
                 colour + first};
  }
  return chunkCount;
}

// The arrays behind tables and lists come without exceptions: false when
// memory is short. Allocate zeroes them, for what may be read before it is
// written; Reserve leaves them as they come, for what is always written
// first (a pool's pages are then touched only as it fills).
template <typename T>
bool Allocate(std::unique_ptr<T[]>& array, std::size_t count) {
  array.reset(new (std::nothrow) T[count]());
  return array != nullptr;
}
template <typename T>
bool Reserve(std::unique_ptr<T[]>& array, std::size_t count) {
  array.reset(new (std::nothrow) T[count]);
  return array != nullptr;
}

}  // namespace remap
