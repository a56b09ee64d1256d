// Palette files of every kind read for their colours: one table of files
// against the colours they hold, one of malformed files against the line and
// the words of their refusal, and hostile files that must fail cleanly.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "config/palette.hpp"

namespace {

using Colours = std::vector<PaletteColour>;

// A Netpbm image from a description: "P1" to "P6" with width, height and
// maxval, or "P7" with depth too; the samples written plain or raw (one or
// two bytes each), as the kind says.
struct Netpbm {
  std::string magic;
  int width, height, maxval, depth;
  std::vector<int> samples;
  std::string header = "";  // extra header text, such as a comment, after the magic
  std::string Bytes() const {
    std::string bytes = magic + "\n" + header;
    if (magic == "P7") {
      bytes += "WIDTH " + std::to_string(width) + "\nHEIGHT " + std::to_string(height) +
               "\nDEPTH " + std::to_string(depth) + "\nMAXVAL " + std::to_string(maxval) +
               "\nTUPLTYPE ANY\nENDHDR\n";
    } else {
      bytes += std::to_string(width) + " " + std::to_string(height) + "\n";
      if (magic != "P1" && magic != "P4") bytes += std::to_string(maxval) + "\n";
    }
    const bool plain = magic <= "P3";
    for (const int sample : samples) {
      if (plain) {
        bytes += std::to_string(sample) + " ";
      } else {
        if (maxval > 255) bytes += static_cast<char>(sample >> 8);
        bytes += static_cast<char>(sample & 0xFF);
      }
    }
    return bytes;
  }
};

const Colours kThree = {0x0a141e, 0xc86432, 0xffffff};

struct PaletteFile {
  const char* name;
  std::string bytes;
  Colours colours;
};

const PaletteFile kFiles[] = {
    {"GIMP palette",
     "GIMP Palette\nName: Three\nColumns: 3\n# the colours\n 10  20  30\tDusk\n200 100 50 Clay "
     "red\n\n255 255 255\n",
     kThree},
    {"list of #rrggbb: BOM, CRLF, comments, names, either case",
     "\xEF\xBB\xBF# sea\r\n#define colours\r\n\r\n#0A141E  dusk\r\n\t#c86432\r\n#\r\n#ffffff",
     kThree},
    {"list without #", "0a141e dusk\nC86432\nffffff\n", kThree},
    {"JASC-PAL", "JASC-PAL\r\n0100\r\n3\r\n10 20 30\r\n200 100 50\r\n255 255 255\r\n\r\n", kThree},
    {"raw PPM with a comment",
     Netpbm{"P6", 3, 1, 255, 3, {10, 20, 30, 200, 100, 50, 255, 255, 255}, "# by hand\n"}.Bytes(),
     kThree},
    {"plain PPM, a column",
     Netpbm{"P3", 1, 3, 255, 3, {10, 20, 30, 200, 100, 50, 255, 255, 255}}.Bytes(), kThree},
    {"PAM with alpha",
     Netpbm{"P7", 3, 1, 255, 4, {10, 20, 30, 0, 200, 100, 50, 9, 255, 255, 255, 255}}.Bytes(),
     kThree},
    {"16-bit PPM",
     Netpbm{"P6",
            3,
            1,
            65535,
            3,
            {10 * 257, 20 * 257, 30 * 257, 200 * 257, 100 * 257, 50 * 257, 65535, 65535, 65535}}
         .Bytes(),
     kThree},
    // 33024 / 257 = 128.5: rounded down, where the top byte alone gives 129.
    {"16-bit rounding", Netpbm{"P5", 2, 1, 65535, 1, {33024, 33153}}.Bytes(), {0x808080, 0x818181}},
    {"maxval 15", Netpbm{"P2", 2, 1, 15, 1, {1, 15}, "#c\n"}.Bytes(), {0x111111, 0xffffff}},
    {"maxval 1000", Netpbm{"P3", 1, 1, 1000, 3, {500, 0, 1000}}.Bytes(), {0x8000ff}},
    {"grey PAM with alpha",
     Netpbm{"P7", 2, 1, 255, 2, {7, 0, 9, 255}}.Bytes(),
     {0x070707, 0x090909}},
    {"plain PBM, digits run together", "P1\n3 1\n011", {0xffffff, 0, 0}},
    {"raw PBM, rows padded",
     std::string("P4\n9 2\n\x80\x80\x00\x00", 11),
     {0, 0xffffff, 0xffffff, 0xffffff, 0xffffff, 0xffffff, 0xffffff, 0xffffff, 0, 0xffffff,
      0xffffff, 0xffffff, 0xffffff, 0xffffff, 0xffffff, 0xffffff, 0xffffff, 0xffffff}},
};

TEST(ParsePalette, ReadsEveryKindForItsColours) {
  for (const PaletteFile& file : kFiles) {
    SCOPED_TRACE(file.name);
    Colours colours;
    PaletteProblem problem;
    EXPECT_TRUE(ParsePalette(file.bytes, colours, problem)) << problem.what;
    EXPECT_EQ(colours, file.colours);
  }
}

struct Malformed {
  const char* name;
  std::string bytes;
  std::size_t line;
  std::string what;
};

const Malformed kMalformed[] = {
    {"comma after a colour", "#0a141e\n#e07a5f,\n", 2, kExpectedSpaceAfterColour},
    {"name joined on", "#e07a5fcoral\n", 1, kExpectedSpaceAfterColour},
    {"colours separated by a comma", "#1b2a49,#f4f1de\n", 1, kExpectedSpaceAfterColour},
    {"five digits", "# x\r\n#12345\r\n", 2, kExpectedListColour},
    {"three digits", "#fff\n", 1, kExpectedListColour},
    {"eight digits", "#00ff00\n\n#deadbeef\n", 3, kExpectedListColour},
    {"0x", "0xe07a5f\n", 1, kExpectedColourOrComment},
    {"a word", "coral\n", 1, kExpectedColourOrComment},
    {"GIMP component above 255", "GIMP Palette\nName: x\n300 0 0\n", 3, kExpectedGimpColour},
    {"GIMP two components", "GIMP Palette\n1 2\n", 2, kExpectedGimpColour},
    {"GIMP name joined on", "GIMP Palette\n1 2 3red\n", 2, kExpectedGimpColour},
    {"JASC count above the lines", "JASC-PAL\n0100\n4\n1 2 3\n4 5 6\n", 3,
     std::string(kJascTooFew) + " (4 counted, 2 listed)"},
    {"JASC count below the lines", "JASC-PAL\n0100\n1\n1 2 3\n4 5 6\n", 5,
     std::string(kJascTooMany) + " (1)"},
    {"JASC huge count", "JASC-PAL\n0100\n99999999999999999999\n1 2 3\n", 3, kExpectedJascCount},
    {"JASC version", "JASC-PAL\n0200\n1\n1 2 3\n", 2, kExpectedJascVersion},
    {"JASC without a count", "JASC-PAL\r\n0100\r\n", 3, kExpectedJascCount},
    {"JASC component", "JASC-PAL\n0100\n1\n1 2 256\n", 4, kExpectedGimpColour},
    {"truncated PPM", "P6\n2 1\n255\nabcde", 0, "the image ends early"},
    {"header promises 4 G pixels", "P6\n65535 65535\n255\nabc", 0, "the image ends early"},
    {"PAM promises 2^62 bytes",
     "P7\nWIDTH 2147483647\nHEIGHT 2147483647\nDEPTH 4096\nMAXVAL 65535\nENDHDR\n", 0,
     "the image ends early"},
    {"width too large", "P3\n99999999999 1\n255\n0 0 0\n", 0, "no width and height in its header"},
    {"sample above maxval", "P2\n1 1\n7\n8\n", 0, "a sample above maxval"},
    {"raw sample above maxval", "P5\n1 1\n7\n\x08", 0, "a sample above maxval"},
    {"maxval too large", "P3\n1 1\n65536\n0 0 0\n", 0, "no maxval from 1 to 65535 in its header"},
    {"no pixels", "P2\n0 1\n255\n", 0, "an image of no pixels"},
    {"PAM without depth", "P7\nWIDTH 1\nHEIGHT 1\nMAXVAL 255\nENDHDR\nabc", 0,
     "a PAM header without WIDTH, HEIGHT, DEPTH and MAXVAL"},
};

TEST(ParsePalette, RefusesMalformedFilesWithTheLineAndWhatWasExpected) {
  for (const Malformed& c : kMalformed) {
    SCOPED_TRACE(c.name);
    Colours colours;
    PaletteProblem problem;
    EXPECT_FALSE(ParsePalette(c.bytes, colours, problem));
    EXPECT_EQ(problem.line, c.line);
    EXPECT_EQ(problem.what, c.what);
  }
}

// Every prefix of every good file reads or is refused with a reason, and
// never reads past its end (the sanitizers' build would stop on it).
TEST(ParsePalette, TakesEveryTruncationOfAGoodFile) {
  for (const PaletteFile& file : kFiles) {
    SCOPED_TRACE(file.name);
    for (std::size_t size = 0; size < file.bytes.size(); ++size) {
      const std::string prefix = file.bytes.substr(0, size);
      Colours colours;
      PaletteProblem problem;
      if (!ParsePalette(prefix, colours, problem)) {
        EXPECT_FALSE(problem.what.empty()) << size;
      }
    }
  }
}

// Large palettes read exactly and in their order, as fast as they are long.
TEST(ParsePalette, ReadsTwoHundredThousandColoursInOrder) {
  Colours expected;
  std::string list, image = "P6\n400 500\n255\n";
  for (std::uint32_t i = 0; i < 200000; ++i) {
    const PaletteColour colour = i * 2654435761u & 0xFFFFFF;
    expected.push_back(colour);
    char line[16];
    std::snprintf(line, sizeof line, "%06X name\n", colour);
    list += line;
    image += {static_cast<char>(colour >> 16), static_cast<char>(colour >> 8),
              static_cast<char>(colour)};
  }
  for (const std::string* bytes : {&list, &image}) {
    Colours colours;
    PaletteProblem problem;
    ASSERT_TRUE(ParsePalette(*bytes, colours, problem)) << problem.what;
    EXPECT_EQ(colours, expected);
  }
}

// The kind follows the content, whatever the file is called.
TEST(ReaderFor, RecognisesTheKindByContent) {
  const std::pair<std::string, std::string> kKinds[] = {
      {"P6\n", "Netpbm image"},
      {"P7\n", "Netpbm image"},
      {"GIMP Palette\r\n", "GIMP palette"},
      {"JASC-PAL\n", "JASC-PAL palette"},
      {"#ffffff\n", "list of colours"},
      {"P8\n", "list of colours"},
      {"GIMP Palette extra\n", "list of colours"}};
  for (const auto& [bytes, name] : kKinds) EXPECT_EQ(ReaderFor(bytes).name, name) << bytes;
}

}  // namespace
