// Test inputs built from descriptions: P6 files with chosen header spacing,
// pseudo-random rasters, and signature tables from "#rrggbb:#rrggbb" text.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "config/configuration.hpp"
#include "image/ppm_image.hpp"
#include "remap_reference.hpp"
#include "stderr_capture.hpp"

namespace test {

// A P6 file from a description: the header pieces and separators are given so
// odd spacing can be built without counting bytes.
struct Ppm {
  std::string width = "2", height = "1", maxval = "255";
  std::string afterMagic = "\n", betweenSizes = " ", afterSizes = "\n", delimiter = "\n";
  std::string raster = std::string("\x10\x20\x30\xff\x00\x7f", 6);
  std::string Bytes() const {
    return "P6" + afterMagic + width + betweenSizes + height + afterSizes + maxval + delimiter +
           raster;
  }
};

const char kSig[] = "#000000:#ffffff";

using reference::RandomRaster;

// Reads `bytes` with the program's own reader, its message (if any) dropped:
// the header values and raster a run on these bytes works on.
inline bool ReadWithLibrary(const std::string& bytes, Ppm& ppm) {
  std::FILE* input = TemporaryFile();
  std::fwrite(bytes.data(), 1, bytes.size(), input);
  std::rewind(input);
  std::uint16_t width, height, maxval;
  std::unique_ptr<std::uint8_t[]> pixels;
  CaptureStderr([&] { pixels = ReadImage(input, width, height, maxval); });
  std::fclose(input);
  if (!pixels) return false;
  ppm.width = std::to_string(width);
  ppm.height = std::to_string(height);
  ppm.maxval = std::to_string(maxval);
  ppm.raster.assign(reinterpret_cast<const char*>(pixels.get()), RasterBytes(width, height));
  return true;
}

// A Configuration filled by Configure from "#rrggbb:#rrggbb" strings.
inline Configuration MakeConfiguration(const std::vector<std::string>& signatures) {
  std::vector<std::string> args = {"remap", std::to_string(signatures.size())};
  args.insert(args.end(), signatures.begin(), signatures.end());
  std::vector<const char*> argv;
  for (const std::string& a : args) argv.push_back(a.c_str());
  Configuration config;
  Configure(static_cast<int>(argv.size()), argv.data(), config);
  return config;
}

}  // namespace test
