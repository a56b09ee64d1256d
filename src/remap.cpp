// The remap pass: an exact nearest-signature search, vectorised with AVX2 or
// AVX-512 when the processor has them, with a plain loop everywhere else.
//
// Keys. Centre components on 128 (p' = p - 128, m' = m - 128). Then
//   |p - m|² = |p'|² + e,   e = |m'|² - 2 p'·m',
// and |p'|² is the same for every signature, so the signature with the
// smallest key = 8192·e + i (i its place in a chunk of at most 4096) is the
// nearest, and among equally near ones the earliest: exactly the rule of the
// plain loop. Components run from -15 to 255 (a "%x" conversion takes a sign),
// so -49,152 <= e <= 170,313 and every key fits in 32 bits. The products come
// from 16-bit multiply-adds: pixel lanes hold 256·p' (the byte in the high
// half, top bit flipped) and signature lanes -64·m', whose product is
// 8192·(-2 p'm') with no rounding anywhere.
#include "remap.hpp"

#include <cstdint>
#include <cstring>
#include <initializer_list>

#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#if !defined(__clang__)
// GCC 12's AVX-512 headers start some intrinsics from an undefined register
// and then warn about it when they are inlined (GCC bug 105593).
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include <immintrin.h>
#define REMAP_X86 1
#endif

