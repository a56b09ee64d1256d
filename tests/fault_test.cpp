// Failing devices and damaged files against the real executable: every run
// must end with the exact messages and status 1, or with status 0 and the
// whole correct image, and must leave alone every file it was not asked to
// write.
#include <gtest/gtest.h>

#ifdef __linux__
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>
#endif

#include <string>
#include <vector>

#include "remap.hpp"
#include "remap_reference.hpp"
#include "run_program.hpp"
#include "test_inputs.hpp"

namespace {

using test::kSig;
using test::Lines;

const char kSentinel[] = "not to be touched";

// A scratch folder holding the input image and a file nobody names.
struct Scene {
  test::ScratchDir dir;
  std::string image;
  explicit Scene(std::string bytes) : image(std::move(bytes)) {
    test::WriteFile(dir / "in.ppm", image);
    test::WriteFile(dir / "sentinel", kSentinel);
  }
  test::Run Remap(const std::vector<std::string>& args, const test::Streams& streams) const {
    return test::RunProgram(REMAP_EXECUTABLE, args, dir, streams);
  }
  void ExpectUntouched() const {
    EXPECT_EQ(test::ReadFile(dir / "in.ppm"), image);
    EXPECT_EQ(test::ReadFile(dir / "sentinel"), kSentinel);
  }
};

test::Ppm Image(int width, int height) {
  test::Ppm ppm;
  ppm.width = std::to_string(width);
  ppm.height = std::to_string(height);
  ppm.raster =
      test::RandomRaster(static_cast<std::size_t>(width) * static_cast<std::size_t>(height), 9);
  return ppm;
}

test::Streams Closed(bool in, bool out, bool err) {
  test::Streams streams;
  streams.closeIn = in;
  streams.closeOut = out;
  streams.closeErr = err;
  return streams;
}

#ifndef _WIN32
test::Streams FileSizeLimit(long bytes) {
  test::Streams streams;
  streams.fileSizeLimit = bytes;
  return streams;
}
#endif

// Small images fail only when the flush reaches the device; large ones
// already in the raster write.
TEST(Faults, OutputThatCannotTakeTheImage) {
  struct Case {
    const char* name;
    std::vector<std::string> options;
    test::Streams streams;
  };
  const Case cases[] = {
      {"-out /dev/full", {"-out", "/dev/full"}, {}},
      {"standard output /dev/full", {}, test::StdinFrom("/dev/null", "/dev/full")},
      {"standard output closed", {}, Closed(false, true, false)},
#ifndef _WIN32  // Windows has no limit on the size of a process's files
      // Room for the messages, not for the large image.
      {"file-size limit", {"-out", "out.ppm"}, FileSizeLimit(4096)},
#endif
  };
  for (const int side : {2, 300}) {
    for (const Case& c : cases) {
      if (c.streams.fileSizeLimit > 0 && side == 2) continue;
      SCOPED_TRACE(std::string(c.name) + ", side " + std::to_string(side));
      const Scene scene(Image(side, side).Bytes());
      std::vector<std::string> args = {"1", kSig, "-in", "in.ppm"};
      args.insert(args.end(), c.options.begin(), c.options.end());
      const test::Run run = scene.Remap(args, c.streams);
      EXPECT_EQ(run.status, 1);
      EXPECT_EQ(run.err, Lines(kFailedWritingData, kCouldNotWriteOutput));
      scene.ExpectUntouched();
    }
  }
}

TEST(Faults, InputThatIsNotAFile) {
  struct Case {
    const char* name;
    std::vector<std::string> args;
    test::Streams streams;
    std::string err;
  };
  const Scene scene(Image(2, 2).Bytes());
  const Case cases[] = {
      {"-in a folder", {"1", kSig, "-in", "."}, {}, Lines(kCannotReadMagic, kCouldNotReadImage)},
      {"standard input a folder",
       {"1", kSig},
       test::StdinFrom(scene.dir.path()),
       Lines(kCannotReadMagic, kCouldNotReadImage)},
      {"standard input closed",
       {"1", kSig},
       Closed(true, false, false),
       Lines(kCannotReadMagic, kCouldNotReadImage)},
      {"output a folder",
       {"1", kSig, "-in", "in.ppm", "-out", "."},
       {},
       Lines(kCannotOpenOutput, kCouldNotLoadConfiguration)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const test::Run run = scene.Remap(c.args, c.streams);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, c.err);
    EXPECT_EQ(run.out, "");
    scene.ExpectUntouched();
  }
}

// With standard error closed, the "-out" file (opened first, so that it
// would take descriptor 2) must not catch the messages.
TEST(Faults, ClosedStandardErrorKeepsMessagesOutOfTheOutput) {
  const Scene scene("P6\n2 2\n255\nshort");
  const test::Run run =
      scene.Remap({"1", kSig, "-out", "out.ppm", "-in", "in.ppm"}, Closed(false, false, true));
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(test::ReadFile(scene.dir / "out.ppm"), "");
  scene.ExpectUntouched();
}

#ifdef __linux__
// An old output file that cannot be let go (a memory file sealed against
// shrinking, named through /proc) is reported however the run goes: after
// its own failure, or instead of writing over what it holds.
TEST(Faults, AnOutputFileThatCannotBeEmptiedIsReported) {
  const Scene scene(Image(2, 2).Bytes());
  const std::string empty = "", image = Image(2, 2).Bytes();
  const struct {
    const char* name;
    std::vector<std::string> options;
    std::string input, err;
  } cases[] = {
      {"the read fails", {}, "", Lines(kCannotReadMagic, kCouldNotReadImage)},
      {"a later option fails",
       {"-bogus"},
       image,
       Lines(kUnrecognizedOption, kCouldNotLoadConfiguration)},
      {"the read succeeds", {}, image, ""},
  };
  // Large enough to be let go while the image is read.
  const std::string old(8u << 20, 'o');
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const int held = memfd_create("old output", MFD_ALLOW_SEALING);
    ASSERT_GE(held, 0);
    ASSERT_EQ(write(held, old.data(), old.size()), static_cast<ssize_t>(old.size()));
    ASSERT_EQ(fcntl(held, F_ADD_SEALS, F_SEAL_SHRINK), 0);
    std::vector<std::string> args = {"1", kSig, "-out", "/proc/self/fd/" + std::to_string(held)};
    args.insert(args.end(), c.options.begin(), c.options.end());
    const test::Run run = scene.Remap(args, test::PipedIn(c.input));
    close(held);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, c.err + Lines(kFailedWritingData, kCouldNotWriteOutput));
    scene.ExpectUntouched();
  }
}
#endif

