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
// and, for pruning, K::Compact(values, bound, count, index): the places of
// the values no more than bound, in order, into index; returns how many
// (CompactPlainly does it without vectors).
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

// Fills in a list's chunks from its entries.
inline void Chunked(List& list) {
  list.chunkCount = (list.count + kChunk - 1) / kChunk;
  for (std::int32_t c = 0; c < list.chunkCount; ++c) {
    const std::int32_t first = c * kChunk;
    list.chunks[c] = {list.count - first < kChunk ? list.count - first : kChunk, list.match + first,
                      list.offset + first, list.colour + first};
  }
}

inline std::int32_t Max(std::int32_t a, std::int32_t b) { return a > b ? a : b; }
inline std::int32_t Min(std::int32_t a, std::int32_t b) { return a < b ? a : b; }

inline std::int32_t CompactPlainly(const std::int32_t* values, std::int32_t bound,
                                   std::int32_t count, std::int32_t* index) {
  std::int32_t kept = 0;
  for (std::int32_t i = 0; i < count; ++i) {
    index[kept] = i;
    kept += values[i] <= bound ? 1 : 0;
  }
  return kept;
}

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
    box.lo[j % 3] = Min(box.lo[j % 3], lo[j]);
    box.hi[j % 3] = Max(box.hi[j % 3], hi[j]);
  }
  return box;
}

// The entries of `from` that can be nearest to a colour in `box`: those
// whose smallest squared distance to the box is no more than the smallest
// largest squared distance any entry has to it. Every colour in the box lies
// within that bound of some entry, so an entry beyond it is strictly farther
// than the nearest for every pixel in the tile; an entry as near as the
// nearest is within it and kept. Order is kept, so ties still go to the
// earliest. Never empty: the entry that sets the bound is kept. They are
// copied into `to` and `to` returned, or, when too few would go to be worth
// the copy, `from` is returned as it is. A `last` list, or a short one, is
// only searched, so its entries are copied without what narrowing reads.
template <class K>
const List& Narrowed(const List& from, const Box& box, Pruning& pruning, List& to, bool last) {
  const std::int32_t lr = box.lo[0], lg = box.lo[1], lb = box.lo[2];
  const std::int32_t hr = box.hi[0], hg = box.hi[1], hb = box.hi[2];
  // Unaliased, so that the compiler runs the loop over whole vectors.
  const std::int32_t* __restrict red = from.red;
  const std::int32_t* __restrict green = from.green;
  const std::int32_t* __restrict blue = from.blue;
  std::int32_t* __restrict near = pruning.distance;
  const std::int32_t count = from.count;
  std::int32_t bound = INT32_MAX;
  for (std::int32_t i = 0; i < count; ++i) {
    const std::int32_t r = red[i], g = green[i], b = blue[i];
    const std::int32_t fr = Max(r - lr, hr - r), fg = Max(g - lg, hg - g), fb = Max(b - lb, hb - b);
    const std::int32_t nr = Max(Max(lr - r, r - hr), 0), ng = Max(Max(lg - g, g - hg), 0),
                       nb = Max(Max(lb - b, b - hb), 0);
    bound = Min(bound, fr * fr + fg * fg + fb * fb);
    near[i] = nr * nr + ng * ng + nb * nb;
  }
  const std::int32_t* index = pruning.index;
  const std::int32_t kept = K::Compact(near, bound, count, pruning.index);
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

// Needs at least one chunk.
template <class K>
void RemapBlock(std::uint8_t* bytes, const Chunk* chunks, std::int32_t chunkCount) {
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
  K::Store(best, bytes);
}

template <class K>
void RemapBlocks(std::uint8_t* bytes, std::uint64_t pixels, const Chunk* chunks,
                 std::int32_t chunkCount) {
  for (std::uint64_t k = 0; k < pixels; k += K::kBlock) {
    RemapBlock<K>(bytes + 3 * k, chunks, chunkCount);
  }
}

// A tile of kTiles[level] pixels whose parent's candidates are `from`:
// narrowed, then searched, or split into the next level's tiles while that
// may narrow the list further. Adds to `work` the pixels times signatures
// searched.
template <class K>
void RemapTile(std::uint8_t* bytes, int level, const List& from, Pruning& pruning,
               std::uint64_t& work) {
  const bool last = level + 1 == kLevels;
  const List& list =
      Narrowed<K>(from, BoxOf(bytes, kTiles[level]), pruning, pruning.level[level], last);
  if (list.count <= kShortList || last) {
    work += static_cast<std::uint64_t>(list.count) * kTiles[level];
    RemapBlocks<K>(bytes, kTiles[level], list.chunks, list.chunkCount);
    return;
  }
  for (std::uint64_t k = 0; k < kTiles[level]; k += kTiles[level + 1]) {
    RemapTile<K>(bytes + 3 * k, level + 1, list, pruning, work);
  }
}

template <class K>
void Sweep(std::uint8_t* pixels, std::uint64_t pixelCount, const Table& table) {
  static_assert(kTiles[kLevels - 1] % K::kBlock == 0 && kTiles[kLevels - 1] % 16 == 0,
                "tiles hold whole blocks");
  std::uint64_t k = 0;
  if (table.pruning != nullptr) {
    Pruning& pruning = *table.pruning;
    const std::uint64_t fullWork = static_cast<std::uint64_t>(pruning.all.count) * kTiles[0];
    int rest = 0, resting = 0;
    for (; pixelCount - k >= kTiles[0]; k += kTiles[0]) {
      std::uint8_t* tile = pixels + 3 * k;
      if (resting > 0) {
        --resting;
        RemapBlocks<K>(tile, kTiles[0], table.chunks, table.chunkCount);
        continue;
      }
      std::uint64_t work = 0;
      RemapTile<K>(tile, 0, pruning.all, pruning, work);
      if (work > fullWork / kWorthPruning) {
        rest = Min(2 * rest + 1, kLongestRest);
        resting = rest;
      } else {
        rest = 0;
      }
    }
  }
  const std::uint64_t whole = (pixelCount - k) / K::kBlock * K::kBlock;
  RemapBlocks<K>(pixels + 3 * k, whole, table.chunks, table.chunkCount);
  k += whole;
  if (k < pixelCount) {
    std::uint8_t tail[K::kBlock * 3] = {};
    const auto bytes = static_cast<std::size_t>(3 * (pixelCount - k));
    std::memcpy(tail, pixels + 3 * k, bytes);
    RemapBlock<K>(tail, table.chunks, table.chunkCount);
    std::memcpy(pixels + 3 * k, tail, bytes);
  }
}

}  // namespace
}  // namespace remap
