#include "remap/dither.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <random>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "image/ppm_image.hpp"
#include "remap/picture_pass.hpp"
#include "remap_reference.hpp"
#include "test_inputs.hpp"

namespace {

using Pixels = std::vector<std::uint8_t>;

// The definitions in their plainest form: per pixel, every signature in
// order, the first strictly nearest winning.
std::size_t NearestSignature(const Configuration& config, int r, int g, int b) {
  std::size_t best = 0;
  int bestDistance = -1;
  for (std::size_t i = 0; i < static_cast<std::size_t>(config.count); ++i) {
    const int dr = r - config.matchRed[i], dg = g - config.matchGreen[i],
              db = b - config.matchBlue[i];
    const int distance = dr * dr + dg * dg + db * db;
    if (bestDistance < 0 || distance < bestDistance) {
      best = i;
      bestDistance = distance;
    }
  }
  return best;
}

void Replace(const Configuration& config, std::size_t i, std::uint8_t* p) {
  p[0] = static_cast<std::uint8_t>(config.replaceRed[i] & 0xFF);
  p[1] = static_cast<std::uint8_t>(config.replaceGreen[i] & 0xFF);
  p[2] = static_cast<std::uint8_t>(config.replaceBlue[i] & 0xFF);
}

int FloorDiv(int n, int d) { return static_cast<int>(std::floor(static_cast<double>(n) / d)); }
int TruncDiv(int n, int d) { return n / d; }

// Floyd-Steinberg with the whole picture's errors kept, in sixteenths.
Pixels ReferenceFs(Pixels pixels, int width, int height, const std::uint8_t* alpha,
                   const Configuration& config, int (*divide)(int, int) = FloorDiv) {
  std::vector<int> error(static_cast<std::size_t>(width * height * 3), 0);
  const auto at = [&](int x, int y) { return static_cast<std::size_t>(y * width + x); };
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const std::size_t k = at(x, y);
      const bool clear = alpha != nullptr && alpha[k] == 0;
      int v[3];
      for (int c = 0; c < 3; ++c) {
        const int s = pixels[3 * k + static_cast<std::size_t>(c)];
        v[c] = clear ? s
                     : std::clamp(s + divide(error[3 * k + static_cast<std::size_t>(c)] + 8, 16), 0,
                                  255);
      }
      const std::size_t i = NearestSignature(config, v[0], v[1], v[2]);
      Replace(config, i, &pixels[3 * k]);
      if (clear) continue;
      const int m[3] = {config.matchRed[i], config.matchGreen[i], config.matchBlue[i]};
      const int dx[4] = {1, -1, 0, 1}, dy[4] = {0, 1, 1, 1}, weight[4] = {7, 3, 5, 1};
      for (int n = 0; n < 4; ++n) {
        const int tx = x + dx[n], ty = y + dy[n];
        if (tx < 0 || tx >= width || ty >= height) continue;
        const std::size_t t = at(tx, ty);
        if (alpha != nullptr && alpha[t] == 0) continue;
        for (int c = 0; c < 3; ++c) {
          error[3 * t + static_cast<std::size_t>(c)] += weight[n] * (v[c] - m[c]);
        }
      }
    }
  }
  return pixels;
}

const int kBayer[8][8] = {{0, 32, 8, 40, 2, 34, 10, 42},  {48, 16, 56, 24, 50, 18, 58, 26},
                          {12, 44, 4, 36, 14, 46, 6, 38}, {60, 28, 52, 20, 62, 30, 54, 22},
                          {3, 35, 11, 43, 1, 33, 9, 41},  {51, 19, 59, 27, 49, 17, 57, 25},
                          {15, 47, 7, 39, 13, 45, 5, 37}, {63, 31, 55, 23, 61, 29, 53, 21}};