// Every prefix of a small image: the message follows from where it ends.
TEST(Faults, EveryTruncation) {
  const std::string image = "P6\n3 2\n255\n" + test::RandomRaster(6, 4);
  auto expected = [](std::size_t length) {
    if (length == 0) return kCannotReadMagic;
    if (length == 1) return kNotBinaryPpm;
    if (length <= 5) return kCannotReadDimensions;  // "P6" to "P6\n3 "
    if (length <= 7) return kCannotReadMaxval;      // "P6\n3 2" and "P6\n3 2\n"
    if (length <= 10) return kMissingDelimiter;     // maxval 2, 25, 255 then the end
    return kFailedReadingData;
  };
  for (std::size_t length = 0; length < image.size(); ++length) {
    SCOPED_TRACE(length);
    const Scene scene(image.substr(0, length));
    const test::Run run = scene.Remap({"1", kSig, "-in", "in.ppm"}, {});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, Lines(expected(length), kCouldNotReadImage));
    EXPECT_EQ(run.out, "");
    scene.ExpectUntouched();
  }
}

const char* const kReadMessages[] = {
    kCannotReadMagic,  kNotBinaryPpm, kCannotReadDimensions, kInvalidXDimension, kInvalidYDimension,
    kCannotReadMaxval, kNotEightBit,  kMissingDelimiter,     kFailedReadingData,
};

