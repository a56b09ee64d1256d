// Dithering against the plain pass on a 4000 x 3000 photograph with 16
// colours: the bundled sample scaled up with a little grain, and 16 of its
// colours spread over its brightness. Also the choice of the ordered
// pattern's strength for 100,000 colours.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "image/ppm_image.hpp"
#include "remap.hpp"
#include "remap/dither.hpp"
#include "remap_reference.hpp"

namespace {

constexpr std::uint32_t kWidth = 4000, kHeight = 3000;

struct Photo {
  std::vector<std::uint8_t> pixels;
  Configuration config;
};

std::uint32_t Hash(std::uint32_t x, std::uint32_t y) {
  std::uint32_t h = x * 0x9E3779B1u ^ (y + 0x7F4A7C15u) * 0x85EBCA77u;
  h ^= h >> 15;
  h *= 0x2C1B3C6Du;
  return h ^ (h >> 12);
}

// The sample scaled up bilinearly, with grain of up to 4 levels a sample.
const Photo& ThePhoto() {
  static const Photo photo = [] {
    Photo p;
    std::FILE* file = std::fopen(SAMPLE_IMAGE, "rb");
    std::uint16_t w = 0, h = 0, maxval = 0;
    const std::unique_ptr<std::uint8_t[]> sample = ReadImage(file, w, h, maxval);
    if (file != nullptr) std::fclose(file);
    if (!sample) std::abort();
    p.pixels.resize(std::size_t{3} * kWidth * kHeight);
    for (std::uint32_t y = 0; y < kHeight; ++y) {
      const double fy = (y + 0.5) * h / kHeight - 0.5;
      const auto y0 = static_cast<std::uint32_t>(std::max(0.0, fy));
      const std::uint32_t y1 = std::min<std::uint32_t>(y0 + 1, h - 1u);
      const double wy = std::clamp(fy - y0, 0.0, 1.0);
      for (std::uint32_t x = 0; x < kWidth; ++x) {
        const double fx = (x + 0.5) * w / kWidth - 0.5;
        const auto x0 = static_cast<std::uint32_t>(std::max(0.0, fx));
        const std::uint32_t x1 = std::min<std::uint32_t>(x0 + 1, w - 1u);
        const double wx = std::clamp(fx - x0, 0.0, 1.0);
        for (std::uint32_t c = 0; c < 3; ++c) {
          const auto at = [&](std::uint32_t sx, std::uint32_t sy) {
            return static_cast<double>(sample[(std::size_t{sy} * w + sx) * 3 + c]);
          };
          const double v = (1 - wy) * ((1 - wx) * at(x0, y0) + wx * at(x1, y0)) +
                           wy * ((1 - wx) * at(x0, y1) + wx * at(x1, y1)) +
                           static_cast<double>(Hash(x, y * 3 + c) % 9) - 4.0;
          p.pixels[(std::size_t{y} * kWidth + x) * 3 + c] =
              static_cast<std::uint8_t>(std::clamp(v + 0.5, 0.0, 255.0));
        }
      }
    }
    // 16 colours at evenly spaced ranks of brightness.
    std::vector<std::uint32_t> colours;
    for (std::size_t k = 0; k < std::size_t{w} * h; ++k) {
      const std::uint8_t* s = sample.get() + 3 * k;
      colours.push_back(
          static_cast<std::uint32_t>((s[0] + s[1] + s[2]) << 24 | s[0] << 16 | s[1] << 8 | s[2]));
    }
    std::sort(colours.begin(), colours.end());
    p.config = reference::TableOf(16);
    for (std::size_t i = 0; i < 16; ++i) {
      const std::uint32_t c = colours[(2 * i + 1) * colours.size() / 32];
      p.config.matchRed[i] = p.config.replaceRed[i] = static_cast<std::int32_t>(c >> 16 & 0xFF);
      p.config.matchGreen[i] = p.config.replaceGreen[i] = static_cast<std::int32_t>(c >> 8 & 0xFF);
      p.config.matchBlue[i] = p.config.replaceBlue[i] = static_cast<std::int32_t>(c & 0xFF);
    }
    return p;
  }();
  return photo;
}

// Each iteration works on a fresh copy of the photograph; the copy is not
// timed.
template <typename Work>
void Run(benchmark::State& state, Work work) {
  const Photo& photo = ThePhoto();
  const PreparedTable table = PrepareTable(photo.config);
  std::vector<std::uint8_t> pixels(photo.pixels.size());
  for (auto _ : state) {
    state.PauseTiming();
    std::memcpy(pixels.data(), photo.pixels.data(), pixels.size());
    state.ResumeTiming();
    work(pixels.data(), table);
    benchmark::DoNotOptimize(pixels.data());
  }
  state.SetItemsProcessed(state.iterations() * std::int64_t{kWidth} * kHeight);
}

void Undithered(benchmark::State& state) {
  Run(state, [](std::uint8_t* p, const PreparedTable& table) {
    RemapPixels(p, std::uint64_t{kWidth} * kHeight, table);
  });
}

// Argument: threads (0: as many as the process may use).
void FloydSteinberg(benchmark::State& state) {
  const auto threads = static_cast<unsigned>(state.range(0));
  Run(state, [threads](std::uint8_t* p, const PreparedTable& table) {
    DitherFloydSteinberg(p, kWidth, kHeight, nullptr, table, threads);
  });
}

void Ordered(benchmark::State& state) {
  Run(state, [](std::uint8_t* p, const PreparedTable& table) {
    DitherOrdered(p, kWidth, kHeight, nullptr, table, OrderedStrength(table));
  });
}

void Strength(benchmark::State& state) {
  const Configuration config = reference::RandomTable(static_cast<int>(state.range(0)), 11);
  const PreparedTable table = PrepareTable(config);
  for (auto _ : state) benchmark::DoNotOptimize(OrderedStrength(table));
}

BENCHMARK(Undithered)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(FloydSteinberg)
    ->ArgName("threads")
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(Ordered)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(Strength)->ArgName("colours")->Arg(16)->Arg(100000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