Pixels ReferenceOrdered(Pixels pixels, int width, int height, const std::uint8_t* alpha,
                        const Configuration& config, int strength) {
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const auto k = static_cast<std::size_t>(y * width + x);
      const int t = alpha != nullptr && alpha[k] == 0
                        ? 0
                        : FloorDiv((2 * kBayer[y % 8][x % 8] - 63) * strength, 128);
      int v[3];
      for (int c = 0; c < 3; ++c)
        v[c] = std::clamp(pixels[3 * k + static_cast<std::size_t>(c)] + t, 0, 255);
      Replace(config, NearestSignature(config, v[0], v[1], v[2]), &pixels[3 * k]);
    }
  }
  return pixels;
}

// Median distance to the nearest other distinct match colour, over sqrt(3), rounded.
int ReferenceStrength(const Configuration& config) {
  std::set<std::tuple<int, int, int>> seen;
  std::vector<std::tuple<int, int, int>> colours;
  for (std::size_t i = 0; i < static_cast<std::size_t>(config.count); ++i) {
    const auto colour =
        std::make_tuple(config.matchRed[i], config.matchGreen[i], config.matchBlue[i]);
    if (seen.insert(colour).second) colours.push_back(colour);
  }
  if (colours.size() < 2) return 0;
  std::vector<double> nearest;
  for (const auto& [r, g, b] : colours) {
    double best = 1e9;
    for (const auto& [r2, g2, b2] : colours) {
      const double d =
          std::sqrt(double((r - r2) * (r - r2) + (g - g2) * (g - g2) + (b - b2) * (b - b2)));
      if (d > 0) best = std::min(best, d);
    }
    nearest.push_back(best);
  }
  std::sort(nearest.begin(), nearest.end());
  return static_cast<int>(std::lround(nearest[(nearest.size() - 1) / 2] / std::sqrt(3.0)));
}

Pixels Sample(int& width, int& height) {
  std::FILE* file = std::fopen(SAMPLE_IMAGE, "rb");
  std::uint16_t w = 0, h = 0, maxval = 0;
  const std::unique_ptr<std::uint8_t[]> raster = ReadImage(file, w, h, maxval);
  if (file != nullptr) std::fclose(file);
  width = w;
  height = h;
  return raster ? Pixels(raster.get(), raster.get() + RasterBytes(w, h)) : Pixels{};
}

// Pictures and palettes: noise and photo-like pictures, the bundled sample;
// palettes spread over the cube with replacements unlike their match
// colours, snapped to a grid (each colour its own), clustered, and full of
// repeated match colours; some with an alpha plane holding zeros.
struct Scene {
  const char* name;
  reference::PaletteKind palette;
  reference::PictureKind picture;
  int count;
  int width, height;
  bool alpha;
};

const Scene kScenes[] = {
    {"one signature", reference::PaletteKind::kSpread, reference::PictureKind::kSmooth, 1, 37, 29,
     false},
    {"two, smooth", reference::PaletteKind::kSnapped, reference::PictureKind::kSmooth, 2, 131, 67,
     false},
    {"two, mapped, noise", reference::PaletteKind::kSpread, reference::PictureKind::kNoise, 2, 64,
     40, true},
    {"16 snapped, smooth", reference::PaletteKind::kSnapped, reference::PictureKind::kSmooth, 16,
     131, 67, true},
    {"16 mapped, noise", reference::PaletteKind::kSpread, reference::PictureKind::kNoise, 16, 97,
     53, false},
    {"16 repeated", reference::PaletteKind::kDuplicated, reference::PictureKind::kSmooth, 16, 90,
     41, false},
    {"256 mapped, smooth", reference::PaletteKind::kSpread, reference::PictureKind::kSmooth, 256,
     131, 67, true},
    {"256 clustered", reference::PaletteKind::kClustered, reference::PictureKind::kSwatches, 256,
     80, 60, false},
    {"4096 mapped, smooth", reference::PaletteKind::kSpread, reference::PictureKind::kSmooth, 4096,
     70, 45, false},
    {"4096 snapped, noise", reference::PaletteKind::kSnapped, reference::PictureKind::kNoise, 4096,
     50, 31, true},
    {"one column", reference::PaletteKind::kSpread, reference::PictureKind::kSmooth, 16, 1, 90,
     true},
    {"one row", reference::PaletteKind::kSpread, reference::PictureKind::kNoise, 16, 90, 1, false},
};

