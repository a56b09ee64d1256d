// End-to-end: the real executable with arguments, standard streams and files
// in a scratch folder.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "remap.hpp"
#include "remap_reference.hpp"
#include "run_program.hpp"
#include "test_inputs.hpp"

namespace {

using test::kSig;
using test::Lines;

test::Run Remap(const std::vector<std::string>& args, const test::ScratchDir& dir,
                const test::Streams& streams = {}) {
  return test::RunProgram(REMAP_EXECUTABLE, args, dir, streams);
}

// What the remap rule makes of `ppm` with `signatures`, header in canonical form.
std::string Expected(const test::Ppm& ppm, const std::vector<std::string>& signatures) {
  const Configuration config = test::MakeConfiguration(signatures);
  std::string raster = ppm.raster;
  reference::ReferenceRemap(reinterpret_cast<std::uint8_t*>(&raster[0]), raster.size() / 3, config);
  return "P6\n" + ppm.width + " " + ppm.height + "\n" + ppm.maxval + "\n" + raster;
}

struct Failure {
  const char* name;
  std::vector<std::string> args;
  std::string input;  // standard input
  std::string err;
  long addressSpaceMiB = 0;  // when set, the run may map no more than this
};

const std::string kImage = test::Ppm{}.Bytes();

// A count and that many signatures, each matching another colour.
std::vector<std::string> Signatures(int count) {
  std::vector<std::string> args = {std::to_string(count)};
  for (std::uint32_t i = 0; i < static_cast<std::uint32_t>(count); ++i) {
    char signature[20];
    std::snprintf(signature, sizeof signature, "#%06x:#000000", i * 2654435761u & 0xFFFFFF);
    args.push_back(signature);
  }
  return args;
}

#ifdef REMAP_SANITIZE
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
#ifdef _WIN32
constexpr bool kWindows = true;
#else
constexpr bool kWindows = false;
#endif

const Failure kFailures[] = {
    {"no arguments", {}, kImage, Lines(kMissingSignatureCount, kCouldNotLoadConfiguration)},
    {"count a word", {"x"}, kImage, Lines(kBadSignatureCount, kCouldNotLoadConfiguration)},
    {"count overflows",
     {"4294967297", kSig},
     kImage,
     Lines(kBadSignatureCount, kCouldNotLoadConfiguration)},
    {"count zero", {"0"}, kImage, Lines(kSignatureCountBelowOne, kCouldNotLoadConfiguration)},
    {"count negative",
     {"-1", kSig},
     kImage,
     Lines(kSignatureCountBelowOne, kCouldNotLoadConfiguration)},
    {"too few signatures",
     {"2", kSig},
     kImage,
     Lines(kNotEnoughSignatures, kCouldNotLoadConfiguration)},
    {"bad signature",
     {"1", "#00000:#ffff"},
     kImage,
     Lines(kBadSignature, kCouldNotLoadConfiguration)},
    {"-in last", {"1", kSig, "-in"}, kImage, Lines(kMissingInputPath, kCouldNotLoadConfiguration)},
    {"-out last",
     {"1", kSig, "-out"},
     kImage,
     Lines(kMissingOutputPath, kCouldNotLoadConfiguration)},
    {"missing input",
     {"1", kSig, "-in", "none.ppm"},
     kImage,
     Lines(kCannotOpenInput, kCouldNotLoadConfiguration)},
    {"output folder missing",
     {"1", kSig, "-out", "no/such.ppm"},
     kImage,
     Lines(kCannotOpenOutput, kCouldNotLoadConfiguration)},
    {"unknown option",
     {"1", kSig, "-verbose"},
     kImage,
     Lines(kUnrecognizedOption, kCouldNotLoadConfiguration)},
    {"empty input", {"1", kSig}, "", Lines(kCannotReadMagic, kCouldNotReadImage)},
    {"ascii image", {"1", kSig}, "P3\n1 1\n255\n0 0 0\n", Lines(kNotBinaryPpm, kCouldNotReadImage)},
    {"comment",
     {"1", kSig},
     "P6\n#c\n1 1\n255\n...",
     Lines(kCannotReadDimensions, kCouldNotReadImage)},
    {"zero width", {"1", kSig}, "P6 0 1 255\n", Lines(kInvalidXDimension, kCouldNotReadImage)},
    {"zero height", {"1", kSig}, "P6 1 0 255\n", Lines(kInvalidYDimension, kCouldNotReadImage)},
    {"no maxval", {"1", kSig}, "P6 1 1 x", Lines(kCannotReadMaxval, kCouldNotReadImage)},
    {"16-bit", {"1", kSig}, "P6 1 1 65535\n", Lines(kNotEightBit, kCouldNotReadImage)},
    {"no delimiter", {"1", kSig}, "P6 1 1 255", Lines(kMissingDelimiter, kCouldNotReadImage)},
    {"short raster",
     {"1", kSig},
     "P6 2 1 255\n12345",
     Lines(kFailedReadingData, kCouldNotReadImage)},
    {"output to a full device",
     {"1", kSig, "-out", "/dev/full"},
     kImage,
     Lines(kFailedWritingData, kCouldNotWriteOutput)},
    {"table too large for memory", Signatures(85000), kImage,
     Lines(kSignatureAllocationFailed, kCouldNotLoadConfiguration), 11},
};

void ExpectFailure(const Failure& c) {
  SCOPED_TRACE(c.name);
  test::ScratchDir dir;
  test::Streams streams = test::PipedIn(c.input);
  streams.addressSpaceMiB = c.addressSpaceMiB;
  const test::Run run = Remap(c.args, dir, streams);
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, c.err);
  EXPECT_EQ(run.out, "");
}

