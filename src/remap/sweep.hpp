// The sweep every kernel shares: whole blocks in place, the last short block
// through a copy on the stack, each block searched chunk by chunk (a later
// chunk winning only where it is strictly nearer), and, for large tables,
// each tile of neighbouring pixels searched against only the signatures
// that can be nearest to one of them.
//
// A kernel K supplies, for a block of K::kBlock pixels:
//   K::Pixels, K::Keys, K::Best                 what its registers hold
//   K::Load(bytes, pixels)                      pixels into lanes
//   K::Search(pixels, chunk, keys)              smallest key per pixel over one chunk
//   K::Lookup(keys, chunk, best)                distance and colour of those keys
//   K::KeepNearer(candidate, best)              where candidate is strictly nearer, take it
//   K::Store(best, bytes)                       colours back into the block
//   K::Distances(best, e)                       best's e = |m'|² - 2 p'·m' per pixel
// and, for pruning, K::Compact(values, bound, count, index): the places of
// the values no more than bound, in order, into index; returns how many
// (a kernel may take it from CompactsPlainly).
// Each kernel's file includes this header once and instantiates Sweep with its
// own K, compiled for its own instruction set; everything here has internal
// linkage so that no other file can end up with that instruction set's code.
#pragma once

#include <cstdint>
#include <cstring>

#include "remap/table.hpp"

