// Any bytes through ReadPng. A failure must write exactly one message line
// and leave nothing behind; a picture it accepts must come back with the same
// pixels and transparency from WritePng and a second read.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "fuzz_check.hpp"
#include "image/png_image.hpp"
#include "stderr_capture.hpp"

namespace {

// Small enough that no input makes a run allocate much, large enough for
// every Adam7 pass and palette depth.
PngLimits FuzzLimits() {
  PngLimits limits;
  limits.maxWidth = limits.maxHeight = 512;
  limits.maxChunkBytes = 1 << 20;
  return limits;
}

// A picture's alpha, 255 where it has none.
std::uint8_t AlphaAt(const PngImage& image, std::size_t i) {
  return image.alpha ? image.alpha[i] : 255;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::FILE* input = OpenBytes(data, size);
  FUZZ_CHECK(input != nullptr);
  PngImage image;
  bool ok = false;
  const std::string err = CaptureStderr([&] { ok = ReadPng(input, image, FuzzLimits()); });
  std::fclose(input);
  if (!ok) {
    FUZZ_CHECK(OneMessageLine(err));
    FUZZ_CHECK(!image.rgb && !image.alpha);
    return 0;
  }
  FUZZ_CHECK(err.empty());
  FUZZ_CHECK(image.width >= 1 && image.height >= 1 && image.width <= 512 && image.height <= 512);

  char* written = nullptr;
  std::size_t writtenSize = 0;
  std::FILE* output = open_memstream(&written, &writtenSize);
  FUZZ_CHECK(CaptureStderr([&] {
               FUZZ_CHECK(WritePng(output, image.width, image.height, image.rgb.get(),
                                   image.alpha.get(), image.look) == 0);
             }).empty());
  std::fclose(output);

  std::FILE* again = fmemopen(written, writtenSize, "rb");
  PngImage image2;
  FUZZ_CHECK(CaptureStderr([&] { FUZZ_CHECK(ReadPng(again, image2)); }).empty());
  std::fclose(again);
  std::free(written);
  FUZZ_CHECK(image2.width == image.width && image2.height == image.height);
  const std::size_t pixels = std::size_t{image.width} * image.height;
  FUZZ_CHECK(std::memcmp(image.rgb.get(), image2.rgb.get(), pixels * 3) == 0);
  for (std::size_t i = 0; i < pixels; ++i) FUZZ_CHECK(AlphaAt(image, i) == AlphaAt(image2, i));
  return 0;
}
