#include "remap.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <initializer_list>
#include <random>
#include <string>
#include <vector>

#include "remap/choice.hpp"
#include "remap_reference.hpp"
#include "test_inputs.hpp"

// Test names and messages show the kernel by name.
void PrintTo(RemapKernel kernel, std::ostream* os) { *os << KernelName(kernel); }

namespace {

using Pixels = std::vector<std::uint8_t>;

Pixels Remapped(Pixels pixels, const std::vector<std::string>& signatures) {
  const Configuration config = test::MakeConfiguration(signatures);
  RemapPixels(pixels.data(), pixels.size() / 3, PrepareTable(config));
  return pixels;
}

struct Case {
  const char* name;
  std::vector<std::string> signatures;
  Pixels in, out;
};

const Case kCases[] = {
    {"one signature takes every pixel",
     {"#123456:#abcdef"},
     {0, 0, 0, 255, 255, 255, 18, 52, 86},
     {0xab, 0xcd, 0xef, 0xab, 0xcd, 0xef, 0xab, 0xcd, 0xef}},
    {"nearest wins, channels kept apart",
     {"#000000:#010203", "#ffffff:#040506", "#ff0000:#070809"},
     {10, 10, 10, 250, 240, 245, 200, 30, 20},
     {1, 2, 3, 4, 5, 6, 7, 8, 9}},
    {"duplicate match colour: first replacement",
     {"#808080:#111111", "#808080:#222222"},
     {0, 0, 0, 128, 128, 128},
     {0x11, 0x11, 0x11, 0x11, 0x11, 0x11}},
    {"halfway between two: first given wins",
     {"#000000:#aaaaaa", "#020000:#bbbbbb"},
     {1, 0, 0},
     {0xaa, 0xaa, 0xaa}},
    {"halfway, other order", {"#020000:#bbbbbb", "#000000:#aaaaaa"}, {1, 0, 0}, {0xbb, 0xbb, 0xbb}},
    {"identity signature leaves pixels",
     {"#000000:#000000", "#ffffff:#ffffff"},
     {5, 6, 7, 250, 251, 252},
     {0, 0, 0, 255, 255, 255}},
    {"negative match component",
     {"#-f0000:#aaaaaa", "#010000:#bbbbbb"},
     {0, 0, 0},
     {0xbb, 0xbb, 0xbb}},
    {"negative replacement keeps low eight bits",
     {"#000000:#-f-1+f"},
     {9, 9, 9},
     {0xf1, 0xff, 0x0f}},
    {"far from everything still replaced",
     {"#000000:#102030"},
     {255, 255, 255},
     {0x10, 0x20, 0x30}},
};

TEST(RemapPixels, GivesEachPixelItsNearestReplacement) {
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Remapped(c.in, c.signatures), c.out);
  }
}

// Each kernel against the plain rule; a kernel this processor or build lacks
// is reported as skipped.
class EveryKernel : public testing::TestWithParam<RemapKernel> {
 protected:
  void SetUp() override {
    if (!HasKernel(GetParam())) GTEST_SKIP() << "this processor or build lacks the kernel";
  }

  // Runs the kernel on `raster` and expects the reference rule's bytes:
  // each way of searching, on one thread and on three (bands that end
  // inside blocks and windows), and as the program chooses.
  void ExpectReferenceResult(const std::string& raster, const Configuration& config) {
    const std::uint64_t count = raster.size() / 3;
    Pixels expected(raster.begin(), raster.end());
    reference::ReferenceRemapByColour(expected.data(), count, config);
    for (const SearchChoice search :
         {SearchChoice::kCounted, SearchChoice::kFull, SearchChoice::kBlockUnion,
          SearchChoice::kEachPixelLargeCells, SearchChoice::kEachPixelSmallCells,
          SearchChoice::kRemembering}) {
      for (const unsigned threads : {1u, 3u}) {
        SCOPED_TRACE(testing::Message()
                     << "search " << static_cast<int>(search) << ", " << threads << " threads");
        Pixels actual(raster.begin(), raster.end());
        ASSERT_TRUE(RemapPixelsWith(GetParam(), actual.data(), count, config, {search, threads}));
        ASSERT_EQ(actual, expected);
      }
    }
  }
};

