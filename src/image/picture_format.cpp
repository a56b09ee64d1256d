// Telling PNG from P6 by content, and the output's format by its name.
#include "image/picture_format.hpp"

#include <cctype>
#include <cstring>
#include <string>

#include "image/png_image.hpp"

namespace {

// True when `path` ends in `suffix` (lower case), in any case.
bool EndsWith(const char* path, const char* suffix) {
  const std::size_t length = std::strlen(path), suffixLength = std::strlen(suffix);
  if (length < suffixLength) return false;
  for (std::size_t i = 0; i < suffixLength; ++i) {
    const auto c = static_cast<unsigned char>(path[length - suffixLength + i]);
    if (std::tolower(c) != suffix[i]) return false;
  }
  return true;
}

}  // namespace

PictureFormat PeekFormat(std::FILE* input) {
  const int first = std::getc(input);
  if (first == EOF) return PictureFormat::kPpm;
  std::ungetc(first, input);
  return first == kPngSignature[0] ? PictureFormat::kPng : PictureFormat::kPpm;
}

PictureFormat OutputFormat(int argc, const char* const* argv, int first, PictureFormat input) {
  const char* output = nullptr;
  for (int i = first; i + 1 < argc; ++i) {
    if (std::strcmp(argv[i], "-in") == 0 || std::strcmp(argv[i], "-out") == 0) {
      if (argv[i][1] == 'o') output = argv[i + 1];
      ++i;
    }
  }
  if (output == nullptr) return input;
  if (EndsWith(output, ".png")) return PictureFormat::kPng;
  if (EndsWith(output, ".ppm") || EndsWith(output, ".pnm")) return PictureFormat::kPpm;
  return input;
}
