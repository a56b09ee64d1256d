// PNG reader and writer on libspng. The library decodes each scanline at the
// file's own depth (big-endian, packed below eight bits) and this file does
// the rest: Adam7 placement, palette and colour-key lookup, scaling.
#include "image/png_image.hpp"

#include <spng.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <new>

#include "message.hpp"

namespace {

struct ContextDeleter {
  void operator()(spng_ctx* context) const { spng_ctx_free(context); }
};
using Context = std::unique_ptr<spng_ctx, ContextDeleter>;

template <typename T>
std::unique_ptr<T[]> Allocate(std::uint64_t count) {
  if (count > SIZE_MAX / sizeof(T)) return nullptr;
  return std::unique_ptr<T[]>(new (std::nothrow) T[static_cast<std::size_t>(count)]);
}

// The message for a libspng error met while reading.
const char* ReadMessage(int error) {
  switch (error) {
    case SPNG_ESIGNATURE:
      return kNotPng;
    case SPNG_EUSER_WIDTH:
    case SPNG_EUSER_HEIGHT:
      return kPngTooLarge;
    case SPNG_EMEM:
      return kPngCannotAllocate;
    default:
      return kPngCorrupt;
  }
}

// Adam7's seven passes: first column and step between columns. A picture
// that is not interlaced is one pass from column 0, step 1.
constexpr std::uint32_t kPassColumn[7] = {0, 4, 0, 2, 0, 1, 0};
constexpr std::uint32_t kPassStep[7] = {8, 8, 4, 4, 2, 2, 1};

// What turns one decoded scanline into pixels.
struct Layout {
  unsigned colourType = 0, depth = 0, channels = 0;
  std::uint32_t width = 0;
  std::uint8_t palette[256][3] = {};
  std::uint8_t paletteAlpha[256] = {};
  std::uint32_t paletteSize = 0;
  bool hasKey = false;
  std::uint16_t key[3] = {};  // grey, or red, green, blue; unscaled
  bool hasAlpha = false;      // the image gets an alpha plane
};

// Sample `n` of a scanline whose samples are `depth` bits, big-endian,
// packed from the high bits of each byte.
inline std::uint32_t SampleAt(const std::uint8_t* line, std::size_t n, unsigned depth) {
  switch (depth) {
    case 8:
      return line[n];
    case 16:
      return std::uint32_t{line[2 * n]} << 8 | line[2 * n + 1];
    default: {
      const std::size_t bit = n * depth;
      const unsigned shift = 8 - depth - static_cast<unsigned>(bit % 8);
      return (line[bit / 8] >> shift) & ((1u << depth) - 1);
    }
  }
}

// Places the `count` pixels of one scanline at columns column, column + step,
// ... of a row of `rgb` (and `alpha`, when the layout has one). Returns false
// on a palette index past the palette's end.
bool PlaceScanline(const Layout& layout, const std::uint8_t* line, std::uint32_t count,
                   std::uint32_t column, std::uint32_t step, std::uint8_t* rgb,
                   std::uint8_t* alpha) {
  const unsigned depth = layout.depth;
  if (layout.colourType == SPNG_COLOR_TYPE_TRUECOLOR && depth == 8 && step == 1 && !layout.hasKey) {
    std::memcpy(rgb, line, std::size_t{count} * 3);
    return true;
  }
  for (std::uint32_t i = 0; i < count; ++i) {
    const std::size_t x = column + std::size_t{i} * step;
    std::uint8_t* out = rgb + 3 * x;
    const std::size_t first = std::size_t{i} * layout.channels;
    std::uint8_t opacity = 255;
    switch (layout.colourType) {
      case SPNG_COLOR_TYPE_GRAYSCALE:
      case SPNG_COLOR_TYPE_GRAYSCALE_ALPHA: {
        const std::uint32_t grey = SampleAt(line, first, depth);
        out[0] = out[1] = out[2] = ScaleSample(grey, depth);
        if (layout.channels == 2) {
          opacity = ScaleSample(SampleAt(line, first + 1, depth), depth);
        } else if (layout.hasKey && grey == layout.key[0]) {
          opacity = 0;
        }
        break;
      }
      case SPNG_COLOR_TYPE_INDEXED: {
        const std::uint32_t index = SampleAt(line, first, depth);
        if (index >= layout.paletteSize) return false;
        std::memcpy(out, layout.palette[index], 3);
        opacity = layout.paletteAlpha[index];
        break;
      }
      default: {  // RGB, RGBA
        std::uint32_t sample[3];
        for (unsigned c = 0; c < 3; ++c) {
          sample[c] = SampleAt(line, first + c, depth);
          out[c] = ScaleSample(sample[c], depth);
        }
        if (layout.channels == 4) {
          opacity = ScaleSample(SampleAt(line, first + 3, depth), depth);
        } else if (layout.hasKey && sample[0] == layout.key[0] && sample[1] == layout.key[1] &&
                   sample[2] == layout.key[2]) {
          opacity = 0;
        }
        break;
      }
    }
    if (alpha != nullptr) alpha[x] = opacity;
  }
  return true;
}

// Fills `layout` from the header, palette and tRNS. Returns 0 or a libspng
// error.
int DescribeLayout(spng_ctx* context, const spng_ihdr& header, Layout& layout) {
  layout.colourType = header.color_type;
  layout.depth = header.bit_depth;
  layout.width = header.width;
  switch (header.color_type) {
    case SPNG_COLOR_TYPE_GRAYSCALE:
    case SPNG_COLOR_TYPE_INDEXED:
      layout.channels = 1;
      break;
    case SPNG_COLOR_TYPE_GRAYSCALE_ALPHA:
      layout.channels = 2;
      break;
    case SPNG_COLOR_TYPE_TRUECOLOR:
      layout.channels = 3;
      break;
    default:
      layout.channels = 4;
      break;
  }
  layout.hasAlpha = layout.channels == 2 || layout.channels == 4;
  if (header.color_type == SPNG_COLOR_TYPE_INDEXED) {
    spng_plte plte;
    if (const int error = spng_get_plte(context, &plte)) return error;
    layout.paletteSize = plte.n_entries;
    for (std::uint32_t i = 0; i < plte.n_entries && i < 256; ++i) {
      layout.palette[i][0] = plte.entries[i].red;
      layout.palette[i][1] = plte.entries[i].green;
      layout.palette[i][2] = plte.entries[i].blue;
    }
    std::fill(std::begin(layout.paletteAlpha), std::end(layout.paletteAlpha), 255);
  }
  spng_trns trns;
  const int error = spng_get_trns(context, &trns);
  if (error == SPNG_ECHUNKAVAIL) return 0;
  if (error != 0) return error;
  layout.hasAlpha = true;
  if (header.color_type == SPNG_COLOR_TYPE_INDEXED) {
    for (std::uint32_t i = 0; i < trns.n_type3_entries && i < 256; ++i) {
      layout.paletteAlpha[i] = trns.type3_alpha[i];
    }
  } else {
    layout.hasKey = true;
    if (header.color_type == SPNG_COLOR_TYPE_GRAYSCALE) {
      layout.key[0] = trns.gray;
    } else {
      layout.key[0] = trns.red;
      layout.key[1] = trns.green;
      layout.key[2] = trns.blue;
    }
  }
  return 0;
}

// Copies the chunks PngLook keeps. Returns 0 or a libspng error.
int ReadLook(spng_ctx* context, PngLook& look) {
  int error = spng_get_gama_int(context, &look.gamma);
  look.hasGamma = error == 0;
  if (error != 0 && error != SPNG_ECHUNKAVAIL) return error;

  spng_chrm_int chrm;
  error = spng_get_chrm_int(context, &chrm);
  look.hasChromaticities = error == 0;
  if (error != 0 && error != SPNG_ECHUNKAVAIL) return error;
  if (look.hasChromaticities) {
    const std::uint32_t values[8] = {chrm.white_point_x, chrm.white_point_y, chrm.red_x,
                                     chrm.red_y,         chrm.green_x,       chrm.green_y,
                                     chrm.blue_x,        chrm.blue_y};
    std::copy(std::begin(values), std::end(values), look.chromaticities);
  }

  error = spng_get_srgb(context, &look.srgbIntent);
  look.hasSrgb = error == 0;
  if (error != 0 && error != SPNG_ECHUNKAVAIL) return error;

  spng_iccp iccp;
  error = spng_get_iccp(context, &iccp);
  look.hasIccProfile = error == 0;
  if (error != 0 && error != SPNG_ECHUNKAVAIL) return error;
  if (look.hasIccProfile) {
    look.iccName.assign(iccp.profile_name, strnlen(iccp.profile_name, sizeof iccp.profile_name));
    look.iccProfile.assign(iccp.profile, iccp.profile + iccp.profile_len);
  }

  spng_phys phys{};
  error = spng_get_phys(context, &phys);
  look.hasPixelSize = error == 0;
  if (error != 0 && error != SPNG_ECHUNKAVAIL) return error;
  look.pixelsPerUnitX = phys.ppu_x;
  look.pixelsPerUnitY = phys.ppu_y;
  look.pixelUnit = phys.unit_specifier;
  return 0;
}

// libspng reads through this: first the signature, already read and
// checked, then the rest of the file, from a stream or from memory.
struct Source {
  std::FILE* input = nullptr;
  const std::uint8_t* bytes = nullptr;  // when there is no stream
  std::size_t size = 0, position = 0;
  std::uint8_t signature[sizeof kPngSignature] = {};
  std::size_t signatureLeft = sizeof kPngSignature;

