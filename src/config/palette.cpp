// Palette files read for their colours, and turned into signatures.
#include "config/palette.hpp"

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "image/netpbm.hpp"
#include "image/png_image.hpp"
#include "platform/platform.hpp"

namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  const char lower = static_cast<char>(c | 0x20);
  return lower >= 'a' && lower <= 'f' ? lower - 'a' + 10 : -1;
}

// Calls `take(line, number)` for each line of `bytes`, its end ("\n" or
// "\r\n") left out, numbered from 1, until `take` returns false. Returns
// whether every line was taken.
template <typename Take>
bool EachLine(std::string_view bytes, Take take) {
  std::size_t number = 0;
  for (std::size_t start = 0; start < bytes.size();) {
    std::size_t end = bytes.find('\n', start);
    const std::size_t next = end == std::string_view::npos ? bytes.size() : end + 1;
    if (end == std::string_view::npos) end = bytes.size();
    std::string_view line = bytes.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (!take(line, ++number)) return false;
    start = next;
  }
  return true;
}

std::string_view FirstLine(std::string_view bytes) {
  std::string_view line = bytes.substr(0, bytes.find('\n'));
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  return line;
}

std::string_view SkipBlanks(std::string_view text) {
  std::size_t k = 0;
  while (k < text.size() && IsBlank(text[k])) ++k;
  return text.substr(k);
}

// The next word (a run of anything but blanks) of `text`, taken off it.
std::string_view TakeWord(std::string_view& text) {
  text = SkipBlanks(text);
  std::size_t k = 0;
  while (k < text.size() && !IsBlank(text[k])) ++k;
  const std::string_view word = text.substr(0, k);
  text.remove_prefix(k);
  return word;
}

// Decimal digits alone, at most `limit`.
bool Decimal(std::string_view word, std::uint64_t limit, std::uint64_t& value) {
  if (word.empty()) return false;
  value = 0;
  for (const char c : word) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<std::uint64_t>(c - '0');
    if (value > limit) return false;
  }
  return true;
}

// "R G B" at the start of `text`, three decimal words of 0 to 255; what
// follows them is left in `text`.
bool DecimalColour(std::string_view& text, PaletteColour& colour) {
  colour = 0;
  for (int k = 0; k < 3; ++k) {
    std::uint64_t component = 0;
    if (!Decimal(TakeWord(text), 255, component)) return false;
    colour = colour << 8 | static_cast<PaletteColour>(component);
  }
  return true;
}

bool Refuse(PaletteProblem& problem, std::size_t line, std::string what) {
  problem.line = line;
  problem.what = std::move(what);
  return false;
}

