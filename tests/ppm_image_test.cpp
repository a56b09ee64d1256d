#include "image/ppm_image.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#ifndef _WIN32
#include <unistd.h>
#endif

#include "scratch_dir.hpp"
#include "test_inputs.hpp"

namespace {

struct Read {
  std::unique_ptr<std::uint8_t[]> pixels;
  std::uint16_t width = 0, height = 0, maxval = 0;
  std::string err;
  std::string Raster() const {
    return std::string(reinterpret_cast<const char*>(pixels.get()),
                       static_cast<std::size_t>(RasterBytes(width, height)));
  }
};

Read ReadBytes(const std::string& bytes) {
  std::FILE* input = TemporaryFile();
  std::fwrite(bytes.data(), 1, bytes.size(), input);
  std::rewind(input);
  Read read;
  testing::internal::CaptureStderr();
  read.pixels = ReadImage(input, read.width, read.height, read.maxval);
  read.err = testing::internal::GetCapturedStderr();
  std::fclose(input);
  return read;
}

test::Ppm With(std::string test::Ppm::*field, std::string value) {
  test::Ppm ppm;
  ppm.*field = std::move(value);
  return ppm;
}

struct BadImage {
  const char* name;
  std::string bytes;
  const char* message;
};

const BadImage kBadImages[] = {
    {"empty", "", kCannotReadMagic},
    {"lone P", "P", kNotBinaryPpm},
    {"P and line feed", "P\n6\n1 1\n255\n...", kNotBinaryPpm},
    {"ascii magic", "P3\n1 1\n255\n0 0 0\n", kNotBinaryPpm},
    {"lower case magic", "p6\n1 1\n255\n...", kNotBinaryPpm},
    {"magic only", "P6", kCannotReadDimensions},
    {"comment after magic", "P6\n# made by hand\n1 1\n255\n...", kCannotReadDimensions},
    {"height missing", "P6\n1", kCannotReadDimensions},
    {"negative width", With(&test::Ppm::width, "-2").Bytes(), kCannotReadDimensions},
    {"minus 65535 width", With(&test::Ppm::width, "-65535").Bytes(), kCannotReadDimensions},
    {"width above 65535", With(&test::Ppm::width, "65536").Bytes(), kCannotReadDimensions},
    {"height far above", With(&test::Ppm::height, "4294967297").Bytes(), kCannotReadDimensions},
    {"lone plus", With(&test::Ppm::width, "+").Bytes(), kCannotReadDimensions},
    {"zero width", With(&test::Ppm::width, "0").Bytes(), kInvalidXDimension},
    {"zero width, junk after", "P6 0 1 junk", kInvalidXDimension},
    {"zero width and height", "P6\n0 0\n255\n", kInvalidXDimension},
    {"zero height", "P6 3 00 x", kInvalidYDimension},
    {"comment before maxval", "P6\n1 1\n# note\n255\n...", kCannotReadMaxval},
    {"maxval missing", "P6\n1 1\n", kCannotReadMaxval},
    {"negative maxval", With(&test::Ppm::maxval, "-1").Bytes(), kCannotReadMaxval},
    {"maxval above 65535", With(&test::Ppm::maxval, "65536").Bytes(), kCannotReadMaxval},
    {"maxval 0", With(&test::Ppm::maxval, "0").Bytes(), kNotEightBit},
    {"maxval 256", With(&test::Ppm::maxval, "256").Bytes(), kNotEightBit},
    {"maxval 65535", With(&test::Ppm::maxval, "65535").Bytes(), kNotEightBit},
    {"maxval then end", "P6\n1 1\n255", kMissingDelimiter},
    {"maxval then a letter", "P6\n1 1\n255x...", kMissingDelimiter},
    {"raster one byte short", "P6\n2 1\n255\n\1\2\3\4\5", kFailedReadingData},
    {"no raster", "P6\n2 1\n255\n", kFailedReadingData},
    {"huge header, short raster", "P6\n65535 65535\n255\nabc", kFailedReadingData},
};

TEST(ReadImage, RejectsBadImagesWithTheirMessage) {
  for (const BadImage& c : kBadImages) {
    SCOPED_TRACE(c.name);
    const Read read = ReadBytes(c.bytes);
    EXPECT_EQ(read.pixels, nullptr);
    EXPECT_EQ(read.err, c.message);
  }
}

TEST(ReadImage, RejectsNullStream) {
  std::uint16_t w, h, m;
  testing::internal::CaptureStderr();
  EXPECT_EQ(ReadImage(nullptr, w, h, m), nullptr);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), kNoInputStream);
}

