// remap: recolours a binary PPM image with a table of colour signatures.
// Reads, remaps in place, writes; every failure exits with status 1.
#include <cstdint>

#include "remap.hpp"

int main(int argc, char** argv) {
  Configuration config;
  if (Configure(argc, argv, config) != 0) {
    WriteMessage(kCouldNotLoadConfiguration);
    return 1;
  }
  std::uint16_t width = 0, height = 0, maxval = 0;
  std::unique_ptr<std::uint8_t[]> pixels = ReadImage(config.input, width, height, maxval);
  if (!pixels) {
    WriteMessage(kCouldNotReadImage);
    return 1;
  }
  RemapPixels(pixels.get(), std::uint64_t{width} * height, config);
  if (WriteImage(config.output, width, height, maxval, pixels.get()) != 0) {
    WriteMessage(kCouldNotWriteOutput);
    return 1;
  }
  pixels.reset();
  Deconfigure(config);
  return 0;
}