// Standard input is a pipe here, as in a user's pipeline: the reader cannot
// know the size in advance.
TEST(Program, FailsWithBothMessagesAndStatusOne) {
  for (const Failure& c : kFailures) {
    if (c.addressSpaceMiB == 0) ExpectFailure(c);
  }
}

TEST(Program, FailsWithBothMessagesWhereMemoryIsShort) {
  // Sanitizers and emulators need more address space of their own, and
  // Windows has no such limit (nor a command line long enough).
  if (kSanitized || test::Emulated() || kWindows) {
    GTEST_SKIP() << "no address-space limit for a sanitized, emulated or Windows build";
  }
  for (const Failure& c : kFailures) {
    if (c.addressSpaceMiB > 0) ExpectFailure(c);
  }
}

// "--help" and "--version" answer only as the sole argument; anything else
// is read as the count, as it always was.
TEST(Program, AnswersHelpAndVersionOnlyAlone) {
  struct Case {
    const char* name;
    std::vector<std::string> args;
    test::Streams streams;
    int status;
    std::string out, err;  // out: what standard output starts with
  };
  const std::string bad = Lines(kBadSignatureCount, kCouldNotLoadConfiguration);
  const Case cases[] = {
      {"--help",
       {"--help"},
       {},
       0,
       "Usage: remap COUNT SIGNATURE... [-in INPUT] [-out OUTPUT]\n",
       ""},
      {"--version", {"--version"}, {}, 0, "remap " REMAP_VERSION "\n", ""},
      {"-h", {"-h"}, {}, 1, "", bad},
      {"help", {"help"}, {}, 1, "", bad},
      {"-version", {"-version"}, {}, 1, "", bad},
      {"--HELP", {"--HELP"}, {}, 1, "", bad},
      {"--help with more", {"--help", kSig}, {}, 1, "", bad},
      {"--version with more", {"--version", "-in", "x"}, {}, 1, "", bad},
      {"--help to a full device", {"--help"}, test::StdinFrom("/dev/null", "/dev/full"), 1, "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    test::ScratchDir dir;
    const test::Run run = Remap(c.args, dir, c.streams);
    EXPECT_EQ(run.status, c.status);
    EXPECT_EQ(run.err, c.err);
    EXPECT_EQ(run.out.substr(0, c.out.size()), c.out);
    if (c.out.empty()) {
      EXPECT_EQ(run.out, "");
    }
  }
  // The usage points at the manual this system's installation holds.
  const std::string manual = kWindows ? "remap.html, beside remap.exe\n" : "man remap\n";
  const std::string help = Remap({"--help"}, test::ScratchDir()).out;
  EXPECT_EQ(help.substr(help.size() - std::min(help.size(), manual.size())), manual);
}

TEST(Program, RecoloursAPipeAndAFile) {
  test::ScratchDir dir;
  test::Ppm ppm;
  ppm.width = "7";
  ppm.height = "5";
  ppm.raster = test::RandomRaster(35, 3);
  test::WriteFile(dir / "in.ppm", ppm.Bytes());
  const std::vector<std::string> sigs = {"#000000:#ff0000", "#ffffff:#00ff00", "#808080:#0000ff"};
  const std::string expected = Expected(ppm, sigs);

  std::vector<std::string> args = {"3"};
  args.insert(args.end(), sigs.begin(), sigs.end());
  const test::Run piped = Remap(args, dir, test::StdinFrom(dir / "in.ppm"));
  EXPECT_EQ(piped.status, 0);
  EXPECT_EQ(piped.err, "");
  EXPECT_EQ(piped.out, expected);

  // Old contents far longer than the image: none of them may be left.
  test::WriteFile(dir / "out.ppm", std::string(std::size_t{32} << 20, 'x'));
  args.insert(args.end(), {"-out", "out.ppm", "-in", "in.ppm"});
  const test::Run files = Remap(args, dir);
  EXPECT_EQ(files.status, 0);
  EXPECT_EQ(files.err, "");
  EXPECT_EQ(files.out, "");
  EXPECT_EQ(test::ReadFile(dir / "out.ppm"), expected);
  EXPECT_EQ(test::ReadFile(dir / "in.ppm"), ppm.Bytes());

  // Every "-out" empties its file, and the image goes to the last; the same
  // file named twice holds the image alone.
  const struct {
    std::vector<std::string> outputs;
    std::vector<std::string> emptied;
  } outputs[] = {{{"a.ppm", "b.ppm"}, {"a.ppm"}},
                 {{"a.ppm", "b.ppm", "c.ppm"}, {"a.ppm", "b.ppm"}},
                 {{"b.ppm", "b.ppm"}, {}}};
  for (const auto& c : outputs) {
    std::vector<std::string> several(args.begin(), args.end() - 4);
    for (const std::string& name : c.outputs) {
      test::WriteFile(dir / name, std::string(std::size_t{8} << 20, 'x'));
      several.insert(several.end(), {"-out", name});
    }
    several.insert(several.end(), {"-in", "in.ppm"});
    EXPECT_EQ(Remap(several, dir).status, 0);
    for (const std::string& name : c.emptied) EXPECT_EQ(test::ReadFile(dir / name), "") << name;
    EXPECT_EQ(test::ReadFile(dir / c.outputs.back()), expected);
  }

  // Standard output on a device is no file that could be the input.
  const test::Run toNull =
      Remap({"1", kSig, "-in", "in.ppm"}, dir, test::StdinFrom("in.ppm", "/dev/null"));
  EXPECT_EQ(toNull.status, 0);
  EXPECT_EQ(toNull.err, "");
}

// Large palettes through the whole program: snapped and duplicated palettes
// on swatches, palette rows and exact matches, widths past 256 that are not
// multiples of it, and a picture large enough for a band a CPU.
TEST(Program, RemapsLargePalettesExactly) {
  using reference::PaletteKind;
  using reference::PictureKind;
  const reference::SceneKind cases[] = {
      {PaletteKind::kSnapped, PictureKind::kPaletteRow, 64, 64, 64},
      {PaletteKind::kDuplicated, PictureKind::kExact, 48, 4096, 1},
      {PaletteKind::kSnapped, PictureKind::kSwatches, 343, 1000, 150},
      {PaletteKind::kDuplicated, PictureKind::kSwatches, 2500, 300, 200},
      {PaletteKind::kSpread, PictureKind::kSmooth, 1000, 1100, 130},  // two bands and more
  };
  unsigned seed = 100;
  for (const reference::SceneKind& c : cases) {
    SCOPED_TRACE(testing::Message() << c.count << " signatures, " << c.width << " x " << c.height);
    const reference::Scene scene = reference::MakeScene(c, ++seed);
#ifdef _WIN32
    // 16 characters a signature: Windows' command line holds about 1,900.
    if (c.count * 17 > static_cast<int>(test::kLongestCommandLine)) continue;
#endif
    // A component as "%02x" reads it back: -15 is "-f".
    auto hex = [](std::int32_t v) {
      char text[4];
      std::snprintf(text, sizeof text, v < 0 ? "-%x" : "%02x",
                    static_cast<unsigned>(v < 0 ? -v : v));
      return std::string(text);
    };
    const Configuration& t = scene.config;
    std::vector<std::string> args = {std::to_string(c.count)};
    for (std::size_t i = 0; i < static_cast<std::size_t>(c.count); ++i) {
      args.push_back("#" + hex(t.matchRed[i]) + hex(t.matchGreen[i]) + hex(t.matchBlue[i]) + ":#" +
                     hex(t.replaceRed[i] & 0xFF) + hex(t.replaceGreen[i] & 0xFF) +
                     hex(t.replaceBlue[i] & 0xFF));
    }
    test::Ppm ppm;
    ppm.width = std::to_string(c.width);
    ppm.height = std::to_string(c.height);
    ppm.raster = scene.raster;
    test::ScratchDir dir;
    test::WriteFile(dir / "in.ppm", ppm.Bytes());
    args.insert(args.end(), {"-in", "in.ppm", "-out", "out.ppm"});
    const test::Run run = Remap(args, dir);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
    std::string raster = scene.raster;
    reference::ReferenceRemapByColour(reinterpret_cast<std::uint8_t*>(&raster[0]),
                                      c.width * c.height, scene.config);
    const std::string expected = "P6\n" + ppm.width + " " + ppm.height + "\n255\n" + raster;
    EXPECT_TRUE(test::ReadFile(dir / "out.ppm") == expected);
  }
}

TEST(Program, KeepsMaxvalAndWritesTheCanonicalHeader) {
  test::ScratchDir dir;
  test::WriteFile(dir / "in.ppm", "P6\t2\n\n1 \r15\r\x01\x02\x03\x0f\x0e\x0d");
  const test::Run run = Remap({"1", "#000000:#ffa000", "-in", "in.ppm"}, dir);
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, "P6\n2 1\n15\n" + std::string("\xff\xa0\0\xff\xa0\0", 6));
}

