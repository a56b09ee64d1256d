// The remap pass.
#include "remap.hpp"

#include <cstdint>

void RemapPixels(std::uint8_t* pixels, std::uint64_t pixelCount, const Configuration& config) {
  for (std::uint64_t k = 0; k < pixelCount; ++k) {
    std::uint8_t* pixel = pixels + 3 * k;
    const std::int32_t r = pixel[0], g = pixel[1], b = pixel[2];
    std::int32_t best = 0;
    std::int32_t bestDistance = 0;
    for (std::int32_t i = 0; i < config.count; ++i) {
      const std::int32_t dr = r - config.matchRed[i];
      const std::int32_t dg = g - config.matchGreen[i];
      const std::int32_t db = b - config.matchBlue[i];
      const std::int32_t distance = dr * dr + dg * dg + db * db;
      // Strictly less: a tie keeps the earlier signature.
      if (i == 0 || distance < bestDistance) {
        best = i;
        bestDistance = distance;
      }
    }
    pixel[0] = static_cast<std::uint8_t>(config.replaceRed[best]);
    pixel[1] = static_cast<std::uint8_t>(config.replaceGreen[best]);
    pixel[2] = static_cast<std::uint8_t>(config.replaceBlue[best]);
  }
}