  // Reads exactly `length` bytes, or returns false.
  bool Take(std::uint8_t* out, std::size_t length) {
    if (input != nullptr) return std::fread(out, 1, length, input) == length;
    if (size - position < length) return false;
    std::memcpy(out, bytes + position, length);
    position += length;
    return true;
  }
};

int ReadSource(spng_ctx*, void* user, void* destination, std::size_t length) {
  Source& source = *static_cast<Source*>(user);
  auto* out = static_cast<std::uint8_t*>(destination);
  const std::size_t fromSignature = std::min(length, source.signatureLeft);
  std::memcpy(out, source.signature + sizeof source.signature - source.signatureLeft,
              fromSignature);
  source.signatureLeft -= fromSignature;
  return source.Take(out + fromSignature, length - fromSignature) ? 0 : SPNG_IO_EOF;
}

const char* Refuse(PngImage& image, const char* message) {
  image = PngImage();
  return message;
}

}  // namespace

bool HasPngSignature(const std::uint8_t* bytes, std::size_t size) {
  return size >= sizeof kPngSignature &&
         std::memcmp(bytes, kPngSignature, sizeof kPngSignature) == 0;
}

namespace {

// Returns null, or the message of what was wrong.
const char* ReadFrom(Source& source, PngImage& image, const PngLimits& limits) {
  image = PngImage();
  Context context(spng_ctx_new(0));
  if (!context) return Refuse(image, kPngCannotAllocate);
  // Never past what the pass takes, whatever the caller asks.
  spng_set_image_limits(context.get(), std::min<std::uint32_t>(limits.maxWidth, 65535),
                        std::min<std::uint32_t>(limits.maxHeight, 65535));
  spng_set_chunk_limits(context.get(), limits.maxChunkBytes, limits.maxChunkBytes);
  // The signature is checked here, so that any other file, however short,
  // is told apart from a broken PNG.
  if (!source.Take(source.signature, sizeof source.signature) ||
      !HasPngSignature(source.signature, sizeof source.signature)) {
    return Refuse(image, kNotPng);
  }
  if (spng_set_png_stream(context.get(), ReadSource, &source) != 0) {
    return Refuse(image, kPngCannotAllocate);
  }
  spng_ihdr header;
  if (const int error = spng_get_ihdr(context.get(), &header)) {
    return Refuse(image, ReadMessage(error));
  }
  Layout layout;
  if (const int error = DescribeLayout(context.get(), header, layout)) {
    return Refuse(image, ReadMessage(error));
  }
  if (const int error = ReadLook(context.get(), image.look)) {
    return Refuse(image, ReadMessage(error));
  }

  // Nothing large is allocated before the image data has started.
  if (const int error =
          spng_decode_image(context.get(), nullptr, 0, SPNG_FMT_RAW, SPNG_DECODE_PROGRESSIVE)) {
    return Refuse(image, ReadMessage(error));
  }
  const std::uint64_t pixels = std::uint64_t{header.width} * header.height;
  const std::size_t lineBytes =
      (std::size_t{header.width} * layout.channels * layout.depth + 7) / 8;
  std::unique_ptr<std::uint8_t[]> line = Allocate<std::uint8_t>(lineBytes);
  image.rgb = Allocate<std::uint8_t>(pixels * 3);
  if (layout.hasAlpha) image.alpha = Allocate<std::uint8_t>(pixels);
  if (!line || !image.rgb || (layout.hasAlpha && !image.alpha)) {
    return Refuse(image, kPngCannotAllocate);
  }
  const bool interlaced = header.interlace_method != 0;
  for (;;) {
    spng_row_info row;
    if (const int error = spng_get_row_info(context.get(), &row)) {
      return Refuse(image, ReadMessage(error));
    }
    const int status = spng_decode_scanline(context.get(), line.get(), lineBytes);
    if (status != 0 && status != SPNG_EOI) return Refuse(image, ReadMessage(status));
    const std::uint32_t column = interlaced ? kPassColumn[row.pass] : 0;
    const std::uint32_t step = interlaced ? kPassStep[row.pass] : 1;
    const std::uint32_t count =
        header.width > column ? (header.width - column + step - 1) / step : 0;
    const std::uint64_t first = std::uint64_t{row.row_num} * header.width;
    if (!PlaceScanline(layout, line.get(), count, column, step, image.rgb.get() + first * 3,
                       image.alpha ? image.alpha.get() + first : nullptr)) {
      return Refuse(image, kPngCorrupt);
    }
    if (status == SPNG_EOI) break;
  }
  // The rest of the file to IEND: the last image data's CRC is checked there.
  if (const int error = spng_decode_chunks(context.get())) {
    return Refuse(image, ReadMessage(error));
  }
  image.width = static_cast<std::uint16_t>(header.width);
  image.height = static_cast<std::uint16_t>(header.height);
  return nullptr;
}

bool Reported(const char* message) {
  if (message == nullptr) return true;
  WriteMessage(message);
  return false;
}

}  // namespace

