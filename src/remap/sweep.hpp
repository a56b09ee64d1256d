// The sweep every kernel shares: whole blocks in place, the last short block
// through a copy on the stack, each block searched chunk by chunk (a later
// chunk winning only where it is strictly nearer), against every signature
// or against only its cells' candidates, the way chosen for its unit of the
// picture (choice.hpp).
//
// A kernel K supplies, for a block of K::kBlock pixels (at most 64):
//   K::kLanes                                   pixels an instruction compares
//   K::Pixels, K::Keys, K::Best                 what its registers hold
//   K::Load(bytes, pixels)                      pixels into lanes
//   K::Search(pixels, chunk, keys)              smallest key per pixel over one chunk
//   K::Lookup(keys, chunk, best)                distance and colour of those keys
//   K::KeepNearer(candidate, best)              where candidate is strictly nearer, take it
//   K::Store(best, bytes)                       colours back into the block
// Each kernel's file includes this header once and instantiates Sweep with its
// own K, compiled for its own instruction set; everything here has internal
// linkage so that no other file can end up with that instruction set's code.
#pragma once

#include <cstdint>
#include <cstring>

#include "remap/choice.hpp"
#include "remap/index.hpp"
#include "remap/kernels.hpp"
#include "remap/quad_key.hpp"  // and the intrinsics of the widest lanes the file has

