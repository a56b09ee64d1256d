// remap: recolours a binary PPM image with a table of colour signatures.
// Reads, remaps in place, writes; every failure exits with status 1.
#include <fcntl.h>

#include <cerrno>
#include <cstdint>
#include <memory>

#include "config/configuration.hpp"
#include "image/ppm_image.hpp"
#include "message.hpp"
#include "remap.hpp"

namespace {

// A file opened while a standard descriptor is closed would take its number:
// messages for stderr would then land in the "-out" file. Each closed one is
// taken by /dev/null, opened the wrong way round so that using it still fails
// as using a closed stream does.
void OccupyClosedStandardDescriptors() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (fcntl(fd, F_GETFD) == -1 && errno == EBADF) {
      open("/dev/null", fd == 0 ? O_WRONLY : O_RDONLY);
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  OccupyClosedStandardDescriptors();
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
