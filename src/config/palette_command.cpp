// remap-palette's command line turned into a PaletteCommand.
#include "config/palette_command.hpp"

#include <cstring>

#include "message.hpp"

namespace {

bool IsOption(const char* argument) {
  return std::strcmp(argument, "-in") == 0 || std::strcmp(argument, "-out") == 0;
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
  if (IsStandardInput(command.palette) && IsStandardInput(command.toPalette)) {
    return Fail(kBothPalettesOnStandardInput);
  }
  if ((IsStandardInput(command.palette) || IsStandardInput(command.toPalette)) &&
      PictureFromStandardInput(command.streamArguments)) {
    return Fail(kPaletteAndPictureOnStandardInput);
  }
  return 0;
}