// Random images and signature tables (1 to 300 signatures, components over
// the whole range a signature can hold) compared with the plain double-
// precision rule. Every other round packs match colours and pixels close
// together so that ties and duplicates are frequent.
TEST_P(EveryKernel, MatchesTheReferenceRule) {
  std::mt19937 random(7);
  for (int round = 0; round < 400; ++round) {
    SCOPED_TRACE(round);
    const bool narrow = round % 2 == 0;
    const int count = 1 + static_cast<int>(random() % 300);
    Configuration config = reference::TableOf(count);
    auto match = [&] {
      return narrow ? 100 + 4 * static_cast<std::int32_t>(random() % 5)
                    : static_cast<std::int32_t>(random() % 271) - 15;
    };
    auto replace = [&] { return static_cast<std::int32_t>(random() % 271) - 15; };
    for (std::size_t i = 0; i < static_cast<std::size_t>(count); ++i) {
      config.matchRed[i] = match();
      config.matchGreen[i] = match();
      config.matchBlue[i] = match();
      config.replaceRed[i] = replace();
      config.replaceGreen[i] = replace();
      config.replaceBlue[i] = replace();
    }
    std::string raster = test::RandomRaster(1 + random() % 700, static_cast<unsigned>(round));
    if (narrow) {
      for (char& byte : raster)
        byte = static_cast<char>(98 + static_cast<unsigned char>(byte) % 20);
    }
    ExpectReferenceResult(raster, config);
  }
}

// Extreme components: the largest distances (pixel 255 against match -15,
// pixel 0 against 255) and every pixel value in every channel.
TEST_P(EveryKernel, IsExactAtTheExtremes) {
  Configuration config = reference::TableOf(4);
  const std::int32_t matches[4][3] = {{-15, -15, -15}, {255, 255, 255}, {-15, 255, -15}, {0, 0, 0}};
  for (std::size_t i = 0; i < 4; ++i) {
    config.matchRed[i] = matches[i][0];
    config.matchGreen[i] = matches[i][1];
    config.matchBlue[i] = matches[i][2];
    config.replaceRed[i] = config.replaceGreen[i] = config.replaceBlue[i] =
        60 * static_cast<std::int32_t>(i);
  }
  std::string raster;
  for (int v = 0; v < 256; ++v) {
    for (const char* pattern : {"vvv", "v\0\xff", "\xffv\0", "\0\xffv"}) {
      for (int c = 0; c < 3; ++c) raster += pattern[c] == 'v' ? static_cast<char>(v) : pattern[c];
    }
  }
  ExpectReferenceResult(raster, config);
}

// A pixel on the far corner of a cell of the colour cube (8 to 64 values a
// side), equally near a signature on the near corner and an earlier one
// outside, as far beyond the pixel: the earlier one lies exactly on the
// cell's bound and must be kept for the tie. Mirrored too, and among others.
TEST_P(EveryKernel, KeepsTiesOnTheCornersOfCells) {
  for (const std::int32_t side : {8, 16, 32, 64}) {
    for (const std::int32_t origin : {0, 64, 128}) {
      for (const bool mirrored : {false, true}) {
        SCOPED_TRACE(testing::Message()
                     << "side " << side << ", origin " << origin << (mirrored ? ", mirrored" : ""));
        const std::int32_t step = mirrored ? -1 : 1;
        const std::int32_t near = mirrored ? origin + side - 1 : origin;
        const std::int32_t corner = near + step * (side - 1);
        const std::int32_t beyond = corner + step * (side - 1);
        Configuration config = reference::RandomTable(40, static_cast<unsigned>(side + origin));
        for (std::size_t i = 0; i < 2; ++i) {
          const std::int32_t v = i == 0 ? beyond : near;
          config.matchRed[i] = config.matchGreen[i] = config.matchBlue[i] = v;
        }
        const auto c = static_cast<char>(corner);
        ExpectReferenceResult(std::string(96, c) + test::RandomRaster(32, 1), config);
      }
    }
  }
}

