// Bands of a picture, one a thread, sharing one index of the colour cube;
// no two threads write the same bytes.
#include "remap/threads.hpp"

#include <algorithm>
#include <thread>
#include <vector>

#include "platform/platform.hpp"
#include "remap/index.hpp"

namespace remap {
namespace {

// Bands start on whole blocks of every kernel.
constexpr std::uint64_t kBandAlign = 64;
// Below this many pixels a band would take about as long as starting a thread.
constexpr std::uint64_t kLeastBand = std::uint64_t{1} << 16;
// The index's lists take at most this.
constexpr std::size_t kPoolBytes = std::size_t{12} << 20;

void SweepBand(SweepFunction sweep, Band band) {
  Scratch scratch;
  if (band.index != nullptr && MakeScratch(*band.all, scratch)) band.scratch = &scratch;
  sweep(band);
}

}  // namespace

void RunBands(SweepFunction sweep, const Signatures& all, std::uint8_t* pixels,
              std::uint64_t pixelCount, const RemapOptions& options) {
  std::uint64_t bands = options.threads > 0 ? options.threads
                                            : std::min<std::uint64_t>(platform::UsableCpuCount(),
                                                                      pixelCount / kLeastBand);
  bands = std::max<std::uint64_t>(1, std::min(bands, (pixelCount + kBandAlign - 1) / kBandAlign));
  const std::uint64_t size = (pixelCount / bands + kBandAlign - 1) / kBandAlign * kBandAlign;
  // One index for all: a single signature needs none, and one that cannot
  // be had leaves every band to the full search.
  Index index;
  const bool indexed =
      all.count > 1 && options.search != SearchChoice::kFull && MakeIndex(all, kPoolBytes, index);
  auto bandAt = [&](std::uint64_t b) {
    const std::uint64_t first = std::min(pixelCount, b * size);
    const std::uint64_t last = b + 1 == bands ? pixelCount : std::min(pixelCount, first + size);
    return Band{pixels + 3 * first,         last - first, &all,
                indexed ? &index : nullptr, nullptr,      options.search};
  };
  std::vector<std::thread> threads;
  std::uint64_t started = 1;
  try {
    threads.reserve(bands - 1);
    for (; started < bands; ++started) threads.emplace_back(SweepBand, sweep, bandAt(started));
  } catch (...) {
    // No thread for this band or the rest: this one takes them.
  }
  SweepBand(sweep, bandAt(0));
  for (std::uint64_t b = started; b < bands; ++b) SweepBand(sweep, bandAt(b));
  for (std::thread& thread : threads) thread.join();
}

}  // namespace remap