struct Case {
  std::string name;
  Configuration config;
  Pixels pixels;
  int width, height;
  std::vector<std::uint8_t> alpha;
  const std::uint8_t* Alpha() const { return alpha.empty() ? nullptr : alpha.data(); }
};

std::vector<Case> Cases() {
  std::vector<Case> cases;
  unsigned seed = 1;
  for (const Scene& s : kScenes) {
    reference::Scene scene =
        reference::MakeScene(s.palette, s.picture, s.count, static_cast<std::size_t>(s.width),
                             static_cast<std::size_t>(s.height), seed++);
    Case c{s.name,
           std::move(scene.config),
           Pixels(scene.raster.begin(), scene.raster.end()),
           s.width,
           s.height,
           {}};
    if (s.alpha) {
      std::mt19937 random(seed);
      for (int k = 0; k < s.width * s.height; ++k) {
        c.alpha.push_back(random() % 5 == 0 ? 0 : static_cast<std::uint8_t>(random() % 256));
      }
    }
    cases.push_back(std::move(c));
  }
  Case sample{"the bundled sample, 16 mapped", reference::RandomTable(16, 3), {}, 0, 0, {}};
  sample.pixels = Sample(sample.width, sample.height);
  cases.push_back(std::move(sample));
  return cases;
}

const unsigned kThreadCounts[] = {1, 2, 3, 7};

TEST(DitherFloydSteinberg, GivesTheDefinitionsBytesOnEveryKernelAndThreadCount) {
  for (const Case& c : Cases()) {
    SCOPED_TRACE(c.name);
    ASSERT_FALSE(c.pixels.empty());
    const Pixels expected = ReferenceFs(c.pixels, c.width, c.height, c.Alpha(), c.config);
    for (RemapKernel kernel : kFastestFirst) {
      if (!HasKernel(kernel)) continue;
      for (unsigned threads : kThreadCounts) {
        SCOPED_TRACE(std::string(KernelName(kernel)) + ", threads " + std::to_string(threads));
        Pixels pixels = c.pixels;
        ASSERT_TRUE(DitherFloydSteinbergWith(
            kernel, pixels.data(), static_cast<std::uint32_t>(c.width),
            static_cast<std::uint32_t>(c.height), c.Alpha(), c.config, threads));
        ASSERT_EQ(pixels, expected);
      }
    }
    Pixels pixels = c.pixels;
    ASSERT_TRUE(DitherFloydSteinberg(pixels.data(), static_cast<std::uint32_t>(c.width),
                                     static_cast<std::uint32_t>(c.height), c.Alpha(),
                                     PrepareTable(c.config)));
    EXPECT_EQ(pixels, expected);
  }
}

// The rounding is floor's: division that truncates towards zero rounds
// negative errors the other way, which a photograph shows.
TEST(DitherFloydSteinberg, RoundsNegativeErrorsDown) {
  int width, height;
  const Pixels sample = Sample(width, height);
  const Configuration config = reference::RandomTable(16, 5);
  const Pixels floored = ReferenceFs(sample, width, height, nullptr, config);
  ASSERT_NE(floored, ReferenceFs(sample, width, height, nullptr, config, TruncDiv));
  Pixels pixels = sample;
  DitherFloydSteinberg(pixels.data(), static_cast<std::uint32_t>(width),
                       static_cast<std::uint32_t>(height), nullptr, PrepareTable(config));
  EXPECT_EQ(pixels, floored);
}

