// Bytes made into a signature table and a picture of a kind people bring
// (palettes snapped, duplicated or clustered; swatches, palette rows, exact
// matches, odd pixels in flat areas, gradients, noise), up to thousands of signatures and tens of
// thousands of pixels, the input's own bytes laid over both; every kernel
// this processor has, each way of searching and threads must give the plain
// rule's bytes.
#include <cstdint>
#include <cstring>
#include <vector>

#include "fuzz_check.hpp"
#include "remap.hpp"
#include "remap_reference.hpp"

namespace {

std::uint32_t Take(const std::uint8_t*& p, int bytes) {
  std::uint32_t value = 0;
  for (int i = 0; i < bytes; ++i) value = value << 8 | *p++;
  return value;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  constexpr std::size_t kHeader = 9;
  if (size < kHeader) return 0;
  const std::uint8_t* p = data;
  int count = 1 + static_cast<int>(Take(p, 2) % 6000);
  const std::uint32_t kinds = Take(p, 1);
  const auto palette = static_cast<reference::PaletteKind>(kinds & 3);
  const auto picture = static_cast<reference::PictureKind>((kinds >> 2) % 6);
  const auto search = static_cast<SearchChoice>((kinds >> 5) % 6);
  const unsigned threads = 1 + Take(p, 1) % 4;
  const std::size_t width = 1 + Take(p, 2) % 1100;
  std::size_t height = 1 + Take(p, 2) % 80;
  const unsigned seed = Take(p, 1);
  // The plain rule works once per distinct colour: keep that within reach.
  while (height > 1 && width * height * static_cast<std::size_t>(count) > (std::size_t{1} << 21)) {
    --height;
  }
  while (width * height * static_cast<std::size_t>(count) > (std::size_t{1} << 21)) count /= 2;
  reference::Scene scene = reference::MakeScene(palette, picture, count, width, height, seed);
  // The rest: first some match colours (components -15 to 255), then pixels.
  const std::uint8_t* end = data + size;
  for (std::size_t i = 0; i < static_cast<std::size_t>(count) && end - p >= 4; ++i) {
    if (*p++ % 2 == 0) break;
    scene.config.matchRed[i] = *p++ - 15;
    scene.config.matchGreen[i] = *p++;
    scene.config.matchBlue[i] = *p++;
  }
  const auto rest = static_cast<std::size_t>(end - p);
  std::memcpy(&scene.raster[0], p, rest < scene.raster.size() ? rest : scene.raster.size());

  const std::size_t pixelCount = width * height;
  std::vector<std::uint8_t> expected(scene.raster.begin(), scene.raster.end());
  reference::ReferenceRemapByColour(expected.data(), pixelCount, scene.config);
  for (RemapKernel kernel : kFastestFirst) {
    for (const SearchChoice choice : {search}) {
      std::vector<std::uint8_t> actual(scene.raster.begin(), scene.raster.end());
      if (RemapPixelsWith(kernel, actual.data(), pixelCount, scene.config, {choice, threads})) {
        FUZZ_CHECK(actual == expected);
      }
    }
  }
  return 0;
}
