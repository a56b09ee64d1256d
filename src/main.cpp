// remap: recolours a binary PPM image with a table of colour signatures.
// Reads, remaps in place as the raster arrives, writes; every failure exits
// with status 1.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "config/configuration.hpp"
#include "image/ppm_image.hpp"
#include "message.hpp"
#include "platform/platform.hpp"
#include "remap.hpp"

namespace {

constexpr char kUsage[] =
    "Usage: remap COUNT SIGNATURE... [-in INPUT] [-out OUTPUT]\n"
    "Recolour a binary PPM image (P6): every pixel takes the replacement colour\n"
    "of the signature whose match colour is nearest to it.\n"
    "\n"
    "  COUNT       the number of signatures that follow, at least 1\n"
    "  SIGNATURE   #rrggbb:#rrggbb, a match colour and its replacement, e.g.\n"
    "              '#000000:#ffffff' turns the pixels nearest to black white\n"
    "  -in INPUT   read INPUT instead of standard input\n"
    "  -out OUTPUT write OUTPUT instead of standard output\n"
    "\n"
    "The manual has the details: ";

// "--help" or "--version" as the only argument. Returns the exit status:
// 0 once the text is out, 1 when standard output would not take it.
int Answer(const char* text) {
  return std::fputs(text, stdout) >= 0 && std::fflush(stdout) == 0 ? 0 : 1;
}

// Returns once the output file's old content, let go while the run went on,
// is gone: true, or false after saying that it could not be let go, which a
// failed run reports too, after its own failure.
bool Emptied() {
  if (platform::AwaitEmptied()) return true;
  WriteMessage(kFailedWritingData);
  WriteMessage(kCouldNotWriteOutput);
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  platform::OccupyClosedStandardStreams();
  platform::UseBinaryStandardStreams();
  platform::LetOversizedWritesFail();
  argv = platform::Utf8Arguments(argc, argv);
  if (argc == 2 && std::strcmp(argv[1], "--help") == 0) {
    return Answer((std::string(kUsage) + platform::WhereTheManualIs() + "\n").c_str());
  }
  if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
    return Answer("remap " REMAP_VERSION "\n");
  }
  Configuration config;
  if (Configure(argc, argv, config) != 0) {
    WriteMessage(kCouldNotLoadConfiguration);
    Emptied();
    return 1;
  }
  const PreparedTable table = PrepareTable(config);
  if (!table) {
    WriteMessage(kCouldNotLoadConfiguration);
    return 1;
  }
  std::uint16_t width = 0, height = 0, maxval = 0;
  std::unique_ptr<std::uint8_t[]> pixels;
  {
    // Each part of the raster is remapped as soon as it is read, and
    // written as soon as the read is complete and the part remapped.
    RemapPass pass(table);
    pixels = ReadImage(config.input, width, height, maxval, &pass);
    if (!pixels) {
      WriteMessage(kCouldNotReadImage);
      Emptied();
      return 1;
    }
    // The output file's old content goes while the image is read; what
    // could not be emptied must not be written over.
    if (!Emptied()) return 1;
    if (WriteImage(config.output, width, height, maxval, pixels.get(), &pass) != 0) {
      WriteMessage(kCouldNotWriteOutput);
      return 1;
    }
  }
  pixels.reset();
  Deconfigure(config);
  return 0;
}