TEST(Program, LeavesItsInputAloneWhenAlsoNamedAsOutput) {
  struct Case {
    const char* name;
    std::vector<std::string> args;
    std::string in, out;  // standard input and output: a path in the folder
    int outFlags;
  };
  const int kTruncate = O_WRONLY | O_CREAT | O_TRUNC, kAppend = O_WRONLY | O_APPEND,
            kReadWrite = O_RDWR;
  const Case cases[] = {
      {"-in then -out", {"1", kSig, "-in", "a.ppm", "-out", "./a.ppm"}, "/dev/null", "", kTruncate},
      {"-out then -in", {"1", kSig, "-out", "a.ppm", "-in", "a.ppm"}, "/dev/null", "", kTruncate},
      {"standard input", {"1", kSig, "-out", "a.ppm"}, "a.ppm", "", kTruncate},
      {"-in, standard output appends", {"1", kSig, "-in", "a.ppm"}, "/dev/null", "a.ppm", kAppend},
      {"-in, standard output read-write",
       {"1", kSig, "-in", "a.ppm"},
       "/dev/null",
       "a.ppm",
       kReadWrite},
      {"standard input and output", {"1", kSig}, "a.ppm", "a.ppm", kAppend},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    test::ScratchDir dir;
    test::WriteFile(dir / "a.ppm", kImage);
    test::Streams streams = test::StdinFrom(c.in, c.out);
    streams.outFlags = c.outFlags;
    const test::Run run = Remap(c.args, dir, streams);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, Lines(kSameInputAndOutput, kCouldNotLoadConfiguration));
    EXPECT_EQ(test::ReadFile(dir / "a.ppm"), kImage);
  }
}