namespace {

constexpr std::int32_t kChunk = 4096;  // signatures whose place fits in a key's low bits
constexpr int kPlaceBits = 13;         // keys are 8192·e + place

// One chunk of signatures as the vector kernels use them.
struct SignatureChunk {
  std::int32_t count;
  std::int32_t matchRG[kChunk];  // 16-bit halves: -64·mr', -64·mg'
  std::int32_t matchB[kChunk];   // low half: -64·mb'
  std::int32_t offset[kChunk];   // 8192·|m'|² + place
  std::uint32_t colour[kChunk];  // replacement bytes R, G, B, 0 (low eight bits of each)
};

std::uint32_t Half(std::int32_t component) {
  return static_cast<std::uint16_t>(static_cast<std::int16_t>(-64 * (component - 128)));
}

// Fills `chunk` with signatures first .. first + kChunk - 1 (as many as there are).
void Prepare(SignatureChunk& chunk, const Configuration& config, std::int32_t first) {
  chunk.count = config.count - first < kChunk ? config.count - first : kChunk;
  for (std::int32_t place = 0; place < chunk.count; ++place) {
    const auto i = static_cast<std::size_t>(first + place);
    const std::int32_t r = config.matchRed[i] - 128, g = config.matchGreen[i] - 128,
                       b = config.matchBlue[i] - 128;
    chunk.matchRG[place] =
        static_cast<std::int32_t>(Half(config.matchRed[i]) | Half(config.matchGreen[i]) << 16);
    chunk.matchB[place] = static_cast<std::int32_t>(Half(config.matchBlue[i]));
    chunk.offset[place] = (r * r + g * g + b * b) * (1 << kPlaceBits) + place;
    chunk.colour[place] = (static_cast<std::uint32_t>(config.replaceRed[i]) & 0xFF) |
                          (static_cast<std::uint32_t>(config.replaceGreen[i]) & 0xFF) << 8 |
                          (static_cast<std::uint32_t>(config.replaceBlue[i]) & 0xFF) << 16;
  }
  // The table lookups read whole registers of colours.
  for (std::int32_t place = chunk.count; place < 32; ++place) {
    chunk.colour[place] = 0;
  }
}

void RemapPortable(std::uint8_t* pixels, std::uint64_t pixelCount, const Configuration& config) {
  const auto count = static_cast<std::size_t>(config.count);
  for (std::uint64_t k = 0; k < pixelCount; ++k) {
    std::uint8_t* pixel = pixels + 3 * k;
    const std::int32_t r = pixel[0], g = pixel[1], b = pixel[2];
    std::size_t best = 0;
    std::int32_t bestDistance = 0;
    for (std::size_t i = 0; i < count; ++i) {
      const std::int32_t dr = r - config.matchRed[i];
      const std::int32_t dg = g - config.matchGreen[i];
      const std::int32_t db = b - config.matchBlue[i];
      const std::int32_t distance = dr * dr + dg * dg + db * db;
      // Strictly less: a tie keeps the earlier signature.
      if (i == 0 || distance < bestDistance) {
        best = i;
        bestDistance = distance;
      }
    }
    pixel[0] = static_cast<std::uint8_t>(config.replaceRed[best]);
    pixel[1] = static_cast<std::uint8_t>(config.replaceGreen[best]);
    pixel[2] = static_cast<std::uint8_t>(config.replaceBlue[best]);
  }
}

// A vector kernel's work on one block of pixels, with the prepared chunk of
// signatures (prepared afresh inside when there is more than one chunk).
using BlockKernel = void (*)(std::uint8_t* block, const Configuration& config,
                             SignatureChunk& chunk);

// Runs `kernel` on every block of `size` pixels; the last, shorter block goes
// through a stack copy so that kernels only ever see whole blocks.
template <std::uint64_t size>
void Sweep(BlockKernel kernel, std::uint8_t* pixels, std::uint64_t pixelCount,
           const Configuration& config) {
  SignatureChunk chunk;
  if (config.count <= kChunk) Prepare(chunk, config, 0);
  std::uint64_t k = 0;
  for (; pixelCount - k >= size; k += size) kernel(pixels + 3 * k, config, chunk);
  if (k < pixelCount) {
    std::uint8_t tail[size * 3] = {};
    const auto bytes = static_cast<std::size_t>(3 * (pixelCount - k));
    std::memcpy(tail, pixels + 3 * k, bytes);
    kernel(tail, config, chunk);
    std::memcpy(pixels + 3 * k, tail, bytes);
  }
}

#ifdef REMAP_X86

// AVX2: 8 pixels a register, 4 registers a block.
constexpr int kVectors = 4;

__attribute__((target("avx2"))) void BlockAvx2(std::uint8_t* p, const Configuration& config,
                                               SignatureChunk& chunk) {
  const __m256i sixDwords = _mm256_setr_epi32(-1, -1, -1, -1, -1, -1, 0, 0);
  const __m256i spread = _mm256_setr_epi32(0, 1, 2, 0, 3, 4, 5, 0);
  const __m256i toRG =
      _mm256_setr_epi8(-128, 0, -128, 1, -128, 3, -128, 4, -128, 6, -128, 7, -128, 9, -128, 10,
                       -128, 0, -128, 1, -128, 3, -128, 4, -128, 6, -128, 7, -128, 9, -128, 10);
  const __m256i toB = _mm256_setr_epi8(-128, 2, -128, -128, -128, 5, -128, -128, -128, 8, -128,
                                       -128, -128, 11, -128, -128, -128, 2, -128, -128, -128, 5,
                                       -128, -128, -128, 8, -128, -128, -128, 11, -128, -128);
  const __m256i toBytes =
      _mm256_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -128, -128, -128, -128, 0, 1, 2, 4,
                       5, 6, 8, 9, 10, 12, 13, 14, -128, -128, -128, -128);
  const __m256i pack = _mm256_setr_epi32(0, 1, 2, 4, 5, 6, 7, 7);
  const __m256i flip = _mm256_set1_epi32(static_cast<int>(0x80008000u));
  const __m256i placeMask = _mm256_set1_epi32(kChunk - 1);

