// The remap rule in its plainest form, and signature tables to try it on:
// what tests, fuzz targets and benchmarks hold every fast pass to.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <random>
#include <string>

#include "config/configuration.hpp"

namespace reference {

// Per pixel, per signature, three double-precision squares added red, green,
// blue; a strictly smaller distance wins, so ties go to the earliest.
inline void ReferenceRemap(std::uint8_t* pixels, std::uint64_t pixelCount,
                           const Configuration& config) {
  for (std::uint64_t k = 0; k < pixelCount; ++k) {
    std::uint8_t* p = pixels + 3 * k;
    std::size_t best = 0;
    double bestDistance = 0;
    for (std::size_t i = 0; i < static_cast<std::size_t>(config.count); ++i) {
      const double dr = p[0] - config.matchRed[i];
      const double dg = p[1] - config.matchGreen[i];
      const double db = p[2] - config.matchBlue[i];
      const double d = dr * dr + dg * dg + db * db;
      if (i == 0 || d < bestDistance) {
        best = i;
        bestDistance = d;
      }
    }
    p[0] = static_cast<std::uint8_t>(config.replaceRed[best] & 0xFF);
    p[1] = static_cast<std::uint8_t>(config.replaceGreen[best] & 0xFF);
    p[2] = static_cast<std::uint8_t>(config.replaceBlue[best] & 0xFF);
  }
}

// A raster of `pixels` pseudo-random pixels, the same for the same seed.
inline std::string RandomRaster(std::size_t pixels, unsigned seed) {
  std::mt19937 random(seed);
  std::string raster(pixels * 3, '\0');
  for (char& byte : raster) byte = static_cast<char>(random() & 0xFF);
  return raster;
}

// A signature table of `count` entries, every component 0.
inline Configuration TableOf(int count) {
  Configuration config;
  config.count = count;
  for (auto* array : {&config.matchRed, &config.matchGreen, &config.matchBlue, &config.replaceRed,
                      &config.replaceGreen, &config.replaceBlue}) {
    array->reset(new std::int32_t[static_cast<std::size_t>(count)]());
  }
  return config;
}

// `count` signatures with match colours spread at random over the cube (the
// same for the same seed) and replacement colours that tell them apart.
inline Configuration RandomTable(int count, unsigned seed) {
  Configuration config = TableOf(count);
  std::mt19937 random(seed);
  for (std::size_t i = 0; i < static_cast<std::size_t>(count); ++i) {
    config.matchRed[i] = static_cast<std::int32_t>(random() % 256);
    config.matchGreen[i] = static_cast<std::int32_t>(random() % 256);
    config.matchBlue[i] = static_cast<std::int32_t>(random() % 256);
    config.replaceRed[i] = static_cast<std::int32_t>(i & 0xFF);
    config.replaceGreen[i] = static_cast<std::int32_t>((i >> 8) & 0xFF);
    config.replaceBlue[i] = 7;
  }
  return config;
}

}  // namespace reference