// Names beyond ASCII reach their files (Windows passes them as wide
// characters), and the same file under such a name is still refused.
TEST(Program, OpensFilesNamedInAnyScript) {
  const char* const kNames[] = {"caf\u00e9.ppm",
                                "\u043a\u0430\u0440\u0442\u0438\u043d\u043a\u0430.ppm",
                                "\u56fe \u7247.ppm", "\U0001f3a8.ppm"};
  test::Ppm ppm;
  ppm.raster = test::RandomRaster(2, 11);
  const std::vector<std::string> sigs = {"#000000:#123456", "#ffffff:#654321"};
  for (const char* name : kNames) {
    SCOPED_TRACE(name);
    test::ScratchDir dir;
    const std::string in = std::string("in ") + name, out = std::string("out ") + name;
    test::WriteFile(dir / in, ppm.Bytes());
    const test::Run run = Remap({"2", sigs[0], sigs[1], "-in", in, "-out", out}, dir);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(test::ReadFile(dir / out), Expected(ppm, sigs));
    const test::Run same = Remap({"1", kSig, "-in", in, "-out", dir / in}, dir);
    EXPECT_EQ(same.err, Lines(kSameInputAndOutput, kCouldNotLoadConfiguration));
    EXPECT_EQ(test::ReadFile(dir / in), ppm.Bytes());
  }
}