namespace remap {
namespace {

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

#if defined(__AVX2__)
// Dwords 0-5 of eight pixels' 24 bytes, which reads none past them.
inline __m256i SixDwords() { return _mm256_setr_epi32(-1, -1, -1, -1, -1, -1, 0, 0); }

// The eight pixels at `p`, a pixel's three bytes the low three of a lane.
inline __m256i EightPixels(const std::uint8_t* p) {
  return _mm256_permutevar8x32_epi32(
      _mm256_maskload_epi32(reinterpret_cast<const int*>(p), SixDwords()),
      _mm256_setr_epi32(0, 1, 2, 0, 3, 4, 5, 0));
}

// The colours of the eight pixels at `p`, R | G << 8 | B << 16 a lane.
inline __m256i EightColours(const std::uint8_t* p) {
  const __m256i toColour = _mm256_setr_epi8(0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1, 0,
                                            1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1);
  return _mm256_shuffle_epi8(EightPixels(p), toColour);
}

// Writes eight colours, R | G << 8 | B << 16 a lane, as the 24 bytes at `p`.
inline void PutEightColours(std::uint8_t* p, __m256i colours) {
  const __m256i toBytes = _mm256_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1,
                                           0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1);
  const __m256i packed = _mm256_setr_epi32(0, 1, 2, 4, 5, 6, 3, 7);
  _mm256_maskstore_epi32(
      reinterpret_cast<int*>(p), SixDwords(),
      _mm256_permutevar8x32_epi32(_mm256_shuffle_epi8(colours, toBytes), packed));
}
#endif

// The replacement colour of the nearest of a cell's `count` quads to a
// pixel whose lanes are `rg` and `b`.
inline std::uint32_t NearestInQuads(const Quad* quads, std::int32_t count, std::int32_t rg,
                                    std::int32_t b) {
  const auto place =
      static_cast<std::uint32_t>(SmallestKey(quads, count, rg, b)) & ((1u << kPlaceBits) - 1);
  return quads[place / kQuad].colour[place % kQuad];
}

// Writes `colour` (R | G << 8 | B << 16) at `p`; with `spare`, where the
// byte after them is the next pixel's, which that pixel writes in turn, in
// one store of four bytes.
inline void PutColour(std::uint8_t* p, std::uint32_t colour, bool spare) {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
  if (spare) {
    std::memcpy(p, &colour, 4);
    return;
  }
#else
  (void)spare;
#endif
  p[0] = static_cast<std::uint8_t>(colour);
  p[1] = static_cast<std::uint8_t>(colour >> 8);
  p[2] = static_cast<std::uint8_t>(colour >> 16);
}

// The replacement colour of the nearest of a cell's candidates to a pixel
// whose lanes are `rg` and `b`, as SmallestKey takes them, building the
// cell first if it is not yet: each cell's first pixel, and every pixel of
// a cell that has no quads.
[[gnu::noinline]] inline std::uint32_t NearestInCell(Index& index, int level, std::int32_t cell,
                                                     std::int32_t rg, std::int32_t b) {
  const CellCandidates found = BuildCandidates(index, level, cell);
  if (found.quadCount > 0) return NearestInQuads(found.quads, found.quadCount, rg, b);
  // Its bytes may have been written over already; the lanes hold them.
  const std::uint8_t rgb[3] = {static_cast<std::uint8_t>((rg >> 8) + 128),
                               static_cast<std::uint8_t>((rg >> 24) + 128),
                               static_cast<std::uint8_t>((b >> 8) + 128)};
  return NearestOf(*index.all, found.span, rgb);
}

// Each of `pixels` pixels (at most 64) at `bytes` against the candidates of
// its own cell of `kLevel`. Where pixels are scattered over the cube, each
// reaches its cell's entry and then its quads in memory no cache holds, so
// both are fetched for the whole block before the first pixel needs them.
template <int kLevel>
void SearchEachPixel(Index& index, std::uint8_t* bytes, int pixels) {
  const std::atomic<std::uint64_t>* const entries = index.quads[kLevel].get();
  const Quad* const pool = index.quadPool.get();
  std::int32_t cells[64], rg[64], b[64];
  for (int j = 0; j < pixels; ++j) {
    const std::uint8_t* p = bytes + 3 * j;
    cells[j] = CellOf(p, kLevel);
    rg[j] = static_cast<std::int32_t>((static_cast<std::uint32_t>((p[0] - 128) * 256) & 0xFFFF) |
                                      static_cast<std::uint32_t>((p[1] - 128) * 256) << 16);
    b[j] = (p[2] - 128) * 256;
  }
  for (int j = 0; j < pixels; ++j) __builtin_prefetch(entries + cells[j]);
  std::uint64_t found[64];
  for (int j = 0; j < pixels; ++j) {
    found[j] = entries[cells[j]].load(std::memory_order_acquire);
    __builtin_prefetch(pool + (found[j] >> kQuadCountBits));
  }
  // A pixel's bytes may be written over by the one before it: its lanes are
  // read above.
  for (int j = 0; j < pixels; ++j) {
    const auto count = static_cast<std::int32_t>(found[j] & kQuadCountMask);
    // Neither unbuilt (0) nor without quads (kNoQuads), in one comparison.
    const std::uint32_t colour =
        static_cast<std::uint32_t>(count - 1) < kNoQuads - 1
            ? NearestInQuads(pool + (found[j] >> kQuadCountBits), count, rg[j], b[j])
            : NearestInCell(index, kLevel, cells[j], rg[j], b[j]);
    PutColour(bytes + 3 * j, colour, j + 1 < pixels);
  }
}

// Looks `pixels` pixels at `bytes` up among the remembered colours: a hit
// takes its colour; a miss's key (colour | 1 << 24) goes into `key` and its
// place in the block into `where`. Returns the misses.
inline int Recall(const std::uint64_t* remembered, std::uint8_t* bytes, int pixels,
                  std::uint32_t* key, std::uint8_t* where) {
  int misses = 0, j = 0;
#if defined(__AVX2__)
  const __m256i inOrder = _mm256_setr_epi32(0, 1, 4, 5, 2, 3, 6, 7);
  for (; j + 8 <= pixels; j += 8) {
    std::uint8_t* p = bytes + 3 * j;
    const __m256i keys = _mm256_or_si256(EightColours(p), _mm256_set1_epi32(1 << 24));
    const __m256i slots = _mm256_srli_epi32(
        _mm256_mullo_epi32(keys, _mm256_set1_epi32(static_cast<int>(0x9E3779B1u))),
        32 - kRememberedBits);
    const auto* table = reinterpret_cast<const long long*>(remembered);
    const __m256 low =
        _mm256_castsi256_ps(_mm256_i32gather_epi64(table, _mm256_castsi256_si128(slots), 8));
    const __m256 high =
        _mm256_castsi256_ps(_mm256_i32gather_epi64(table, _mm256_extracti128_si256(slots, 1), 8));
    const __m256i tags = _mm256_permutevar8x32_epi32(
        _mm256_castps_si256(_mm256_shuffle_ps(low, high, 0xDD)), inOrder);
    const __m256i colours = _mm256_permutevar8x32_epi32(
        _mm256_castps_si256(_mm256_shuffle_ps(low, high, 0x88)), inOrder);
    PutEightColours(p, colours);
    auto missed = static_cast<unsigned>(
                      _mm256_movemask_ps(_mm256_castsi256_ps(_mm256_cmpeq_epi32(tags, keys)))) ^
                  0xFFu;
    if (missed == 0) continue;
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(key + j), keys);
    for (; missed != 0; missed &= missed - 1) {
      where[misses++] = static_cast<std::uint8_t>(j + __builtin_ctz(missed));
    }
  }
#endif
  for (; j < pixels; ++j) {
    std::uint8_t* p = bytes + 3 * static_cast<std::size_t>(j);
    key[j] = RememberedKey(p);
    const std::uint64_t entry = remembered[SlotOf(key[j])];
    where[misses] = static_cast<std::uint8_t>(j);
    misses += (entry >> 32) != key[j];
    PutColour(p, static_cast<std::uint32_t>(entry), false);  // the next pixel is yet to be read
  }
  return misses;
}

