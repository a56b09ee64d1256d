// The remap pass alone, in pixels per second: the dispatched fast pass, each
// vector kernel, and the plain double-precision loop, for several table sizes.
#include <benchmark/benchmark.h>

#include <cstring>
#include <string>
#include <vector>

#include "remap.hpp"
#include "remap_reference.hpp"

namespace {

constexpr std::uint64_t kPixels = 1024 * 1024;

Configuration Table(int count) {
  return reference::RandomTable(count, static_cast<unsigned>(count));
}

// Each iteration remaps a fresh copy of the same random picture; the copy is
// not timed.
template <typename Pass>
void Run(benchmark::State& state, Pass pass) {
  const Configuration config = Table(static_cast<int>(state.range(0)));
  const std::string original = reference::RandomRaster(kPixels, 1);
  std::vector<std::uint8_t> pixels(original.size());
  for (auto _ : state) {
    state.PauseTiming();
    std::memcpy(pixels.data(), original.data(), original.size());
    state.ResumeTiming();
    pass(pixels.data(), kPixels, config);
    benchmark::DoNotOptimize(pixels.data());
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * kPixels));
}

void Fast(benchmark::State& state) { Run(state, RemapPixels); }

void Reference(benchmark::State& state) { Run(state, reference::ReferenceRemap); }

template <RemapKernel kernel>
void Kernel(benchmark::State& state) {
  std::uint8_t probe[3] = {};
  if (!RemapPixelsWith(kernel, probe, 1, Table(1))) {
    state.SkipWithError("not supported on this processor");
    return;
  }
  Run(state, [](std::uint8_t* p, std::uint64_t n, const Configuration& c) {
    RemapPixelsWith(kernel, p, n, c);
  });
}

#define COUNTS Arg(1)->Arg(2)->Arg(8)->Arg(32)->Arg(256)->Unit(benchmark::kMillisecond)
BENCHMARK(Fast)->COUNTS;
BENCHMARK(Reference)->COUNTS;
BENCHMARK(Kernel<RemapKernel::kAvx512>)->COUNTS;
BENCHMARK(Kernel<RemapKernel::kAvx2>)->COUNTS;
BENCHMARK(Kernel<RemapKernel::kPortable>)->COUNTS;

}  // namespace

BENCHMARK_MAIN();