#ifdef _WIN32
// Windows has more names for one file than POSIX: any case, the short 8.3
// name, the \\?\ prefix that skips the parsing of a path. Each is refused as
// the output, and NUL takes an image.
TEST(Program, KnowsEveryWindowsNameOfItsInput) {
  test::ScratchDir dir;
  const std::string input = "Long Input Name.ppm";
  test::WriteFile(dir / input, kImage);
  std::filesystem::create_hard_link(std::filesystem::u8path(dir / input),
                                    std::filesystem::u8path(dir / "hard.ppm"));
  std::string full = dir / input;
  std::replace(full.begin(), full.end(), '/', '\\');
  wchar_t shortPath[MAX_PATH];
  const DWORD length = GetShortPathNameW(test::Wide(full).c_str(), shortPath, MAX_PATH);
  ASSERT_GT(length, 0u);
  const std::string shortName =
      std::filesystem::path(shortPath, shortPath + length).filename().u8string();
  ASSERT_NE(shortName, input) << "no short name on this volume";
  const std::string names[] = {"long input name.PPM", shortName, "hard.ppm", "\\\\?\\" + full};
  for (const std::string& name : names) {
    SCOPED_TRACE(name);
    const test::Run run = Remap({"1", kSig, "-in", input, "-out", name}, dir);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, Lines(kSameInputAndOutput, kCouldNotLoadConfiguration));
    EXPECT_EQ(test::ReadFile(dir / input), kImage);
  }
  const test::Run toNull = Remap({"1", kSig, "-in", input, "-out", "NUL"}, dir);
  EXPECT_EQ(toNull.status, 0);
  EXPECT_EQ(toNull.err, "");
}
#endif

