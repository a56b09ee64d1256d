// Cells of the colour cube and their candidate lists.
//
// A cell keeps, of its parent's candidates, those whose smallest squared
// distance to the cell is no more than the cell's bound, the smallest
// largest squared distance any of them has to it. Every colour in the cell
// lies within that bound of some candidate, so one beyond it is strictly
// farther than the nearest for every colour of the cell, and every
// signature as near as the nearest is kept. A parent's list holds all its
// children's, so building from it is exact, and the list is never empty: the
// candidate that sets the bound is in it.
#include "remap/index.hpp"

#include <algorithm>
#include <cstring>
#include <thread>

namespace remap {
namespace {

// Tries for the lock before a thread sleeps on it: building a family of
// cells takes microseconds, and being woken can take far longer.
constexpr int kSpins = 1000;

// Whether the cell `id` of `level` is to get quads and has none yet, not
// even the mark of a cell that cannot have them.
bool LacksQuads(const Index& index, int level, std::size_t id) {
  return index.quads[level] && index.quads[level][id].load(std::memory_order_relaxed) == 0;
}

// Writes the quads of a cell of `level`, where there is room and every
// place fits in a key; else marks it as having none. Called with the index
// locked.
void Quads(Index& index, const Span& span, int level, std::size_t cell) {
  const auto count = static_cast<std::size_t>((span.count + kQuad - 1) / kQuad);
  if (span.count > (1 << kPlaceBits) || index.quadPoolUsed + count > index.quadPoolSize) {
    index.quads[level][cell].store(kNoQuads, std::memory_order_release);
    return;
  }
  Quad* quads = index.quadPool.get() + index.quadPoolUsed;
  const Signatures& all = *index.all;
  for (std::int32_t k = 0; k < static_cast<std::int32_t>(count) * kQuad; ++k) {
    const std::int32_t from = k < span.count ? k : span.count - 1;
    const std::int32_t i = span.place[from];
    Quad& quad = quads[k / kQuad];
    // (red, green) and (blue, 0), as a Match holds them.
    std::memcpy(&quad.rg[2 * (k % kQuad)], &all.match[i].red, 4);
    std::memcpy(&quad.b[2 * (k % kQuad)], &all.match[i].blue, 4);
    quad.offset[k % kQuad] = all.norm[i] + from;
    quad.colour[k % kQuad] = all.colour[i];
  }
  index.quads[level][cell].store(index.quadPoolUsed << kQuadCountBits | count,
                                 std::memory_order_release);
  index.quadPoolUsed += count;
}

// The cell of `level` at cell coordinates r, g, b, built with its siblings
// and its parents as needed; and with `quads`, their quads too, which only
// a search of each pixel in cells of this level needs. Called with the index
// locked.
Span Build(Index& index, int level, std::int32_t r, std::int32_t g, std::int32_t b, bool quads) {
  const std::int32_t side = 1 << level;
  const auto id = static_cast<std::size_t>((r * side + g) * side + b);
  const auto sibling = [&](int c) {
    return static_cast<std::size_t>(
        (((r & ~1) | c >> 2) * side + ((g & ~1) | (c >> 1 & 1))) * side + ((b & ~1) | (c & 1)));
  };
  if (level == 0 && index.list[0][0].load(std::memory_order_relaxed) == nullptr) {
    index.length[0][0] = index.all->count;
    index.list[0][0].store(index.everyone.get(), std::memory_order_release);
  } else if (index.list[level][id].load(std::memory_order_relaxed) == nullptr) {
    const Span parent = Build(index, level - 1, r >> 1, g >> 1, b >> 1, false);
    // Each cell keeps, of its parent's candidates, those that can be nearest
    // to a colour in it, in the pool, or the parent's list itself when it
    // would keep them all or the pool has no room. The parent's candidates
    // are read once for the family. The siblings not yet built come too
    // while the pool is at most half full: then only the cell asked for, so
    // that a picture reaching few of a family's cells leaves room for the
    // cells it does reach.
    const std::int32_t count = parent.count;
    const auto n = static_cast<std::size_t>(count);
    const bool room = index.poolUsed + n <= index.poolSize;
    const bool family = index.poolUsed <= index.poolSize / 2;
    std::int32_t* const colour[3] = {index.near.get(), index.near.get() + n,
                                     index.near.get() + 2 * n};
    const Signatures& all = *index.all;
    for (std::int32_t k = 0; room && k < count; ++k) {
      const std::int32_t i = parent.place[k];
      colour[0][k] = all.red[i];
      colour[1][k] = all.green[i];
      colour[2][k] = all.blue[i];
    }
    // Per component and half of the parent that a cell to be built lies in,
    // each candidate's squared distances to it along that component: a
    // cell's are the sums of its halves'.
    const int shift = 8 - level;
    const std::int32_t own[3] = {r, g, b};
    std::int32_t *in[3][2], *out[3][2];
    for (int c = 0; c < 3; ++c) {
      for (int h = 0; h < 2; ++h) {
        in[c][h] = index.near.get() + static_cast<std::size_t>(3 + 4 * c + 2 * h) * n;
        out[c][h] = in[c][h] + n;
        const std::int32_t low = ((own[c] & ~1) + h) << shift;
        if (room && (family || h == (own[c] & 1))) {
          Along(colour[c], count, low, low + (1 << shift) - 1, in[c][h], out[c][h]);
        }
      }
    }
    for (int c = 0; c < 8; ++c) {
      const std::size_t each = sibling(c);
      if (index.list[level][each].load(std::memory_order_relaxed) != nullptr ||
          !(family || each == id)) {
        continue;
      }
      const std::int32_t* const near[3] = {in[0][c >> 2], in[1][c >> 1 & 1], in[2][c & 1]};
      const std::int32_t* const far[3] = {out[0][c >> 2], out[1][c >> 1 & 1], out[2][c & 1]};
      std::int32_t* kept = index.pool.get() + index.poolUsed;
      const std::int32_t keeps =
          index.poolUsed + n <= index.poolSize ? Kept(near, far, count, parent.place, kept) : count;
      const Span list = keeps < count ? Span{kept, keeps} : parent;
      index.poolUsed += static_cast<std::size_t>(keeps < count ? keeps : 0);
      index.length[level][each] = list.count;
      index.list[level][each].store(list.place, std::memory_order_release);
    }
  }
  if (quads && LacksQuads(index, level, id)) {
    // The same for quads, of the siblings that are built.
    const bool family = index.quadPoolUsed <= index.quadPoolSize / 2;
    for (int c = 0; c < 8; ++c) {
      const std::size_t each = sibling(c);
      const std::int32_t* list = index.list[level][each].load(std::memory_order_relaxed);
      if (list != nullptr && LacksQuads(index, level, each) && (family || each == id)) {
        Quads(index, {list, index.length[level][each]}, level, each);
      }
    }
  }
  return {index.list[level][id].load(std::memory_order_relaxed), index.length[level][id]};
}

// The signatures that can be nearest to a colour of a cell of `level`; and
// with `quads`, the cell's quads built too. Safe to call from any thread.
Span Candidates(Index& index, int level, std::int32_t cell, bool quads) {
  const auto id = static_cast<std::size_t>(cell);
  const std::int32_t* built = index.list[level][id].load(std::memory_order_acquire);
  if (built != nullptr && !(quads && LacksQuads(index, level, id))) {
    return {built, index.length[level][id]};
  }
  const std::int32_t mask = (1 << level) - 1;
  std::unique_lock<std::mutex> lock(index.building, std::try_to_lock);
  for (int spin = 0; !lock.owns_lock() && spin < kSpins; ++spin) {
    std::this_thread::yield();
    lock.try_lock();
  }
  if (!lock.owns_lock()) lock.lock();
  return Build(index, level, cell >> (2 * level), (cell >> level) & mask, cell & mask, quads);
}

// Makes `places` (ascending, at least one) the searchable list.
BlockList Searchable(const Signatures& all, Scratch& scratch, const std::int32_t* places,
                     std::int32_t count) {
  if (count == all.count) return {all.chunks, all.chunkCount};
  std::int32_t* offset = scratch.offset.get();
  Match* match = scratch.match.get();
  std::uint32_t* colour = scratch.colour.get();
  for (std::int32_t k = 0; k < count; ++k) {
    const std::int32_t i = places[k];
    offset[k] = all.norm[i] + k % kChunk;
    match[k] = all.match[i];
    colour[k] = all.colour[i];
  }
  scratch.chunkCount = Chunked(count, match, offset, colour, scratch.chunks.get());
  return {scratch.chunks.get(), scratch.chunkCount};
}

// Writes the union of `lists` (each ascending), ascending, to
// scratch.places; returns its length. Each place sets its bit, and its
// word's bit in the summary; reading them back in order, clearing as it
// goes, gives the places ascending.
std::int32_t Joined(Scratch& scratch, const Span* lists, int listCount, std::int32_t tableCount) {
  std::uint64_t* bits = scratch.bits.get();
  std::uint64_t* summary = scratch.summary.get();
  // A list's places ascend, so most follow one in the same word: they are
  // gathered in a register, which spares each the wait for the one before
  // it to be stored.
  for (int l = 0; l < listCount; ++l) {
    std::uint32_t word = static_cast<std::uint32_t>(lists[l].place[0]) >> 6;
    std::uint64_t gathered = 0;
    for (std::int32_t k = 0; k < lists[l].count; ++k) {
      const auto place = static_cast<std::uint32_t>(lists[l].place[k]);
      if (place >> 6 != word) {
        bits[word] |= gathered;
        summary[word >> 6] |= std::uint64_t{1} << (word & 63);
        word = place >> 6;
        gathered = 0;
      }
      gathered |= std::uint64_t{1} << (place & 63);
    }
    bits[word] |= gathered;
    summary[word >> 6] |= std::uint64_t{1} << (word & 63);
  }
  std::int32_t* places = scratch.places.get();
  std::int32_t count = 0;
  const std::size_t summaryWords = (static_cast<std::size_t>(tableCount) + 4095) / 4096;
  for (std::size_t s = 0; s < summaryWords; ++s) {
    for (std::uint64_t words = summary[s]; words != 0; words &= words - 1) {
      const std::size_t w = s * 64 + static_cast<std::size_t>(__builtin_ctzll(words));
      for (std::uint64_t word = bits[w]; word != 0; word &= word - 1) {
        places[count++] = static_cast<std::int32_t>(w * 64) + __builtin_ctzll(word);
      }
      bits[w] = 0;
    }
    summary[s] = 0;
  }
  return count;
}

}  // namespace

void Along(const std::int32_t* value, std::int32_t count, std::int32_t low, std::int32_t high,
           std::int32_t* in, std::int32_t* out) {
  for (std::int32_t k = 0; k < count; ++k) {
    const std::int32_t below = low - value[k], above = value[k] - high;
    const std::int32_t nearest = std::max({below, above, 0}), farthest = std::max(-below, -above);
    in[k] = nearest * nearest;
    out[k] = farthest * farthest;
  }
}

std::int32_t Kept(const std::int32_t* const* in, const std::int32_t* const* out, std::int32_t count,
                  const std::int32_t* place, std::int32_t* kept) {
  std::int32_t bound = INT32_MAX;
  for (std::int32_t k = 0; k < count; ++k) {
    bound = std::min(bound, out[0][k] + out[1][k] + out[2][k]);
  }
  // Each place is written to the next free slot, which only those kept move on.
  std::int32_t keeps = 0;
  for (std::int32_t k = 0; k < count; ++k) {
    kept[keeps] = place[k];
    keeps += in[0][k] + in[1][k] + in[2][k] <= bound ? 1 : 0;
  }
  return keeps;
}

bool MakeIndex(const Signatures& all, std::size_t poolBytes, Index& index) {
  index.all = &all;
  const auto count = static_cast<std::size_t>(all.count);
  for (int level = 0; level < kLevels; ++level) {
    const std::size_t cells = std::size_t{1} << (3 * level);
    if (!Allocate(index.list[level], cells) || !Allocate(index.length[level], cells) ||
        (level >= kCoarse && !Allocate(index.quads[level], cells))) {
      return false;
    }
  }
  // A third for the lists, the rest for the quads.
  index.poolSize = poolBytes / 3 / sizeof(std::int32_t);
  index.quadPoolSize = (poolBytes - poolBytes / 3) / sizeof(Quad);
  if (!Reserve(index.everyone, count) || !Reserve(index.near, 15 * count) ||
      !Reserve(index.pool, index.poolSize) || !Reserve(index.quadPool, index.quadPoolSize)) {
    return false;
  }
  for (std::size_t i = 0; i < count; ++i) index.everyone[i] = static_cast<std::int32_t>(i);
  return true;
}

CellCandidates BuildCandidates(Index& index, int level, std::int32_t cell) {
  const Span span = Candidates(index, level, cell, true);
  const std::uint64_t quads =
      index.quads[level][static_cast<std::size_t>(cell)].load(std::memory_order_acquire);
  const auto count = static_cast<std::int32_t>(quads & kQuadCountMask);
  if (count == kNoQuads) return {nullptr, 0, span};
  return {index.quadPool.get() + (quads >> kQuadCountBits), count, span};
}

bool MakeScratch(const Signatures& all, Scratch& scratch) {
  const auto count = static_cast<std::size_t>(all.count);
  const std::size_t words = (count + 63) / 64;
  return Allocate(scratch.bits, words) && Allocate(scratch.summary, (words + 63) / 64) &&
         Reserve(scratch.places, count) && Reserve(scratch.offset, count) &&
         Reserve(scratch.match, count) && Allocate(scratch.colour, count + kColourSlack) &&
         Allocate(scratch.chunks, (count + kChunk - 1) / kChunk) &&
         Allocate(scratch.remembered, std::size_t{1} << kRememberedBits);
}

int BoxOf(const std::uint8_t* bytes, int pixels, std::int32_t* low, std::int32_t* high) {
  // 48 bytes are 16 whole pixels: byte j of each stripe is component j % 3.
  std::uint8_t lo[48], hi[48] = {};
  std::memset(lo, 255, sizeof lo);
  const int whole = pixels / 16 * 48;
  for (int k = 0; k < whole; k += 48) {
    for (int j = 0; j < 48; ++j) {
      const std::uint8_t v = bytes[k + j];
      lo[j] = v < lo[j] ? v : lo[j];
      hi[j] = v > hi[j] ? v : hi[j];
    }
  }
  for (int j = whole; j < 3 * pixels; ++j) {
    lo[j % 3] = bytes[j] < lo[j % 3] ? bytes[j] : lo[j % 3];
    hi[j % 3] = bytes[j] > hi[j % 3] ? bytes[j] : hi[j % 3];
  }
  std::fill(low, low + 3, 255);
  std::fill(high, high + 3, 0);
  for (int j = 0; j < 48; j += 3) {
    for (int c = 0; c < 3; ++c) {
      low[c] = lo[j + c] < low[c] ? lo[j + c] : low[c];
      high[c] = hi[j + c] > high[c] ? hi[j + c] : high[c];
    }
  }
  int level = kFinest;
  const auto spans = [&](int c) { return (high[c] >> (8 - level)) - (low[c] >> (8 - level)); };
  while (level > 0 && (spans(0) > 1 || spans(1) > 1 || spans(2) > 1)) --level;
  return level;
}

BlockList BoxList(Index& index, Scratch& scratch, const std::uint8_t* bytes, int pixels) {
  std::int32_t low[3], high[3];
  const int level = BoxOf(bytes, pixels, low, high);
  const auto extent = [&](int c) { return (high[c] >> (8 - level)) - (low[c] >> (8 - level)); };
  const int shift = 8 - level;
  // The level, the first cell's coordinates and whether the box reaches the
  // next cell along each axis name the cells. The list of cells that hold
  // these serves too.
  const std::int64_t cells = std::int64_t{level} << 40 | std::int64_t{low[0] >> shift} << 24 |
                             std::int64_t{low[1] >> shift} << 16 | (low[2] >> shift) << 8 |
                             extent(0) << 2 | extent(1) << 1 | extent(2);
  if (scratch.cells >= 0 && scratch.cells >> 40 == level) {
    bool within = true;
    for (int c = 0; c < 3; ++c) {
      const std::int64_t first = scratch.cells >> (24 - 8 * c) & 0xFF;
      const std::int64_t last = first + (scratch.cells >> (2 - c) & 1);
      within = within && first <= low[c] >> shift && (high[c] >> shift) <= last;
    }
    if (within) return {scratch.chunks.get(), scratch.chunkCount};
  }
  Span lists[8];
  int listCount = 0;
  std::int64_t together = 0;
  for (int r = 0; r <= extent(0); ++r) {
    for (int g = 0; g <= extent(1); ++g) {
      for (int b = 0; b <= extent(2); ++b) {
        const std::int32_t cell = ((low[0] >> shift) + r) << (2 * level) |
                                  ((low[1] >> shift) + g) << level | ((low[2] >> shift) + b);
        lists[listCount] = Candidates(index, level, cell, false);
        together += lists[listCount++].count;
      }
    }
  }
  const Signatures& all = *index.all;
  // Lists that hold the table twice over cost as much to join as the table
  // does to search.
  if (together >= 2 * std::int64_t{all.count}) {
    scratch.cells = -1;
    return {all.chunks, all.chunkCount};
  }
  const BlockList list = listCount == 1 ? Searchable(all, scratch, lists[0].place, lists[0].count)
                                        : Searchable(all, scratch, scratch.places.get(),
                                                     Joined(scratch, lists, listCount, all.count));
  // Only a list in the scratch's own arrays stays for the next block.
  scratch.cells = list.chunks == scratch.chunks.get() ? cells : -1;
  return list;
}

std::uint32_t NearestOf(const Signatures& all, const Span& span, const std::uint8_t* rgb) {
  const std::int32_t r = rgb[0], g = rgb[1], b = rgb[2];
  // Distance above, place in the list below: the smallest key is the
  // nearest, and the earliest of equally near ones.
  std::uint64_t best = UINT64_MAX;
  for (std::int32_t k = 0; k < span.count; ++k) {
    const std::int32_t i = span.place[k];
    const std::int32_t dr = r - all.red[i], dg = g - all.green[i], db = b - all.blue[i];
    const std::uint64_t key = static_cast<std::uint64_t>(dr * dr + dg * dg + db * db) << 32 |
                              static_cast<std::uint32_t>(k);
    best = key < best ? key : best;
  }
  return all.colour[span.place[best & 0xFFFFFFFF]];
}

}  // namespace remap
