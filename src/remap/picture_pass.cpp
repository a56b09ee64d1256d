// The pass over a whole picture in either format, as remap-palette runs it.
// P6 to P6 is remap's own streaming pass; anything with PNG on one side
// reads the whole picture, remaps it, and writes it in the format asked for.
#include <cstdint>
#include <cstdio>
#include <memory>

#include "image/picture_format.hpp"
#include "image/png_image.hpp"
#include "image/ppm_image.hpp"
#include "message.hpp"
#include "platform/platform.hpp"
#include "remap.hpp"

namespace {

// Samples of a P6 picture of another maxval brought to 0-255 as `pamdepth
// 255` does, so that a PNG shows what the PPM meant; a sample above maxval
// (a replacement component written as it is) counts as maxval.
void ScaleToEightBits(std::uint8_t* samples, std::uint64_t count, std::uint16_t maxval) {
  if (maxval == 255) return;
  for (std::uint64_t i = 0; i < count; ++i) {
    const std::uint32_t v = samples[i] < maxval ? samples[i] : maxval;
    samples[i] = static_cast<std::uint8_t>((v * 255 + maxval / 2u) / maxval);
  }
}

}  // namespace

int RemapPicture(const PreparedTable& table, std::FILE* input, std::FILE* output,
                 PictureFormat outputFormat) {
  const PictureFormat inputFormat = PeekFormat(input);
  if (inputFormat == PictureFormat::kPpm && outputFormat == PictureFormat::kPpm) {
    return RemapImage(table, input, output);
  }
  PngImage picture;
  std::uint64_t pixels = 0;
  if (inputFormat == PictureFormat::kPng) {
    if (!ReadPng(input, picture)) return 1;
    pixels = std::uint64_t{picture.width} * picture.height;
    RemapPixels(picture.rgb.get(), pixels, table);
  } else {
    std::uint16_t maxval = 0;
    {
      // Each part is remapped as it arrives; the pass goes before the raster.
      RemapPass pass(table);
      picture.rgb = ReadImage(input, picture.width, picture.height, maxval, &pass);
      if (!picture.rgb) {
        WriteMessage(kCouldNotReadImage);
        return 1;
      }
      pixels = std::uint64_t{picture.width} * picture.height;
      pass.AwaitReady(pixels * 3);
    }
    ScaleToEightBits(picture.rgb.get(), pixels * 3, maxval);
  }
  // The output file's old content goes while the picture is read; what could
  // not be emptied must not be written over.
  if (!platform::AwaitEmptied()) {
    WriteMessage(kFailedWritingData);
    WriteMessage(kCouldNotWriteOutput);
    return 1;
  }
  const int status =
      outputFormat == PictureFormat::kPng
          ? WritePng(output, picture.width, picture.height, picture.rgb.get(), picture.alpha.get(),
                     picture.look)
          : WriteImage(output, picture.width, picture.height, 255, picture.rgb.get());
  if (status != 0) {
    WriteMessage(kCouldNotWriteOutput);
    return 1;
  }
  return 0;
}
