// remap-palette's command line: the palettes, then remap's "-in" and "-out"
// options. Refuses a missing palette and a standard input asked to hold two
// things.
#pragma once

#include <vector>

#include "remap/dither.hpp"

inline constexpr char kPaletteSynopsis[] =
    "Usage: remap-palette PALETTE [TO_PALETTE] [-in INPUT] [-out OUTPUT] [-dither METHOD]\n";
inline constexpr char kMissingDitherMethod[] =
    "remap-palette: -dither needs a method: fs, ordered or ordered=STRENGTH\n";
inline constexpr char kBadDitherMethod[] =
    "remap-palette: unknown dithering method (fs, ordered, or ordered=STRENGTH with STRENGTH from "
    "0 "
    "to 1023)\n";
inline constexpr char kPaletteAndPictureOnStandardInput[] =
    "remap-palette: standard input cannot hold both a palette and the picture (name the picture "
    "with -in)\n";
inline constexpr char kBothPalettesOnStandardInput[] =
    "remap-palette: standard input cannot hold both palettes\n";

// Everything the user asked for.
struct PaletteCommand {
  enum class Action { kRecolour, kHelp, kVersion } action = Action::kRecolour;
  const char* palette = nullptr;    // UTF-8 path, or "-" for standard input
  const char* toPalette = nullptr;  // null: each colour maps to itself
  // What follows the palettes, in order, for ConfigureStreams: "-in PATH"
  // and "-out PATH" (anything else is refused there, as remap refuses it).
  std::vector<const char*> streamArguments;
  // "-dither METHOD", anywhere among "-in" and "-out": none, "fs", "ordered"
  // (strength -1: chosen from the palette) or "ordered=STRENGTH".
  DitherMethod dither = DitherMethod::kNone;
  int strength = -1;
};

// Fills `command` from the arguments (argv[0] is the program name): "--help"
// or "--version" alone; else PALETTE, then TO_PALETTE unless the next
// argument is an option, then the options; the last "-dither" counts. Returns 0, or 1 after writing
// the synopsis or one line saying what is wrong to stderr.
int ParsePaletteCommand(int argc, const char* const* argv, PaletteCommand& command);
