// remap: recolours a binary PPM image with a table of colour signatures.
// Reads, remaps in place as the raster arrives, writes; every failure exits
// with status 1.
#include <cstdio>
#include <cstring>
#include <string>

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
    "The manual has the details: ";

// "--help" or "--version" as the only argument. Returns the exit status:
// 0 once the text is out, 1 when standard output would not take it.
int Answer(const char* text) {
  return std::fputs(text, stdout) >= 0 && std::fflush(stdout) == 0 ? 0 : 1;
}

#ifdef REMAP_FORCED_SEARCH
bool ForcedSearch(const char* name, SearchChoice& search) {
  const char* const names[] = {"counted", "full", "union", "each16", "each8", "remember"};
  for (int s = 0; s < 6; ++s) {
    if (std::strcmp(name, names[s]) == 0) {
      search = static_cast<SearchChoice>(s);
      return true;
    }
  }
  return false;
}
#endif

}  // namespace

int main(int argc, char** argv) {
  platform::OccupyClosedStandardStreams();
  platform::UseBinaryStandardStreams();
  platform::LetOversizedWritesFail();
  argv = platform::Utf8Arguments(argc, argv);
  RemapOptions options;
#ifdef REMAP_FORCED_SEARCH
  // The benchmark's build: the first argument names the way every pixel is
  // searched, so that each can be timed from end to end.
  if (argc < 2 || !ForcedSearch(argv[1], options.search)) {
    std::fputs("usage: remap_forced counted|full|union|each16|each8|remember COUNT ...\n", stderr);
    return 1;
  }
  argv[1] = argv[0];
  ++argv;
  --argc;
#endif
  if (argc == 2 && std::strcmp(argv[1], "--help") == 0) {
    return Answer((std::string(kUsage) + platform::WhereTheManualIs("remap") + "\n").c_str());
  }
  if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
    return Answer("remap " REMAP_VERSION "\n");
  }
  Configuration config;
  if (Configure(argc, argv, config) != 0) {
    WriteMessage(kCouldNotLoadConfiguration);
    OutputEmptied();
    return 1;
  }
  const PreparedTable table = PrepareTable(config);
  if (!table) {
    WriteMessage(kCouldNotLoadConfiguration);
    return 1;
  }
  if (RemapImage(table, config.input, config.output, options) != 0) return 1;
  Deconfigure(config);
  return 0;
}