// More colours than a thread remembers, over the whole cube, met in order
// and then again in another, with signatures on a lattice that each give
// their own colour: where two colours share a place in what is remembered,
// neither may take the other's replacement.
TEST_P(EveryKernel, TakesNoRememberedColourForAnother) {
  Configuration config = reference::TableOf(512);
  for (std::size_t i = 0; i < 512; ++i) {
    const auto at = [&](std::size_t shift) {
      return static_cast<std::int32_t>(i >> shift & 7) * 32 + 16;
    };
    config.matchRed[i] = config.replaceRed[i] = at(0);
    config.matchGreen[i] = config.replaceGreen[i] = at(3);
    config.matchBlue[i] = config.replaceBlue[i] = at(6);
  }
  std::string raster;
  for (unsigned round = 0; round < 2; ++round) {
    for (unsigned v = 0; v < 1u << 16; ++v) {
      const unsigned w = round == 0 ? v : v * 40503u % (1u << 16);
      raster += static_cast<char>(w);
      raster += static_cast<char>(w >> 8);
      raster += static_cast<char>(w * 3 + (w >> 8) * 5);
    }
  }
  ExpectReferenceResult(raster, config);
}

// More signatures than one chunk holds: a later chunk must win only when
// strictly nearer, so the tie between signatures 1 and 5000 goes to 1.
TEST_P(EveryKernel, KeepsTheRuleAcrossThousandsOfSignatures) {
  Configuration config = reference::RandomTable(9000, 11);
  for (std::size_t i : {std::size_t{1}, std::size_t{5000}})
    config.matchRed[i] = config.matchGreen[i] = config.matchBlue[i] = 77;
  config.matchRed[8000] = 200, config.matchGreen[8000] = 10, config.matchBlue[8000] = 10;
  ExpectReferenceResult(test::RandomRaster(150, 5) + "MMM" + std::string("\xc8\x0a\x0a", 3),
                        config);
}

// Pictures and tables built to break a narrowed search, each checked
// against the plain rule by every kernel: rows of kWidth, with flat areas
// and ties across the borders of runs and squares of neighbouring pixels,
// match colours on the corners and faces of those pixels' colour boxes.
struct Shape {
  std::size_t run, rows;
};
constexpr Shape kRowTiles[] = {{4096, 1}, {512, 1}, {64, 1}};
constexpr Shape kSquareTiles[] = {{256, 64}, {64, 8}, {64, 1}};
constexpr int kLevels = 3;
constexpr std::size_t kWidth = 2 * kSquareTiles[0].run + 12;
constexpr std::size_t kPruned = kWidth * (kSquareTiles[0].rows + 3);
static_assert(kPruned > 2 * kRowTiles[0].run, "two widest row tiles");

struct Rgb {
  std::int32_t r, g, b;
};

std::uint8_t Byte(std::int32_t v) {
  return static_cast<std::uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v);
}

// A picture of kPruned pixels, pixel k from `colour(k)`.
template <typename Colour>
std::string Picture(Colour colour) {
  std::string raster;
  for (std::size_t k = 0; k < kPruned; ++k) {
    const Rgb c = colour(k);
    raster +=
        {static_cast<char>(Byte(c.r)), static_cast<char>(Byte(c.g)), static_cast<char>(Byte(c.b))};
  }
  return raster;
}

// Smooth hues with grain: most tiles prune well, some do not.
Rgb Grained(std::size_t k) {
  const auto x = static_cast<std::int32_t>(k % 997),
             grain = static_cast<std::int32_t>(k * 7919 % 19);
  return {40 + x / 6 + grain, 200 - x / 8 + grain, 90 + grain};
}

// Tables: match colours as given, each replacement telling its place.
Configuration Table(const std::vector<Rgb>& match) {
  Configuration config = reference::TableOf(static_cast<int>(match.size()));
  for (std::size_t i = 0; i < match.size(); ++i) {
    config.matchRed[i] = match[i].r;
    config.matchGreen[i] = match[i].g;
    config.matchBlue[i] = match[i].b;
    config.replaceRed[i] = static_cast<std::int32_t>(i & 0xFF);
    config.replaceGreen[i] = static_cast<std::int32_t>(i >> 8);
    config.replaceBlue[i] = 0x55;
  }
  return config;
}