// Read in parts of 1 MiB, its height no multiple of the rows a thread
// takes at once: the rows are dithered as they arrive, and each part waits
// for its rows before it is written.
TEST(FloydSteinbergPass, GivesTheDefinitionsBytesWhileTheRasterMoves) {
  const int width = 701, height = 503;
  const reference::Scene scene = reference::MakeScene(
      reference::PaletteKind::kSpread, reference::PictureKind::kSmooth, 16, width, height, 9);
  const Pixels expected = ReferenceFs(Pixels(scene.raster.begin(), scene.raster.end()), width,
                                      height, nullptr, scene.config);
  std::FILE* in = TemporaryFile();
  std::FILE* out = TemporaryFile();
  std::fprintf(in, "P6\n%d %d\n255\n", width, height);
  std::fwrite(scene.raster.data(), 1, scene.raster.size(), in);
  std::rewind(in);
  ASSERT_EQ(RemapPicture(PrepareTable(scene.config), in, out, PictureFormat::kPpm,
                         DitherMethod::kFloydSteinberg),
            0);
  std::rewind(out);
  std::uint16_t w, h, maxval;
  const std::unique_ptr<std::uint8_t[]> written = ReadImage(out, w, h, maxval);
  std::fclose(in);
  std::fclose(out);
  ASSERT_TRUE(written);
  EXPECT_EQ(Pixels(written.get(), written.get() + RasterBytes(w, h)), expected);
}

TEST(DitherOrdered, GivesTheDefinitionsBytesOnOneThreadAndAll) {
  for (const Case& c : Cases()) {
    SCOPED_TRACE(c.name);
    const PreparedTable table = PrepareTable(c.config);
    const int chosen = OrderedStrength(table);
    for (const int strength : {chosen, 0, 40, kMaxOrderedStrength}) {
      SCOPED_TRACE("strength " + std::to_string(strength));
      const Pixels expected =
          ReferenceOrdered(c.pixels, c.width, c.height, c.Alpha(), c.config, strength);
      Pixels all = c.pixels;
      DitherOrdered(all.data(), static_cast<std::uint32_t>(c.width),
                    static_cast<std::uint32_t>(c.height), c.Alpha(), table, strength);
      EXPECT_EQ(all, expected);
      // Moved in two parts that split a row, then remapped on one thread.
      Pixels one = c.pixels;
      const auto count = static_cast<std::uint64_t>(c.width) * static_cast<std::uint64_t>(c.height);
      const std::uint64_t split = count / 2 + 3 < count ? count / 2 + 3 : 0;
      OffsetOrdered(one.data(), split, 0, static_cast<std::uint32_t>(c.width), c.Alpha(), strength);
      OffsetOrdered(one.data() + 3 * split, count - split, split,
                    static_cast<std::uint32_t>(c.width), c.Alpha() ? c.Alpha() + split : nullptr,
                    strength);
      RemapOptions options;
      options.threads = 1;
      RemapPixelsWith(RemapKernel::kPortable, one.data(), count, c.config, options);
      EXPECT_EQ(one, expected);
    }
    if (c.config.count > 1 && chosen > 0) {
      Pixels plain = c.pixels;
      RemapPixels(plain.data(), plain.size() / 3, table);
      EXPECT_NE(ReferenceOrdered(c.pixels, c.width, c.height, c.Alpha(), c.config, chosen), plain);
    }
  }
}

TEST(OrderedStrength, IsTheMedianNearestDistanceOverRootThree) {
  using reference::PaletteKind;
  for (const PaletteKind palette : {PaletteKind::kSpread, PaletteKind::kSnapped,
                                    PaletteKind::kDuplicated, PaletteKind::kClustered}) {
    for (const int count : {1, 2, 3, 16, 17, 256, 3000}) {
      SCOPED_TRACE(std::to_string(static_cast<int>(palette)) + " " + std::to_string(count));
      const reference::Scene scene = reference::MakeScene(
          palette, reference::PictureKind::kNoise, count, 1, 1, static_cast<unsigned>(count));
      EXPECT_EQ(OrderedStrength(PrepareTable(scene.config)), ReferenceStrength(scene.config));
    }
  }
  // Black and white: a step of 255 along every component.
  EXPECT_EQ(OrderedStrength(
                PrepareTable(test::MakeConfiguration({"#000000:#000000", "#ffffff:#ffffff"}))),
            255);
}

}  // namespace
