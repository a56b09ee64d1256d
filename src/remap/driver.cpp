// The remap pass: prepares the signature table once, then runs the fastest
// kernel this build and processor have. Every kernel gives the same bytes.
#include <cstdint>
#include <memory>
#include <new>

#include "remap.hpp"
#include "remap/kernels.hpp"

namespace remap {
namespace {

std::int16_t Lane(std::int32_t component) {
  return static_cast<std::int16_t>(-64 * (component - 128));
}

// The prepared table and the storage behind it.
struct PreparedTable {
  std::unique_ptr<Match[]> match;
  std::unique_ptr<std::int32_t[]> offset;
  std::unique_ptr<std::uint32_t[]> colour;
  std::unique_ptr<Chunk[]> chunks;
  Table table{};
};

void Prepare(const Configuration& config, PreparedTable& prepared) {
  const auto count = static_cast<std::size_t>(config.count);
  const std::size_t chunkCount = (count + kChunk - 1) / kChunk;
  prepared.match.reset(new Match[count]);
  prepared.offset.reset(new std::int32_t[count]);
  prepared.colour.reset(new std::uint32_t[count + kColourSlack]());
  prepared.chunks.reset(new Chunk[chunkCount]);
  for (std::size_t i = 0; i < count; ++i) {
    const std::int32_t r = config.matchRed[i] - 128, g = config.matchGreen[i] - 128,
                       b = config.matchBlue[i] - 128;
    prepared.match[i] = {Lane(config.matchRed[i]), Lane(config.matchGreen[i]),
                         Lane(config.matchBlue[i]), 0};
    prepared.offset[i] =
        (r * r + g * g + b * b) * (1 << kPlaceBits) + static_cast<std::int32_t>(i % kChunk);
    prepared.colour[i] = (static_cast<std::uint32_t>(config.replaceRed[i]) & 0xFF) |
                         (static_cast<std::uint32_t>(config.replaceGreen[i]) & 0xFF) << 8 |
                         (static_cast<std::uint32_t>(config.replaceBlue[i]) & 0xFF) << 16;
  }
  for (std::size_t c = 0; c < chunkCount; ++c) {
    const std::size_t first = c * kChunk;
    prepared.chunks[c] = {
        static_cast<std::int32_t>(count - first < kChunk ? count - first : kChunk),
        &prepared.match[first], &prepared.offset[first], &prepared.colour[first]};
  }
  prepared.table = {prepared.chunks.get(), static_cast<std::int32_t>(chunkCount)};
}

// The kernel's sweep, or null when this build or processor lacks it.
SweepFunction SweepFor(RemapKernel kernel) {
  switch (kernel) {
    case RemapKernel::kPortable:
      return SweepPortable;
    case RemapKernel::kAvx2:
#ifdef REMAP_X86_KERNELS
      if (__builtin_cpu_supports("avx2")) return SweepAvx2;
#endif
      return nullptr;
    case RemapKernel::kAvx512:
#ifdef REMAP_X86_KERNELS
      if (__builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512vnni")) {
        return SweepAvx512;
      }
#endif
      return nullptr;
    case RemapKernel::kNeon:
#ifdef REMAP_NEON_KERNEL
      return SweepNeon;
#else
      return nullptr;
#endif
  }
  return nullptr;
}

}  // namespace
}  // namespace remap

const char* KernelName(RemapKernel kernel) {
  switch (kernel) {
    case RemapKernel::kPortable:
      return "portable";
    case RemapKernel::kAvx2:
      return "avx2";
    case RemapKernel::kAvx512:
      return "avx512";
    case RemapKernel::kNeon:
      return "neon";
  }
  return "unknown";
}

bool HasKernel(RemapKernel kernel) { return remap::SweepFor(kernel) != nullptr; }

bool RemapPixelsWith(RemapKernel kernel, std::uint8_t* pixels, std::uint64_t pixelCount,
                     const Configuration& config) {
  const remap::SweepFunction sweep = remap::SweepFor(kernel);
  if (sweep == nullptr) return false;
  remap::PreparedTable prepared;
  remap::Prepare(config, prepared);
  sweep(pixels, pixelCount, prepared.table);
  return true;
}

void RemapPixels(std::uint8_t* pixels, std::uint64_t pixelCount, const Configuration& config) {
  for (RemapKernel kernel : kFastestFirst) {
    if (RemapPixelsWith(kernel, pixels, pixelCount, config)) return;
  }
}