bool ReadPng(std::FILE* input, PngImage& image, const PngLimits& limits) {
  if (input == nullptr) return Reported(Refuse(image, kNotPng));
  Source source;
  source.input = input;
  return Reported(ReadFrom(source, image, limits));
}

const char* DecodePng(const std::uint8_t* bytes, std::size_t size, PngImage& image,
                      const PngLimits& limits) {
  Source source;
  source.bytes = bytes;
  source.size = size;
  return ReadFrom(source, image, limits);
}

unsigned PaletteBitDepth(std::size_t entries) {
  if (entries <= 2) return 1;
  if (entries <= 4) return 2;
  if (entries <= 16) return 4;
  return 8;
}

bool FindPalette(const std::uint8_t* rgb, const std::uint8_t* alpha, std::uint64_t pixelCount,
                 PngPalette& palette) {
  palette = PngPalette();
  palette.indices = Allocate<std::uint8_t>(pixelCount);
  if (!palette.indices) return false;
  // Open addressing over 1024 slots, at most a quarter of them used; a
  // remapped picture repeats its last pair most of the time, so that is
  // tried first.
  constexpr std::uint32_t kSlots = 1024;
  std::uint32_t keys[kSlots];
  std::int16_t slotEntry[kSlots];
  std::fill(std::begin(slotEntry), std::end(slotEntry), std::int16_t{-1});
  std::uint32_t lastKey = 0;
  std::uint8_t lastIndex = 0;
  bool haveLast = false;
  for (std::uint64_t i = 0; i < pixelCount; ++i) {
    const std::uint8_t* p = rgb + 3 * i;
    const std::uint32_t key = std::uint32_t{p[0]} << 24 | std::uint32_t{p[1]} << 16 |
                              std::uint32_t{p[2]} << 8 | (alpha ? alpha[i] : 255u);
    if (!haveLast || key != lastKey) {
      std::uint32_t slot = (key * 0x9E3779B1u) >> 22;
      while (slotEntry[slot] >= 0 && keys[slot] != key) slot = (slot + 1) % kSlots;
      if (slotEntry[slot] < 0) {
        if (palette.entries.size() == 256) {
          palette = PngPalette();
          return false;
        }
        keys[slot] = key;
        slotEntry[slot] = static_cast<std::int16_t>(palette.entries.size());
        palette.entries.push_back(key);
      }
      lastKey = key;
      lastIndex = static_cast<std::uint8_t>(slotEntry[slot]);
      haveLast = true;
    }
    palette.indices[i] = lastIndex;
  }
  // Translucent entries to the front, each part in its first-occurrence order.
  std::vector<std::uint32_t> order(palette.entries);
  const auto opaqueFirst = std::stable_partition(
      order.begin(), order.end(), [](std::uint32_t entry) { return (entry & 0xFF) != 255; });
  palette.translucent = static_cast<std::size_t>(opaqueFirst - order.begin());
  if (order != palette.entries) {
    std::uint8_t moved[256];
    for (std::size_t i = 0; i < order.size(); ++i) {
      const auto old = std::find(palette.entries.begin(), palette.entries.end(), order[i]);
      moved[old - palette.entries.begin()] = static_cast<std::uint8_t>(i);
    }
    for (std::uint64_t i = 0; i < pixelCount; ++i) palette.indices[i] = moved[palette.indices[i]];
    palette.entries = order;
  }
  return true;
}

