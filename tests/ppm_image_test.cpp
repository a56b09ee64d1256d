#include "image/ppm_image.hpp"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

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

}  // namespace