// Whatever the output file held is gone after a failed run; and where the
// messages are appended to that same file (`-out log 2>>log`), they are all
// it holds, whether the run fails while reading its options or its image.
TEST(Program, CreatesTheOutputEmptyBeforeAFailedRead) {
  test::ScratchDir dir;
  for (const std::size_t old : {std::size_t{3}, std::size_t{8} << 20}) {
    test::WriteFile(dir / "b.ppm", std::string(old, 'o'));
    const test::Run run = Remap({"1", kSig, "-out", "b.ppm"}, dir);
    EXPECT_EQ(run.err, Lines(kCannotReadMagic, kCouldNotReadImage));
    EXPECT_EQ(test::ReadFile(dir / "b.ppm"), "");
#ifndef _WIN32
    test::Streams intoLog;
    intoLog.err = "log";
    const struct {
      std::vector<std::string> args;
      std::string messages;
    } logged[] = {
        {{"1", kSig, "-out", "log"}, Lines(kCannotReadMagic, kCouldNotReadImage)},
        {{"1", kSig, "-out", "log", "-in", "missing"},
         Lines(kCannotOpenInput, kCouldNotLoadConfiguration)},
    };
    for (const auto& c : logged) {
      test::WriteFile(dir / "log", std::string(old, 'o'));
      Remap(c.args, dir, intoLog);
      EXPECT_EQ(test::ReadFile(dir / "log"), c.messages) << old << " bytes before";
    }
#endif
  }
}

// A header promising 12.9 GB followed by three bytes: a regular file that
// short fails before anything is allocated, so the run succeeds in failing
// with the read message even when it could not allocate that much.
TEST(Program, FailsOnAHugeHeaderInAShortFileBeforeAllocating) {
#ifdef REMAP_SANITIZE
  GTEST_SKIP() << "the sanitizers need more address space than the limit allows";
#endif
  test::ScratchDir dir;
  test::WriteFile(dir / "in.ppm", "P6\n65535 65535\n255\nabc");
  // An emulator needs more address space of its own: there the limit is off.
  const long limit = test::Emulated() ? 0 : 1024;
  test::Streams fromFile;
  fromFile.addressSpaceMiB = limit;
  test::Streams fromStdin = test::StdinFrom(dir / "in.ppm");
  fromStdin.addressSpaceMiB = limit;
  for (const auto& [args, streams] :
       {std::pair{std::vector<std::string>{"1", kSig, "-in", "in.ppm"}, fromFile},
        std::pair{std::vector<std::string>{"1", kSig}, fromStdin}}) {
    SCOPED_TRACE(args.size());
    const test::Run run = Remap(args, dir, streams);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, Lines(kFailedReadingData, kCouldNotReadImage));
  }
}

// An old output file too small to gain from being let go on a thread of its
// own is emptied at once: a run with the least address space it needs
// without one succeeds with one.
TEST(Program, EmptiesASmallOldOutputWithinTheSameMemory) {
#ifdef REMAP_SANITIZE
  GTEST_SKIP() << "the sanitizers need more address space than the limit allows";
#endif
  if (test::Emulated() || kWindows) GTEST_SKIP() << "no address-space limit under an emulator";
  test::ScratchDir dir;
  // A raster larger than a thread's stack, so that one more stack would
  // leave no room for it.
  test::Ppm ppm;
  ppm.width = ppm.height = "2048";
  ppm.raster = test::RandomRaster(2048 * 2048, 3);
  test::WriteFile(dir / "in.ppm", ppm.Bytes());
  const auto succeedsWithin = [&](long mib, const char* old) {
    std::filesystem::remove(dir / "out.ppm");
    if (old != nullptr) test::WriteFile(dir / "out.ppm", old);
    test::Streams streams;
    streams.addressSpaceMiB = mib;
    return Remap({"1", kSig, "-in", "in.ppm", "-out", "out.ppm"}, dir, streams).status == 0;
  };
  long fails = 1, succeeds = 1024;
  ASSERT_TRUE(succeedsWithin(succeeds, nullptr));
  while (succeeds - fails > 1) {
    const long mib = (fails + succeeds) / 2;
    (succeedsWithin(mib, nullptr) ? succeeds : fails) = mib;
  }
  EXPECT_TRUE(succeedsWithin(succeeds, "o")) << succeeds << " MiB";
}