namespace {

// Gives `look`'s chunks to the encoder. One the encoder refuses is left out:
// the picture matters more than how it is described.
void WriteLook(spng_ctx* context, const PngLook& look) {
  if (look.hasGamma) spng_set_gama_int(context, look.gamma);
  if (look.hasChromaticities) {
    spng_chrm_int chrm;
    const std::uint32_t* v = look.chromaticities;
    chrm.white_point_x = v[0];
    chrm.white_point_y = v[1];
    chrm.red_x = v[2];
    chrm.red_y = v[3];
    chrm.green_x = v[4];
    chrm.green_y = v[5];
    chrm.blue_x = v[6];
    chrm.blue_y = v[7];
    spng_set_chrm_int(context, &chrm);
  }
  if (look.hasSrgb) spng_set_srgb(context, look.srgbIntent);
  if (look.hasIccProfile && look.iccName.size() < 80) {
    spng_iccp iccp{};
    std::memcpy(iccp.profile_name, look.iccName.data(), look.iccName.size());
    iccp.profile_len = look.iccProfile.size();
    iccp.profile = const_cast<char*>(reinterpret_cast<const char*>(look.iccProfile.data()));
    spng_set_iccp(context, &iccp);
  }
  if (look.hasPixelSize) {
    spng_phys phys{look.pixelsPerUnitX, look.pixelsPerUnitY, look.pixelUnit};
    spng_set_phys(context, &phys);
  }
}

// Packs row `y`'s palette indices at `depth` bits, high bits first.
void PackIndices(const std::uint8_t* indices, std::uint32_t width, unsigned depth,
                 std::uint8_t* row) {
  if (depth == 8) {
    std::memcpy(row, indices, width);
    return;
  }
  const unsigned perByte = 8 / depth;
  std::memset(row, 0, (std::size_t{width} * depth + 7) / 8);
  for (std::uint32_t x = 0; x < width; ++x) {
    const unsigned shift = 8 - depth * (x % perByte + 1);
    row[x / perByte] = static_cast<std::uint8_t>(row[x / perByte] | indices[x] << shift);
  }
}

// Size of `bytes` bytes deflated at level 6 with `strategy`, or SIZE_MAX.
std::size_t DeflatedSize(const std::uint8_t* bytes, std::size_t size, int strategy) {
  z_stream stream{};
  if (deflateInit2(&stream, 6, Z_DEFLATED, 15, 8, strategy) != Z_OK) return SIZE_MAX;
  std::vector<std::uint8_t> out(deflateBound(&stream, static_cast<uLong>(size)));
  stream.next_in = const_cast<std::uint8_t*>(bytes);
  stream.avail_in = static_cast<uInt>(size);
  stream.next_out = out.data();
  stream.avail_out = static_cast<uInt>(out.size());
  const int status = deflate(&stream, Z_FINISH);
  const std::size_t written = stream.total_out;
  deflateEnd(&stream);
  return status == Z_STREAM_END ? written : SIZE_MAX;
}

}  // namespace