struct GoodImage {
  const char* name;
  test::Ppm ppm;
  std::uint16_t width, height, maxval;
};

test::Ppm Spaced(std::string afterMagic, std::string between, std::string afterSizes,
                 std::string delimiter) {
  test::Ppm ppm;
  ppm.afterMagic = std::move(afterMagic);
  ppm.betweenSizes = std::move(between);
  ppm.afterSizes = std::move(afterSizes);
  ppm.delimiter = std::move(delimiter);
  return ppm;
}

test::Ppm RasterStartingWith(std::string raster) {
  test::Ppm ppm;
  ppm.raster = std::move(raster);
  return ppm;
}

const GoodImage kGoodImages[] = {
    {"usual three lines", test::Ppm{}, 2, 1, 255},
    {"one line, single blanks", Spaced(" ", " ", " ", " "), 2, 1, 255},
    {"digits right after magic", Spaced("", " ", "\n", "\n"), 2, 1, 255},
    {"blank lines, tabs, CR delimiter", Spaced("\n\n\t ", "\t\n", "\n\v\f \n", "\r"), 2, 1, 255},
    {"plus signs and leading zeros",
     [] {
       test::Ppm p;
       p.width = "+0002";
       p.height = "001";
       p.maxval = "+00255";
       return p;
     }(),
     2, 1, 255},
    {"maxval 1", With(&test::Ppm::maxval, "1"), 2, 1, 1},
    {"maxval 15", With(&test::Ppm::maxval, "15"), 2, 1, 15},
    {"raster starts with line feed and blank", RasterStartingWith("\n \n\x20\t\r"), 2, 1, 255},
    {"bytes after the raster", RasterStartingWith(std::string(6, 'x') + "trailing"), 2, 1, 255},
};

TEST(ReadImage, ReadsHeaderAndRasterExactly) {
  for (const GoodImage& c : kGoodImages) {
    SCOPED_TRACE(c.name);
    const Read read = ReadBytes(c.ppm.Bytes());
    ASSERT_NE(read.pixels, nullptr) << read.err;
    EXPECT_EQ(read.err, "");
    EXPECT_EQ(read.width, c.width);
    EXPECT_EQ(read.height, c.height);
    EXPECT_EQ(read.maxval, c.maxval);
    EXPECT_EQ(read.Raster(), c.ppm.raster.substr(0, 6));
  }
}

TEST(ReadImage, ReadsTheLargestDimensionsInTheHeader) {
  const Read read = ReadBytes("P6 65535 1 255\n" + test::RandomRaster(65535, 1));
  ASSERT_NE(read.pixels, nullptr);
  EXPECT_EQ(read.width, 65535);
  EXPECT_EQ(read.Raster(), test::RandomRaster(65535, 1));
}

std::string WriteBytes(const test::Ppm& ppm, std::uint16_t w, std::uint16_t h, std::uint16_t m) {
  std::FILE* output = TemporaryFile();
  EXPECT_EQ(WriteImage(output, w, h, m, reinterpret_cast<const std::uint8_t*>(ppm.raster.data())),
            0);
  std::rewind(output);
  std::string bytes(1024, '\0');
  bytes.resize(std::fread(&bytes[0], 1, bytes.size(), output));
  std::fclose(output);
  return bytes;
}

TEST(WriteImage, WritesTheCanonicalHeaderAndTheRaster) {
  for (const GoodImage& c : kGoodImages) {
    SCOPED_TRACE(c.name);
    const Read read = ReadBytes(c.ppm.Bytes());
    test::Ppm written;
    written.raster = read.Raster();
    written.maxval = std::to_string(c.maxval);
    EXPECT_EQ(WriteBytes(written, read.width, read.height, read.maxval), written.Bytes());
  }
}

TEST(WriteImage, KeepsMaxvalBelowTheSamples) {
  test::Ppm ppm;  // samples up to 255
  ppm.maxval = "15";
  EXPECT_EQ(WriteBytes(ppm, 2, 1, 15), ppm.Bytes());
}

TEST(WriteImage, ReportsRefusedAndFailedWrites) {
  const std::uint8_t pixels[6] = {};
  struct Case {
    const char* name;
    std::FILE* output;
    const std::uint8_t* pixels;
    const char* message;
  };
  std::FILE* full = std::fopen("/dev/full", "w");
  const Case cases[] = {
      {"no stream", nullptr, pixels, kNoOutputStream},
      {"no buffer", full, nullptr, kInvalidOutputData},
      {"device full, small image held in the buffer", full, pixels, kFailedWritingData},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    testing::internal::CaptureStderr();
    EXPECT_EQ(WriteImage(c.output, 2, 1, 255, c.pixels), 1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), c.message);
  }
  std::fclose(full);
}

