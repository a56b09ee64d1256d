// remap-palette: recolours a binary PPM image with the colours of a palette
// (each pixel takes the nearest), or maps the colours of one palette onto
// those of another, place by place. Reads the palettes, turns them into
// signatures, and runs remap's pass on them; every failure exits with status 1.
#include <cstdio>
#include <new>
#include <string>

#include "config/configuration.hpp"
#include "config/palette.hpp"
#include "config/palette_command.hpp"
#include "message.hpp"
#include "platform/platform.hpp"
#include "remap.hpp"
#include "remap/picture_pass.hpp"

namespace {

constexpr char kHelp[] =
    "Recolour a binary PPM (P6) or PNG image with the colours of a palette.\n"
    "\n"
    "  PALETTE      the palette, told apart by what it holds: a GIMP palette\n"
    "               (.gpl), a JASC-PAL file, a Netpbm or PNG image whose pixels\n"
    "               are its colours, or a list of colours, one #rrggbb a line;\n"
    "               - reads it from standard input. Each pixel takes the\n"
    "               nearest of its colours\n"
    "  TO_PALETTE   a palette of as many colours: the nearest colour of PALETTE\n"
    "               is replaced by the colour at the same place in TO_PALETTE\n"
    "  -in INPUT    read INPUT (P6 or PNG) instead of standard input\n"
    "  -out OUTPUT  write OUTPUT instead of standard output: PNG if its name\n"
    "               ends in .png, P6 if in .ppm or .pnm, else as the input\n"
    "               (transparency and colour chunks of a PNG kept)\n"
    "  -dither fs   spread each pixel's error over its neighbours (Floyd-Steinberg)\n"
    "  -dither ordered[=STRENGTH]\n"
    "               add an 8 x 8 pattern first, as strong as the palette's colours\n"
    "               lie apart or STRENGTH (0 to 1023)\n"
    "\n"
    "The manual has the details: ";

int Answer(const char* first, const char* second = "") {
  return std::fputs(first, stdout) >= 0 && std::fputs(second, stdout) >= 0 &&
                 std::fflush(stdout) == 0
             ? 0
             : 1;
}

// The palettes as signatures in `config`. Returns 0, or 1 after one message.
int LoadSignatures(const PaletteCommand& command, Configuration& config) {
  try {
    return LoadPaletteSignatures(command.palette, command.toPalette, config);
  } catch (const std::bad_alloc&) {
    return Fail("remap-palette: not enough memory for the palette\n");
  }
}

}  // namespace

int main(int argc, char** argv) {
  platform::OccupyClosedStandardStreams();
  platform::UseBinaryStandardStreams();
  platform::LetOversizedWritesFail();
  argv = platform::Utf8Arguments(argc, argv);
  PaletteCommand command;
  if (ParsePaletteCommand(argc, argv, command) != 0) return 1;
  if (command.action == PaletteCommand::Action::kHelp)
    return Answer(kPaletteSynopsis,
                  (kHelp + platform::WhereTheManualIs("remap-palette") + "\n").c_str());
  if (command.action == PaletteCommand::Action::kVersion) {
    return Answer("remap-palette " REMAP_VERSION "\n");
  }
  // The palettes are read and checked before the output is opened, so that
  // a bad palette leaves it as it was.
  Configuration config;
  if (LoadSignatures(command, config) != 0) return 1;
  if (ConfigureStreams(static_cast<int>(command.streamArguments.size()),
                       command.streamArguments.data(), 0, config) != 0) {
    WriteMessage(kCouldNotLoadConfiguration);
    OutputEmptied();
    return 1;
  }
  const PreparedTable table = PrepareTable(config);
  if (!table) {
    WriteMessage(kCouldNotLoadConfiguration);
    return 1;
  }
  const PictureFormat output =
      OutputFormat(static_cast<int>(command.streamArguments.size()), command.streamArguments.data(),
                   0, PeekFormat(config.input));
  if (RemapPicture(table, config.input, config.output, output, command.dither, command.strength) !=
      0) {
    return 1;
  }
  Deconfigure(config);
  return 0;
}
