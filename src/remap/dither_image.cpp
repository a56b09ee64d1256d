// Dithered runs over a whole image, from one stream to another, as a
// program on the pass runs them.
#include <cstdint>
#include <cstdio>
#include <memory>

#include "image/ppm_image.hpp"
#include "message.hpp"
#include "platform/platform.hpp"
#include "remap/dither.hpp"

namespace {

// Writes `pixels` once the output file is empty; 0, or 1 after the messages.
int Write(std::FILE* output, std::uint16_t width, std::uint16_t height, std::uint16_t maxval,
          const std::uint8_t* pixels, RasterPace* pace) {
  // The output file's old content goes while the image is read; what could
  // not be emptied must not be written over.
  if (!platform::AwaitEmptied()) {
    WriteMessage(kFailedWritingData);
    WriteMessage(kCouldNotWriteOutput);
    return 1;
  }
  if (WriteImage(output, width, height, maxval, pixels, pace) != 0) {
    WriteMessage(kCouldNotWriteOutput);
    return 1;
  }
  return 0;
}

}  // namespace

int FloydSteinbergImage(const PreparedTable& table, std::FILE* input, std::FILE* output) {
  std::uint16_t width = 0, height = 0, maxval = 0;
  std::unique_ptr<std::uint8_t[]> pixels;
  // Rows are dithered as soon as they are read, and written as soon as the
  // read is complete and they are dithered. The pass goes before the raster
  // does.
  FloydSteinbergPass pass(table, width);
  pixels = ReadImage(input, width, height, maxval, &pass);
  if (!pixels) {
    WriteMessage(kCouldNotReadImage);
    return 1;
  }
  if (pass.Failed()) {
    WriteMessage(kCannotAllocateData);
    WriteMessage(kCouldNotReadImage);
    return 1;
  }
  return Write(output, width, height, maxval, pixels.get(), &pass);
}

int OrderedImage(const PreparedTable& table, std::int32_t strength, std::FILE* input,
                 std::FILE* output) {
  std::uint16_t width = 0, height = 0, maxval = 0;
  std::unique_ptr<std::uint8_t[]> pixels;
  // Each part of the raster is moved and remapped as soon as it is read, and
  // written as soon as the read is complete and the part remapped. The pass
  // goes before the raster does.
  OrderedPass pass(table, width, nullptr, strength < 0 ? OrderedStrength(table) : strength);
  pixels = ReadImage(input, width, height, maxval, &pass);
  if (!pixels) {
    WriteMessage(kCouldNotReadImage);
    return 1;
  }
  return Write(output, width, height, maxval, pixels.get(), &pass);
}
