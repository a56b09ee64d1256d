// Any bytes through the palette reader, whichever kind they start as: it
// reads them or refuses them with a reason (and, for text, a line that
// exists), never reading past the end; what it reads again as a list gives
// the same colours.
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "config/palette.hpp"
#include "fuzz_check.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  std::vector<PaletteColour> colours;
  PaletteProblem problem;
  if (!ParsePalette(bytes, colours, problem)) {
    FUZZ_CHECK(!problem.what.empty());
    FUZZ_CHECK(problem.line <= size + 1);
    return 0;
  }
  std::string list;
  for (const PaletteColour colour : colours) {
    FUZZ_CHECK(colour <= 0xFFFFFF);
    char line[16];
    std::snprintf(line, sizeof line, "#%06x\n", colour);
    list += line;
  }
  std::vector<PaletteColour> again;
  FUZZ_CHECK(ParsePalette(list, again, problem));
  FUZZ_CHECK(again == colours);
  return 0;
}
