// The remap pass alone, in pixels per second: the dispatched pass and each
// kernel this build has, on noise (nothing to prune) and on a smooth
// photo-like picture (much to prune), for 1 to 4097 signatures; and the
// plain double-precision loop for small tables.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "remap.hpp"
#include "remap_reference.hpp"

namespace {

constexpr std::uint64_t kSide = 1024, kPixels = kSide * kSide;

// Sky over hills: gradients, banded hills, and grain of a few levels.
std::string Smooth() {
  std::string raster;
  for (std::uint64_t y = 0; y < kSide; ++y) {
    for (std::uint64_t x = 0; x < kSide; ++x) {
      const double u = static_cast<double>(x) / kSide, v = static_cast<double>(y) / kSide;
      const double grain = static_cast<double>((x * 7919 + y * 104729) % 9) - 4.0;
      const bool sky = v < 0.6 + 0.1 * std::sin(u * 9.0);
      const double band = 0.5 + 0.5 * std::sin(u * 40.0 + v * 12.0);
      const double r = sky ? 70 + 150 * v : 60 + 80 * band,
                   g = sky ? 120 + 90 * v : 110 + 50 * band,
                   b = sky ? 230 - 60 * v : 40 + 20 * band;
      for (const double c : {r + grain, g + grain, b + grain}) {
        raster += static_cast<char>(c < 0 ? 0 : c > 255 ? 255 : std::lround(c));
      }
    }
  }
  return raster;
}

const std::string& PictureFor(benchmark::State& state) {
  static const std::string noise = reference::RandomRaster(kPixels, 1), smooth = Smooth();
  return state.range(1) == 0 ? noise : smooth;
}

// Each iteration remaps a fresh copy of the same picture; the copy is not
// timed.
template <typename Pass>
void Run(benchmark::State& state, Pass pass) {
  const int count = static_cast<int>(state.range(0));
  const Configuration config = reference::RandomTable(count, static_cast<unsigned>(count));
  const std::string& original = PictureFor(state);
  std::vector<std::uint8_t> pixels(original.size());
  for (auto _ : state) {
    state.PauseTiming();
    std::memcpy(pixels.data(), original.data(), original.size());
    state.ResumeTiming();
    pass(pixels.data(), kPixels, config);
    benchmark::DoNotOptimize(pixels.data());
  }
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(kPixels));
  state.SetLabel(state.range(1) == 0 ? "noise" : "smooth");
}

// As the program runs it: the fastest kernel, on every thread it may use.
void Fast(benchmark::State& state) {
  Run(state, [](std::uint8_t* p, std::uint64_t n, const Configuration& c) {
    RemapPixels(p, n, PrepareTable(c));
  });
}

void Reference(benchmark::State& state) { Run(state, reference::ReferenceRemap); }

void Kernel(benchmark::State& state, RemapKernel kernel) {
  Run(state, [kernel](std::uint8_t* p, std::uint64_t n, const Configuration& c) {
    RemapPixelsWith(kernel, p, n, c);
  });
}

// Arguments: signature count, picture (0 noise, 1 smooth).
void Counts(benchmark::internal::Benchmark* b) {
  b->ArgNames({"signatures", "smooth"});
  for (int picture : {0, 1}) {
    for (int count : {1, 8, 32, 64, 256, 1024, 4096, 4097}) b->Args({count, picture});
  }
  b->Unit(benchmark::kMillisecond);
}

BENCHMARK(Fast)->Apply(Counts);
BENCHMARK(Reference)
    ->ArgNames({"signatures", "smooth"})
    ->Args({1, 0})
    ->Args({8, 0})
    ->Args({32, 0})
    ->Unit(benchmark::kMillisecond);

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
