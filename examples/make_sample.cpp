// Writes a deterministic photo-like P6 picture to stdout: a sky gradient, a
// sun, rolling hills, a lake and fine grain, so it holds many thousands of
// colours like a real photograph. TEXTURE adds grain of that amplitude to
// each component on its own (a textured photograph); "noise" writes uniform
// noise instead. Usage: make_sample WIDTH HEIGHT [TEXTURE|noise]
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/platform.hpp"

namespace {

// Deterministic per-pixel grain in [-1, 1].
std::uint32_t Hash(std::uint32_t x, std::uint32_t y) {
  std::uint32_t h = x * 0x9E3779B1u ^ (y + 0x7F4A7C15u) * 0x85EBCA77u;
  h ^= h >> 15;
  h *= 0x2C1B3C6Du;
  h ^= h >> 12;
  return h;
}

double Grain(std::uint32_t x, std::uint32_t y) {
  return static_cast<double>(Hash(x, y) & 0xFFFF) / 32767.5 - 1.0;
}

std::uint8_t Clamp(double v) {
  return static_cast<std::uint8_t>(v < 0 ? 0 : v > 255 ? 255 : std::lround(v));
}

}  // namespace

int main(int argc, char** argv) {
  platform::UseBinaryStandardStreams();
  if (argc != 3 && argc != 4) {
    std::fputs("usage: make_sample WIDTH HEIGHT [TEXTURE|noise]\n", stderr);
    return 1;
  }
  const bool noise = argc == 4 && std::string(argv[3]) == "noise";
  const double texture = argc == 4 && !noise ? std::strtod(argv[3], nullptr) : 0.0;
  const long width = std::strtol(argv[1], nullptr, 10);
  const long height = std::strtol(argv[2], nullptr, 10);
  if (width < 1 || height < 1 || width > 65535 || height > 65535) {
    std::fputs("make_sample: sizes must be 1 to 65535\n", stderr);
    return 1;
  }
  std::printf("P6\n%ld %ld\n255\n", width, height);
  std::vector<std::uint8_t> row(static_cast<std::size_t>(width) * 3);
  for (long y = 0; y < height; ++y) {
    const double v = static_cast<double>(y) / static_cast<double>(height);
    for (long x = 0; x < width; ++x) {
      const double u = static_cast<double>(x) / static_cast<double>(width);
      const double hill = 0.62 + 0.08 * std::sin(u * 9.0) + 0.04 * std::sin(u * 23.0 + 1.0);
      const double lake = 0.86 + 0.02 * std::sin(u * 5.0);
      double r, g, b;
      if (v < hill) {  // sky, warmer near the horizon, with a sun
        r = 70 + 150 * v;
        g = 120 + 90 * v;
        b = 230 - 60 * v;
        const double du = (u - 0.72) * 1.6, dv = v - 0.25;
        const double sun = std::exp(-(du * du + dv * dv) * 90.0);
        r += 200 * sun;
        g += 170 * sun;
        b += 60 * sun;
      } else if (v < lake) {  // hills: greens and browns in bands
        const double t = (v - hill) / (lake - hill);
        const double band = 0.5 + 0.5 * std::sin(u * 40.0 + t * 12.0);
        r = 60 + 80 * band - 30 * t;
        g = 110 + 50 * band - 50 * t;
        b = 40 + 20 * band;
      } else {  // lake reflecting the sky
        const double t = (v - lake) / (1.0 - lake);
        const double ripple = 0.5 + 0.5 * std::sin(v * 400.0 + std::sin(u * 30.0) * 3.0);
        r = 50 + 40 * ripple;
        g = 90 + 50 * ripple - 20 * t;
        b = 150 + 60 * ripple - 40 * t;
      }
      const double grain =
          9.0 * Grain(static_cast<std::uint32_t>(x), static_cast<std::uint32_t>(y));
      std::uint8_t* p = &row[static_cast<std::size_t>(x) * 3];
      const auto ux = static_cast<std::uint32_t>(x), uy = static_cast<std::uint32_t>(y);
      if (noise) {
        const std::uint32_t h = Hash(ux, uy + 0x10000u);
        p[0] = static_cast<std::uint8_t>(h), p[1] = static_cast<std::uint8_t>(h >> 8),
        p[2] = static_cast<std::uint8_t>(h >> 16);
        continue;
      }
      p[0] = Clamp(r + grain + texture * Grain(ux, uy + 0x20000u));
      p[1] = Clamp(g + grain + texture * Grain(ux, uy + 0x30000u));
      p[2] = Clamp(b + grain + texture * Grain(ux, uy + 0x40000u));
    }
    std::fwrite(row.data(), 1, row.size(), stdout);
  }
  return std::fflush(stdout) == 0 ? 0 : 1;
}