bool IsNetpbm(std::string_view bytes) { return LooksLikeNetpbm(bytes); }
bool IsPng(std::string_view bytes) {
  return HasPngSignature(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
}
bool IsGimp(std::string_view bytes) { return FirstLine(bytes) == "GIMP Palette"; }
bool IsJasc(std::string_view bytes) { return FirstLine(bytes) == "JASC-PAL"; }
bool IsList(std::string_view) { return true; }

bool ReadNetpbm(std::string_view bytes, std::vector<PaletteColour>& colours,
                PaletteProblem& problem) {
  problem.line = 0;
  return ReadNetpbmColours(bytes, colours, problem.what);
}

// A PNG image's pixels, whatever its colour type; alpha is ignored.
bool ReadPngPalette(std::string_view bytes, std::vector<PaletteColour>& colours,
                    PaletteProblem& problem) {
  PngImage image;
  const char* message =
      DecodePng(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size(), image);
  if (message != nullptr) {
    // The reader's sentence, as a refusal's end: "corrupt or truncated PNG file".
    std::string what(message);
    while (!what.empty() && (what.back() == '\n' || what.back() == '.')) what.pop_back();
    if (!what.empty()) what[0] = static_cast<char>(std::tolower(what[0]));
    return Refuse(problem, 0, what);
  }
  const std::size_t pixels = std::size_t{image.width} * image.height;
  colours.reserve(colours.size() + pixels);
  for (std::size_t i = 0; i < pixels; ++i) {
    const std::uint8_t* p = image.rgb.get() + 3 * i;
    colours.push_back(PaletteColour{p[0]} << 16 | PaletteColour{p[1]} << 8 | p[2]);
  }
  return true;
}

// After the "GIMP Palette" line: "R G B" and an optional name a line, among
// blank lines, "#" comments and "Name:" and "Columns:" lines.
bool ReadGimp(std::string_view bytes, std::vector<PaletteColour>& colours,
              PaletteProblem& problem) {
  return EachLine(bytes, [&](std::string_view line, std::size_t number) {
    std::string_view rest = SkipBlanks(line);
    if (number == 1 || rest.empty() || rest[0] == '#' || line.substr(0, 5) == "Name:" ||
        line.substr(0, 8) == "Columns:") {
      return true;
    }
    PaletteColour colour;
    if (!DecimalColour(rest, colour) || (!rest.empty() && !IsBlank(rest[0]))) {
      return Refuse(problem, number, kExpectedGimpColour);
    }
    colours.push_back(colour);
    return true;
  });
}

// "JASC-PAL", "0100", the number of colours, then that many "R G B" lines;
// blank lines are skipped.
bool ReadJasc(std::string_view bytes, std::vector<PaletteColour>& colours,
              PaletteProblem& problem) {
  std::uint64_t count = 0;
  std::size_t lines = 0;
  const std::size_t first = colours.size();
  const bool read = EachLine(bytes, [&](std::string_view line, std::size_t number) {
    lines = number;
    std::string_view rest = line;
    const std::string_view word = TakeWord(rest);
    const bool alone = SkipBlanks(rest).empty();
    if (number == 1) return true;
    if (number == 2)
      return word == "0100" && alone ? true : Refuse(problem, 2, kExpectedJascVersion);
    if (number == 3) {
      // A count beyond any file's colours is as wrong as any other mismatch.
      return Decimal(word, std::uint64_t{1} << 40, count) && alone
                 ? true
                 : Refuse(problem, 3, kExpectedJascCount);
    }
    if (word.empty()) return true;
    rest = line;
    PaletteColour colour;
    if (!DecimalColour(rest, colour) || !SkipBlanks(rest).empty()) {
      return Refuse(problem, number, kExpectedGimpColour);
    }
    if (colours.size() - first == count) {
      return Refuse(problem, number,
                    std::string(kJascTooMany) + " (" + std::to_string(count) + ")");
    }
    colours.push_back(colour);
    return true;
  });
  if (!read) return false;
  if (lines < 3)
    return Refuse(problem, lines + 1, lines < 2 ? kExpectedJascVersion : kExpectedJascCount);
  if (colours.size() - first != count) {
    return Refuse(problem, 3,
                  std::string(kJascTooFew) + " (" + std::to_string(count) + " counted, " +
                      std::to_string(colours.size() - first) + " listed)");
  }
  return true;
}

// A line of a list: blank; a comment, "#" followed by anything but hex
// digits alone; or a colour, six hex digits with or without a "#" before
// them, then blanks and any name, or nothing.
bool ReadList(std::string_view bytes, std::vector<PaletteColour>& colours,
              PaletteProblem& problem) {
  return EachLine(bytes, [&](std::string_view line, std::size_t number) {
    std::string_view rest = SkipBlanks(line);
    if (rest.empty()) return true;
    const bool hash = rest[0] == '#';
    if (hash) rest.remove_prefix(1);
    std::size_t digits = 0;
    PaletteColour colour = 0;
    for (; digits < rest.size() && HexValue(rest[digits]) >= 0; ++digits) {
      colour = colour << 4 | static_cast<PaletteColour>(HexValue(rest[digits]));
    }
    const bool wordEnds = digits == rest.size() || IsBlank(rest[digits]);
    if (digits == 6 && wordEnds) {
      colours.push_back(colour);
      return true;
    }
    if (hash && wordEnds && digits > 0) return Refuse(problem, number, kExpectedListColour);
    // Six digits or more with something else joined on: a colour misspelt.
    if (digits >= 6) return Refuse(problem, number, kExpectedSpaceAfterColour);
    if (hash) return true;  // "#", "# sea", "#define"
    return Refuse(problem, number, kExpectedColourOrComment);
  });
}

// Reads all of `stream`. False on a read error.
bool ReadAll(std::FILE* stream, std::string& bytes) {
  char buffer[1 << 16];
  std::size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, stream)) > 0) bytes.append(buffer, got);
  return std::ferror(stream) == 0;
}

void Tell(const std::string& text) {
  const std::string line = "remap-palette: " + text + "\n";
  std::fwrite(line.data(), 1, line.size(), stderr);
}

// The colours of the palette at `path`, in order, with repeats. Returns 0, or
// 1 after one line on stderr.
int LoadPalette(const char* path, std::vector<PaletteColour>& colours) {
  const bool standard = std::string_view(path) == "-";
  const std::string name = standard ? "standard input" : path;
  std::FILE* stream = standard ? stdin : platform::OpenFile(path, "rb");
  std::string bytes;
  const bool read = stream != nullptr && ReadAll(stream, bytes);
  if (stream != nullptr && !standard) std::fclose(stream);
  if (!read) {
    Tell("cannot read palette " + name);
    return 1;
  }
  PaletteProblem problem;
  if (!ParsePalette(bytes, colours, problem)) {
    Tell(name + (problem.line > 0 ? " line " + std::to_string(problem.line) : "") + ": " +
         problem.what);
    return 1;
  }
  if (colours.empty()) {
    Tell("palette " + name + " holds no colours");
    return 1;
  }
  return 0;
}