bool PreferRunLengths(const std::uint8_t* rows, std::size_t size) {
  const std::size_t runs = DeflatedSize(rows, size, Z_RLE);
  const std::size_t searched = DeflatedSize(rows, size, Z_DEFAULT_STRATEGY);
  return runs != SIZE_MAX && runs <= searched + searched / 50;
}

namespace {

// Up to kBands bands of kBandRows rows, evenly spaced, each row packed and
// led by its filter byte (0) as in the file: what PreferRunLengths judges a
// palette picture by.
constexpr std::uint32_t kBands = 8, kBandRows = 32;

std::vector<std::uint8_t> SampleRows(const PngPalette& palette, std::uint32_t width,
                                     std::uint32_t height, unsigned depth) {
  const std::size_t rowBytes = (std::size_t{width} * depth + 7) / 8;
  std::vector<std::uint8_t> sample;
  const std::uint32_t bands = height <= kBands * kBandRows ? 1 : kBands;
  const std::uint32_t rows = height <= kBands * kBandRows ? height : kBandRows;
  for (std::uint32_t band = 0; band < bands; ++band) {
    const std::uint32_t first = bands == 1 ? 0 : band * (height - rows) / (bands - 1);
    for (std::uint32_t y = first; y < first + rows; ++y) {
      sample.push_back(0);
      sample.resize(sample.size() + rowBytes);
      PackIndices(palette.indices.get() + std::uint64_t{y} * width, width, depth,
                  sample.data() + sample.size() - rowBytes);
    }
  }
  return sample;
}

}  // namespace

