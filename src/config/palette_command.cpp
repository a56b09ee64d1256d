// remap-palette's command line turned into a PaletteCommand.
#include "config/palette_command.hpp"

#include <cstring>

#include "message.hpp"

namespace {

bool IsOption(const char* argument) {
  return std::strcmp(argument, "-in") == 0 || std::strcmp(argument, "-out") == 0 ||
         std::strcmp(argument, "-dither") == 0;
}

// "fs", "ordered" or "ordered=STRENGTH" (decimal, 0 to 1023) into `command`.
bool ParseDither(const char* method, PaletteCommand& command) {
  if (std::strcmp(method, "fs") == 0) {
    command.dither = DitherMethod::kFloydSteinberg;
    return true;
  }
  constexpr char kOrdered[] = "ordered";
  constexpr std::size_t kLength = sizeof kOrdered - 1;
  if (std::strncmp(method, kOrdered, kLength) != 0) return false;
  command.dither = DitherMethod::kOrdered;
  command.strength = -1;
  if (method[kLength] == '\0') return true;
  const char* digits = method + kLength + 1;
  if (method[kLength] != '=' || *digits == '\0' || std::strlen(digits) > 4) return false;
  int strength = 0;
  for (const char* d = digits; *d != '\0'; ++d) {
    if (*d < '0' || *d > '9') return false;
    strength = strength * 10 + (*d - '0');
  }
  if (strength > 1023) return false;
  command.strength = strength;
  return true;
}

// Takes every "-dither METHOD" out of the options, into `command`. Returns
// 0, or 1 after one message.
int TakeDither(PaletteCommand& command) {
  std::vector<const char*>& options = command.streamArguments;
  std::vector<const char*> kept;
  for (std::size_t i = 0; i < options.size(); ++i) {
    if (std::strcmp(options[i], "-dither") != 0) {
      kept.push_back(options[i]);
      // A path after "-in" or "-out" is a path, even one named "-dither".
      if (IsOption(options[i]) && i + 1 < options.size()) kept.push_back(options[++i]);
      continue;
    }
    if (i + 1 == options.size()) return Fail(kMissingDitherMethod);
    if (!ParseDither(options[++i], command)) return Fail(kBadDitherMethod);
  }
  options = kept;
  return 0;
}

bool IsStandardInput(const char* path) { return path != nullptr && std::strcmp(path, "-") == 0; }

// True when no "-in PATH" names the picture, so it comes from standard input.
bool PictureFromStandardInput(const std::vector<const char*>& arguments) {
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    if (!IsOption(arguments[i]) || i + 1 == arguments.size()) continue;
    if (std::strcmp(arguments[i], "-in") == 0) return false;
    ++i;  // the path
  }
  return true;
}

}  // namespace

int ParsePaletteCommand(int argc, const char* const* argv, PaletteCommand& command) {
  if (argc == 2 && std::strcmp(argv[1], "--help") == 0) {
    command.action = PaletteCommand::Action::kHelp;
    return 0;
  }
  if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
    command.action = PaletteCommand::Action::kVersion;
    return 0;
  }
  if (argc < 2 || IsOption(argv[1])) return Fail(kPaletteSynopsis);
  int next = 1;
  command.palette = argv[next++];
  if (next < argc && !IsOption(argv[next])) command.toPalette = argv[next++];
  command.streamArguments.assign(argv + next, argv + argc);
  if (TakeDither(command) != 0) return 1;
  if (IsStandardInput(command.palette) && IsStandardInput(command.toPalette)) {
    return Fail(kBothPalettesOnStandardInput);
  }
  if ((IsStandardInput(command.palette) || IsStandardInput(command.toPalette)) &&
      PictureFromStandardInput(command.streamArguments)) {
    return Fail(kPaletteAndPictureOnStandardInput);
  }
  return 0;
}