// What a pace hears, with how far the stream was at each call.
struct Heard : RasterPace {
  std::FILE* stream = nullptr;
  std::uint8_t* raster = nullptr;
  std::uint64_t size = 0;
  std::vector<std::uint64_t> arrived, ready;
  std::vector<long> readyAt;
  bool abandoned = false;
  void Start(std::uint8_t* r, std::uint64_t bytes) override { raster = r, size = bytes; }
  void Arrived(std::uint64_t bytes) override { arrived.push_back(bytes); }
  void Abandon() override { abandoned = true; }
  void AwaitReady(std::uint64_t bytes) override {
    ready.push_back(bytes);
    readyAt.push_back(std::ftell(stream));
  }
};

// A pace hears of the raster in order, part by part, up to the whole, or
// that the read failed; the writer waits for each part before it goes, and
// the bytes read and written are those without a pace.
TEST(RasterPace, HearsOfEachPartBeforeTheWriteAndOfAFailedRead) {
  const struct {
    const char* name;
    std::uint16_t width, height;
    std::size_t missing;
  } cases[] = {{"one pixel", 1, 1, 0},
               {"several parts", 1201, 1000, 0},
               {"several parts, the last byte missing", 1201, 1000, 1},
               {"no raster", 7, 3, 63}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::size_t bytes = RasterBytes(c.width, c.height);
    const std::string raster = test::RandomRaster(bytes / 3, 3);
    const std::string header =
        "P6\n" + std::to_string(c.width) + " " + std::to_string(c.height) + "\n255\n";
    const std::string file = (header + raster).substr(0, header.size() + bytes - c.missing);
    std::FILE* input = nullptr;
    std::thread feeder;
    if (c.missing == 0) {
      input = TemporaryFile();
      std::fwrite(file.data(), 1, file.size(), input);
      std::rewind(input);
    } else {
      // A short file is refused before the raster is allocated; a pipe
      // cannot tell, and fails only at the read.
#ifdef _WIN32
      continue;
#else
      int ends[2];
      ASSERT_EQ(pipe(ends), 0);
      feeder = std::thread([&file, ends] {
        for (std::size_t done = 0; done < file.size();) {
          const ssize_t wrote = write(ends[1], file.data() + done, file.size() - done);
          if (wrote <= 0) break;
          done += static_cast<std::size_t>(wrote);
        }
        close(ends[1]);
      });
      input = fdopen(ends[0], "rb");
#endif
    }
    Heard heard;
    std::uint16_t width, height, maxval;
    testing::internal::CaptureStderr();
    const std::unique_ptr<std::uint8_t[]> pixels = ReadImage(input, width, height, maxval, &heard);
    const std::string err = testing::internal::GetCapturedStderr();
    if (feeder.joinable()) feeder.join();
    std::fclose(input);
    EXPECT_EQ(heard.size, bytes);
    EXPECT_TRUE(std::is_sorted(heard.arrived.begin(), heard.arrived.end()));
    if (c.missing > 0) {
      EXPECT_EQ(pixels, nullptr);
      EXPECT_EQ(err, kFailedReadingData);
      EXPECT_TRUE(heard.abandoned);
      EXPECT_TRUE(heard.arrived.empty() || heard.arrived.back() < bytes);
      continue;
    }
    ASSERT_NE(pixels, nullptr) << err;
    EXPECT_EQ(heard.raster, pixels.get());
    EXPECT_FALSE(heard.abandoned);
    ASSERT_FALSE(heard.arrived.empty());
    EXPECT_EQ(heard.arrived.back(), bytes);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(pixels.get()), bytes), raster);

    heard.stream = TemporaryFile();
    ASSERT_EQ(WriteImage(heard.stream, width, height, maxval, pixels.get(), &heard), 0);
    ASSERT_FALSE(heard.ready.empty());
    EXPECT_EQ(heard.ready.back(), bytes);
    for (std::size_t k = 0; k < heard.ready.size(); ++k) {
      // Nothing of a part is out before the pace lets it go.
      EXPECT_EQ(heard.readyAt[k],
                static_cast<long>(header.size() + (k == 0 ? 0 : heard.ready[k - 1])));
    }
    std::rewind(heard.stream);
    std::string written(header.size() + bytes, '\0');
    written.resize(std::fread(&written[0], 1, written.size(), heard.stream));
    std::fclose(heard.stream);
    EXPECT_EQ(written, header + raster);
  }
}

}  // namespace
