// The remap rule in its plainest form, and signature tables to try it on:
// what tests, fuzz targets and benchmarks hold every fast pass to.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <random>
#include <string>
#include <unordered_map>

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

// The same rule, worked out once per distinct colour: as fast as the picture
// has few colours (swatches, palette pictures), so large tables stay cheap.
inline void ReferenceRemapByColour(std::uint8_t* pixels, std::uint64_t pixelCount,
                                   const Configuration& config) {
  std::unordered_map<std::uint32_t, std::uint32_t> known;
  for (std::uint64_t k = 0; k < pixelCount; ++k) {
    std::uint8_t* p = pixels + 3 * k;
    const std::uint32_t colour =
        std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16;
    auto found = known.find(colour);
    if (found == known.end()) {
      ReferenceRemap(p, 1, config);
      found = known
                  .emplace(colour, std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 |
                                       std::uint32_t{p[2]} << 16)
                  .first;
    }
    p[0] = static_cast<std::uint8_t>(found->second);
    p[1] = static_cast<std::uint8_t>(found->second >> 8);
    p[2] = static_cast<std::uint8_t>(found->second >> 16);
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

// Palettes and pictures of the kinds people bring, for checking a fast pass
// against the rule where it is easiest to get wrong: exact matches (distance
// 0), ties between duplicates, flat areas beside busy ones.
enum class PaletteKind {
  kSpread,      // anywhere in -15..255
  kSnapped,     // a grid of levels per component, each colour mapped to itself
  kDuplicated,  // few match colours, each given many times with other replacements
  kClustered,   // all close together, a few at the extremes
};
enum class PictureKind {
  kNoise,       // every pixel random
  kSmooth,      // gradients with a little grain
  kSwatches,    // flat blocks of palette and other colours
  kPaletteRow,  // the palette's colours in the first row, one colour elsewhere
  kExact,       // runs of the palette's own match colours
  kLastOdd,     // one colour, but a palette colour at the last pixel of every 64
};

struct Scene {
  Configuration config;
  std::string raster;
};

// What MakeScene makes: `count` signatures of `palette`, a `width` x
// `height` picture of `picture`.
struct SceneKind {
  PaletteKind palette;
  PictureKind picture;
  int count;
  std::size_t width, height;
};

inline std::uint8_t Clamped(std::int32_t v) {
  return static_cast<std::uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v);
}

// `count` signatures of `palette` and a `width` x `height` picture of
// `picture`, the same for the same seed.
inline Scene MakeScene(PaletteKind palette, PictureKind picture, int count, std::size_t width,
                       std::size_t height, unsigned seed) {
  Scene scene{TableOf(count), std::string(width * height * 3, '\0')};
  Configuration& c = scene.config;
  std::mt19937 random(seed);
  const auto n = static_cast<std::size_t>(count);
  int levels = 2;
  while (levels * levels * levels < count && levels < 256) ++levels;
  const std::size_t distinct = n / 8 + 1;
  for (std::size_t i = 0; i < n; ++i) {
    std::int32_t m[3] = {0, 0, 0};
    for (std::size_t j = 0; j < 3; ++j) {
      switch (palette) {
        case PaletteKind::kSpread:
          m[j] = static_cast<std::int32_t>(random() % 271) - 15;
          break;
        case PaletteKind::kSnapped: {
          std::size_t place = i;
          for (std::size_t k = 0; k < j; ++k) place /= static_cast<std::size_t>(levels);
          m[j] = static_cast<std::int32_t>(place % static_cast<std::size_t>(levels)) * 255 /
                 (levels - 1);
          break;
        }
        case PaletteKind::kDuplicated:
          m[j] = static_cast<std::int32_t>((i % distinct) * (37 + 50 * j) % 256);
          break;
        case PaletteKind::kClustered:
          m[j] = random() % 16 == 0 ? (random() % 2 ? -15 : 255)
                                    : 100 + static_cast<std::int32_t>(random() % 24);
          break;
      }
    }
    c.matchRed[i] = m[0], c.matchGreen[i] = m[1], c.matchBlue[i] = m[2];
    const bool itself = palette == PaletteKind::kSnapped;
    c.replaceRed[i] = itself ? m[0] : static_cast<std::int32_t>(i & 0xFF);
    c.replaceGreen[i] = itself ? m[1] : static_cast<std::int32_t>((i >> 8) & 0xFF);
    c.replaceBlue[i] = itself ? m[2] : 0x5a;
  }
  auto matchOf = [&](std::size_t i) {
    return std::string{static_cast<char>(Clamped(c.matchRed[i % n])),
                       static_cast<char>(Clamped(c.matchGreen[i % n])),
                       static_cast<char>(Clamped(c.matchBlue[i % n]))};
  };
  std::string run;  // kExact: the colour of the current run
  for (std::size_t y = 0; y < height; ++y) {
    for (std::size_t x = 0; x < width; ++x) {
      std::string rgb(3, '\0');
      switch (picture) {
        case PictureKind::kNoise:
          for (char& b : rgb) b = static_cast<char>(random() & 0xFF);
          break;
        case PictureKind::kSmooth: {
          const auto grain = static_cast<std::int32_t>(random() % 7);
          rgb = {static_cast<char>(Clamped(static_cast<std::int32_t>(x * 255 / width) + grain)),
                 static_cast<char>(Clamped(static_cast<std::int32_t>(y * 255 / height) + grain)),
                 static_cast<char>(Clamped(static_cast<std::int32_t>((x + y) % 256) / 2 + grain))};
          break;
        }
        case PictureKind::kSwatches: {
          const std::size_t block = (x / 37) * 7919 + (y / 23) * 104729 + seed;
          rgb = block % 3 == 0 ? std::string(3, static_cast<char>(block % 251))
                               : matchOf(block % 1009);
          break;
        }
        case PictureKind::kPaletteRow:
          rgb = y == 0 ? matchOf(x) : std::string(3, '\x20');
          break;
        case PictureKind::kLastOdd:
          rgb = (y * width + x) % 64 == 63 ? matchOf(random()) : std::string(3, '\x20');
          break;
        case PictureKind::kExact:
          if (run.empty() || random() % 50 == 0) run = matchOf(random());
          rgb = run;
          break;
      }
      scene.raster.replace(3 * (y * width + x), 3, rgb);
    }
  }
  return scene;
}

inline Scene MakeScene(const SceneKind& kind, unsigned seed) {
  return MakeScene(kind.palette, kind.picture, kind.count, kind.width, kind.height, seed);
}

}  // namespace reference