// Each pixel (at most 64) whose colour this thread has met lately takes what
// it became then; the rest are searched each against its own cell of 8, and
// remembered. A picture of few colours, such as a smooth photograph, meets
// the same ones again and again.
inline void SearchRemembering(Index& index, Scratch& scratch, std::uint8_t* bytes, int pixels) {
  std::uint64_t* remembered = scratch.remembered.get();
  std::uint32_t key[64];
  std::uint8_t where[64];
  const int misses = Recall(remembered, bytes, pixels, key, where);
  if (misses == 0) return;
  std::uint8_t missed[64 * 3];
  for (int m = 0; m < misses; ++m) PutColour(missed + 3 * m, key[where[m]], m + 1 < misses);
  SearchEachPixel<kFinest>(index, missed, misses);
  for (int m = 0; m < misses; ++m) {
    const std::uint8_t* found = missed + 3 * m;
    std::memcpy(bytes + 3 * where[m], found, 3);
    const std::uint32_t k = key[where[m]];
    remembered[SlotOf(k)] = std::uint64_t{k} << 32 |
                            static_cast<std::uint32_t>(found[0] | found[1] << 8 | found[2] << 16);
  }
}

// One block the chosen way. `pixels` of them are the picture's.
template <class K>
void SearchBlock(std::uint8_t* bytes, int pixels, Way way, const Band& band) {
  switch (way) {
    case kFull:
      return RemapBlock<K>(bytes, band.all->chunks, band.all->chunkCount);
    case kEachPixelLargeCells:
      return SearchEachPixel<kCoarse>(*band.index, bytes, pixels);
    case kEachPixelSmallCells:
      return SearchEachPixel<kFinest>(*band.index, bytes, pixels);
    case kRemembering:
      return SearchRemembering(*band.index, *band.scratch, bytes, pixels);
    default:
      const BlockList list = BoxList(*band.index, *band.scratch, bytes, pixels);
      return RemapBlock<K>(bytes, list.chunks, list.chunkCount);
  }
}

// `pixels` pixels at `bytes` one way: whole blocks in place, the last
// short one through a copy on the stack.
template <class K>
void SearchRun(std::uint8_t* bytes, std::uint64_t pixels, Way way, const Band& band) {
  const std::uint64_t whole = pixels / K::kBlock * K::kBlock;
  for (std::uint64_t b = 0; b < whole; b += K::kBlock) {
    SearchBlock<K>(bytes + 3 * b, K::kBlock, way, band);
  }
  if (whole < pixels) {
    std::uint8_t tail[K::kBlock * 3] = {};
    const auto size = static_cast<std::size_t>(3 * (pixels - whole));
    std::memcpy(tail, bytes + 3 * whole, size);
    SearchBlock<K>(tail, static_cast<int>(pixels - whole), way, band);
    std::memcpy(bytes + 3 * whole, tail, size);
  }
}

// The band, each stretch of it the way its unit was given: the picture's
// first band.head pixels the full search, as they are what the first unit's
// way is chosen from.
template <class K>
void Sweep(const Band& band) {
  static_assert(K::kBlock <= 64 && 64 % K::kBlock == 0, "blocks tile the bands");
  for (std::uint64_t k = 0; k < band.pixelCount;) {
    const std::uint64_t at = band.first + k;
    const std::uint64_t unit = at / kUnitPixels;
    const std::uint64_t next = at < band.head ? band.head : (unit + 1) * kUnitPixels;
    const std::uint64_t end =
        next - band.first < band.pixelCount ? next - band.first : band.pixelCount;
    // A thread without room for its lists searches the full way.
    const Way way =
        at < band.head || band.scratch == nullptr ? kFull : static_cast<Way>(band.ways[unit]);
    SearchRun<K>(band.pixels + 3 * k, end - k, way, band);
    band.searched[way].fetch_add(end - k, std::memory_order_relaxed);
    k = end;
  }
}

}  // namespace
}  // namespace remap