// Each header byte replaced by each of a dozen telling values.
TEST(Faults, EverySingleByteCorruptionOfTheHeader) {
  const std::string header = "P6\n3 2\n255\n";
  const std::string image = header + test::RandomRaster(6, 5);
  const std::vector<std::string> sigs = {"#000000:#123456", "#ffffff:#abcdef"};
  for (std::size_t at = 0; at < header.size(); ++at) {
    for (const char value : {'\0', ' ', '\n', '0', '1', '9', '+', '-', '#', 'P', 'x', '\xff'}) {
      std::string bytes = image;
      if (bytes[at] == value) continue;
      bytes[at] = value;
      SCOPED_TRACE(testing::PrintToString(bytes.substr(0, header.size())));
      const Scene scene(bytes);
      const test::Run run = scene.Remap({"2", sigs[0], sigs[1], "-in", "in.ppm"}, {});
      test::Ppm read;
      if (test::ReadWithLibrary(bytes, read)) {
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(run.err, "");
        std::string raster = read.raster;
        reference::ReferenceRemap(reinterpret_cast<std::uint8_t*>(&raster[0]), raster.size() / 3,
                                  test::MakeConfiguration(sigs));
        read.raster = raster;
        EXPECT_EQ(run.out, read.Bytes());
      } else {
        EXPECT_EQ(run.status, 1);
        bool known = false;
        for (const char* message : kReadMessages) {
          known = known || run.err == Lines(message, kCouldNotReadImage);
        }
        EXPECT_TRUE(known) << run.err;
        EXPECT_EQ(run.out, "");
      }
      scene.ExpectUntouched();
    }
  }
}

TEST(Faults, HeaderValuesAtAndBeyondTheirLimits) {
  struct Case {
    const char* name;
    std::string width, height, maxval;
    const char* message;  // null: the image is read
  };
  const Case cases[] = {
      {"widest", "65535", "1", "255", nullptr},
      {"tallest", "1", "65535", "255", nullptr},
      {"maxval 1", "2", "2", "1", nullptr},
      {"width 65536", "65536", "1", "255", kCannotReadDimensions},
      {"height 65536", "1", "65536", "255", kCannotReadDimensions},
      {"width -1", "-1", "1", "255", kCannotReadDimensions},
      {"width 0", "0", "1", "255", kInvalidXDimension},
      {"height 0", "1", "0", "255", kInvalidYDimension},
      {"maxval 0", "1", "1", "0", kNotEightBit},
      {"maxval 256", "1", "1", "256", kNotEightBit},
      {"maxval 65535", "1", "1", "65535", kNotEightBit},
      {"maxval 65536", "1", "1", "65536", kCannotReadMaxval},
      {"maxval 99999999999", "1", "1", "99999999999", kCannotReadMaxval},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    test::Ppm ppm;
    ppm.width = c.width;
    ppm.height = c.height;
    ppm.maxval = c.maxval;
    ppm.raster = c.message
                     ? ""
                     : test::RandomRaster(
                           static_cast<std::size_t>(std::stoul(c.width) * std::stoul(c.height)), 6);
    const Scene scene(ppm.Bytes());
    const test::Run run = scene.Remap({"1", "#000000:#010203", "-in", "in.ppm"}, {});
    if (c.message == nullptr) {
      EXPECT_EQ(run.status, 0);
      EXPECT_EQ(run.err, "");
      test::Ppm expected = ppm;
      for (std::size_t k = 0; k < expected.raster.size(); ++k) {
        expected.raster[k] = static_cast<char>(k % 3 + 1);
      }
      EXPECT_EQ(run.out, expected.Bytes());
    } else {
      EXPECT_EQ(run.status, 1);
      EXPECT_EQ(run.err, Lines(c.message, kCouldNotReadImage));
    }
    scene.ExpectUntouched();
  }
}

}  // namespace