namespace remap {
namespace {

// A widest tile whose search still took more than this share of the full
// search's work makes pruning rest for a while (longer each time in a row):
// in noise nothing can be pruned, and trying costs.
constexpr std::uint64_t kWorthPruning = 2;
constexpr int kLongestRest = 16;  // widest tiles
// A narrowing that would drop less than this share of a list keeps the list.
constexpr std::int32_t kLeastPruned = 4;
// A list this short is searched as it is, not narrowed further.
constexpr std::int32_t kShortList = 16;
// A run whose parent's list is this long tries its neighbour's distance
// first; `kUnknown` is the guess when there is no neighbour to go by (large
// enough to try nothing, small enough to add a quarter to).
constexpr std::int32_t kWorthGuessing = 48;
constexpr std::int32_t kUnknown = INT32_MAX / 2;

// Fills in a list's chunks from its entries.
inline void Chunked(List& list) {
  list.chunkCount = (list.count + kChunk - 1) / kChunk;
  for (std::int32_t c = 0; c < list.chunkCount; ++c) {
    const std::int32_t first = c * kChunk;
    list.chunks[c] = {list.count - first < kChunk ? list.count - first : kChunk, list.match + first,
                      list.offset + first, list.colour + first};
  }
}

template <typename T>
constexpr T Max(T a, T b) {
  return a > b ? a : b;
}
template <typename T>
constexpr T Min(T a, T b) {
  return a < b ? a : b;
}

// Compact without vectors, for kernels that have no better way.
struct CompactsPlainly {
  static std::int32_t Compact(const std::int32_t* values, std::int32_t bound, std::int32_t count,
                              std::int32_t* index) {
    std::int32_t kept = 0;
    for (std::int32_t i = 0; i < count; ++i) {
      index[kept] = i;
      kept += values[i] <= bound ? 1 : 0;
    }
    return kept;
  }
};

// The smallest box around the colours of `pixels` pixels (a multiple of 16):
// lo and hi per component.
struct Box {
  std::int32_t lo[3], hi[3];
};

inline Box BoxOf(const std::uint8_t* bytes, std::uint64_t pixels) {
  // 48 bytes are 16 whole pixels: byte j of each run is component j % 3.
  std::uint8_t lo[48], hi[48];
  for (int j = 0; j < 48; ++j) lo[j] = 255, hi[j] = 0;
  for (std::uint64_t k = 0; k < pixels * 3; k += 48) {
    for (int j = 0; j < 48; ++j) {
      const std::uint8_t v = bytes[k + static_cast<std::uint64_t>(j)];
      lo[j] = v < lo[j] ? v : lo[j];
      hi[j] = v > hi[j] ? v : hi[j];
    }
  }
  Box box = {{255, 255, 255}, {0, 0, 0}};
  for (int j = 0; j < 48; ++j) {
    box.lo[j % 3] = Min<std::int32_t>(box.lo[j % 3], lo[j]);
    box.hi[j % 3] = Max<std::int32_t>(box.hi[j % 3], hi[j]);
  }
  return box;
}

// Narrowing a list to a tile: the entries that can be nearest to a colour in
// the tile's box are those whose smallest squared distance to the box is no
// more than the box's bound, the smallest largest squared distance any entry
// has to it. Every colour in the box lies within that bound of some entry,
// so an entry beyond it is strictly farther than the nearest for every pixel
// in the tile; an entry as near as the nearest is within it and kept. Order
// is kept, so ties still go to the earliest. Any other bound on every
// pixel's nearest serves too; a guessed one may be smaller than every
// entry's distance, which is why Kept never narrows below the nearest.
//
// Measure fills pruning.distance with each entry's smallest squared distance
// to the box, and returns the box's bound and the least of those distances.
struct Reach {
  std::int32_t bound;    // no pixel in the box is farther than this from its nearest entry
  std::int32_t nearest;  // no entry is nearer than this to the box
};

inline Reach Measure(const List& from, const Box& box, Pruning& pruning) {
  const std::int32_t lr = box.lo[0], lg = box.lo[1], lb = box.lo[2];
  const std::int32_t hr = box.hi[0], hg = box.hi[1], hb = box.hi[2];
  // Unaliased, so that the compiler runs the loop over whole vectors.
  const std::int32_t* __restrict red = from.red;
  const std::int32_t* __restrict green = from.green;
  const std::int32_t* __restrict blue = from.blue;
  std::int32_t* __restrict near = pruning.distance;
  const std::int32_t count = from.count;
  std::int32_t bound = INT32_MAX, nearest = INT32_MAX;
  for (std::int32_t i = 0; i < count; ++i) {
    const std::int32_t r = red[i], g = green[i], b = blue[i];
    const std::int32_t fr = Max(r - lr, hr - r), fg = Max(g - lg, hg - g), fb = Max(b - lb, hb - b);
    const std::int32_t nr = Max(Max(lr - r, r - hr), 0), ng = Max(Max(lg - g, g - hg), 0),
                       nb = Max(Max(lb - b, b - hb), 0);
    bound = Min(bound, fr * fr + fg * fg + fb * fb);
    near[i] = nr * nr + ng * ng + nb * nb;
    nearest = Min(nearest, near[i]);
  }
  return {bound, nearest};
}

// The entries of `from` whose distance (from Measure) is within `within`,
// copied into `to`, or `from` itself when too few would go to be worth the
// copy. The bound is raised to the nearest entry's distance, so the list is
// never empty: at least one entry is within it. A `last` list, or a short
// one, is only searched, so its entries are copied without what narrowing
// reads.
template <class K>
const List& Kept(const List& from, const Reach& reach, std::int32_t within, Pruning& pruning,
                 List& to, bool last) {
  const std::int32_t count = from.count;
  const std::int32_t* index = pruning.index;
  const std::int32_t bound = Max(within, reach.nearest);
  const std::int32_t kept = K::Compact(pruning.distance, bound, count, pruning.index);
  if (kept > count - count / kLeastPruned) return from;
  for (std::int32_t k = 0; k < kept; ++k) {
    const std::int32_t i = index[k];
    to.offset[k] = from.norm[i] + k % kChunk;
    to.match[k] = from.match[i];
    to.colour[k] = from.colour[i];
  }
  // What only a further narrowing reads: not needed for a list that will
  // only be searched.
  if (!last && kept > kShortList) {
    for (std::int32_t k = 0; k < kept; ++k) {
      const std::int32_t i = index[k];
      to.red[k] = from.red[i];
      to.green[k] = from.green[i];
      to.blue[k] = from.blue[i];
      to.norm[k] = from.norm[i];
    }
  }
  to.count = kept;
  Chunked(to);
  return to;
}

// Every list has at least one entry, so at least one chunk. With `farthest`, raises it to the
// largest squared distance of a pixel of the block to the signature it took.
template <class K>
void RemapBlock(std::uint8_t* bytes, const Chunk* chunks, std::int32_t chunkCount,
                std::int32_t* farthest = nullptr) {
  typename K::Pixels pixels;
  K::Load(bytes, pixels);
  typename K::Keys keys;
  typename K::Best best;
  K::Search(pixels, chunks[0], keys);
  K::Lookup(keys, chunks[0], best);
  for (std::int32_t c = 1; c < chunkCount; ++c) {
    typename K::Best candidate;
    K::Search(pixels, chunks[c], keys);
    K::Lookup(keys, chunks[c], candidate);
    K::KeepNearer(candidate, best);
  }
  if (farthest != nullptr) {
    // |p - m|² = |p'|² + e, with p' and m' centred on 128.
    std::int32_t e[K::kBlock];
    K::Distances(best, e);
    for (int j = 0; j < K::kBlock; ++j) {
      const std::int32_t r = bytes[3 * j] - 128, g = bytes[3 * j + 1] - 128,
                         b = bytes[3 * j + 2] - 128;
      *farthest = Max(*farthest, e[j] + r * r + g * g + b * b);
    }
  }
  K::Store(best, bytes);
}

template <class K>
void RemapBlocks(std::uint8_t* bytes, std::uint64_t pixels, const Chunk* chunks,
                 std::int32_t chunkCount, std::int32_t* farthest = nullptr) {
  for (std::uint64_t k = 0; k < pixels; k += K::kBlock) {
    RemapBlock<K>(bytes + 3 * k, chunks, chunkCount, farthest);
  }
}

// Any run of pixels: whole blocks in place, the rest through a copy on the
// stack.
template <class K>
void RemapRun(std::uint8_t* bytes, std::uint64_t pixels, const Chunk* chunks,
              std::int32_t chunkCount) {
  const std::uint64_t whole = pixels / K::kBlock * K::kBlock;
  RemapBlocks<K>(bytes, whole, chunks, chunkCount);
  if (whole < pixels) {
    std::uint8_t tail[K::kBlock * 3] = {};
    const auto size = static_cast<std::size_t>(3 * (pixels - whole));
    std::memcpy(tail, bytes + 3 * whole, size);
    RemapBlock<K>(tail, chunks, chunkCount);
    std::memcpy(bytes + 3 * whole, tail, size);
  }
}

// A tile: `rows` runs of `run` neighbouring pixels, each `stride` pixels
// after the one before. In a row of a picture, or in a picture whose width
// is known, as a stack of runs one above the other.
struct Tile {
  std::uint8_t* bytes;
  std::uint64_t run, rows, stride;

