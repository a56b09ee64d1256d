// AVX2 kernel, compiled with -mavx2 and run only where the processor has it.
// A block is 32 pixels in 4 registers of 8 lanes. Per pixel lane:
//   rg: 256·r' and 256·g' in the two 16-bit halves; b: 256·b' and -32768
//   keys: 8192·e + place; e: key >> 13; colour: R | G << 8 | B << 16
// A key is two 16-bit multiply-adds against the broadcast match halves and
// one add of the offset.
#include <immintrin.h>

#include <cstdint>

#include "remap/sweep.hpp"

namespace remap {
namespace {

struct Avx2 {
  static constexpr int kVectors = 4;
  static constexpr int kLanes = 8;
  static constexpr int kBlock = kLanes * kVectors;
  struct Pixels {
    __m256i rg[kVectors], b[kVectors];
  };
  using Keys = __m256i[kVectors];
  struct Best {
    __m256i e[kVectors], colour[kVectors];
  };

  static void Load(const std::uint8_t* p, Pixels& pixels) {
    const __m256i toRG = _mm256_broadcastsi128_si256(
        _mm_setr_epi8(-128, 0, -128, 1, -128, 3, -128, 4, -128, 6, -128, 7, -128, 9, -128, 10));
    const __m256i toB = _mm256_broadcastsi128_si256(_mm_setr_epi8(
        -128, 2, -128, -128, -128, 5, -128, -128, -128, 8, -128, -128, -128, 11, -128, -128));
    const __m256i flip = _mm256_set1_epi32(static_cast<int>(0x80008000u));
    for (int v = 0; v < kVectors; ++v) {
      const __m256i lanes = EightPixels(p + 24 * v);
      pixels.rg[v] = _mm256_xor_si256(_mm256_shuffle_epi8(lanes, toRG), flip);
      pixels.b[v] = _mm256_xor_si256(_mm256_shuffle_epi8(lanes, toB), flip);
    }
  }

  static void Search(const Pixels& pixels, const Chunk& chunk, Keys& keys) {
    // Locals, not `keys`, so that the minima stay in registers through the loop.
    __m256i key[kVectors], rg[kVectors], b[kVectors];
    for (int v = 0; v < kVectors; ++v) {
      key[v] = _mm256_set1_epi32(INT32_MAX);
      rg[v] = pixels.rg[v];
      b[v] = pixels.b[v];
    }
    for (std::int32_t i = 0; i < chunk.count; ++i) {
      // Broadcast straight from memory: (red, green) and (blue, 0) halves.
      const __m256i mrg = _mm256_broadcastd_epi32(_mm_loadu_si32(&chunk.match[i].red));
      const __m256i mb = _mm256_broadcastd_epi32(_mm_loadu_si32(&chunk.match[i].blue));
      const __m256i offset = _mm256_set1_epi32(chunk.offset[i]);
      for (int v = 0; v < kVectors; ++v) {
        const __m256i k = _mm256_add_epi32(
            _mm256_add_epi32(_mm256_madd_epi16(rg[v], mrg), _mm256_madd_epi16(b[v], mb)), offset);
        key[v] = _mm256_min_epi32(key[v], k);
      }
    }
    for (int v = 0; v < kVectors; ++v) keys[v] = key[v];
  }

  static void Lookup(const Keys& keys, const Chunk& chunk, Best& best) {
    const __m256i placeMask = _mm256_set1_epi32(kChunk - 1);
    for (int v = 0; v < kVectors; ++v) {
      const __m256i place = _mm256_and_si256(keys[v], placeMask);
      best.colour[v] =
          chunk.count <= 8
              ? _mm256_permutevar8x32_epi32(
                    _mm256_loadu_si256(reinterpret_cast<const __m256i*>(chunk.colour)), place)
              : _mm256_i32gather_epi32(reinterpret_cast<const int*>(chunk.colour), place, 4);
      best.e[v] = _mm256_srai_epi32(keys[v], kPlaceBits);
    }
  }

  static void KeepNearer(const Best& candidate, Best& best) {
    for (int v = 0; v < kVectors; ++v) {
      const __m256i nearer = _mm256_cmpgt_epi32(best.e[v], candidate.e[v]);
      best.e[v] = _mm256_min_epi32(best.e[v], candidate.e[v]);
      best.colour[v] = _mm256_blendv_epi8(best.colour[v], candidate.colour[v], nearer);
    }
  }

  static void Store(const Best& best, std::uint8_t* p) {
    for (int v = 0; v < kVectors; ++v) PutEightColours(p + 24 * v, best.colour[v]);
  }
};

}  // namespace

extern const Sweeper kSweepAvx2 = {Sweep<Avx2>, Avx2::kLanes, kQuadLanes};

}  // namespace remap