#ifndef _WIN32
// A reader that stops early ends the run by SIGPIPE, as it ends any filter:
// no message, and the shell's status 141. (On Windows the closed pipe is a
// write failure, reported as any other.)
TEST(Program, EndsByTheSignalWhenThePipeIsClosed) {
  test::ScratchDir dir;
  const std::string command = "(" + test::ShellCommandFor(REMAP_EXECUTABLE) + " 1 '" + kSig +
                              "' -in " SAMPLE_IMAGE " 2>" + dir / "err" + "; echo $? >" +
                              dir / "status" + ") | head -c 100 >/dev/null";
  ASSERT_EQ(std::system(command.c_str()), 0);
  EXPECT_EQ(test::ReadFile(dir / "status"), "141\n");
  EXPECT_EQ(test::ReadFile(dir / "err"), "");
}
#endif

bool Have(const char* tool) {
  return std::system((std::string("command -v ") + tool + " >/dev/null 2>&1").c_str()) == 0;
}

// Signature tables of 2, 8 and 32 entries spread over the colour cube.
std::vector<std::string> SpreadSignatures(int count) {
  std::vector<std::string> sigs;
  std::mt19937 random(static_cast<unsigned>(count));
  for (int i = 0; i < count; ++i) {
    char text[20];
    std::snprintf(text, sizeof text, "#%06x:#%06x", static_cast<unsigned>(random() & 0xFFFFFF),
                  static_cast<unsigned>(random() & 0xFFFFFF));
    sigs.push_back(text);
  }
  return sigs;
}

// A real photograph (ImageMagick's built-in rose, enlarged), remapped and
// compared byte for byte with the rule, then read back by Netpbm.
TEST(Program, RemapsAPhotographExactly) {
  if (!Have("convert") || !Have("pamfile")) GTEST_SKIP() << "needs ImageMagick and Netpbm";
  test::ScratchDir dir;
  ASSERT_EQ(std::system(("convert rose: -resize 300% ppm:" + dir / "rose.ppm").c_str()), 0);
  test::Ppm photo;
  ASSERT_TRUE(test::ReadWithLibrary(test::ReadFile(dir / "rose.ppm"), photo));

  for (int count : {2, 8, 32}) {
    SCOPED_TRACE(count);
    std::vector<std::string> args = {std::to_string(count)};
    const std::vector<std::string> sigs = SpreadSignatures(count);
    args.insert(args.end(), sigs.begin(), sigs.end());
    args.insert(args.end(), {"-in", "rose.ppm", "-out", "out.ppm"});
    const test::Run run = Remap(args, dir);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(test::ReadFile(dir / "out.ppm"), Expected(photo, sigs));
    const std::string check = "pamfile " + dir / "out.ppm" + " > " + dir / "pamfile.txt";
    ASSERT_EQ(std::system(check.c_str()), 0);
    EXPECT_NE(test::ReadFile(dir / "pamfile.txt").find("PPM raw, " + photo.width + " by "),
              std::string::npos);
  }
}

// The bundled sample is exactly what the generator makes.
TEST(Program, BundledSampleIsReproducible) {
  test::ScratchDir dir;
  const std::string command =
      test::ShellCommandFor(MAKE_SAMPLE_EXECUTABLE) + " 320 240 > " + dir / "sample.ppm";
  ASSERT_EQ(std::system(command.c_str()), 0);
  EXPECT_EQ(test::ReadFile(dir / "sample.ppm"), test::ReadFile(SAMPLE_IMAGE));
}

}  // namespace