  std::uint8_t* Row(std::uint64_t row) const { return bytes + 3 * row * stride; }
};

// Every row of `tile` against the chunks.
template <class K>
void SearchTile(const Tile& tile, const Chunk* chunks, std::int32_t chunkCount) {
  for (std::uint64_t row = 0; row < tile.rows; ++row) {
    RemapBlocks<K>(tile.Row(row), tile.run, chunks, chunkCount);
  }
}

// The boxes of the smallest tiles of a widest tile, found once and joined
// for the larger tiles, so that each pixel is read once for them.
constexpr std::uint64_t kSmallest = kRowTiles[kLevels - 1].run;
static_assert(kSquareTiles[kLevels - 1].run == kSmallest && kRowTiles[kLevels - 1].rows == 1 &&
                  kSquareTiles[kLevels - 1].rows == 1,
              "both layouts end in the same runs");
constexpr std::uint64_t kMostSmallest =
    Max(kRowTiles[0].run * kRowTiles[0].rows, kSquareTiles[0].run* kSquareTiles[0].rows) /
    kSmallest;

struct Boxes {
  Box box[kMostSmallest];
  std::uint64_t across;  // smallest tiles in a row of the widest tile

  explicit Boxes(const Tile& widest) : across(widest.run / kSmallest) {
    for (std::uint64_t row = 0; row < widest.rows; ++row) {
      for (std::uint64_t j = 0; j < across; ++j) {
        box[row * across + j] = BoxOf(widest.Row(row) + 3 * j * kSmallest, kSmallest);
      }
    }
  }