int WritePng(std::FILE* output, std::uint16_t width, std::uint16_t height, const std::uint8_t* rgb,
             const std::uint8_t* alpha, const PngLook& look) {
  if (output == nullptr || rgb == nullptr || width == 0 || height == 0) {
    return Fail(kPngWriteFailed);
  }
  const std::uint64_t pixels = std::uint64_t{width} * height;
  bool translucent = false;
  if (alpha != nullptr) {
    for (std::uint64_t i = 0; i < pixels && !translucent; ++i) translucent = alpha[i] != 255;
  }
  if (!translucent) alpha = nullptr;

  Context context(spng_ctx_new(SPNG_CTX_ENCODER));
  if (!context || spng_set_png_file(context.get(), output) != 0) return Fail(kPngCannotAllocate);
  PngPalette palette;
  const bool indexed = FindPalette(rgb, alpha, pixels, palette);
  spng_ihdr header{};
  header.width = width;
  header.height = height;
  if (indexed) {
    header.color_type = SPNG_COLOR_TYPE_INDEXED;
    header.bit_depth = static_cast<std::uint8_t>(PaletteBitDepth(palette.entries.size()));
  } else {
    header.color_type = alpha ? SPNG_COLOR_TYPE_TRUECOLOR_ALPHA : SPNG_COLOR_TYPE_TRUECOLOR;
    header.bit_depth = 8;
  }
  spng_set_ihdr(context.get(), &header);
  if (indexed) {
    spng_plte plte{};
    plte.n_entries = static_cast<std::uint32_t>(palette.entries.size());
    for (std::size_t i = 0; i < palette.entries.size(); ++i) {
      const std::uint32_t entry = palette.entries[i];
      plte.entries[i] = {static_cast<std::uint8_t>(entry >> 24),
                         static_cast<std::uint8_t>(entry >> 16),
                         static_cast<std::uint8_t>(entry >> 8), 255};
    }
    spng_set_plte(context.get(), &plte);
    const std::vector<std::uint8_t> sample = SampleRows(palette, width, height, header.bit_depth);
    if (PreferRunLengths(sample.data(), sample.size())) {
      spng_set_option(context.get(), SPNG_IMG_COMPRESSION_STRATEGY, Z_RLE);
    }
    if (palette.translucent > 0) {
      spng_trns trns{};
      trns.n_type3_entries = static_cast<std::uint32_t>(palette.translucent);
      for (std::size_t i = 0; i < palette.translucent; ++i) {
        trns.type3_alpha[i] = static_cast<std::uint8_t>(palette.entries[i]);
      }
      spng_set_trns(context.get(), &trns);
    }
  }
  WriteLook(context.get(), look);

  const unsigned channels = indexed ? 1 : alpha ? 4 : 3;
  const std::size_t rowBytes = (std::size_t{width} * channels * header.bit_depth + 7) / 8;
  std::unique_ptr<std::uint8_t[]> row = Allocate<std::uint8_t>(rowBytes);
  if (!row) return Fail(kPngCannotAllocate);
  if (spng_encode_image(context.get(), nullptr, 0, SPNG_FMT_PNG,
                        SPNG_ENCODE_PROGRESSIVE | SPNG_ENCODE_FINALIZE) != 0) {
    return Fail(kPngWriteFailed);
  }
  int status = 0;
  for (std::uint32_t y = 0; y < height && status == 0; ++y) {
    const std::uint64_t first = std::uint64_t{y} * width;
    const std::uint8_t* source = rgb + first * 3;
    if (indexed) {
      PackIndices(palette.indices.get() + first, width, header.bit_depth, row.get());
      source = row.get();
    } else if (alpha) {
      for (std::uint32_t x = 0; x < width; ++x) {
        std::memcpy(row.get() + 4 * std::size_t{x}, source + 3 * std::size_t{x}, 3);
        row[4 * std::size_t{x} + 3] = alpha[first + x];
      }
      source = row.get();
    }
    status = spng_encode_row(context.get(), source, rowBytes);
  }
  if (status != SPNG_EOI || std::fflush(output) != 0 || std::ferror(output)) {
    return Fail(kPngWriteFailed);
  }
  return 0;
}
