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

#include <cstdint>

namespace remap {

constexpr std::int32_t kChunk = 4096;      // signatures whose place fits in a key's low bits
constexpr int kPlaceBits = 13;             // keys are 8192·e + place
constexpr std::int32_t kColourSlack = 32;  // colour tables stay readable this far past a chunk
constexpr std::int32_t kIndexSlack = 16;   // a whole vector may be stored at the end of an index

// A match colour as the multiplies take it: -64·m' per component, and a zero
// so that two 32-bit halves read (red, green) and (blue, 0).
struct Match {
  std::int16_t red, green, blue, zero;
};

// Up to kChunk signatures in command-line order.
struct Chunk {
  std::int32_t count;
  const Match* match;
  const std::int32_t* offset;   // 8192·|m'|² + place
  const std::uint32_t* colour;  // replacement bytes R | G << 8 | B << 16, then zeros
};

// Signatures in command-line order, with all a search or a further
// narrowing needs. `offset` holds each one's place in this list.
struct List {
  std::int32_t count;
  std::int32_t *red, *green, *blue;  // match components, -15 to 255
  std::int32_t* norm;                // 8192·|m'|²
  std::int32_t* offset;              // norm + place
  Match* match;
  std::uint32_t* colour;  // kColourSlack readable entries past the end
  Chunk* chunks;          // the list in chunks of kChunk
  std::int32_t chunkCount;
};

// Pruning narrows the table over levels of ever smaller tiles of
// neighbouring pixels: `rows` runs of `run` pixels, one above the other.
struct Shape {
  std::uint64_t run, rows;
};
// Widest first, each dividing the one before: along a row where the
// picture's width is not known, and as squares, then bands, then runs where
// it is (a square's colours lie much closer together than a row's). The
// smallest holds whole blocks of every kernel and of 16 pixels.
constexpr Shape kRowTiles[] = {{4096, 1}, {512, 1}, {64, 1}};
constexpr Shape kSquareTiles[] = {{256, 64}, {64, 8}, {64, 1}};
constexpr int kLevels = sizeof kRowTiles / sizeof kRowTiles[0];
static_assert(sizeof kSquareTiles == sizeof kRowTiles, "one list per level");

// What pruning works with, all allocated before the sweep: every signature,
// and room for the candidates at each level of tile.
struct Pruning {
  List all;
  List level[kLevels];
  std::int32_t* distance;  // scratch, one entry a signature
  std::int32_t* index;     // scratch, one entry a signature and kIndexSlack more
};

// The whole signature table, prepared once before the sweep.
struct Table {
  const Chunk* chunks;
  std::int32_t chunkCount;
  Pruning* pruning;  // null: every pixel is searched against every signature
};

}  // namespace remap
