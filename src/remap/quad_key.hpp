// The smallest key of a cell's quads for one colour, as the search of each
// pixel and dithering both take it, in the widest lanes the file including
// it is compiled for. Everything here has internal linkage, so that no other
// file can end up with that instruction set's code.
#pragma once

#if defined(__AVX2__)
#include <immintrin.h>
#elif defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <climits>
#include <cstdint>

#include "remap/index.hpp"

namespace remap {
namespace {

// The smallest key of a cell's `quads` for a pixel whose lanes are as a
// kernel's: (256·r', 256·g') in `rg`, (256·b', anything) in `b`; kQuadLanes
// candidates a step.
#if defined(__AVX2__)
constexpr int kQuadLanes = 8;
// Two quads a step; an odd last one is taken twice, which costs less than
// a branch for it. A cell has at least one.
inline std::int32_t SmallestKey(const Quad* quads, std::int32_t count, std::int32_t rg,
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
#elif defined(__SSE2__)
constexpr int kQuadLanes = 4;
inline std::int32_t SmallestKey(const Quad* quads, std::int32_t count, std::int32_t rg,
                                std::int32_t b) {
  const __m128i prg = _mm_set1_epi32(rg), pb = _mm_set1_epi32(b);
  const auto load = [](const void* v) { return _mm_load_si128(static_cast<const __m128i*>(v)); };
  __m128i smallest = _mm_set1_epi32(INT32_MAX);
  for (std::int32_t n = 0; n < count; ++n) {
    const Quad& quad = quads[n];
    const __m128i key = _mm_add_epi32(
        _mm_add_epi32(_mm_madd_epi16(prg, load(quad.rg)), _mm_madd_epi16(pb, load(quad.b))),
        load(quad.offset));
    const __m128i less = _mm_cmplt_epi32(key, smallest);
    smallest = _mm_or_si128(_mm_and_si128(less, key), _mm_andnot_si128(less, smallest));
  }
  alignas(16) std::int32_t lanes[kQuad];
  _mm_store_si128(reinterpret_cast<__m128i*>(lanes), smallest);
  const std::int32_t x = lanes[0] < lanes[1] ? lanes[0] : lanes[1];
  const std::int32_t y = lanes[2] < lanes[3] ? lanes[2] : lanes[3];
  return x < y ? x : y;
}
#else
constexpr int kQuadLanes = 1;
inline std::int32_t SmallestKey(const Quad* quads, std::int32_t count, std::int32_t rg,
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

}  // namespace
}  // namespace remap
