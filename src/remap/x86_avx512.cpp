// AVX-512 kernel with VNNI, compiled with those extensions and run only where
// the processor has them. A block is 64 pixels in 4 registers of 16 lanes.
// Per pixel lane:
//   rg: 256·r' and 256·g' in the two 16-bit halves; b: 256·b' and -32768
//   keys: 8192·e + place; e: key >> 13; colour: R | G << 8 | B << 16
// A key is two fused 16-bit multiply-add-accumulates onto the offset.
#include <cstdint>

#if defined(__GNUC__) && !defined(__clang__)
// GCC 12's AVX-512 headers start some intrinsics from an undefined register
// and then warn about it when they are inlined (GCC bug 105593).
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include <immintrin.h>

#include "remap/sweep.hpp"

namespace remap {
namespace {

struct Avx512 {
  static constexpr int kVectors = 4;
  static constexpr int kLanes = 16;
  static constexpr int kBlock = kLanes * kVectors;
  static constexpr __mmask64 kBytes48 = (std::uint64_t{1} << 48) - 1;
  struct Pixels {
    __m512i rg[kVectors], b[kVectors];
  };
  using Keys = __m512i[kVectors];
  struct Best {
    __m512i e[kVectors], colour[kVectors];
  };

  static void Load(const std::uint8_t* p, Pixels& pixels) {
    const __m512i spread = _mm512_setr_epi32(0, 1, 2, 0, 3, 4, 5, 0, 6, 7, 8, 0, 9, 10, 11, 0);
    const __m512i toRG = _mm512_broadcast_i32x4(
        _mm_setr_epi8(-128, 0, -128, 1, -128, 3, -128, 4, -128, 6, -128, 7, -128, 9, -128, 10));
    const __m512i toB = _mm512_broadcast_i32x4(_mm_setr_epi8(
        -128, 2, -128, -128, -128, 5, -128, -128, -128, 8, -128, -128, -128, 11, -128, -128));
    const __m512i flip = _mm512_set1_epi32(static_cast<int>(0x80008000u));
    for (int v = 0; v < kVectors; ++v) {
      const __m512i lanes =
          _mm512_permutexvar_epi32(spread, _mm512_maskz_loadu_epi8(kBytes48, p + 48 * v));
      pixels.rg[v] = _mm512_xor_si512(_mm512_shuffle_epi8(lanes, toRG), flip);
      pixels.b[v] = _mm512_xor_si512(_mm512_shuffle_epi8(lanes, toB), flip);
    }
  }

  static void Search(const Pixels& pixels, const Chunk& chunk, Keys& keys) {
    // Locals, not `keys`, so that the minima stay in registers through the loop.
    __m512i key[kVectors], rg[kVectors], b[kVectors];
    for (int v = 0; v < kVectors; ++v) {
      key[v] = _mm512_set1_epi32(INT32_MAX);
      rg[v] = pixels.rg[v];
      b[v] = pixels.b[v];
    }
    for (std::int32_t i = 0; i < chunk.count; ++i) {
      // Broadcast straight from memory: (red, green) and (blue, 0) halves.
      const __m512i mrg = _mm512_broadcastd_epi32(_mm_loadu_si32(&chunk.match[i].red));
      const __m512i mb = _mm512_broadcastd_epi32(_mm_loadu_si32(&chunk.match[i].blue));
      const __m512i offset = _mm512_set1_epi32(chunk.offset[i]);
      for (int v = 0; v < kVectors; ++v) {
        const __m512i k = _mm512_dpwssd_epi32(_mm512_dpwssd_epi32(offset, rg[v], mrg), b[v], mb);
        key[v] = _mm512_min_epi32(key[v], k);
      }
    }
    for (int v = 0; v < kVectors; ++v) keys[v] = key[v];
  }

  static void Lookup(const Keys& keys, const Chunk& chunk, Best& best) {
    const __m512i placeMask = _mm512_set1_epi32(kChunk - 1);
    const __m512i* table = reinterpret_cast<const __m512i*>(chunk.colour);
    for (int v = 0; v < kVectors; ++v) {
      const __m512i place = _mm512_and_si512(keys[v], placeMask);
      best.colour[v] =
          chunk.count <= 16   ? _mm512_permutexvar_epi32(place, _mm512_loadu_si512(table))
          : chunk.count <= 32 ? _mm512_permutex2var_epi32(_mm512_loadu_si512(table), place,
                                                          _mm512_loadu_si512(table + 1))
                              : _mm512_i32gather_epi32(place, chunk.colour, 4);
      best.e[v] = _mm512_srai_epi32(keys[v], kPlaceBits);
    }
  }

  static void KeepNearer(const Best& candidate, Best& best) {
    for (int v = 0; v < kVectors; ++v) {
      const __mmask16 nearer = _mm512_cmplt_epi32_mask(candidate.e[v], best.e[v]);
      best.e[v] = _mm512_min_epi32(best.e[v], candidate.e[v]);
      best.colour[v] = _mm512_mask_mov_epi32(best.colour[v], nearer, candidate.colour[v]);
    }
  }

  static void Store(const Best& best, std::uint8_t* p) {
    const __m512i toBytes = _mm512_broadcast_i32x4(
        _mm_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -128, -128, -128, -128));
    const __m512i pack = _mm512_setr_epi32(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, 15, 15, 15, 15);
    for (int v = 0; v < kVectors; ++v) {
      const __m512i bytes =
          _mm512_permutexvar_epi32(pack, _mm512_shuffle_epi8(best.colour[v], toBytes));
      _mm512_mask_storeu_epi8(p + 48 * v, kBytes48, bytes);
    }
  }
};

}  // namespace

extern const Sweeper kSweepAvx512 = {Sweep<Avx512>, Avx512::kLanes, kQuadLanes};

}  // namespace remap
