// remap: recolours a binary PPM image with a table of colour signatures.
// Reads, remaps in place as the raster arrives, writes; every failure exits
// with status 1.
#include <cstdio>
#include <cstring>

#include "config/configuration.hpp"
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
    "The manual has the details: man remap\n";

// "--help" or "--version" as the only argument. Returns the exit status:
// 0 once the text is out, 1 when standard output would not take it.
int Answer(const char* text) {
  return std::fputs(text, stdout) >= 0 && std::fflush(stdout) == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  platform::OccupyClosedStandardStreams();
  platform::UseBinaryStandardStreams();
  platform::LetOversizedWritesFail();
  argv = platform::Utf8Arguments(argc, argv);
  if (argc == 2 && std::strcmp(argv[1], "--help") == 0) return Answer(kUsage);
  if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
    return Answer("remap " REMAP_VERSION "\n");
  }
  Configuration config;
  if (Configure(argc, argv, config) != 0) {
    WriteMessage(kCouldNotLoadConfiguration);
    return 1;
  }
  const PreparedTable table = PrepareTable(config);
  if (!table) {
    WriteMessage(kCouldNotLoadConfiguration);
    return 1;
  }
  if (RemapImage(table, config.input, config.output) != 0) return 1;
  Deconfigure(config);
  return 0;
}
