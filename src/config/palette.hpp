// Palettes: the colours a palette file holds, in its order, whatever its kind,
// recognised by what the file holds and not by its name: Netpbm images, GIMP
// palettes, JASC-PAL files and lists of colours. A palette is refused, never
// partly read: every refusal says what was expected, and for text on which line.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "config/configuration.hpp"

// What a palette line or image was expected to be (the end of a refusal).
inline constexpr char kExpectedGimpColour[] = "not a colour (R G B, each 0 to 255)";
inline constexpr char kExpectedListColour[] = "not a colour (#rrggbb)";
inline constexpr char kExpectedSpaceAfterColour[] =
    "not a colour (#rrggbb, then a space or tab before any name)";
inline constexpr char kExpectedColourOrComment[] = "not a colour (#rrggbb) nor a comment";
inline constexpr char kExpectedJascVersion[] = "not a JASC-PAL version (0100)";
inline constexpr char kExpectedJascCount[] = "not a colour count";
inline constexpr char kJascTooFew[] = "fewer colours than the JASC-PAL header's count";
inline constexpr char kJascTooMany[] = "more colours than the JASC-PAL header's count";

// A colour, 0xRRGGBB.
using PaletteColour = std::uint32_t;

// Why a palette was refused: what was wrong, and the line (from 1) of a text
// palette it was found on, or 0.
struct PaletteProblem {
  std::size_t line = 0;
  std::string what;
};

// One kind of palette: its name, whether the bytes (after a UTF-8 byte-order
// mark) are of that kind, and how its colours are read, in order and with
// repeats. The last kind, the list, takes whatever the others do not.
struct PaletteReader {
  const char* name;
  bool (*recognises)(std::string_view bytes);
  bool (*read)(std::string_view bytes, std::vector<PaletteColour>& colours,
               PaletteProblem& problem);
};

// The kinds in the order they are tried.
const std::vector<PaletteReader>& PaletteReaders();

// The reader for `bytes`, a UTF-8 byte-order mark already skipped.
const PaletteReader& ReaderFor(std::string_view bytes);

// The colours of the palette whose whole content is `bytes`, in its order and
// with any repeats. Returns true, or false with `problem` filled; `colours`
// then holds no meaning.
bool ParsePalette(std::string_view bytes, std::vector<PaletteColour>& colours,
                  PaletteProblem& problem);

// Reads the palettes at `path` (UTF-8; "-" is standard input) and, unless it
// is null, `toPath`, and fills `config`'s signatures: one for each colour of
// the first palette, mapped to itself, or to the colour at the same place of
// the second; a colour that comes again later is dropped (the earlier one
// always wins the tie). Returns 0, or 1 after one line on stderr,
// "remap-palette: " and what was wrong, naming the file (and the line).
// Leaves config's streams alone. Throws std::bad_alloc when memory is short.
int LoadPaletteSignatures(const char* path, const char* toPath, Configuration& config);
