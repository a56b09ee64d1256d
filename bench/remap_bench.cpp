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

void Kernel(benchmark::State& state, RemapKernel kernel) {
  Run(state, [kernel](std::uint8_t* p, std::uint64_t n, const Configuration& c) {
    RemapPixelsWith(kernel, p, n, c);
  });
}

void Counts(benchmark::internal::Benchmark* b) {
  for (int count : {1, 2, 8, 32, 256, 4096, 4097}) b->Arg(count);
  b->Unit(benchmark::kMillisecond);
}

BENCHMARK(Fast)->Apply(Counts);
BENCHMARK(Reference)->Arg(1)->Arg(8)->Arg(32)->Unit(benchmark::kMillisecond);

}  // namespace

// Every kernel this build and processor have, by name.
int main(int argc, char** argv) {
  for (RemapKernel kernel : kFastestFirst) {
    if (HasKernel(kernel)) {
      benchmark::RegisterBenchmark((std::string("Kernel/") + KernelName(kernel)).c_str(), Kernel,
                                   kernel)
          ->Apply(Counts);
    }
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