// The places of the colours that come for the first time, in order, in time
// linear in the palette: a palette of up to 4,096 colours is looked up in an
// open-addressed table of twice its size (whatever colours it holds, at most
// 4,096 probes each), a larger one in a bit for each of the 2^24 colours,
// whose 2 MiB would cost a small palette more than all else it does.
std::vector<std::size_t> FirstOccurrences(const std::vector<PaletteColour>& colours) {
  std::vector<std::size_t> firsts;
  if (colours.size() > 4096) {
    std::vector<std::uint64_t> seen(std::size_t{1} << 18);
    for (std::size_t i = 0; i < colours.size(); ++i) {
      std::uint64_t& word = seen[colours[i] >> 6];
      const std::uint64_t bit = std::uint64_t{1} << (colours[i] & 63);
      if ((word & bit) == 0) firsts.push_back(i);
      word |= bit;
    }
    return firsts;
  }
  constexpr PaletteColour kEmpty = 0xFFFFFFFF;  // no 24-bit colour
  int bits = 4;
  while ((std::size_t{1} << bits) < 2 * colours.size()) ++bits;
  const std::size_t size = std::size_t{1} << bits;
  std::vector<PaletteColour> slots(size, kEmpty);
  for (std::size_t i = 0; i < colours.size(); ++i) {
    // The top bits of the product: they depend on every bit of the colour.
    std::size_t slot = static_cast<std::uint32_t>(colours[i] * 2654435761u) >> (32 - bits);
    while (slots[slot] != kEmpty && slots[slot] != colours[i]) slot = (slot + 1) & (size - 1);
    if (slots[slot] == kEmpty) firsts.push_back(i);
    slots[slot] = colours[i];
  }
  return firsts;
}

}  // namespace

const std::vector<PaletteReader>& PaletteReaders() {
  static const std::vector<PaletteReader> kReaders = {
      {"PNG image", IsPng, ReadPngPalette},  {"Netpbm image", IsNetpbm, ReadNetpbm},
      {"GIMP palette", IsGimp, ReadGimp},    {"JASC-PAL palette", IsJasc, ReadJasc},
      {"list of colours", IsList, ReadList},
  };
  return kReaders;
}

const PaletteReader& ReaderFor(std::string_view bytes) {
  for (const PaletteReader& reader : PaletteReaders()) {
    if (reader.recognises(bytes)) return reader;
  }
  return PaletteReaders().back();
}

bool ParsePalette(std::string_view bytes, std::vector<PaletteColour>& colours,
                  PaletteProblem& problem) {
  if (bytes.substr(0, kByteOrderMark.size()) == kByteOrderMark) {
    bytes.remove_prefix(kByteOrderMark.size());
  }
  return ReaderFor(bytes).read(bytes, colours, problem);
}

int LoadPaletteSignatures(const char* path, const char* toPath, Configuration& config) {
  std::vector<PaletteColour> from, to;
  if (LoadPalette(path, from) != 0) return 1;
  if (toPath != nullptr) {
    if (LoadPalette(toPath, to) != 0) return 1;
    if (to.size() != from.size()) {
      Tell(std::string(path) + " and " + toPath + " differ in size (" +
           std::to_string(from.size()) + " and " + std::to_string(to.size()) + " colours)");
      return 1;
    }
  }
  const std::vector<std::size_t> kept = FirstOccurrences(from);
  // At most 2^24 colours are kept, so the count fits.
  config.count = static_cast<std::int32_t>(kept.size());
  for (std::unique_ptr<std::int32_t[]>* array :
       {&config.matchRed, &config.matchGreen, &config.matchBlue, &config.replaceRed,
        &config.replaceGreen, &config.replaceBlue}) {
    array->reset(new std::int32_t[kept.size()]);
  }
  for (std::size_t k = 0; k < kept.size(); ++k) {
    const PaletteColour match = from[kept[k]];
    const PaletteColour replace = toPath != nullptr ? to[kept[k]] : match;
    config.matchRed[k] = static_cast<std::int32_t>(match >> 16);
    config.matchGreen[k] = static_cast<std::int32_t>(match >> 8 & 0xFF);
    config.matchBlue[k] = static_cast<std::int32_t>(match & 0xFF);
    config.replaceRed[k] = static_cast<std::int32_t>(replace >> 16);
    config.replaceGreen[k] = static_cast<std::int32_t>(replace >> 8 & 0xFF);
    config.replaceBlue[k] = static_cast<std::int32_t>(replace & 0xFF);
  }
  return 0;
}
