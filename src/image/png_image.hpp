// PNG reading and writing: every colour type and depth in, samples scaled to
// eight bits; the smallest fitting palette PNG, or 8-bit RGB(A), out. Every
// failure is reported on stderr with one fixed sentence.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

inline constexpr char kNotPng[] = "Not a PNG file.\n";
inline constexpr char kPngTooLarge[] = "PNG image too large (at most 65535 by 65535 pixels).\n";
inline constexpr char kPngCorrupt[] = "Corrupt or truncated PNG file.\n";
inline constexpr char kPngCannotAllocate[] = "Could not allocate memory for the PNG image.\n";
inline constexpr char kPngWriteFailed[] = "Failed writing PNG image.\n";

// The eight bytes every PNG file starts with.
inline constexpr std::uint8_t kPngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

// True when `bytes` (at least `size` of them) start with the PNG signature.
bool HasPngSignature(const std::uint8_t* bytes, std::size_t size);

// The chunks that decide how the colours look (gAMA, cHRM, sRGB, iCCP) and
// the pixel size (pHYs), as the file held them, so that a recoloured picture
// looks as the original did. Values are the chunks' own integers.
struct PngLook {
  bool hasGamma = false;
  std::uint32_t gamma = 0;  // gAMA: gamma times 100000
  bool hasChromaticities = false;
  std::uint32_t chromaticities[8] = {};  // cHRM: white x, y, red x, y, green x, y, blue x, y
  bool hasSrgb = false;
  std::uint8_t srgbIntent = 0;
  bool hasIccProfile = false;
  std::string iccName;
  std::vector<std::uint8_t> iccProfile;  // uncompressed
  bool hasPixelSize = false;
  std::uint32_t pixelsPerUnitX = 0, pixelsPerUnitY = 0;
  std::uint8_t pixelUnit = 0;  // 1: metre
};

// A decoded picture. `rgb` holds width * height pixels, rows top to bottom,
// three bytes each; `alpha`, one byte a pixel, is there only when the file
// has transparency (an alpha channel or a tRNS chunk).
struct PngImage {
  std::uint16_t width = 0, height = 0;
  std::unique_ptr<std::uint8_t[]> rgb;
  std::unique_ptr<std::uint8_t[]> alpha;
  PngLook look;
};

// What a read will accept: the pass takes up to 65535 pixels a side; fuzz
// targets ask for less so that no input makes them allocate much.
struct PngLimits {
  std::uint32_t maxWidth = 65535, maxHeight = 65535;
  // The largest ancillary chunk, and all of them together, decompressed.
  std::size_t maxChunkBytes = std::size_t{64} << 20;
};

// One sample of a `depth`-bit picture (1, 2, 4, 8 or 16) scaled to eight
// bits as `pamdepth 255` does: (v * 255 + m / 2) / m, m = 2^depth - 1.
inline std::uint8_t ScaleSample(std::uint32_t value, unsigned depth) {
  const std::uint32_t largest = (std::uint32_t{1} << depth) - 1;
  return static_cast<std::uint8_t>((value * 255 + largest / 2) / largest);
}

// Reads one PNG image from `input`, positioned at its signature, into
// `image`: every colour type and depth, interlaced or not, decoded at the
// file's own depth and each sample scaled by ScaleSample. Grey gives equal
// R, G and B. A colour key (tRNS of a grey or RGB picture) is compared with
// the unscaled samples and gives alpha 0 or 255; a palette's tRNS gives each
// entry's alpha (255 past its end). Returns true, or false after writing
// one message to stderr (kNotPng, kPngTooLarge, kPngCorrupt,
// kPngCannotAllocate); `image` then holds nothing. The whole raster is
// allocated only once the header has passed `limits`, and an allocation
// that cannot be had fails the read rather than the process.
bool ReadPng(std::FILE* input, PngImage& image, const PngLimits& limits = {});

// ReadPng on the `size` bytes at `bytes`, a whole file in memory, writing
// nothing: returns null, or the message of what was wrong.
const char* DecodePng(const std::uint8_t* bytes, std::size_t size, PngImage& image,
                      const PngLimits& limits = {});

// The palette a picture fits in: at most 256 distinct (colour, alpha)
// pairs, entries with alpha below 255 first (so that tRNS stays short), the
// rest in order of first occurrence; `indices` gives each pixel's entry.
struct PngPalette {
  std::vector<std::uint32_t> entries;  // 0xRRGGBBAA
  std::unique_ptr<std::uint8_t[]> indices;
  std::size_t translucent = 0;  // entries with alpha below 255, all at the front
};

// Builds the palette of `pixelCount` RGB pixels with `alpha` (null: all
// 255). Returns false when they hold more than 256 pairs (or memory for the
// indices is short): the picture then goes out as RGB or RGBA.
bool FindPalette(const std::uint8_t* rgb, const std::uint8_t* alpha, std::uint64_t pixelCount,
                 PngPalette& palette);

// The smallest PNG bit depth whose indices reach `entries` palette entries
// (1 to 256): 1, 2, 4 or 8.
unsigned PaletteBitDepth(std::size_t entries);

// Whether deflate's run-length matching alone (Z_RLE) does about as well on
// `rows` (a sample of a palette picture's rows as the file holds them) as
// its full search: within 2%. On the indices of a photograph snapped to a
// few colours it does better, in a fifth of the time; on dithered or
// patterned pictures it does worse.
bool PreferRunLengths(const std::uint8_t* rows, std::size_t size);

// Writes a width x height picture as PNG to `output` and flushes it: a
// palette PNG at PaletteBitDepth when FindPalette succeeds (tRNS only if
// some alpha is below 255; deflated with run-length matching alone where
// PreferRunLengths says so on a sample of its rows), else 8-bit RGB, or RGBA
// when some alpha is below 255. `alpha` may be null (all opaque). `look`'s chunks are written as
// given. Returns 0 once every byte has reached the stream, or 1 after
// writing one message to stderr. The stream stays open.
int WritePng(std::FILE* output, std::uint16_t width, std::uint16_t height, const std::uint8_t* rgb,
             const std::uint8_t* alpha, const PngLook& look);
