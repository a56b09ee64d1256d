// Binary PPM (P6) reading and writing, one byte per sample, no header comments.
// Every failure is reported on stderr with one fixed sentence.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>

#include "image/raster_pace.hpp"

inline constexpr char kNoInputStream[] = "No input stream.\n";
inline constexpr char kCannotReadMagic[] = "Cannot read magic number.\n";
inline constexpr char kNotBinaryPpm[] = "Not a binary PPM file.\n";
inline constexpr char kCannotReadDimensions[] = "Cannot read dimensions.\n";
inline constexpr char kInvalidXDimension[] = "Invalid X dimension (must be greater than zero).\n";
inline constexpr char kInvalidYDimension[] = "Invalid Y dimension (must be greater than zero).\n";
inline constexpr char kCannotReadMaxval[] = "Cannot read maxval.\n";
inline constexpr char kNotEightBit[] = "8-bit images only, please.\n";
inline constexpr char kMissingDelimiter[] = "Missing header delimiter whitespace.\n";
inline constexpr char kCannotAllocateData[] = "Could not allocate data.\n";
inline constexpr char kFailedReadingData[] = "Failed reading image data.\n";
inline constexpr char kNoOutputStream[] = "No output stream.\n";
inline constexpr char kInvalidOutputData[] = "Invalid output data block.\n";
inline constexpr char kFailedWritingData[] = "Failed writing image data.\n";

// Bytes in the raster of a width x height image: up to 12,884,508,675, so
// always 64-bit.
inline std::uint64_t RasterBytes(std::uint16_t width, std::uint16_t height) {
  return std::uint64_t{width} * height * 3;
}

// Reads a whole P6 image from `input` (which may be null). Returns the pixel
// buffer (RasterBytes(width, height) bytes, rows top to bottom, RGB per pixel;
// the caller owns it), or null after writing one message to stderr. Header
// values already read may have been stored. Reads nothing past the raster. A
// regular file too short for the raster its header promises fails before
// anything is allocated. `pace`, if any, hears of the raster as it arrives.
std::unique_ptr<std::uint8_t[]> ReadImage(std::FILE* input, std::uint16_t& width,
                                          std::uint16_t& height, std::uint16_t& maxval,
                                          RasterPace* pace = nullptr);

// Writes `pixels` as a P6 image with the header "P6\n<width> <height>\n<maxval>\n"
// and flushes `output`. Returns 0 once every byte has reached the stream's
// file, or 1 after writing one message to stderr. A null stream or buffer is
// refused. The stream stays open. `pace`, if any, holds back each part of
// the raster until it may go; the header goes first regardless.
int WriteImage(std::FILE* output, std::uint16_t width, std::uint16_t height, std::uint16_t maxval,
               const std::uint8_t* pixels, RasterPace* pace = nullptr);
