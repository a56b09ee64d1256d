// The remap pass alone, in pixels per second: the dispatched pass and each
// kernel this build has, on noise (nothing to prune) and on a smooth
// photo-like picture (much to prune), for 1 to 4097 signatures; and the
// plain double-precision loop for small tables.
//
// With --ways RUNS THREADS PICTURE.ppm...: each picture, each x86 kernel this
// processor has and 64, 256 and 4096 signatures (and 100,000 for pictures
// of at most 128 x 128), the search as chosen against each way forced, in
// interleaved rounds; medians of RUNS, and which ways the choice took.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "image/ppm_image.hpp"
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

// Times the choice against every way forced, as the head comment says.
int Ways(int argc, char** argv) {
  if (argc < 5) {
    std::fputs("usage: remap_bench --ways RUNS THREADS PICTURE.ppm...\n", stderr);
    return 1;
  }
  const int runs = std::atoi(argv[2]);
  const auto threads = static_cast<unsigned>(std::atoi(argv[3]));
  const char* names[] = {"chosen", "full", "union", "each16", "each8", "remember"};
  std::printf("%-18s %-7s %6s %9s", "picture", "kernel", "sigs", "chosen");
  for (int s = 1; s < 6; ++s) std::printf(" %9s", names[s]);
  std::printf(" %9s %6s %6s  ways chosen (share of pixels)\n", "best", "/best", "/full");
  for (int f = 4; f < argc; ++f) {
    std::FILE* file = std::fopen(argv[f], "rb");
    std::uint16_t width = 0, height = 0, maxval = 0;
    const std::unique_ptr<std::uint8_t[]> original = ReadImage(file, width, height, maxval);
    if (file != nullptr) std::fclose(file);
    if (!original) return 1;
    const std::uint64_t pixels = std::uint64_t{width} * height;
    std::vector<int> counts = {64, 256, 4096};
    if (pixels <= 128 * 128) counts.push_back(100000);
    std::string name = argv[f];
    name = name.substr(name.find_last_of('/') + 1);
    for (const RemapKernel kernel : {RemapKernel::kAvx512, RemapKernel::kAvx2}) {
      if (!HasKernel(kernel)) continue;
      for (const int count : counts) {
        const Configuration config = reference::RandomTable(count, static_cast<unsigned>(count));
        std::vector<std::uint8_t> work(pixels * 3);
        std::vector<double> times[6];
        SearchStats stats;
        for (int run = 0; run <= runs; ++run) {
          for (int s = 0; s < 6; ++s) {
            std::memcpy(work.data(), original.get(), work.size());
            const auto start = std::chrono::steady_clock::now();
            RemapPixelsWith(kernel, work.data(), pixels, config,
                            {static_cast<SearchChoice>(s), threads, s == 0 ? &stats : nullptr});
            const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
            if (run > 0) times[s].push_back(took.count() * 1e3);  // the first round warms up
          }
        }
        double median[6];
        int best = 1;
        for (int s = 0; s < 6; ++s) {
          std::sort(times[s].begin(), times[s].end());
          median[s] = times[s][times[s].size() / 2];
          if (s > 0 && median[s] < median[best]) best = s;
        }
        std::printf("%-18s %-7s %6d", name.c_str(), KernelName(kernel), count);
        for (const double m : median) std::printf(" %7.2fms", m);
        std::printf(" %9s %5.2fx %5.2fx ", names[best], median[0] / median[best],
                    median[0] / median[1]);
        for (int w = 0; w < 5; ++w) {
          if (stats.pixels[w] > 0) {
            std::printf(" %s %.0f%%", names[w + 1],
                        100.0 * static_cast<double>(stats.pixels[w]) / static_cast<double>(pixels));
          }
        }
        std::printf("\n");
        std::fflush(stdout);
      }
    }
  }
  return 0;
}

// Every kernel this build and processor have, by name.
int main(int argc, char** argv) {
  if (argc > 1 && std::strcmp(argv[1], "--ways") == 0) return Ways(argc, argv);
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
