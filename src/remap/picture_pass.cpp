// The pass over a whole picture in either format, as remap-palette runs it.
// P6 to P6 streams: each part is remapped or dithered as it arrives and
// written once ready. Anything with PNG on one side has the whole picture in
// memory before it is written in the format asked for.
#include "remap/picture_pass.hpp"

#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>

#include "image/png_image.hpp"
#include "image/ppm_image.hpp"
#include "message.hpp"

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

// What a P6 raster goes through as it is read: remapped, moved by the
// pattern and remapped, or dithered, part by part. `width` is the reader's,
// which it has stored by the time the raster starts.
class Pace {
 public:
  Pace(const PreparedTable& table, DitherMethod dither, std::int32_t strength,
       const std::uint16_t& width) {
    if (dither == DitherMethod::kFloydSteinberg) {
      pace_ = &diffused_.emplace(table, width);
    } else if (dither == DitherMethod::kOrdered) {
      pace_ = &ordered_.emplace(table, width, nullptr,
                                strength < 0 ? OrderedStrength(table) : strength);
    } else {
      pace_ = &plain_.emplace(table);
    }
  }
  RasterPace* get() { return pace_; }
  // Memory was short for the dithering: nothing of the raster is done.
  bool Failed() const { return diffused_ && diffused_->Failed(); }

 private:
  std::optional<RemapPass> plain_;
  std::optional<OrderedPass> ordered_;
  std::optional<FloydSteinbergPass> diffused_;
  RasterPace* pace_ = nullptr;
};

// Writes the picture once the output file's old content is gone (what could
// not be emptied must not be written over). Returns 0, or 1 after the
// messages.
int Write(std::FILE* output, PictureFormat format, const PngImage& picture, std::uint16_t maxval,
          RasterPace* pace) {
  if (!OutputEmptied()) return 1;
  const int status =
      format == PictureFormat::kPng
          ? WritePng(output, picture.width, picture.height, picture.rgb.get(), picture.alpha.get(),
                     picture.look)
          : WriteImage(output, picture.width, picture.height, maxval, picture.rgb.get(), pace);
  if (status != 0) {
    WriteMessage(kCouldNotWriteOutput);
    return 1;
  }
  return 0;
}

// The whole of a PNG picture, remapped as `dither` says; false when memory
// was short for the dithering.
bool Remap(PngImage& picture, const PreparedTable& table, DitherMethod dither,
           std::int32_t strength) {
  const std::uint64_t pixels = std::uint64_t{picture.width} * picture.height;
  switch (dither) {
    case DitherMethod::kFloydSteinberg:
      return DitherFloydSteinberg(picture.rgb.get(), picture.width, picture.height,
                                  picture.alpha.get(), table);
    case DitherMethod::kOrdered:
      DitherOrdered(picture.rgb.get(), picture.width, picture.height, picture.alpha.get(), table,
                    strength < 0 ? OrderedStrength(table) : strength);
      return true;
    case DitherMethod::kNone:
      break;
  }
  RemapPixels(picture.rgb.get(), pixels, table);
  return true;
}

}  // namespace

int RemapPicture(const PreparedTable& table, std::FILE* input, std::FILE* output,
                 PictureFormat outputFormat, DitherMethod dither, std::int32_t strength) {
  PngImage picture;
  std::uint16_t maxval = 255;
  if (PeekFormat(input) == PictureFormat::kPng) {
    if (!ReadPng(input, picture)) {
      OutputEmptied();
      return 1;
    }
    if (!Remap(picture, table, dither, strength)) {
      WriteMessage(kCannotAllocateData);
      WriteMessage(kCouldNotReadImage);
      OutputEmptied();
      return 1;
    }
    return Write(output, outputFormat, picture, maxval, nullptr);
  }
  Pace pace(table, dither, strength, picture.width);
  picture.rgb = ReadImage(input, picture.width, picture.height, maxval, pace.get());
  if (!picture.rgb || pace.Failed()) {
    if (picture.rgb) WriteMessage(kCannotAllocateData);
    WriteMessage(kCouldNotReadImage);
    OutputEmptied();
    return 1;
  }
  // Each part is written as soon as it is ready.
  if (outputFormat == PictureFormat::kPpm) {
    return Write(output, outputFormat, picture, maxval, pace.get());
  }
  const std::uint64_t bytes = std::uint64_t{picture.width} * picture.height * 3;
  pace.get()->AwaitReady(bytes);
  ScaleToEightBits(picture.rgb.get(), bytes, maxval);
  return Write(output, outputFormat, picture, 255, nullptr);
}