std::vector<Rgb> Spread(int count, unsigned seed, std::int32_t low = -15, std::int32_t high = 255) {
  std::mt19937 random(seed);
  std::uniform_int_distribution<std::int32_t> component(low, high);
  std::vector<Rgb> match;
  for (int i = 0; i < count; ++i)
    match.push_back({component(random), component(random), component(random)});
  return match;
}

// The corners and face centres of the box around a tile of `rows` runs of
// `run` pixels, the first at pixel 0, each `stride` after the one before.
std::vector<Rgb> OnTheBox(const std::string& raster, std::size_t run, std::size_t rows,
                          std::size_t stride) {
  std::int32_t lo[3] = {255, 255, 255}, hi[3] = {0, 0, 0};
  for (std::size_t row = 0; row < rows; ++row) {
    for (std::size_t k = row * stride; k < row * stride + run; ++k) {
      for (std::size_t c = 0; c < 3; ++c) {
        const std::int32_t v = static_cast<unsigned char>(raster[3 * k + c]);
        lo[c] = std::min(lo[c], v);
        hi[c] = std::max(hi[c], v);
      }
    }
  }
  std::vector<Rgb> match;
  for (int corner = 0; corner < 8; ++corner) {
    match.push_back(
        {corner & 1 ? hi[0] : lo[0], corner & 2 ? hi[1] : lo[1], corner & 4 ? hi[2] : lo[2]});
  }
  const Rgb mid = {(lo[0] + hi[0]) / 2, (lo[1] + hi[1]) / 2, (lo[2] + hi[2]) / 2};
  for (int c = 0; c < 3; ++c) {
    for (const std::int32_t* face : {lo, hi}) {
      Rgb m = mid;
      (c == 0 ? m.r : c == 1 ? m.g : m.b) = face[c];
      match.push_back(m);
    }
  }
  return match;
}

