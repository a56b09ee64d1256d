// Any bytes through ReadImage. A failure must write exactly one message line;
// an image it accepts must come back unchanged from WriteImage and a second
// read.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "fuzz_check.hpp"
#include "image/ppm_image.hpp"
#include "stderr_capture.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::FILE* input = OpenBytes(data, size);
  FUZZ_CHECK(input != nullptr);
  std::uint16_t width = 0, height = 0, maxval = 0;
  std::unique_ptr<std::uint8_t[]> pixels;
  const std::string err = CaptureStderr([&] { pixels = ReadImage(input, width, height, maxval); });
  std::fclose(input);
  if (!pixels) {
    FUZZ_CHECK(OneMessageLine(err));
    return 0;
  }
  FUZZ_CHECK(err.empty());
  FUZZ_CHECK(width >= 1 && height >= 1 && maxval >= 1 && maxval <= 255);

  char* written = nullptr;
  std::size_t writtenSize = 0;
  std::FILE* output = open_memstream(&written, &writtenSize);
  FUZZ_CHECK(WriteImage(output, width, height, maxval, pixels.get()) == 0);
  std::fclose(output);

  std::FILE* again = fmemopen(written, writtenSize, "rb");
  std::uint16_t width2 = 0, height2 = 0, maxval2 = 0;
  std::unique_ptr<std::uint8_t[]> pixels2;
  FUZZ_CHECK(CaptureStderr([&] { pixels2 = ReadImage(again, width2, height2, maxval2); }).empty());
  std::fclose(again);
  FUZZ_CHECK(pixels2 != nullptr);
  FUZZ_CHECK(width2 == width && height2 == height && maxval2 == maxval);
  const auto bytes = static_cast<std::size_t>(RasterBytes(width, height));
  FUZZ_CHECK(std::memcmp(pixels.get(), pixels2.get(), bytes) == 0);
  // The canonical header, then exactly the raster.
  char header[32];
  const int headerSize =
      std::snprintf(header, sizeof header, "P6\n%hu %hu\n%hu\n", width, height, maxval);
  FUZZ_CHECK(writtenSize == static_cast<std::size_t>(headerSize) + bytes);
  FUZZ_CHECK(std::memcmp(written, header, static_cast<std::size_t>(headerSize)) == 0);
  std::free(written);
  return 0;
}
