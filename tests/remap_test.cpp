#include "remap.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "test_support.hpp"

namespace {

using Pixels = std::vector<std::uint8_t>;

Pixels Remapped(Pixels pixels, const std::vector<std::string>& signatures) {
  const Configuration config = test::MakeConfiguration(signatures);
  RemapPixels(pixels.data(), pixels.size() / 3, config);
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
    {"halfway, other order",
     {"#020000:#bbbbbb", "#000000:#aaaaaa"},
     {1, 0, 0},
     {0xbb, 0xbb, 0xbb}},
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

// Random images and signature tables, compared with the plain double-precision
// rule. Every other round packs match colours and pixels close together so
// that ties and duplicates are frequent.
TEST(RemapPixels, MatchesTheReferenceRule) {
  std::mt19937 random(7);
  for (int round = 0; round < 300; ++round) {
    SCOPED_TRACE(round);
    const bool narrow = round % 2 == 0;
    const int count = 1 + static_cast<int>(random() % 300);
    Configuration config = test::TableOf(count);
    auto match = [&] {
      return narrow ? 100 + 4 * static_cast<std::int32_t>(random() % 5)
                    : static_cast<std::int32_t>(random() % 271) - 15;
    };
    auto replace = [&] { return static_cast<std::int32_t>(random() % 271) - 15; };
    for (int i = 0; i < count; ++i) {
      config.matchRed[i] = match();
      config.matchGreen[i] = match();
      config.matchBlue[i] = match();
      config.replaceRed[i] = replace();
      config.replaceGreen[i] = replace();
      config.replaceBlue[i] = replace();
    }
    const std::size_t pixels = 1 + random() % 700;
    std::string raster = test::RandomRaster(pixels, static_cast<unsigned>(round));
    if (narrow) {
      for (char& byte : raster) byte = static_cast<char>(98 + static_cast<unsigned char>(byte) % 20);
    }
    Pixels expected(raster.begin(), raster.end()), actual = expected;
    test::ReferenceRemap(expected.data(), pixels, config);
    RemapPixels(actual.data(), pixels, config);
    ASSERT_EQ(actual, expected);
  }
}

}  // namespace
