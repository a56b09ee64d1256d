// End-to-end: remap-palette run as a user runs it, against the remap rule
// with the palette's colours written out as signatures.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "config/palette.hpp"
#include "remap.hpp"
#include "remap_reference.hpp"
#include "run_program.hpp"
#include "test_inputs.hpp"

namespace {

using Colours = std::vector<std::uint32_t>;

test::Run RemapPalette(const std::vector<std::string>& args, const test::ScratchDir& dir,
                       const test::Streams& streams = {}) {
  return test::RunProgram(REMAP_PALETTE_EXECUTABLE, args, dir, streams);
}

std::string Hex(std::uint32_t colour) {
  char text[8];
  std::snprintf(text, sizeof text, "#%06x", colour & 0xFFFFFF);
  return text;
}

// Distinct colours spread over the cube, the same for every run.
Colours Spread(std::uint32_t count) {
  Colours colours;
  for (std::uint32_t i = 0; i < count; ++i) colours.push_back(i * 2654435761u & 0xFFFFFF);
  return colours;
}

std::string Component(std::uint32_t colour, int shift) {
  return std::to_string(colour >> shift & 0xFF);
}

// The same colours written as each kind of palette.
std::string AsGimp(const Colours& colours) {
  std::string text = "GIMP Palette\nName: Test\nColumns: 4\n#\n";
  for (const std::uint32_t c : colours) {
    text += Component(c, 16) + " " + Component(c, 8) + " " + Component(c, 0) + "\tUntitled\n";
  }
  return text;
}
std::string AsList(const Colours& colours, bool hash) {
  std::string text = "# colours\n";
  for (const std::uint32_t c : colours) text += Hex(c).substr(hash ? 0 : 1) + " name\n";
  return text;
}
std::string AsJasc(const Colours& colours) {
  std::string text = "JASC-PAL\r\n0100\r\n" + std::to_string(colours.size()) + "\r\n";
  for (const std::uint32_t c : colours) {
    text += Component(c, 16) + " " + Component(c, 8) + " " + Component(c, 0) + "\r\n";
  }
  return text;
}
std::string AsImage(const Colours& colours, const std::string& kind) {
  const std::string size = std::to_string(colours.size()) + " 1\n";
  std::string text = kind == "P7" ? "P7\nWIDTH " + std::to_string(colours.size()) +
                                        "\nHEIGHT 1\nDEPTH 4\nMAXVAL 255\nENDHDR\n"
                                  : kind + "\n# palette\n" + size + "255\n";
  for (const std::uint32_t c : colours) {
    if (kind == "P3") {
      text += Component(c, 16) + " " + Component(c, 8) + " " + Component(c, 0) + "\n";
    } else {
      text += {static_cast<char>(c >> 16), static_cast<char>(c >> 8), static_cast<char>(c)};
      if (kind == "P7") text += '\x80';
    }
  }
  return text;
}

// What remap makes of `ppm` with `from` mapped to `to` (repeats of a match
// colour dropped), by the plain rule, header in canonical form.
std::string Expected(const test::Ppm& ppm, const Colours& from, const Colours& to) {
  std::vector<std::string> signatures;
  for (std::size_t i = 0; i < from.size(); ++i)
    signatures.push_back(Hex(from[i]) + ":" + Hex(to[i]));
  const Configuration config = test::MakeConfiguration(signatures);
  std::string raster = ppm.raster;
  reference::ReferenceRemapByColour(reinterpret_cast<std::uint8_t*>(&raster[0]), raster.size() / 3,
                                    config);
  return "P6\n" + ppm.width + " " + ppm.height + "\n" + ppm.maxval + "\n" + raster;
}

test::Ppm Sample() {
  test::Ppm ppm;
  EXPECT_TRUE(test::ReadWithLibrary(test::ReadFile(SAMPLE_IMAGE), ppm));
  return ppm;
}

// Every kind of palette, the same 16 colours (and again, repeated), gives
// the photograph remap gives; on Windows, the bytes every system gives.
TEST(PaletteProgram, GivesRemapsBytesForEveryKindOfPalette) {
  const test::Ppm sample = Sample();
  Colours colours = Spread(16);
  const std::string expected = Expected(sample, colours, colours);
  const Colours twice = [&] {
    Colours c = colours;
    c.insert(c.end(), colours.rbegin(), colours.rend());
    return c;
  }();
  const std::pair<const char*, std::string> kPalettes[] = {
      {"palette.gpl", AsGimp(colours)},      {"hash.txt", AsList(colours, true)},
      {"bare.txt", AsList(colours, false)},  {"palette.pal", AsJasc(colours)},
      {"raw.ppm", AsImage(colours, "P6")},   {"plain.ppm", AsImage(colours, "P3")},
      {"alpha.pam", AsImage(colours, "P7")}, {"repeats.gpl", AsGimp(twice)},
  };
  test::ScratchDir dir;
  for (const auto& [name, bytes] : kPalettes) {
    SCOPED_TRACE(name);
    test::WriteFile(dir / name, bytes);
    const test::Run run = RemapPalette({name, "-in", SAMPLE_IMAGE}, dir);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
    EXPECT_TRUE(run.out == expected);
  }
  // Mapped onto another palette, place by place, into a file.
  const Colours onto = Spread(32);
  test::WriteFile(dir / "onto.ppm", AsImage(Colours(onto.begin() + 16, onto.end()), "P6"));
  const test::Run run =
      RemapPalette({"palette.gpl", "onto.ppm", "-in", SAMPLE_IMAGE, "-out", "out.ppm"}, dir);
  EXPECT_EQ(run.status, 0);
  EXPECT_TRUE(test::ReadFile(dir / "out.ppm") ==
              Expected(sample, colours, Colours(onto.begin() + 16, onto.end())));
}

// A malformed palette is refused with its line before anything is written:
// standard output stays empty and the -out file keeps what it held.
TEST(PaletteProgram, RefusesAMalformedPaletteAndLeavesTheOutputAlone) {
  const std::pair<std::string, std::string> kBad[] = {
      {"#1b2a49\n#e07a5f,\n", std::string("line 2: ") + kExpectedSpaceAfterColour},
      {"#e07a5fcoral\n", std::string("line 1: ") + kExpectedSpaceAfterColour},
      {"#1b2a49\r\n\r\n#12345\r\n", std::string("line 3: ") + kExpectedListColour},
      {"GIMP Palette\n300 0 0\n", std::string("line 2: ") + kExpectedGimpColour},
      {"JASC-PAL\n0100\n3\n1 2 3\n",
       std::string("line 3: ") + kJascTooFew + " (3 counted, 1 listed)"},
      {"P6\n4 4\n255\nshort", "the image ends early"},
  };
  test::ScratchDir dir;
  for (const auto& [bytes, what] : kBad) {
    SCOPED_TRACE(bytes);
    test::WriteFile(dir / "bad palette.txt", bytes);
    test::WriteFile(dir / "out.ppm", "kept");
    const std::string message = "remap-palette: bad palette.txt" +
                                std::string(what.rfind("line", 0) == 0 ? " " : ": ") + what + "\n";
    for (const bool toFile : {true, false}) {
      std::vector<std::string> args = {"bad palette.txt", "-in", SAMPLE_IMAGE};
      if (toFile) args.insert(args.end(), {"-out", "out.ppm"});
      const test::Run run = RemapPalette(args, dir);
      EXPECT_EQ(run.status, 1);
      EXPECT_EQ(run.err, message);
      EXPECT_EQ(run.out, "");
      EXPECT_EQ(test::ReadFile(dir / "out.ppm"), "kept");
    }
  }
}

// 70,000 colours give remap's bytes with the same 70,000 signatures (on
// Windows, whose command line holds about 2,000, the library's).
TEST(PaletteProgram, TakesPalettesTooLargeForACommandLine) {
  test::ScratchDir dir;
  const test::Ppm sample = Sample();
  const Colours colours = Spread(70000);
  test::WriteFile(dir / "many.txt", AsList(colours, true));
  const test::Run run = RemapPalette({"many.txt", "-in", SAMPLE_IMAGE}, dir);
  EXPECT_EQ(run.status, 0);
  std::vector<std::string> signatures;
  for (const std::uint32_t c : colours) signatures.push_back(Hex(c) + ":" + Hex(c));
#ifdef _WIN32
  const Configuration config = test::MakeConfiguration(signatures);
  const PreparedTable table = PrepareTable(config);
  std::string raster = sample.raster;
  RemapPixels(reinterpret_cast<std::uint8_t*>(&raster[0]), raster.size() / 3, table);
  EXPECT_TRUE(run.out ==
              "P6\n" + sample.width + " " + sample.height + "\n" + sample.maxval + "\n" + raster);
#else
  std::vector<std::string> args = {std::to_string(signatures.size())};
  args.insert(args.end(), signatures.begin(), signatures.end());
  args.insert(args.end(), {"-in", SAMPLE_IMAGE});
  const test::Run remap = test::RunProgram(REMAP_EXECUTABLE, args, dir);
  ASSERT_EQ(remap.status, 0) << remap.err;
  EXPECT_TRUE(run.out == remap.out);
#endif
}

// 200,000 colours give what a search of every colour gives.
TEST(PaletteProgram, IsExactWithTwoHundredThousandColours) {
  test::ScratchDir dir;
  test::Ppm small;
  small.width = "40";
  small.height = "30";
  small.raster = test::RandomRaster(1200, 7);
  test::WriteFile(dir / "small.ppm", small.Bytes());
  const Colours most = Spread(200000);
  test::WriteFile(dir / "most.ppm", AsImage(most, "P6"));
  const test::Run large = RemapPalette({"most.ppm", "-in", "small.ppm"}, dir);
  EXPECT_EQ(large.status, 0);
  std::vector<std::string> all;
  for (const std::uint32_t c : most) all.push_back(Hex(c) + ":" + Hex(c));
  const Configuration config = test::MakeConfiguration(all);
  std::string raster = small.raster;
  reference::ReferenceRemap(reinterpret_cast<std::uint8_t*>(&raster[0]), 1200, config);
  EXPECT_TRUE(large.out == small.Bytes().substr(0, 13) + raster);
}

}  // namespace
