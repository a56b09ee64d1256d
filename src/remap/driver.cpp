// The remap pass: prepares the signature table once, then runs the fastest
// kernel this build and processor have over the picture, all at once or as
// it is read. Every kernel gives the same bytes.
#include <algorithm>
#include <cstdint>
#include <memory>
#include <new>

#include "message.hpp"
#include "remap.hpp"
#include "remap/kernels.hpp"
#include "remap/prepared.hpp"
#include "remap/threads.hpp"

namespace remap {

void ReleasePrepared::operator()(Prepared* prepared) const { delete prepared; }

const Signatures& SignaturesOf(const PreparedTable& table) { return table->all; }

namespace {

std::int16_t Lane(std::int32_t component) {
  return static_cast<std::int16_t>(-64 * (component - 128));
}

// Which signatures a search needs: each whose match colour no earlier one
// has. `first[i]` is set for those. Sorting keys of colour and place finds
// the earliest of each colour without a hash table.
bool MarkFirsts(const Configuration& config, std::unique_ptr<bool[]>& first) {
  const auto count = static_cast<std::size_t>(config.count);
  std::unique_ptr<std::uint64_t[]> keys;
  if (!Allocate(keys, count) || !Allocate(first, count)) return false;
  for (std::size_t i = 0; i < count; ++i) {
    // Components -15 to 255: 271 values each.
    const auto colour = static_cast<std::uint64_t>(
        ((config.matchRed[i] + 15) * 271 + config.matchGreen[i] + 15) * 271 + config.matchBlue[i] +
        15);
    keys[i] = colour << 32 | i;
  }
  std::sort(keys.get(), keys.get() + count);
  for (std::size_t k = 0; k < count; ++k) {
    if (k == 0 || keys[k] >> 32 != keys[k - 1] >> 32) first[keys[k] & 0xFFFFFFFF] = true;
  }
  return true;
}

Prepared* Prepare(const Configuration& config) {
  std::unique_ptr<Prepared> p(new (std::nothrow) Prepared);
  std::unique_ptr<bool[]> first;
  if (!p || !MarkFirsts(config, first)) return nullptr;
  const auto total = static_cast<std::size_t>(config.count);
  const auto count = static_cast<std::size_t>(std::count(first.get(), first.get() + total, true));
  if (!Allocate(p->red, count) || !Allocate(p->green, count) || !Allocate(p->blue, count) ||
      !Allocate(p->norm, count) || !Allocate(p->offset, count) || !Allocate(p->match, count) ||
      !Allocate(p->colour, count + kColourSlack) ||
      !Allocate(p->chunks, (count + kChunk - 1) / kChunk)) {
    return nullptr;
  }
  std::size_t k = 0;
  for (std::size_t i = 0; i < total; ++i) {
    if (!first[i]) continue;
    p->red[k] = config.matchRed[i];
    p->green[k] = config.matchGreen[i];
    p->blue[k] = config.matchBlue[i];
    const std::int32_t r = p->red[k] - 128, g = p->green[k] - 128, b = p->blue[k] - 128;
    p->norm[k] = (r * r + g * g + b * b) * (1 << kPlaceBits);
    p->offset[k] = p->norm[k] + static_cast<std::int32_t>(k % kChunk);
    p->match[k] = {Lane(p->red[k]), Lane(p->green[k]), Lane(p->blue[k]), 0};
    p->colour[k] = (static_cast<std::uint32_t>(config.replaceRed[i]) & 0xFF) |
                   (static_cast<std::uint32_t>(config.replaceGreen[i]) & 0xFF) << 8 |
                   (static_cast<std::uint32_t>(config.replaceBlue[i]) & 0xFF) << 16;
    ++k;
  }
  const auto signed_count = static_cast<std::int32_t>(count);
  const std::int32_t chunkCount =
      Chunked(signed_count, p->match.get(), p->offset.get(), p->colour.get(), p->chunks.get());
  p->all = {signed_count,   p->red.get(),    p->green.get(),  p->blue.get(), p->norm.get(),
            p->match.get(), p->colour.get(), p->chunks.get(), chunkCount};
  return p.release();
}

// The kernels this build has, fastest first, each with whether this
// processor has what its sweep was compiled for.
struct Kernel {
  RemapKernel kernel;
  const Sweeper& sweeper;
  bool (*runs)();
};

const Kernel kKernels[] = {
#ifdef REMAP_X86_KERNELS
    {RemapKernel::kAvx512, kSweepAvx512,
     [] { return __builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512vnni"); }},
    {RemapKernel::kAvx2, kSweepAvx2, [] { return __builtin_cpu_supports("avx2") != 0; }},
#endif
#ifdef REMAP_NEON_KERNEL
    {RemapKernel::kNeon, kSweepNeon, [] { return true; }},
#endif
    {RemapKernel::kPortable, kSweepPortable, [] { return true; }},
};

// The kernel's entry where this build has it and this processor runs it,
// else null.
const Kernel* Runnable(RemapKernel kernel) {
  for (const Kernel& k : kKernels) {
    if (k.kernel == kernel && k.runs()) return &k;
  }
  return nullptr;
}

// The first kernel this processor runs: the portable one at the latest.
const Sweeper& Fastest() {
  const Kernel* k = kKernels;
  while (!k->runs()) ++k;
  return k->sweeper;
}

void RunPass(const Sweeper& sweeper, const Signatures& all, std::uint8_t* pixels,
             std::uint64_t pixelCount, const RemapOptions& options) {
  Pass pass(sweeper, all, options);
  pass.Start(pixels, pixelCount);
  pass.Arrived(pixelCount);
  pass.AwaitRemapped(pixelCount);
}

}  // namespace
}  // namespace remap

PreparedTable PrepareTable(const Configuration& config) {
  PreparedTable table(remap::Prepare(config));
  if (!table) WriteMessage(kSignatureAllocationFailed);
  return table;
}

void RemapPixels(std::uint8_t* pixels, std::uint64_t pixelCount, const PreparedTable& table) {
  remap::RunPass(remap::Fastest(), table->all, pixels, pixelCount, {});
}

RemapPass::RemapPass(const PreparedTable& table, RemapOptions options)
    : table_(table), options_(options) {}

RemapPass::~RemapPass() = default;

void RemapPass::Start(std::uint8_t* raster, std::uint64_t bytes) {
  raster_ = raster;
  bytes_ = bytes;
  pass_.reset(new (std::nothrow) remap::Pass(remap::Fastest(), table_->all, options_));
  if (pass_) pass_->Start(raster, bytes / 3);
}

void RemapPass::Arrived(std::uint64_t bytes) {
  if (pass_) {
    pass_->Arrived(bytes / 3);
  } else if (bytes == bytes_) {
    RemapPixels(raster_, bytes_ / 3, table_);
  }
}

void RemapPass::Abandon() {
  if (pass_) pass_->Stop();
}

void RemapPass::AwaitReady(std::uint64_t bytes) {
  if (pass_) pass_->AwaitRemapped((bytes + 2) / 3);
}

const char* KernelName(RemapKernel kernel) {
  const char* const names[] = {"portable", "avx2", "avx512", "neon"};
  return names[static_cast<int>(kernel)];
}

bool HasKernel(RemapKernel kernel) { return remap::Runnable(kernel) != nullptr; }

bool RemapPixelsWith(RemapKernel kernel, std::uint8_t* pixels, std::uint64_t pixelCount,
                     const Configuration& config, RemapOptions options) {
  if (!HasKernel(kernel)) return false;
  const PreparedTable table(remap::Prepare(config));
  if (!table) throw std::bad_alloc();
  remap::RunPass(remap::Runnable(kernel)->sweeper, table->all, pixels, pixelCount, options);
  return true;
}
