#include "config/configuration.hpp"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "platform/platform.hpp"
#include "scratch_dir.hpp"
#include "test_inputs.hpp"

namespace {

struct Outcome {
  int result;
  std::string err;
};

// Runs Configure on "remap" followed by `args`; placeholders "A", "B" and
// "DIR" stand for files in (and the path of) a scratch folder.
Outcome ConfigureWith(std::vector<std::string> args, Configuration& config,
                      const test::ScratchDir& dir) {
  std::vector<const char*> argv = {"remap"};
  for (std::string& a : args) {
    if (a == "A" || a == "B") a = dir / a;
    if (a.rfind("DIR", 0) == 0) a = dir.path() + a.substr(3);
    argv.push_back(a.c_str());
  }
  testing::internal::CaptureStderr();
  const int result = Configure(static_cast<int>(argv.size()), argv.data(), config);
  return {result, testing::internal::GetCapturedStderr()};
}

using test::kSig;

struct Rejected {
  const char* name;
  std::vector<std::string> args;
  const char* message;
};

const Rejected kRejected[] = {
    {"no arguments", {}, kMissingSignatureCount},
    {"count is a word", {"two", kSig}, kBadSignatureCount},
    {"count is empty", {"", kSig}, kBadSignatureCount},
    {"count is a lone sign", {"+", kSig}, kBadSignatureCount},
    {"count overflows 32 bits", {"99999999999", kSig}, kBadSignatureCount},
    {"count would wrap to 1", {"4294967297", kSig}, kBadSignatureCount},
    {"count just past int32", {"2147483648", kSig}, kBadSignatureCount},
    {"count below int32", {"-2147483649", kSig}, kBadSignatureCount},
    {"count zero", {"0"}, kSignatureCountBelowOne},
    {"count zero with options", {"0", "-in", "A"}, kSignatureCountBelowOne},
    {"count negative", {"-3", kSig}, kSignatureCountBelowOne},
    {"count most negative", {"-2147483648"}, kSignatureCountBelowOne},
    {"fewer signatures than count", {"2", kSig}, kNotEnoughSignatures},
    {"huge count, few arguments", {"2147483647", kSig}, kNotEnoughSignatures},
    {"count with trailing letters", {"3abc", kSig, kSig}, kNotEnoughSignatures},
    {"no number signs", {"1", "000000:ffffff"}, kBadSignature},
    {"five components", {"1", "#000000:#ffff"}, kBadSignature},
    {"missing colon", {"1", "#000000#ffffff"}, kBadSignature},
    {"not hexadecimal", {"1", "#00g000:#ffffff"}, kBadSignature},
    {"option before signatures", {"1", "-in", "A", kSig}, kBadSignature},
    {"second signature bad", {"2", kSig, "#12345"}, kBadSignature},
    {"extra signature-shaped argument", {"1", kSig, kSig}, kUnrecognizedOption},
    {"-in last", {"1", kSig, "-in"}, kMissingInputPath},
    {"-out last", {"1", kSig, "-out"}, kMissingOutputPath},
    {"two hyphens", {"1", kSig, "--in", "A"}, kUnrecognizedOption},
    {"capitals", {"1", kSig, "-OUT", "B"}, kUnrecognizedOption},
    {"longer name", {"1", kSig, "-input", "A"}, kUnrecognizedOption},
    {"missing input file", {"1", kSig, "-in", "DIR/none.ppm"}, kCannotOpenInput},
    {"first of two inputs missing", {"1", kSig, "-in", "DIR/none", "-in", "A"}, kCannotOpenInput},
    {"output in missing folder", {"1", kSig, "-out", "DIR/no/such.ppm"}, kCannotOpenOutput},
    {"output is a folder", {"1", kSig, "-out", "DIR"}, kCannotOpenOutput},
};

TEST(Configure, RejectsBadCommandLinesWithOneMessage) {
  for (const Rejected& c : kRejected) {
    SCOPED_TRACE(c.name);
    test::ScratchDir dir;
    test::WriteFile(dir / "A", "image");
    Configuration config;
    const Outcome outcome = ConfigureWith(c.args, config, dir);
    EXPECT_EQ(outcome.result, 1);
    EXPECT_EQ(outcome.err, c.message);
  }
}

struct Parsed {
  const char* name;
  std::vector<std::string> args;
  std::int32_t count;
  std::vector<std::int32_t> first;  // the six components of the first signature
};

const Parsed kParsed[] = {
    {"plain", {"1", "#0a0b0c:#d0e0f0"}, 1, {10, 11, 12, 208, 224, 240}},
    {"upper case digits", {"1", "#0A0B0C:#D0E0F0"}, 1, {10, 11, 12, 208, 224, 240}},
    {"text after the sixth component", {"1", "#ffffff:#000000junk"}, 1, {255, 255, 255, 0, 0, 0}},
    {"signed components", {"1", "#-f+1ff:#-10000"}, 1, {-15, 1, 255, -1, 0, 0}},
    {"count with spaces and plus", {" +2", kSig, "#010203:#040506"}, 2, {0, 0, 0, 255, 255, 255}},
    {"count with trailing letters", {"1x", kSig}, 1, {0, 0, 0, 255, 255, 255}},
};

TEST(Configure, ReadsCountAndSignatures) {
  for (const Parsed& c : kParsed) {
    SCOPED_TRACE(c.name);
    test::ScratchDir dir;
    Configuration config;
    ASSERT_EQ(ConfigureWith(c.args, config, dir).result, 0);
    EXPECT_EQ(config.count, c.count);
    EXPECT_EQ((std::vector<std::int32_t>{config.matchRed[0], config.matchGreen[0],
                                         config.matchBlue[0], config.replaceRed[0],
                                         config.replaceGreen[0], config.replaceBlue[0]}),
              c.first);
    EXPECT_EQ(config.input, stdin);
    EXPECT_EQ(config.output, stdout);
    Deconfigure(config);
  }
}

// Signatures in the usual form and near misses of it (a character changed,
// the text cut short or run on), read as the scan format reads them.
TEST(Configure, ReadsSignaturesAsTheScanFormatDoes) {
  std::mt19937 random(11);
  const std::string alphabet = "0123456789abcdefABCDEFgx#:+- ";
  test::ScratchDir dir;
  for (int round = 0; round < 3000; ++round) {
    std::string text = "#";
    for (int k = 0; k < 14; ++k)
      text += k == 6 ? ':' : k == 7 ? '#' : "0123456789abcdefABCDEF"[random() % 22];
    for (int change = static_cast<int>(random() % 3); change > 0; --change) {
      text[random() % text.size()] = alphabet[random() % alphabet.size()];
    }
    if (random() % 4 == 0) text.resize(random() % text.size());
    if (random() % 4 == 0) text += alphabet[random() % alphabet.size()];
    SCOPED_TRACE(text);
    unsigned int c[6];
    const bool scans = std::sscanf(text.c_str(), "#%02x%02x%02x:#%02x%02x%02x", &c[0], &c[1], &c[2],
                                   &c[3], &c[4], &c[5]) == 6;
    Configuration config;
    const Outcome outcome = ConfigureWith({"1", text}, config, dir);
    ASSERT_EQ(outcome.result == 0, scans);
    if (!scans) continue;
    EXPECT_EQ((std::vector<std::int32_t>{config.matchRed[0], config.matchGreen[0],
                                         config.matchBlue[0], config.replaceRed[0],
                                         config.replaceGreen[0], config.replaceBlue[0]}),
              (std::vector<std::int32_t>{
                  static_cast<std::int32_t>(c[0]), static_cast<std::int32_t>(c[1]),
                  static_cast<std::int32_t>(c[2]), static_cast<std::int32_t>(c[3]),
                  static_cast<std::int32_t>(c[4]), static_cast<std::int32_t>(c[5])}));
    Deconfigure(config);
  }
}

// Each byte value, 0 (the text cut short there) to 255, at each place of a
// signature and just past it, read as the scan format reads it: a byte the
// quick reader took for a hex digit that the format does not would show.
TEST(Configure, ReadsEveryByteAtEveryPlaceAsTheScanFormatDoes) {
  test::ScratchDir dir;
  std::vector<std::string> differences;
  testing::internal::CaptureStderr();
  for (const std::string base : {"#a1B2c3:#D4e5F6", "#09afAF:#fA90aF"}) {
    for (std::size_t place = 0; place <= base.size(); ++place) {
      for (int byte = 0; byte < 256; ++byte) {
        std::string text = base;
        if (place == base.size()) text += ' ';
        text[place] = static_cast<char>(byte);
        text = text.c_str();
        unsigned int c[6];
        const bool scans = std::sscanf(text.c_str(), "#%02x%02x%02x:#%02x%02x%02x", &c[0], &c[1],
                                       &c[2], &c[3], &c[4], &c[5]) == 6;
        const char* argv[] = {"remap", "1", text.c_str()};
        Configuration config;
        const bool reads = Configure(3, argv, config) == 0;
        if (reads != scans ||
            (scans && (config.matchRed[0] != static_cast<std::int32_t>(c[0]) ||
                       config.matchGreen[0] != static_cast<std::int32_t>(c[1]) ||
                       config.matchBlue[0] != static_cast<std::int32_t>(c[2]) ||
                       config.replaceRed[0] != static_cast<std::int32_t>(c[3]) ||
                       config.replaceGreen[0] != static_cast<std::int32_t>(c[4]) ||
                       config.replaceBlue[0] != static_cast<std::int32_t>(c[5])))) {
          differences.push_back(base + " with byte " + std::to_string(byte) + " at " +
                                std::to_string(place));
        }
        Deconfigure(config);
      }
    }
  }
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(differences, std::vector<std::string>{});
}

TEST(Configure, KeepsSignatureOrder) {
  test::ScratchDir dir;
  Configuration config;
  ASSERT_EQ(
      ConfigureWith({"3", "#010000:#000000", "#020000:#000000", "#030000:#000000"}, config, dir)
          .result,
      0);
  EXPECT_EQ(config.matchRed[0], 1);
  EXPECT_EQ(config.matchRed[1], 2);
  EXPECT_EQ(config.matchRed[2], 3);
  Deconfigure(config);
}

// The eighth free descriptor: files are given the lowest free one, so a
// stream left open moves it up, wherever the free ones lie.
int EighthFreeDescriptor() {
  std::vector<std::FILE*> probes;
  for (int i = 0; i < 8; ++i) probes.push_back(std::fopen(test::kNullDevice, "rb"));
  const int descriptor = fileno(probes.back());
  for (std::FILE* probe : probes) std::fclose(probe);
  return descriptor;
}

// Every file named is opened (an output created or emptied) in turn, and the
// stream each later option replaces is closed at once.
TEST(Configure, OpensTheLastInputAndOutput) {
  test::ScratchDir dir;
  test::WriteFile(dir / "A", "first");
  test::WriteFile(dir / "C", "second");
  test::WriteFile(dir / "B", "old");
  const int free = EighthFreeDescriptor();
  Configuration config;
  ASSERT_EQ(ConfigureWith({"1", kSig, "-in", "A", "-out", "B", "-in", "DIR/C", "-out", "DIR/D"},
                          config, dir)
                .result,
            0);
  char text[8] = {};
  ASSERT_NE(std::fgets(text, sizeof text, config.input), nullptr);
  EXPECT_STREQ(text, "second");
  EXPECT_TRUE(platform::AwaitEmptied());
  std::fputs("written", config.output);
  Deconfigure(config);
  EXPECT_EQ(test::ReadFile(dir / "B"), "");
  EXPECT_EQ(test::ReadFile(dir / "D"), "written");
  EXPECT_EQ(EighthFreeDescriptor(), free);
}

TEST(Configure, EmptiesAnOutputFileEvenWhenALaterOptionFails) {
  test::ScratchDir dir;
  test::WriteFile(dir / "B", "precious");
  Configuration config;
  EXPECT_EQ(ConfigureWith({"1", kSig, "-out", "B", "-bogus"}, config, dir).err,
            kUnrecognizedOption);
  EXPECT_EQ(test::ReadFile(dir / "B"), "");
}

// Naming the input again as the output would empty the image before it is
// read, however the name is spelt.
TEST(Configure, RefusesToOverwriteItsInput) {
  struct Case {
    const char* name;
    std::vector<std::string> args;
  };
  const Case cases[] = {
      {"same path", {"1", kSig, "-in", "A", "-out", "A"}},
      {"output first", {"1", kSig, "-out", "A", "-in", "A"}},
      {"dot slash", {"1", kSig, "-in", "A", "-out", "DIR/./A"}},
      {"hard link", {"1", kSig, "-in", "A", "-out", "DIR/hard"}},
#ifndef _WIN32  // making one needs a privilege on Windows
      {"symbolic link", {"1", kSig, "-in", "DIR/soft", "-out", "A"}},
#endif
      {"an earlier -in", {"1", kSig, "-in", "A", "-in", "B", "-out", "A"}},
      {"after a bad option", {"1", kSig, "-out", "A", "-bogus", "-in", "A"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    test::ScratchDir dir;
    test::WriteFile(dir / "A", "precious");
    test::WriteFile(dir / "B", "other");
    std::filesystem::create_hard_link(dir / "A", dir / "hard");
#ifndef _WIN32
    std::filesystem::create_symlink(dir / "A", dir / "soft");
#endif
    Configuration config;
    const Outcome outcome = ConfigureWith(c.args, config, dir);
    EXPECT_EQ(outcome.result, 1);
    EXPECT_EQ(outcome.err, kSameInputAndOutput);
    EXPECT_EQ(test::ReadFile(dir / "A"), "precious");
  }
}

TEST(Configure, AllowsDistinctFilesAndDevices) {
  test::ScratchDir dir;
  test::WriteFile(dir / "A", "image");
  test::WriteFile(dir / "B", "old");
  Configuration config;
  ASSERT_EQ(ConfigureWith({"1", kSig, "-in", "A", "-out", "B"}, config, dir).result, 0);
  Deconfigure(config);
  // The output's old content goes while the image would be read.
  EXPECT_TRUE(platform::AwaitEmptied());
  EXPECT_EQ(test::ReadFile(dir / "B"), "");
  ASSERT_EQ(
      ConfigureWith({"1", kSig, "-in", test::kNullDevice, "-out", test::kNullDevice}, config, dir)
          .result,
      0);
  Deconfigure(config);
}

}  // namespace
