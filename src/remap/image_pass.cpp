// The pass over a whole image, from one stream to another, as every program
// on it runs it.
#include <cstdint>
#include <cstdio>
#include <memory>

#include "image/ppm_image.hpp"
#include "message.hpp"
#include "platform/platform.hpp"
#include "remap.hpp"

bool OutputEmptied() {
  if (platform::AwaitEmptied()) return true;
  WriteMessage(kFailedWritingData);
  WriteMessage(kCouldNotWriteOutput);
  return false;
}

int RemapImage(const PreparedTable& table, std::FILE* input, std::FILE* output,
               RemapOptions options) {
  std::uint16_t width = 0, height = 0, maxval = 0;
  std::unique_ptr<std::uint8_t[]> pixels;
  // Each part of the raster is remapped as soon as it is read, and written
  // as soon as the read is complete and the part remapped. The pass goes
  // before the raster does.
  RemapPass pass(table, options);
  pixels = ReadImage(input, width, height, maxval, &pass);
  if (!pixels) {
    WriteMessage(kCouldNotReadImage);
    OutputEmptied();
    return 1;
  }
  // The output file's old content goes while the image is read; what could
  // not be emptied must not be written over.
  if (!OutputEmptied()) return 1;
  if (WriteImage(output, width, height, maxval, pixels.get(), &pass) != 0) {
    WriteMessage(kCouldNotWriteOutput);
    return 1;
  }
  return 0;
}
