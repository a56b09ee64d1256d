// Binary PPM reader and writer.
#include "image/ppm_image.hpp"

#include <sys/stat.h>

#include <cctype>
#include <cstdint>
#include <cstring>
#include <limits>
#include <new>

#include "message.hpp"
#include "platform/platform.hpp"

namespace {

void SkipWhitespace(std::FILE* input) {
  int c;
  while ((c = std::getc(input)) != EOF && std::isspace(c)) {
  }
  if (c != EOF) std::ungetc(c, input);
}

// Reads one header number: whitespace, an optional plus sign, decimal digits.
// A minus sign or a value above 65535 is a failed read, not a wrapped value.
bool ReadHeaderNumber(std::FILE* input, std::uint16_t& value) {
  SkipWhitespace(input);
  int c = std::getc(input);
  if (c == '+') c = std::getc(input);
  if (c == EOF || !std::isdigit(c)) return false;
  std::uint32_t number = 0;
  for (; c != EOF && std::isdigit(c); c = std::getc(input)) {
    number = number * 10 + static_cast<std::uint32_t>(c - '0');
    if (number > std::numeric_limits<std::uint16_t>::max()) return false;
  }
  if (c != EOF) std::ungetc(c, input);
  value = static_cast<std::uint16_t>(number);
  return true;
}

// True when `input` is a regular file holding fewer than `bytes` bytes past
// its current position: the raster cannot be there, and there is no need to
// allocate for it to find out. Pipes and devices cannot tell, so they say no.
bool FileTooShort(std::FILE* input, std::uint64_t bytes) {
  struct stat file;
  if (fstat(fileno(input), &file) != 0 || !S_ISREG(file.st_mode)) return false;
  const off_t position = ftello(input);
  if (position < 0 || position > file.st_size) return false;
  return static_cast<std::uint64_t>(file.st_size - position) < bytes;
}

// The raster moves in parts this large where a pace follows it: enough to
// keep the calls few, small enough that work on the first starts early.
constexpr std::size_t kPart = std::size_t{1} << 20;

// Reads `size` bytes into `pixels`, telling `pace` of each part.
bool ReadRaster(std::FILE* input, std::uint8_t* pixels, std::size_t size, RasterPace& pace) {
  pace.Start(pixels, size);
  for (std::size_t done = 0; done < size;) {
    const std::size_t part = size - done < kPart ? size - done : kPart;
    if (std::fread(pixels + done, part, 1, input) != 1) {
      pace.Abandon();
      return false;
    }
    done += part;
    pace.Arrived(done);
  }
  return true;
}

// Writes `size` bytes from `pixels`, each part once `pace` lets it go.
bool WriteRaster(std::FILE* output, const std::uint8_t* pixels, std::size_t size,
                 RasterPace& pace) {
  for (std::size_t done = 0; done < size;) {
    const std::size_t part = size - done < kPart ? size - done : kPart;
    pace.AwaitReady(done + part);
    if (std::fwrite(pixels + done, part, 1, output) != 1) return false;
    done += part;
  }
  return true;
}

}  // namespace

std::unique_ptr<std::uint8_t[]> ReadImage(std::FILE* input, std::uint16_t& width,
                                          std::uint16_t& height, std::uint16_t& maxval,
                                          RasterPace* pace) {
  if (input == nullptr) return Fail(kNoInputStream);
  char magic[3];
  if (std::fgets(magic, sizeof magic, input) == nullptr) return Fail(kCannotReadMagic);
  if (std::strcmp(magic, "P6") != 0) return Fail(kNotBinaryPpm);
  if (!ReadHeaderNumber(input, width) || !ReadHeaderNumber(input, height)) {
    return Fail(kCannotReadDimensions);
  }
  SkipWhitespace(input);
  if (width == 0) return Fail(kInvalidXDimension);
  if (height == 0) return Fail(kInvalidYDimension);
  if (!ReadHeaderNumber(input, maxval)) return Fail(kCannotReadMaxval);
  if (maxval < 1 || maxval > 255) return Fail(kNotEightBit);
  // Exactly one delimiter: the raster may start with bytes that look like whitespace.
  const int delimiter = std::getc(input);
  if (delimiter == EOF || !std::isspace(delimiter)) return Fail(kMissingDelimiter);

  const std::uint64_t bytes = RasterBytes(width, height);
  if (FileTooShort(input, bytes)) return Fail(kFailedReadingData);
  if (bytes > std::numeric_limits<std::size_t>::max()) return Fail(kCannotAllocateData);
  const auto size = static_cast<std::size_t>(bytes);
  // Left uninitialised on purpose: a huge header with a short raster from a
  // pipe must fail at the read without first touching every page of the buffer.
  std::unique_ptr<std::uint8_t[]> pixels(new (std::nothrow) std::uint8_t[size]);
  if (!pixels) return Fail(kCannotAllocateData);
  platform::AdviseHugePages(pixels.get(), size);
  const bool read = pace != nullptr ? ReadRaster(input, pixels.get(), size, *pace)
                                    : std::fread(pixels.get(), size, 1, input) == 1;
  if (!read) return Fail(kFailedReadingData);
  return pixels;
}

int WriteImage(std::FILE* output, std::uint16_t width, std::uint16_t height, std::uint16_t maxval,
               const std::uint8_t* pixels, RasterPace* pace) {
  if (output == nullptr) return Fail(kNoOutputStream);
  if (pixels == nullptr) return Fail(kInvalidOutputData);
  std::fputs("P6\n", output);
  std::fprintf(output, "%hu %hu\n", width, height);
  std::fprintf(output, "%hu\n", maxval);
  const auto size = static_cast<std::size_t>(RasterBytes(width, height));
  // Bytes still buffered may fail only when they reach the device, so the
  // write counts once the flush has succeeded.
  const bool written = pace != nullptr ? WriteRaster(output, pixels, size, *pace)
                                       : std::fwrite(pixels, size, 1, output) == 1;
  if (!written || std::fflush(output) != 0) {
    return Fail(kFailedWritingData);
  }
  return 0;
}