  __m256i rg[kVectors], b[kVectors], bestE[kVectors], colour[kVectors];
  for (int v = 0; v < kVectors; ++v) {
    const __m256i raw = _mm256_maskload_epi32(reinterpret_cast<const int*>(p + 24 * v), sixDwords);
    const __m256i lanes = _mm256_permutevar8x32_epi32(raw, spread);
    rg[v] = _mm256_xor_si256(_mm256_shuffle_epi8(lanes, toRG), flip);
    b[v] = _mm256_xor_si256(_mm256_shuffle_epi8(lanes, toB), flip);
  }
  for (std::int32_t first = 0; first < config.count; first += kChunk) {
    if (config.count > kChunk) Prepare(chunk, config, first);
    __m256i key[kVectors];
    for (int v = 0; v < kVectors; ++v) key[v] = _mm256_set1_epi32(INT32_MAX);
    for (std::int32_t i = 0; i < chunk.count; ++i) {
      const __m256i mrg = _mm256_set1_epi32(chunk.matchRG[i]);
      const __m256i mb = _mm256_set1_epi32(chunk.matchB[i]);
      const __m256i offset = _mm256_set1_epi32(chunk.offset[i]);
      for (int v = 0; v < kVectors; ++v) {
        const __m256i k = _mm256_add_epi32(
            _mm256_add_epi32(_mm256_madd_epi16(rg[v], mrg), _mm256_madd_epi16(b[v], mb)), offset);
        key[v] = _mm256_min_epi32(key[v], k);
      }
    }
    for (int v = 0; v < kVectors; ++v) {
      const __m256i place = _mm256_and_si256(key[v], placeMask);
      const __m256i found =
          chunk.count <= 8
              ? _mm256_permutevar8x32_epi32(
                    _mm256_loadu_si256(reinterpret_cast<const __m256i*>(chunk.colour)), place)
              : _mm256_i32gather_epi32(reinterpret_cast<const int*>(chunk.colour), place, 4);
      const __m256i e = _mm256_srai_epi32(key[v], kPlaceBits);
      if (first == 0) {
        bestE[v] = e;
        colour[v] = found;
      } else {  // a later chunk wins only when strictly nearer
        const __m256i nearer = _mm256_cmpgt_epi32(bestE[v], e);
        bestE[v] = _mm256_min_epi32(bestE[v], e);
        colour[v] = _mm256_blendv_epi8(colour[v], found, nearer);
      }
    }
  }
  for (int v = 0; v < kVectors; ++v) {
    const __m256i bytes =
        _mm256_permutevar8x32_epi32(_mm256_shuffle_epi8(colour[v], toBytes), pack);
    _mm256_maskstore_epi32(reinterpret_cast<int*>(p + 24 * v), sixDwords, bytes);
  }
}