  // The box of `rows` runs of `run` pixels from row `top`, pixel `left` of
  // the widest tile.
  Box Of(std::uint64_t top, std::uint64_t left, std::uint64_t run, std::uint64_t rows) const {
    Box joined = {{255, 255, 255}, {0, 0, 0}};
    for (std::uint64_t row = top; row < top + rows; ++row) {
      for (std::uint64_t j = left / kSmallest; j < (left + run) / kSmallest; ++j) {
        const Box& more = box[row * across + j];
        for (int c = 0; c < 3; ++c) {
          joined.lo[c] = Min(joined.lo[c], more.lo[c]);
          joined.hi[c] = Max(joined.hi[c], more.hi[c]);
        }
      }
    }
    return joined;
  }
};

// A smallest tile. The one searched before it, its neighbour, passes on in
// `guess` the largest distance any of its pixels had to the signature it
// took; neighbours being alike, the entries within a little more than that
// of this tile's box are tried first, on a copy. The result stands when no
// pixel found its signature farther than that: every entry left out is then
// strictly farther from every pixel. Otherwise the distance found bounds
// each pixel's nearest, and the tile is searched again against the entries
// within it. `guess` leaves with this tile's largest distance. A short list
// is searched as it is, and leaves no guess.
template <class K>
void RemapSmallestTile(const Tile& run, const Box& box, const List& from, Pruning& pruning,
                       std::uint64_t& work, std::int32_t& guess) {
  List& to = pruning.level[kLevels - 1];
  const Reach reach = Measure(from, box, pruning);
  std::int32_t bound = reach.bound;
  const bool guessing = from.count >= kWorthGuessing;
  // At least the nearest entry's distance: a list within less would be empty.
  const std::int32_t hope = Max(guess + guess / 4, reach.nearest);
  if (guessing && hope < bound) {
    const List& tried = Kept<K>(from, reach, hope, pruning, to, true);
    std::uint8_t copy[kSmallest * 3];
    std::memcpy(copy, run.bytes, sizeof copy);
    std::int32_t farthest = 0;
    RemapBlocks<K>(copy, kSmallest, tried.chunks, tried.chunkCount, &farthest);
    work += static_cast<std::uint64_t>(tried.count) * kSmallest;
    if (farthest <= hope) {
      std::memcpy(run.bytes, copy, sizeof copy);
      guess = farthest;
      return;
    }
    bound = Min(bound, farthest);
  }
  const List& list = Kept<K>(from, reach, bound, pruning, to, true);
  guess = guessing ? 0 : kUnknown;
  RemapBlocks<K>(run.bytes, kSmallest, list.chunks, list.chunkCount, guessing ? &guess : nullptr);
  work += static_cast<std::uint64_t>(list.count) * kSmallest;
}

// A tile at `level` of `shapes` whose parent's candidates are `from`:
// narrowed, then searched, or split into the next level's tiles while that
// may narrow the list further. Adds to `work` the pixels times signatures
// searched. `guess` is passed on between smallest tiles.
// `top` and `left` place the tile in the widest tile whose `boxes` are given.
template <class K>
void RemapTile(const Tile& tile, std::uint64_t top, std::uint64_t left, const Boxes& boxes,
               const Shape* shapes, int level, const List& from, Pruning& pruning,
               std::uint64_t& work, std::int32_t& guess) {
  const Box box = boxes.Of(top, left, tile.run, tile.rows);
  if (level + 1 == kLevels) {
    RemapSmallestTile<K>(tile, box, from, pruning, work, guess);
    return;
  }
  const Reach reach = Measure(from, box, pruning);
  const List& list = Kept<K>(from, reach, reach.bound, pruning, pruning.level[level], false);
  if (list.count <= kShortList) {
    work += static_cast<std::uint64_t>(list.count) * tile.run * tile.rows;
    SearchTile<K>(tile, list.chunks, list.chunkCount);
    return;
  }
  const Shape part = shapes[level + 1];
  std::int32_t neighbour = kUnknown;
  for (std::uint64_t row = 0; row < tile.rows; row += part.rows) {
    for (std::uint64_t x = 0; x < tile.run; x += part.run) {
      const Tile sub = {tile.Row(row) + 3 * x, part.run, part.rows, tile.stride};
      RemapTile<K>(sub, top + row, left + x, boxes, shapes, level + 1, list, pruning, work,
                   neighbour);
    }
  }
}

// Widest tiles, one after another, with pruning resting after tiles where
// it did not pay.
struct Rest {
  int length = 0, left = 0;
};

template <class K>
void RemapWidestTile(const Tile& tile, const Shape* shapes, const Table& table, Rest& rest) {
  if (rest.left > 0) {
    --rest.left;
    SearchTile<K>(tile, table.chunks, table.chunkCount);
    return;
  }
  Pruning& pruning = *table.pruning;
  std::uint64_t work = 0;
  const Boxes boxes(tile);
  std::int32_t guess = kUnknown;
  RemapTile<K>(tile, 0, 0, boxes, shapes, 0, pruning.all, pruning, work, guess);
  const std::uint64_t fullWork =
      static_cast<std::uint64_t>(pruning.all.count) * tile.run * tile.rows;
  if (work > fullWork / kWorthPruning) {
    rest.length = Min(2 * rest.length + 1, kLongestRest);
    rest.left = rest.length;
  } else {
    rest.length = 0;
  }
}

// `width`: pixels a row, or 0 when not known.
template <class K>
void Sweep(std::uint8_t* pixels, std::uint64_t pixelCount, std::uint64_t width,
           const Table& table) {
  static_assert(kRowTiles[kLevels - 1].run % K::kBlock == 0 &&
                    kSquareTiles[kLevels - 1].run % K::kBlock == 0 &&
                    kRowTiles[kLevels - 1].run % 16 == 0 && kSquareTiles[kLevels - 1].run % 16 == 0,
                "tiles hold whole blocks");
  std::uint64_t k = 0;
  if (table.pruning != nullptr) {
    Rest rest;
    const Shape square = kSquareTiles[0];
    if (width >= square.run) {
      // Bands of square tiles; what is left of each row beside them is
      // searched in full, and the rows below the last band go on along rows.
      const std::uint64_t columns = width / square.run, rows = pixelCount / width;
      for (std::uint64_t band = 0; band + square.rows <= rows; band += square.rows) {
        std::uint8_t* start = pixels + 3 * band * width;
        for (std::uint64_t c = 0; c < columns; ++c) {
          const Tile tile = {start + 3 * c * square.run, square.run, square.rows, width};
          RemapWidestTile<K>(tile, kSquareTiles, table, rest);
        }
        for (std::uint64_t row = 0; row < square.rows && columns * square.run < width; ++row) {
          RemapRun<K>(start + 3 * (row * width + columns * square.run),
                      width - columns * square.run, table.chunks, table.chunkCount);
        }
        k += square.rows * width;
      }
    }
    const Shape along = kRowTiles[0];
    for (; pixelCount - k >= along.run; k += along.run) {
      const Tile tile = {pixels + 3 * k, along.run, 1, along.run};
      RemapWidestTile<K>(tile, kRowTiles, table, rest);
    }
  }
  RemapRun<K>(pixels + 3 * k, pixelCount - k, table.chunks, table.chunkCount);
}

}  // namespace
}  // namespace remap