TEST_P(EveryKernel, KeepsTheRuleWherePruningCouldCutCorners) {
  const std::string grained = Picture(Grained);
  const std::string noise = test::RandomRaster(kPruned, 8);
  const std::string gradient = Picture([](std::size_t k) {
    const auto v = static_cast<std::int32_t>(k);
    return Rgb{v % 256, v / 16 % 256, 128};
  });
  // One colour a widest square tile, another the next one, a third the rest.
  const std::string flat = Picture([](std::size_t k) {
    const std::size_t x = k % kWidth, y = k / kWidth, side = kSquareTiles[0].run;
    return y >= side ? Rgb{255, 255, 255} : x < side ? Rgb{30, 60, 90} : Rgb{0, 0, 0};
  });
  // Pixels halfway between the first two signatures on both sides of the
  // borders of the smallest tiles of either layout, grain elsewhere.
  const std::string halfway = Picture([](std::size_t k) {
    const std::size_t run = kRowTiles[kLevels - 1].run, x = k % kWidth, band = kSquareTiles[1].rows,
                      y = k / kWidth;
    const bool border = k % run == 0 || k % run == run - 1 || x % run == 0 || x % run == run - 1 ||
                        y % band == 0 || y % band == band - 1;
    return border ? Rgb{101, 150, 90} : Grained(k);
  });
  std::vector<Rgb> tie = {{100, 150, 90}, {102, 150, 90}};
  const std::vector<Rgb> spread = Spread(400, 1);
  tie.insert(tie.end(), spread.begin(), spread.end());

  std::vector<Rgb> boxes;  // on the boxes of the first tile of every level
  for (int level = 0; level < kLevels; ++level) {
    for (const std::vector<Rgb>& box :
         {OnTheBox(grained, kRowTiles[level].run, 1, 0),
          OnTheBox(grained, kSquareTiles[level].run, kSquareTiles[level].rows, kWidth)}) {
      boxes.insert(boxes.end(), box.begin(), box.end());
    }
  }
  const std::vector<Rgb> more = Spread(100, 2, 30, 230);
  boxes.insert(boxes.end(), more.begin(), more.end());

  std::vector<Rgb> duplicates = Spread(150, 3);
  for (int i = 0; i < 150; ++i)
    duplicates.push_back(duplicates[static_cast<std::size_t>(i * 7 % 150)]);

  // Over 4096 kept in one list: a cluster in the picture's colours, and far
  // ones that go.
  std::vector<Rgb> clustered = Spread(4400, 4, 60, 150);
  const std::vector<Rgb> far = Spread(2000, 5, 200, 255);
  clustered.insert(clustered.end(), far.begin(), far.end());

  struct Case {
    const char* name;
    const std::string& picture;
    std::vector<Rgb> match;
  };
  const Case cases[] = {
      {"grain, 48 signatures", grained, Spread(48, 6)},
      {"grain, 300 signatures", grained, Spread(300, 7)},
      {"grain, on the tiles' boxes", grained, boxes},
      {"grain, duplicate match colours", grained, duplicates},
      {"grain, 5000 signatures", grained, Spread(5000, 8)},
      {"grain, 6400 clustered", grained, clustered},
      {"halfway across tile borders", halfway, tie},
      {"gradient, 700 signatures", gradient, Spread(700, 9)},
      {"one colour a tile", flat, Spread(64, 10)},
      {"one colour a tile, extremes",
       flat,
       {{-15, -15, -15},
        {255, 255, 255},
        {0, 0, 0},
        {-15, 255, -15},
        {255, -15, 255},
        {30, 60, 90},
        {30, 60, 90},
        {31, 60, 90}}},
      {"noise, 256 signatures", noise, Spread(256, 11)},
      {"noise, 4097 signatures", noise, Spread(4097, 12)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<Rgb> match = c.match;
    while (match.size() < 48) match.push_back(match[match.size() % c.match.size()]);
    ExpectReferenceResult(c.picture, Table(match));
  }
}

// The palettes and pictures people bring, at widths that are not multiples
// of any tile or block, told and not told the width: flat areas and exact
// matches (distance 0) beside busy ones, duplicates that must tie.
TEST_P(EveryKernel, KeepsTheRuleOnPalettesAndPicturesPeopleUse) {
  using reference::PaletteKind;
  using reference::PictureKind;
  const reference::SceneKind cases[] = {
      {PaletteKind::kSnapped, PictureKind::kPaletteRow, 64, 64, 64},
      {PaletteKind::kDuplicated, PictureKind::kExact, 48, 4096, 1},
      {PaletteKind::kSnapped, PictureKind::kSwatches, 125, 300, 70},
      {PaletteKind::kSnapped, PictureKind::kExact, 512, 1000, 20},
      {PaletteKind::kDuplicated, PictureKind::kSwatches, 700, 257, 130},
      {PaletteKind::kDuplicated, PictureKind::kPaletteRow, 3000, 700, 9},
      {PaletteKind::kClustered, PictureKind::kSmooth, 300, 513, 65},
      {PaletteKind::kClustered, PictureKind::kExact, 2000, 640, 66},
      {PaletteKind::kSpread, PictureKind::kSmooth, 1024, 600, 67},
      {PaletteKind::kSpread, PictureKind::kSwatches, 4500, 520, 64},
      {PaletteKind::kSpread, PictureKind::kNoise, 96, 333, 70},
      {PaletteKind::kSnapped, PictureKind::kNoise, 4096, 259, 17},
      {PaletteKind::kSpread, PictureKind::kLastOdd, 300, 640, 20},
      {PaletteKind::kSnapped, PictureKind::kLastOdd, 2000, 640, 20},
      // More candidates than the index has room for, and cells with more
      // than a key can tell apart.
      {PaletteKind::kSpread, PictureKind::kNoise, 100000, 23, 13},
      {PaletteKind::kClustered, PictureKind::kExact, 30000, 21, 19},
  };
  unsigned seed = 0;
  for (const reference::SceneKind& c : cases) {
    SCOPED_TRACE(testing::Message() << "palette " << static_cast<int>(c.palette) << ", picture "
                                    << static_cast<int>(c.picture) << ", " << c.count
                                    << " signatures, " << c.width << " x " << c.height);
    const reference::Scene scene = reference::MakeScene(c, ++seed);
    ExpectReferenceResult(scene.raster, scene.config);
  }
}

// The pass as the program runs it: the raster arrives in parts of any size,
// and each part written must be final once AwaitReady lets it go, on one
// thread and on several taking pieces as they arrive. A read abandoned
// halfway must leave nothing running on the raster.
TEST(RemapPass, GivesFinalBytesPartByPartWhateverThePartsAndThreads) {
  using reference::PaletteKind;
  using reference::PictureKind;
  const reference::SceneKind scenes[] = {
      {PaletteKind::kSpread, PictureKind::kSmooth, 300, 1111, 250},
      {PaletteKind::kSnapped, PictureKind::kSwatches, 2000, 999, 130},
      {PaletteKind::kSpread, PictureKind::kNoise, 5, 4099, 1},
      {PaletteKind::kDuplicated, PictureKind::kExact, 700, 70, 3},
  };
  const std::uint64_t parts[] = {1, 7, 192, 4096, 100000, 1u << 20};
  std::mt19937 random(5);
  unsigned seed = 0;
  for (const reference::SceneKind& c : scenes) {
    const reference::Scene scene = reference::MakeScene(c, ++seed);
    const PreparedTable table = PrepareTable(scene.config);
    const std::uint64_t bytes = scene.raster.size();
    Pixels expected(scene.raster.begin(), scene.raster.end());
    reference::ReferenceRemapByColour(expected.data(), bytes / 3, scene.config);
    for (const unsigned threads : {1u, 2u, 3u, 5u}) {
      // Parts of a byte or two where the raster is small, to keep the test quick.
      const std::uint64_t in = std::max(parts[random() % 6], bytes / 4096),
                          out = std::max(parts[random() % 6], bytes / 4096);
      SCOPED_TRACE(testing::Message()
                   << c.count << " signatures, " << c.width << " x " << c.height << ", " << threads
                   << " threads, parts of " << in << " then " << out);
      // What has not arrived is junk.
      Pixels actual(bytes, 0xA5);
      {
        RemapPass pass(table, {SearchChoice::kCounted, threads});
        pass.Start(actual.data(), bytes);
        // Now and then a reader asks for the whole pixels that have arrived,
        // whole pieces of the pass or not: it must not wait for more, and
        // what it gets is final.
        std::uint64_t asked = 0;
        for (std::uint64_t done = 0; done < bytes;) {
          const std::uint64_t end = std::min(bytes, done + in);
          std::copy(scene.raster.data() + done, scene.raster.data() + end, actual.data() + done);
          pass.Arrived(done = end);
          if (random() % 8 == 0) {
            const std::uint64_t whole = end / 3 * 3;
            pass.AwaitReady(whole);
            ASSERT_TRUE(
                std::equal(actual.data() + asked, actual.data() + whole, expected.data() + asked));
            asked = whole;
          }
        }
        for (std::uint64_t done = 0; done < bytes; done = std::min(bytes, done + out)) {
          const std::uint64_t end = std::min(bytes, done + out);
          pass.AwaitReady(end);
          ASSERT_TRUE(
              std::equal(actual.data() + done, actual.data() + end, expected.data() + done));
        }
      }
      Pixels abandoned(scene.raster.begin(), scene.raster.end());
      RemapPass pass(table, {SearchChoice::kCounted, threads});
      pass.Start(abandoned.data(), bytes);
      pass.Arrived(bytes / 2);
      pass.Abandon();
      abandoned.clear();
      abandoned.shrink_to_fit();
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Kernels, EveryKernel, testing::ValuesIn(kFastestFirst),
                         [](const testing::TestParamInfo<RemapKernel>& info) {
                           return std::string(KernelName(info.param));
                         });

}  // namespace
