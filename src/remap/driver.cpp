// The remap pass: prepares the signature table once, then runs the fastest
// kernel this build and processor have. Every kernel gives the same bytes.
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <new>

#include "remap.hpp"
#include "remap/kernels.hpp"
#include "remap/sweep.hpp"

namespace remap {
namespace {

std::int16_t Lane(std::int32_t component) {
  return static_cast<std::int16_t>(-64 * (component - 128));
}

// Below this many signatures the full search is about as fast as reading
// the picture, and pruning could only add work.
constexpr std::int32_t kPruneFrom = 48;

// Storage for one List of up to `count` signatures.
struct ListStorage {
  std::unique_ptr<std::int32_t[]> red, green, blue, norm, offset;
  std::unique_ptr<Match[]> match;
  std::unique_ptr<std::uint32_t[]> colour;
  std::unique_ptr<Chunk[]> chunks;

  List Make(std::size_t count) {
    for (auto* array : {&red, &green, &blue, &norm, &offset}) {
      array->reset(new std::int32_t[count]);
    }
    match.reset(new Match[count]);
    colour.reset(new std::uint32_t[count + kColourSlack]());
    chunks.reset(new Chunk[(count + kChunk - 1) / kChunk]());
    return {0,           red.get(),    green.get(),  blue.get(), norm.get(), offset.get(),
            match.get(), colour.get(), chunks.get(), 0};
  }
};

// The prepared table and the storage behind it.
struct PreparedTable {
  ListStorage all, level[kLevels];
  std::unique_ptr<std::int32_t[]> distance, index;
  Pruning pruning{};
  Table table{};
};

void Prepare(const Configuration& config, PreparedTable& prepared) {
  const auto count = static_cast<std::size_t>(config.count);
  List& all = prepared.pruning.all;
  all = prepared.all.Make(count);
  all.count = config.count;
  for (std::size_t i = 0; i < count; ++i) {
    all.red[i] = config.matchRed[i];
    all.green[i] = config.matchGreen[i];
    all.blue[i] = config.matchBlue[i];
    const std::int32_t r = all.red[i] - 128, g = all.green[i] - 128, b = all.blue[i] - 128;
    all.norm[i] = (r * r + g * g + b * b) * (1 << kPlaceBits);
    all.offset[i] = all.norm[i] + static_cast<std::int32_t>(i % kChunk);
    all.match[i] = {Lane(all.red[i]), Lane(all.green[i]), Lane(all.blue[i]), 0};
    all.colour[i] = (static_cast<std::uint32_t>(config.replaceRed[i]) & 0xFF) |
                    (static_cast<std::uint32_t>(config.replaceGreen[i]) & 0xFF) << 8 |
                    (static_cast<std::uint32_t>(config.replaceBlue[i]) & 0xFF) << 16;
  }
  Chunked(all);
  prepared.table = {all.chunks, all.chunkCount, nullptr};
  if (config.count >= kPruneFrom) {
    for (int l = 0; l < kLevels; ++l) prepared.pruning.level[l] = prepared.level[l].Make(count);
    prepared.distance.reset(new std::int32_t[count]);
    prepared.index.reset(new std::int32_t[count + kIndexSlack]);
    prepared.pruning.distance = prepared.distance.get();
    prepared.pruning.index = prepared.index.get();
    prepared.table.pruning = &prepared.pruning;
  }
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
                     const Configuration& config, std::uint64_t width) {
  const remap::SweepFunction sweep = remap::SweepFor(kernel);
  if (sweep == nullptr) return false;
  remap::PreparedTable prepared;
  remap::Prepare(config, prepared);
  sweep(pixels, pixelCount, width, prepared.table);
  return true;
}

void RemapPixels(std::uint8_t* pixels, std::uint64_t pixelCount, const Configuration& config,
                 std::uint64_t width) {
  for (RemapKernel kernel : kFastestFirst) {
    if (RemapPixelsWith(kernel, pixels, pixelCount, config, width)) return;
  }
}