// AVX-512 with VNNI: 16 pixels a register, 4 registers a block, and each key
// in two fused multiply-add-accumulates.
__attribute__((target("avx512f,avx512bw,avx512vnni"))) void BlockAvx512(std::uint8_t* p,
                                                                        const Configuration& config,
                                                                        SignatureChunk& chunk) {
  const __mmask64 bytes48 = (std::uint64_t{1} << 48) - 1;
  const __m512i spread = _mm512_setr_epi32(0, 1, 2, 0, 3, 4, 5, 0, 6, 7, 8, 0, 9, 10, 11, 0);
  const __m512i toRG = _mm512_broadcast_i32x4(
      _mm_setr_epi8(-128, 0, -128, 1, -128, 3, -128, 4, -128, 6, -128, 7, -128, 9, -128, 10));
  const __m512i toB = _mm512_broadcast_i32x4(_mm_setr_epi8(
      -128, 2, -128, -128, -128, 5, -128, -128, -128, 8, -128, -128, -128, 11, -128, -128));
  const __m512i toBytes = _mm512_broadcast_i32x4(
      _mm_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -128, -128, -128, -128));
  const __m512i pack = _mm512_setr_epi32(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, 15, 15, 15, 15);
  const __m512i flip = _mm512_set1_epi32(static_cast<int>(0x80008000u));
  const __m512i placeMask = _mm512_set1_epi32(kChunk - 1);

  __m512i rg[kVectors], b[kVectors], bestE[kVectors], colour[kVectors];
  for (int v = 0; v < kVectors; ++v) {
    const __m512i lanes =
        _mm512_permutexvar_epi32(spread, _mm512_maskz_loadu_epi8(bytes48, p + 48 * v));
    rg[v] = _mm512_xor_si512(_mm512_shuffle_epi8(lanes, toRG), flip);
    b[v] = _mm512_xor_si512(_mm512_shuffle_epi8(lanes, toB), flip);
  }
  for (std::int32_t first = 0; first < config.count; first += kChunk) {
    if (config.count > kChunk) Prepare(chunk, config, first);
    __m512i key[kVectors];
    for (int v = 0; v < kVectors; ++v) key[v] = _mm512_set1_epi32(INT32_MAX);
    for (std::int32_t i = 0; i < chunk.count; ++i) {
      const __m512i mrg = _mm512_set1_epi32(chunk.matchRG[i]);
      const __m512i mb = _mm512_set1_epi32(chunk.matchB[i]);
      const __m512i offset = _mm512_set1_epi32(chunk.offset[i]);
      for (int v = 0; v < kVectors; ++v) {
        const __m512i k = _mm512_dpwssd_epi32(_mm512_dpwssd_epi32(offset, rg[v], mrg), b[v], mb);
        key[v] = _mm512_min_epi32(key[v], k);
      }
    }
    for (int v = 0; v < kVectors; ++v) {
      const __m512i place = _mm512_and_si512(key[v], placeMask);
      const __m512i* table = reinterpret_cast<const __m512i*>(chunk.colour);
      const __m512i found =
          chunk.count <= 16   ? _mm512_permutexvar_epi32(place, _mm512_loadu_si512(table))
          : chunk.count <= 32 ? _mm512_permutex2var_epi32(_mm512_loadu_si512(table), place,
                                                          _mm512_loadu_si512(table + 1))
                              : _mm512_i32gather_epi32(place, chunk.colour, 4);
      const __m512i e = _mm512_srai_epi32(key[v], kPlaceBits);
      if (first == 0) {
        bestE[v] = e;
        colour[v] = found;
      } else {  // a later chunk wins only when strictly nearer
        const __mmask16 nearer = _mm512_cmplt_epi32_mask(e, bestE[v]);
        bestE[v] = _mm512_min_epi32(bestE[v], e);
        colour[v] = _mm512_mask_mov_epi32(colour[v], nearer, found);
      }
    }
  }
  for (int v = 0; v < kVectors; ++v) {
    const __m512i bytes = _mm512_permutexvar_epi32(pack, _mm512_shuffle_epi8(colour[v], toBytes));
    _mm512_mask_storeu_epi8(p + 48 * v, bytes48, bytes);
  }
}

#endif  // REMAP_X86

}  // namespace

bool RemapPixelsWith(RemapKernel kernel, std::uint8_t* pixels, std::uint64_t pixelCount,
                     const Configuration& config) {
  switch (kernel) {
    case RemapKernel::kPortable:
      RemapPortable(pixels, pixelCount, config);
      return true;
#ifdef REMAP_X86
    case RemapKernel::kAvx2:
      if (!__builtin_cpu_supports("avx2")) return false;
      Sweep<8 * kVectors>(BlockAvx2, pixels, pixelCount, config);
      return true;
    case RemapKernel::kAvx512:
      if (!__builtin_cpu_supports("avx512bw") || !__builtin_cpu_supports("avx512vnni")) {
        return false;
      }
      Sweep<16 * kVectors>(BlockAvx512, pixels, pixelCount, config);
      return true;
#else
    default:
      return false;
#endif
  }
  return false;
}

const char* KernelName(RemapKernel kernel) {
  switch (kernel) {
    case RemapKernel::kPortable:
      return "portable";
    case RemapKernel::kAvx2:
      return "avx2";
    case RemapKernel::kAvx512:
      return "avx512";
  }
  return "unknown";
}

void RemapPixels(std::uint8_t* pixels, std::uint64_t pixelCount, const Configuration& config) {
  for (RemapKernel kernel : {RemapKernel::kAvx512, RemapKernel::kAvx2}) {
    if (RemapPixelsWith(kernel, pixels, pixelCount, config)) return;
  }
  RemapPortable(pixels, pixelCount, config);
}
