// The colour cube cut into cells, each knowing which signatures can be
// nearest to a colour in it: a pixel needs only its cell's list, and a block
// of pixels the union of its cells' lists, kept in command-line order so
// that ties still go to the earliest. Cells are built as pixels reach them,
// from the cell twice their size around them, eight at a time until half
// the room is taken, in memory taken once and shared by every thread.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>

#include "remap/table.hpp"

namespace remap {

// Levels of cells: 1, 2, 4, ... 32 a side. Pixels are searched in cells of
// the two finest levels, 16 and 8 values a side: which pays depends on the
// signatures and the processor's caches (choice.hpp).
constexpr int kLevels = 6;
constexpr int kFinest = kLevels - 1;
constexpr int kCoarse = kLevels - 2;

// The cell of `level` holding the colour at `rgb`.
inline std::int32_t CellOf(const std::uint8_t* rgb, int level) {
  const int shift = 8 - level;
  return (rgb[0] >> shift) << (2 * level) | (rgb[1] >> shift) << level | (rgb[2] >> shift);
}

// Places in Signatures, ascending, at least one.
struct Span {
  const std::int32_t* place;
  std::int32_t count;
};

// Four candidates of a cell as the search of one pixel takes them, in one
// cache line: match lanes as in a Match (table.hpp), offsets as in a Chunk
// but with the place in the cell's list in the key's low bits, and
// replacement colours. A cell's last quad is filled up with copies of its
// last candidate, which never win over it.
constexpr int kQuad = 4;
struct alignas(64) Quad {
  std::int16_t rg[2 * kQuad];  // -64·r', -64·g' of each candidate
  std::int16_t b[2 * kQuad];   // -64·b', 0
  std::int32_t offset[kQuad];  // 8192·|m'|² + place in the cell
  std::uint32_t colour[kQuad];
};

// A cell's quads (none when the pool had no room for them, or the list is
// too long for a key), else its list.
struct CellCandidates {
  const Quad* quads;
  std::int32_t quadCount;
  Span span;  // only when there are no quads
};

// Built once a thread needs a cell; read by every thread.
struct Index {
  const Signatures* all = nullptr;
  // Per level, per cell: its list once built (its length written first),
  // else null.
  std::unique_ptr<std::atomic<const std::int32_t*>[]> list[kLevels];
  std::unique_ptr<std::int32_t[]> length[kLevels];
  std::unique_ptr<std::int32_t[]> everyone;  // 0 .. count-1, the list of the whole cube
  // Cells beyond what the pool holds keep their parent's list, which holds
  // every signature theirs would.
  std::unique_ptr<std::int32_t[]> pool;
  std::size_t poolSize = 0, poolUsed = 0;
  std::unique_ptr<std::int32_t[]> near;  // scratch while cells are built
  // Per cell of the two finest levels, its entry for the search of each
  // pixel (below), made once such a search reaches the cell.
  std::unique_ptr<std::atomic<std::uint64_t>[]> quads[kLevels];
  std::unique_ptr<Quad[]> quadPool;
  std::size_t quadPoolSize = 0, quadPoolUsed = 0;
  std::mutex building;
};

// The index's lists take at most this: a third for the lists, the rest for
// the quads.
constexpr std::size_t kPoolBytes = std::size_t{12} << 20;

// Along one component, each of `count` values' squared distances to the
// range from `low` to `high` (inclusive): the nearest, 0 within it, to `in`,
// and the farthest to `out`.
void Along(const std::int32_t* value, std::int32_t count, std::int32_t low, std::int32_t high,
           std::int32_t* in, std::int32_t* out);

// Of `count` colours whose squared distances to a box along each component
// are `in` (the nearest) and `out` (the farthest), a component an array,
// those that can be nearest to a colour in the box: those no farther from
// it than the least farthest distance any has to it, which a colour of the
// box has to its nearest. Writes their `place`s, in order, to `kept`, which
// has room for `count`; returns how many.
std::int32_t Kept(const std::int32_t* const* in, const std::int32_t* const* out, std::int32_t count,
                  const std::int32_t* place, std::int32_t* kept);

// Prepares `index` over `all` with pools of about `poolBytes` in all.
// Returns false, leaving an index not to be used, when memory is short.
bool MakeIndex(const Signatures& all, std::size_t poolBytes, Index& index);

// A cell's entry in index.quads: where its quads start in their pool, then
// (in the low bits) how many there are; 0 until they are built, and
// kNoQuads for a cell that has none.
constexpr int kQuadCountBits = 16;
constexpr std::uint64_t kQuadCountMask = (1 << kQuadCountBits) - 1;
constexpr std::int32_t kNoQuads = kQuadCountMask;

// A cell of more than 1 << kPlaceBits candidates has no quads: the key's low
// kPlaceBits bits hold a candidate's place in the cell, 0 to count - 1.
static_assert(((1 << kPlaceBits) + kQuad - 1) / kQuad < kNoQuads, "quad counts fit");

// The candidates of a cell of one of the two finest levels, as quads where
// it has them. Safe to call from any thread.
CellCandidates BuildCandidates(Index& index, int level, std::int32_t cell);

// The replacement colour of the nearest of `span`'s signatures to `rgb`,
// found one by one.
std::uint32_t NearestOf(const Signatures& all, const Span& span, const std::uint8_t* rgb);

// One thread's room for the lists its blocks are searched against.
struct Scratch {
  std::unique_ptr<std::uint64_t[]> bits, summary;  // a union's places, and a bit a word of them
  std::unique_ptr<std::int32_t[]> places, offset;
  std::unique_ptr<Match[]> match;
  std::unique_ptr<std::uint32_t[]> colour;
  std::unique_ptr<Chunk[]> chunks;
  std::int32_t chunkCount = 0;
  std::int64_t cells = -1;  // which cells the list now holds, if it is its own
  // Colours this thread has searched and what they became: per slot,
  // (colour | 1 << 24) << 32 | replacement, or 0.
  std::unique_ptr<std::uint64_t[]> remembered;
};
constexpr int kRememberedBits = 14;

// A colour's key among remembered colours, (R | G << 8 | B << 16) | 1 << 24,
// which an empty slot never holds; and its slot.
inline std::uint32_t RememberedKey(const std::uint8_t* rgb) {
  return static_cast<std::uint32_t>(rgb[0] | rgb[1] << 8 | rgb[2] << 16) | 1u << 24;
}
inline std::uint32_t SlotOf(std::uint32_t key) {
  return (key * 0x9E3779B1u) >> (32 - kRememberedBits);
}

// Returns false when memory is short.
bool MakeScratch(const Signatures& all, Scratch& scratch);

// A list for the search, in chunks.
struct BlockList {
  const Chunk* chunks;
  std::int32_t chunkCount;
};

// The box around the colours of `pixels` pixels at `bytes`, from `low` to
// `high` per component; returns the finest level at which it
// spans at most two cells a side.
int BoxOf(const std::uint8_t* bytes, int pixels, std::int32_t* low, std::int32_t* high);

// The candidates of every colour in the box around `pixels` pixels (at most
// 64) at `bytes`: of the cells of the finest level at which the box spans
// at most two a side, the union of their lists, or every signature when the
// union would hold as many. The list stays in `scratch` for the next block,
// which takes it as it is if its box lies in the same cells.
BlockList BoxList(Index& index, Scratch& scratch, const std::uint8_t* bytes, int pixels);

}  // namespace remap
