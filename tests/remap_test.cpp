#include "remap.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "remap_reference.hpp"
#include "test_inputs.hpp"

// Test names and messages show the kernel by name.
void PrintTo(RemapKernel kernel, std::ostream* os) { *os << KernelName(kernel); }

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

  // Runs the kernel on `raster` and expects the reference rule's bytes.
  void ExpectReferenceResult(const std::string& raster, const Configuration& config) {
    const std::uint64_t count = raster.size() / 3;
    Pixels expected(raster.begin(), raster.end()), actual = expected;
    reference::ReferenceRemap(expected.data(), count, config);
    ASSERT_TRUE(RemapPixelsWith(GetParam(), actual.data(), count, config));
    ASSERT_EQ(actual, expected);
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
    for (int i = 0; i < count; ++i) {
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
  for (int i = 0; i < 4; ++i) {
    config.matchRed[i] = matches[i][0];
    config.matchGreen[i] = matches[i][1];
    config.matchBlue[i] = matches[i][2];
    config.replaceRed[i] = config.replaceGreen[i] = config.replaceBlue[i] = 60 * i;
  }
  std::string raster;
  for (int v = 0; v < 256; ++v) {
    for (const char* pattern : {"vvv", "v\0\xff", "\xffv\0", "\0\xffv"}) {
      for (int c = 0; c < 3; ++c) raster += pattern[c] == 'v' ? static_cast<char>(v) : pattern[c];
    }
  }
  ExpectReferenceResult(raster, config);
}

// More signatures than one chunk holds: a later chunk must win only when
// strictly nearer, so the tie between signatures 1 and 5000 goes to 1.
TEST_P(EveryKernel, KeepsTheRuleAcrossThousandsOfSignatures) {
  Configuration config = reference::RandomTable(9000, 11);
  for (int i : {1, 5000}) config.matchRed[i] = config.matchGreen[i] = config.matchBlue[i] = 77;
  config.matchRed[8000] = 200, config.matchGreen[8000] = 10, config.matchBlue[8000] = 10;
  ExpectReferenceResult(test::RandomRaster(150, 5) + "MMM" + std::string("\xc8\x0a\x0a", 3),
                        config);
}

INSTANTIATE_TEST_SUITE_P(Kernels, EveryKernel, testing::ValuesIn(kFastestFirst),
                         [](const testing::TestParamInfo<RemapKernel>& info) {
                           return std::string(KernelName(info.param));
                         });

}  // namespace
