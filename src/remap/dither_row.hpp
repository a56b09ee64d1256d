// The Floyd-Steinberg row every kernel shares, and the search of one value
// among its cell's quads (the colour cells of the pass's index), which is
// what a kernel does its own way. Each kernel's file includes this header
// once, compiled for its own instruction set; everything here has internal
// linkage so that no other file can end up with that instruction set's code.
#pragma once

#if defined(__AVX2__)
#include <immintrin.h>
#endif

#include <atomic>
#include <cstdint>
#include <thread>

#include "remap/dither_job.hpp"
#include "remap/index.hpp"

namespace remap {
namespace {

// The signature nearest to a value: its replacement colour, R | G << 8 |
// B << 16, and its match colour.
struct Found {
  std::uint32_t colour;
  std::int32_t red, green, blue;
};

// The smallest key of a cell's `count` quads (at least one) for a value
// whose lanes are (256·r', 256·g') in `rg` and (256·b', anything) in `b`.
#if defined(__AVX2__)
// Two quads a step; an odd last one is taken twice.
inline std::int32_t QuadKey(const Quad* quads, std::int32_t count, std::int32_t rg,
                            std::int32_t b) {
  const __m256i prg = _mm256_set1_epi32(rg), pb = _mm256_set1_epi32(b);
  const auto both = [](const void* low, const void* high) {
    return _mm256_inserti128_si256(
        _mm256_castsi128_si256(_mm_load_si128(static_cast<const __m128i*>(low))),
        _mm_load_si128(static_cast<const __m128i*>(high)), 1);
  };
  const auto keys = [&](const Quad& low, const Quad& high) {
    return _mm256_add_epi32(_mm256_add_epi32(_mm256_madd_epi16(prg, both(low.rg, high.rg)),
                                             _mm256_madd_epi16(pb, both(low.b, high.b))),
                            both(low.offset, high.offset));
  };
  __m256i smallest = keys(quads[0], quads[count > 1 ? 1 : 0]);
  for (std::int32_t n = 2; n < count; n += 2) {
    smallest = _mm256_min_epi32(smallest, keys(quads[n], quads[n + 1 < count ? n + 1 : n]));
  }
  __m128i least =
      _mm_min_epi32(_mm256_castsi256_si128(smallest), _mm256_extracti128_si256(smallest, 1));
  least = _mm_min_epi32(least, _mm_shuffle_epi32(least, 0x4E));
  least = _mm_min_epi32(least, _mm_shuffle_epi32(least, 0xB1));
  return _mm_cvtsi128_si32(least);
}
#else
// Plain loops over the four lanes of a quad, which compilers vectorise.
inline std::int32_t QuadKey(const Quad* quads, std::int32_t count, std::int32_t rg,
                            std::int32_t b) {
  const auto pr = static_cast<std::int16_t>(rg), pg = static_cast<std::int16_t>(rg >> 16),
             pb = static_cast<std::int16_t>(b);
  std::int32_t smallest = INT32_MAX;
  for (std::int32_t n = 0; n < count; ++n) {
    const Quad& quad = quads[n];
    for (int j = 0; j < kQuad; ++j) {
      const std::int32_t key =
          quad.offset[j] + pr * quad.rg[2 * j] + pg * quad.rg[2 * j + 1] + pb * quad.b[2 * j];
      smallest = key < smallest ? key : smallest;
    }
  }
  return smallest;
}
#endif

// The nearest of `span`'s signatures to (r, g, b), one by one; the earliest
// of equally near ones.
inline Found NearestInSpan(const Signatures& all, const Span& span, std::int32_t r, std::int32_t g,
                           std::int32_t b) {
  std::int32_t best = span.place[0], bestDistance = INT32_MAX;
  for (std::int32_t k = 0; k < span.count; ++k) {
    const std::int32_t i = span.place[k];
    const std::int32_t dr = r - all.red[i], dg = g - all.green[i], db = b - all.blue[i];
    const std::int32_t distance = dr * dr + dg * dg + db * db;
    if (distance < bestDistance) {
      best = i;
      bestDistance = distance;
    }
  }
  return {all.colour[best], all.red[best], all.green[best], all.blue[best]};
}

inline Found FromQuads(const Quad* quads, std::int32_t count, std::int32_t r, std::int32_t g,
                       std::int32_t b) {
  const std::int32_t rg =
      static_cast<std::int32_t>((static_cast<std::uint32_t>((r - 128) * 256) & 0xFFFF) |
                                static_cast<std::uint32_t>((g - 128) * 256) << 16);
  const auto place = static_cast<std::uint32_t>(QuadKey(quads, count, rg, (b - 128) * 256)) &
                     ((1u << kPlaceBits) - 1);
  const Quad& quad = quads[place / kQuad];
  const std::uint32_t j = place % kQuad;
  // Match lanes hold -64·(m - 128).
  return {quad.colour[j], 128 - quad.rg[2 * j] / 64, 128 - quad.rg[2 * j + 1] / 64,
          128 - quad.b[2 * j] / 64};
}

// The signature nearest to (r, g, b), each 0 to 255: in the quads of its
// cell of 8 a side, the cell built first where it is not yet.
inline Found Nearest(const DitherJob& job, std::int32_t r, std::int32_t g, std::int32_t b) {
  if (job.index == nullptr) {
    const Signatures& all = *job.all;
    const std::int32_t count = all.count;
    std::int32_t best = 0, bestDistance = INT32_MAX;
    for (std::int32_t i = 0; i < count; ++i) {
      const std::int32_t dr = r - all.red[i], dg = g - all.green[i], db = b - all.blue[i];
      const std::int32_t distance = dr * dr + dg * dg + db * db;
      if (distance < bestDistance) {
        best = i;
        bestDistance = distance;
      }
    }
    return {all.colour[best], all.red[best], all.green[best], all.blue[best]};
  }
  Index& index = *job.index;
  constexpr int kShift = 8 - kFinest;
  const std::int32_t cell =
      (r >> kShift) << (2 * kFinest) | (g >> kShift) << kFinest | (b >> kShift);
  const std::uint64_t entry =
      index.quads[kFinest][static_cast<std::size_t>(cell)].load(std::memory_order_acquire);
  const auto count = static_cast<std::int32_t>(entry & kQuadCountMask);
  // Neither unbuilt (0) nor without quads (kNoQuads), in one comparison.
  if (static_cast<std::uint32_t>(count - 1) < kNoQuads - 1) {
    return FromQuads(index.quadPool.get() + (entry >> kQuadCountBits), count, r, g, b);
  }
  const CellCandidates found = BuildCandidates(index, kFinest, cell);
  if (found.quadCount > 0) return FromQuads(found.quads, found.quadCount, r, g, b);
  return NearestInSpan(*index.all, found.span, r, g, b);
}

// Returns once the row whose progress is `done` has finished `needed`
// pixels, with what it has finished. A thread holding the row above may
// have been put aside: after a while of spinning, this one gives way.
inline std::uint32_t Await(const std::atomic<std::uint32_t>& done, std::uint32_t needed) {
  std::uint32_t now = done.load(std::memory_order_acquire);
  for (int spin = 0; now < needed; ++spin) {
    if (spin > 256) std::this_thread::yield();
    now = done.load(std::memory_order_acquire);
  }
  return now;
}

// Rows publish their progress this often, in pixels: often enough that
// the row below hardly waits, seldom enough that its cache line rarely moves.
constexpr std::uint32_t kPublishEvery = 32;

inline std::int32_t Clamp255(std::int32_t v) { return v < 0 ? 0 : v > 255 ? 255 : v; }

// floor((e + 8) / 16) for e of at least -8200: a shift of a number never
// negative.
inline std::int32_t Rounded(std::int32_t e) { return ((e + 8 + 512 * 16) >> 4) - 512; }

void DitherRow(const DitherJob& job, std::uint32_t row) {
  const std::uint32_t width = job.width;
  std::uint8_t* p = job.pixels + std::uint64_t{3} * width * row;
  const std::uint8_t* alpha = job.alpha ? job.alpha + std::uint64_t{width} * row : nullptr;
  const std::int16_t* above =
      row > 0 ? job.below + std::uint64_t{4} * width * ((row - 1) % job.rings) : nullptr;
  std::int16_t* below = job.below + std::uint64_t{4} * width * (row % job.rings);
  std::atomic<std::uint32_t>& done = job.progress[row].done;
  std::uint32_t ready = row > 0 ? 0 : width;  // pixels of the row above known finished
  // Sent right by the pixel before, and sent below-left and below so far
  // to the entry before this pixel's and to this pixel's own.
  std::int32_t right[3] = {0, 0, 0}, before[3] = {0, 0, 0}, under[3] = {0, 0, 0};
  for (std::uint32_t x = 0; x < width; ++x) {
    const std::uint32_t needed = x + 2 < width ? x + 2 : width;
    if (ready < needed) ready = Await(job.progress[row - 1].done, needed);
    std::int32_t v[3];
    const bool clear = alpha != nullptr && alpha[x] == 0;
    for (int c = 0; c < 3; ++c) {
      const std::int32_t e = right[c] + (above ? above[4 * x + c] : 0);
      v[c] = clear ? p[3 * x + c] : Clamp255(p[3 * x + c] + Rounded(e));
    }
    const Found found = Nearest(job, v[0], v[1], v[2]);
    p[3 * x] = static_cast<std::uint8_t>(found.colour);
    p[3 * x + 1] = static_cast<std::uint8_t>(found.colour >> 8);
    p[3 * x + 2] = static_cast<std::uint8_t>(found.colour >> 16);
    const std::int32_t m[3] = {found.red, found.green, found.blue};
    for (int c = 0; c < 3; ++c) {
      const std::int32_t d = clear ? 0 : v[c] - m[c];
      right[c] = 7 * d;
      if (x > 0) below[4 * (x - 1) + c] = static_cast<std::int16_t>(before[c] + 3 * d);
      before[c] = under[c] + 5 * d;
      under[c] = d;
    }
    if (x % kPublishEvery == kPublishEvery - 1) done.store(x + 1, std::memory_order_release);
  }
  for (int c = 0; c < 3; ++c) below[4 * (width - 1) + c] = static_cast<std::int16_t>(before[c]);
  done.store(width, std::memory_order_release);
}

}  // namespace
}  // namespace remap
