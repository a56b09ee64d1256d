#include "image/png_image.hpp"

#include <gtest/gtest.h>
#include <spng.h>

#include <cmath>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "image/picture_format.hpp"
#include "image/ppm_image.hpp"
#include "scratch_dir.hpp"
#include "stderr_capture.hpp"

namespace {

// A PNG described by its samples, written by libspng at the depth given, so
// that every colour type and depth can be read back.
struct PngForm {
  const char* name;
  std::uint8_t colourType;
  std::uint8_t depth;
  bool interlaced = false;
  bool palette = false;  // a palette of (1 << depth) entries, with tRNS on the first few
  bool key = false;      // tRNS colour key, set to the first pixel's samples
};

unsigned Channels(std::uint8_t colourType) {
  switch (colourType) {
    case SPNG_COLOR_TYPE_GRAYSCALE_ALPHA:
      return 2;
    case SPNG_COLOR_TYPE_TRUECOLOR:
      return 3;
    case SPNG_COLOR_TYPE_TRUECOLOR_ALPHA:
      return 4;
    default:
      return 1;
  }
}

struct Sampled {
  std::uint32_t width = 13, height = 7;  // odd, so every Adam7 pass is partial
  std::vector<std::uint16_t> samples;    // channels per pixel, unscaled
  spng_plte plte{};
  spng_trns trns{};
  std::string bytes;
};

std::string EncodeWithSpng(const PngForm& form, Sampled& image) {
  spng_ctx* context = spng_ctx_new(SPNG_CTX_ENCODER);
  spng_set_option(context, SPNG_ENCODE_TO_BUFFER, 1);
  spng_ihdr header{image.width,
                   image.height,
                   form.depth,
                   form.colourType,
                   0,
                   0,
                   static_cast<std::uint8_t>(form.interlaced ? 1 : 0)};
  spng_set_ihdr(context, &header);
  if (form.palette) spng_set_plte(context, &image.plte);
  if (form.palette || form.key) spng_set_trns(context, &image.trns);
  const unsigned channels = Channels(form.colourType);
  const std::size_t rowBytes = (std::size_t{image.width} * channels * form.depth + 7) / 8;
  std::string raster(rowBytes * image.height, '\0');
  for (std::uint32_t y = 0; y < image.height; ++y) {
    for (std::uint32_t n = 0; n < image.width * channels; ++n) {
      const std::uint16_t v = image.samples[y * image.width * channels + n];
      char* row = &raster[y * rowBytes];
      if (form.depth == 16) {
        row[2 * n] = static_cast<char>(v >> 8);
        row[2 * n + 1] = static_cast<char>(v & 0xFF);
      } else {
        const std::size_t bit = std::size_t{n} * form.depth;
        row[bit / 8] = static_cast<char>(row[bit / 8] | v << (8 - form.depth - bit % 8));
      }
    }
  }
  EXPECT_EQ(
      spng_encode_image(context, raster.data(), raster.size(), SPNG_FMT_RAW, SPNG_ENCODE_FINALIZE),
      0);
  std::size_t size = 0;
  int error = 0;
  void* png = spng_get_png_buffer(context, &size, &error);
  std::string bytes(static_cast<const char*>(png), size);
  std::free(png);
  spng_ctx_free(context);
  return bytes;
}

Sampled MakeSampled(const PngForm& form, unsigned seed) {
  Sampled image;
  std::mt19937 random(seed);
  const std::uint32_t largest = (1u << form.depth) - 1;
  const unsigned channels = Channels(form.colourType);
  image.samples.resize(std::size_t{image.width} * image.height * channels);
  for (std::uint16_t& v : image.samples) v = static_cast<std::uint16_t>(random() % (largest + 1));
  if (form.palette) {
    image.plte.n_entries = largest + 1;
    for (std::uint32_t i = 0; i <= largest; ++i) {
      image.plte.entries[i] = {static_cast<std::uint8_t>(random()),
                               static_cast<std::uint8_t>(random()),
                               static_cast<std::uint8_t>(random()), 255};
    }
    image.trns.n_type3_entries = (largest + 1) / 2;
    for (std::uint32_t i = 0; i < image.trns.n_type3_entries; ++i) {
      image.trns.type3_alpha[i] = static_cast<std::uint8_t>(random());
    }
  }
  if (form.key) {
    // Key the first pixel's colour; a few more pixels take it too.
    for (std::size_t p = 5; p < image.samples.size() / channels; p += 7) {
      for (unsigned c = 0; c < channels; ++c) image.samples[p * channels + c] = image.samples[c];
    }
    image.trns.gray = image.samples[0];
    image.trns.red = image.samples[0];
    if (channels == 3) {
      image.trns.green = image.samples[1];
      image.trns.blue = image.samples[2];
    }
  }
  image.bytes = EncodeWithSpng(form, image);
  return image;
}

// Scaling written out independently: no tie can occur, as the largest sample
// of every depth is odd.
std::uint8_t Scaled(std::uint32_t v, unsigned depth) {
  return static_cast<std::uint8_t>(std::lround(v * 255.0 / ((1u << depth) - 1)));
}

// What a reader must give for `image`: RGB and alpha (empty: none).
void Expected(const PngForm& form, const Sampled& image, std::string& rgb, std::string& alpha) {
  const unsigned channels = Channels(form.colourType);
  const bool hasAlpha = channels == 2 || channels == 4 || form.palette || form.key;
  for (std::size_t p = 0; p < std::size_t{image.width} * image.height; ++p) {
    const std::uint16_t* s = &image.samples[p * channels];
    std::uint8_t r, g, b, a = 255;
    if (form.palette) {
      r = image.plte.entries[s[0]].red;
      g = image.plte.entries[s[0]].green;
      b = image.plte.entries[s[0]].blue;
      if (s[0] < image.trns.n_type3_entries) a = image.trns.type3_alpha[s[0]];
    } else if (channels <= 2) {
      r = g = b = Scaled(s[0], form.depth);
      if (channels == 2) a = Scaled(s[1], form.depth);
      if (form.key && s[0] == image.trns.gray) a = 0;
    } else {
      r = Scaled(s[0], form.depth);
      g = Scaled(s[1], form.depth);
      b = Scaled(s[2], form.depth);
      if (channels == 4) a = Scaled(s[3], form.depth);
      if (form.key && s[0] == image.trns.red && s[1] == image.trns.green &&
          s[2] == image.trns.blue) {
        a = 0;
      }
    }
    rgb += static_cast<char>(r);
    rgb += static_cast<char>(g);
    rgb += static_cast<char>(b);
    if (hasAlpha) alpha += static_cast<char>(a);
  }
}

struct Decoded {
  bool ok = false;
  PngImage image;
  std::string err;
  std::string Rgb() const {
    return std::string(reinterpret_cast<const char*>(image.rgb.get()),
                       std::size_t{image.width} * image.height * 3);
  }
  std::string Alpha() const {
    if (!image.alpha) return "";
    return std::string(reinterpret_cast<const char*>(image.alpha.get()),
                       std::size_t{image.width} * image.height);
  }
};

Decoded Decode(const std::string& bytes, const PngLimits& limits = {}) {
  std::FILE* input = TemporaryFile();
  std::fwrite(bytes.data(), 1, bytes.size(), input);
  std::rewind(input);
  Decoded decoded;
  testing::internal::CaptureStderr();
  decoded.ok = ReadPng(input, decoded.image, limits);
  decoded.err = testing::internal::GetCapturedStderr();
  std::fclose(input);
  return decoded;
}

std::string Encode(std::uint16_t width, std::uint16_t height, const std::string& rgb,
                   const std::string& alpha, const PngLook& look = {}) {
  std::FILE* output = TemporaryFile();
  EXPECT_EQ(
      WritePng(output, width, height, reinterpret_cast<const std::uint8_t*>(rgb.data()),
               alpha.empty() ? nullptr : reinterpret_cast<const std::uint8_t*>(alpha.data()), look),
      0);
  std::rewind(output);
  std::string bytes;
  char buffer[4096];
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, output)) > 0;)
    bytes.append(buffer, n);
  std::fclose(output);
  return bytes;
}

const PngForm kSpecs[] = {
    {"grey 1", SPNG_COLOR_TYPE_GRAYSCALE, 1},
    {"grey 2", SPNG_COLOR_TYPE_GRAYSCALE, 2},
    {"grey 4 keyed", SPNG_COLOR_TYPE_GRAYSCALE, 4, false, false, true},
    {"grey 8", SPNG_COLOR_TYPE_GRAYSCALE, 8},
    {"grey 16 keyed interlaced", SPNG_COLOR_TYPE_GRAYSCALE, 16, true, false, true},
    {"grey alpha 8", SPNG_COLOR_TYPE_GRAYSCALE_ALPHA, 8},
    {"grey alpha 16", SPNG_COLOR_TYPE_GRAYSCALE_ALPHA, 16},
    {"palette 1 tRNS", SPNG_COLOR_TYPE_INDEXED, 1, false, true},
    {"palette 2 tRNS interlaced", SPNG_COLOR_TYPE_INDEXED, 2, true, true},
    {"palette 4 tRNS", SPNG_COLOR_TYPE_INDEXED, 4, false, true},
    {"palette 8 tRNS", SPNG_COLOR_TYPE_INDEXED, 8, false, true},
    {"rgb 8", SPNG_COLOR_TYPE_TRUECOLOR, 8},
    {"rgb 8 interlaced", SPNG_COLOR_TYPE_TRUECOLOR, 8, true},
    {"rgb 8 keyed", SPNG_COLOR_TYPE_TRUECOLOR, 8, false, false, true},
    {"rgb 16 keyed", SPNG_COLOR_TYPE_TRUECOLOR, 16, false, false, true},
    {"rgba 8 interlaced", SPNG_COLOR_TYPE_TRUECOLOR_ALPHA, 8, true},
    {"rgba 16", SPNG_COLOR_TYPE_TRUECOLOR_ALPHA, 16},
};

TEST(ReadPng, DecodesEveryColourTypeAndDepthScaledToEightBits) {
  unsigned seed = 1;
  for (const PngForm& form : kSpecs) {
    SCOPED_TRACE(form.name);
    const Sampled image = MakeSampled(form, seed++);
    std::string rgb, alpha;
    Expected(form, image, rgb, alpha);
    const Decoded decoded = Decode(image.bytes);
    ASSERT_TRUE(decoded.ok) << decoded.err;
    EXPECT_EQ(decoded.err, "");
    EXPECT_EQ(decoded.image.width, image.width);
    EXPECT_EQ(decoded.image.height, image.height);
    EXPECT_EQ(decoded.Rgb(), rgb);
    EXPECT_EQ(decoded.Alpha(), alpha);
    // The same from memory.
    Decoded fromMemory;
    fromMemory.ok = DecodePng(reinterpret_cast<const std::uint8_t*>(image.bytes.data()),
                              image.bytes.size(), fromMemory.image) == nullptr;
    EXPECT_TRUE(fromMemory.ok);
    EXPECT_EQ(fromMemory.Rgb(), rgb);
    EXPECT_EQ(fromMemory.Alpha(), alpha);
  }
}

#ifndef _WIN32
// Netpbm's reading of the same files, where Netpbm is installed: `pngtopnm`
// and `pngtopnm -alpha`, both through `pamdepth 255`.
std::string Netpbm(const std::string& command) {
  std::FILE* pipe = popen((command + " 2>/dev/null | pamdepth 255 | ppmtoppm").c_str(), "r");
  std::uint16_t width = 0, height = 0, maxval = 0;
  std::unique_ptr<std::uint8_t[]> pixels;
  testing::internal::CaptureStderr();
  pixels = ReadImage(pipe, width, height, maxval);
  testing::internal::GetCapturedStderr();
  pclose(pipe);
  if (!pixels) return "";
  return std::string(reinterpret_cast<const char*>(pixels.get()), RasterBytes(width, height));
}

TEST(ReadPng, AgreesWithNetpbm) {
  if (std::system("pngtopnm -version > /dev/null 2>&1") != 0) GTEST_SKIP() << "no Netpbm";
  test::ScratchDir dir;
  unsigned seed = 100;
  for (const PngForm& form : kSpecs) {
    SCOPED_TRACE(form.name);
    const Sampled image = MakeSampled(form, seed++);
    const std::string path = dir / "in.png";
    test::WriteFile(path, image.bytes);
    const Decoded decoded = Decode(image.bytes);
    ASSERT_TRUE(decoded.ok);
    EXPECT_EQ(Netpbm("pngtopnm " + path), decoded.Rgb());
    // Netpbm reads an RGB picture's colour key and leaves it opaque; the
    // table's own expectations check those.
    if (decoded.image.alpha && !(form.key && form.colourType == SPNG_COLOR_TYPE_TRUECOLOR)) {
      std::string alpha;
      const std::string grey = Netpbm("pngtopnm -alpha " + path);
      for (std::size_t i = 0; i < grey.size(); i += 3) alpha += grey[i];
      EXPECT_EQ(alpha, decoded.Alpha());
    }
  }
}
#endif

// Reads IHDR's bit depth and colour type, and whether a tRNS chunk is there.
struct Written {
  int depth, colourType;
  bool trns;
};
Written Inspect(const std::string& png) {
  return {static_cast<std::uint8_t>(png[24]), static_cast<std::uint8_t>(png[25]),
          png.find("tRNS") != std::string::npos};
}

TEST(WritePng, ChoosesTheSmallestFittingPaletteElseRgbOrRgba) {
  struct Case {
    const char* name;
    unsigned colours;
    bool translucent;
    Written expected;
  };
  const Case kCases[] = {
      {"one colour", 1, false, {1, 3, false}},
      {"two colours", 2, false, {1, 3, false}},
      {"three colours", 3, false, {2, 3, false}},
      {"five colours", 5, false, {4, 3, false}},
      {"sixteen colours, translucent", 16, true, {4, 3, true}},
      {"seventeen colours", 17, false, {8, 3, false}},
      {"256 colours, translucent", 256, true, {8, 3, true}},
      {"257 colours", 257, false, {8, 2, false}},
      {"257 colours, translucent", 257, true, {8, 6, false}},
  };
  std::mt19937 random(7);
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    const std::uint16_t width = 61, height = 19;
    std::string rgb, alpha;
    for (unsigned i = 0; i < width * height; ++i) {
      // The pairs differ in colour or in alpha alone.
      const unsigned pair = i < c.colours ? i : static_cast<unsigned>(random() % c.colours);
      rgb += static_cast<char>(pair % 7 * 30);
      rgb += static_cast<char>(pair / 7 % 7 * 30);
      rgb += static_cast<char>(c.translucent ? 9 : pair / 49 * 30);
      alpha += static_cast<char>(c.translucent ? pair / 49 * 40 : 255);
    }
    const std::string png = Encode(width, height, rgb, alpha);
    const Written written = Inspect(png);
    EXPECT_EQ(written.depth, c.expected.depth);
    EXPECT_EQ(written.colourType, c.expected.colourType);
    EXPECT_EQ(written.trns, c.expected.trns);
    const Decoded decoded = Decode(png);
    ASSERT_TRUE(decoded.ok) << decoded.err;
    EXPECT_EQ(decoded.Rgb(), rgb);
    EXPECT_EQ(decoded.Alpha(), c.translucent ? alpha : "");
  }
}

TEST(WritePng, KeepsTheChunksThatDecideHowColoursLook) {
  PngLook look;
  look.hasGamma = true;
  look.gamma = 45455;
  look.hasChromaticities = true;
  const std::uint32_t chromaticities[8] = {31270, 32900, 64000, 33000, 30000, 60000, 15000, 6000};
  std::copy(std::begin(chromaticities), std::end(chromaticities), look.chromaticities);
  look.hasIccProfile = true;
  look.iccName = "made up";
  look.iccProfile.assign(300, 7);
  look.hasPixelSize = true;
  look.pixelsPerUnitX = 2835;
  look.pixelsPerUnitY = 5670;
  look.pixelUnit = 1;
  const std::string png = Encode(2, 1, std::string("\x01\x02\x03\x04\x05\x06", 6), "", look);
  const Decoded decoded = Decode(png);
  ASSERT_TRUE(decoded.ok) << decoded.err;
  const PngLook& kept = decoded.image.look;
  EXPECT_TRUE(kept.hasGamma && kept.gamma == 45455);
  EXPECT_TRUE(kept.hasChromaticities && std::equal(std::begin(chromaticities),
                                                   std::end(chromaticities), kept.chromaticities));
  EXPECT_TRUE(kept.hasIccProfile && kept.iccName == "made up" &&
              kept.iccProfile == look.iccProfile);
  EXPECT_TRUE(kept.hasPixelSize && kept.pixelsPerUnitX == 2835 && kept.pixelsPerUnitY == 5670 &&
              kept.pixelUnit == 1);
  EXPECT_FALSE(kept.hasSrgb);
  look = PngLook();
  look.hasSrgb = true;
  look.srgbIntent = 2;
  const Decoded srgb = Decode(Encode(1, 1, "abc", "", look));
  EXPECT_TRUE(srgb.ok && srgb.image.look.hasSrgb && srgb.image.look.srgbIntent == 2);
}

TEST(PaletteBitDepth, HoldsTheEntries) {
  const std::pair<std::size_t, unsigned> kDepths[] = {{1, 1},  {2, 1},  {3, 2},   {4, 2},  {5, 4},
                                                      {16, 4}, {17, 8}, {255, 8}, {256, 8}};
  for (const auto& [entries, depth] : kDepths) EXPECT_EQ(PaletteBitDepth(entries), depth);
}

// A chunk with its length and CRC, for building hostile files.
std::string Chunk(const std::string& type, const std::string& data) {
  std::uint32_t crc = 0xFFFFFFFFu;
  for (const char byte : type + data) {
    crc ^= static_cast<std::uint8_t>(byte);
    for (int k = 0; k < 8; ++k) crc = crc & 1 ? (crc >> 1) ^ 0xEDB88320u : crc >> 1;
  }
  crc ^= 0xFFFFFFFFu;
  auto be32 = [](std::uint32_t v) {
    return std::string{static_cast<char>(v >> 24), static_cast<char>(v >> 16),
                       static_cast<char>(v >> 8), static_cast<char>(v)};
  };
  return be32(static_cast<std::uint32_t>(data.size())) + type + data + be32(crc);
}

std::string Header(std::uint32_t width, std::uint32_t height, char depth, char colourType) {
  std::string data;
  for (std::uint32_t v : {width, height}) {
    for (int shift = 24; shift >= 0; shift -= 8) data += static_cast<char>(v >> shift);
  }
  return Chunk("IHDR", data + depth + colourType + std::string(3, '\0'));
}

TEST(ReadPng, RefusesHostileFilesWithOneMessage) {
  const std::string signature(reinterpret_cast<const char*>(kPngSignature), 8);
  const Sampled good = MakeSampled({"rgb", SPNG_COLOR_TYPE_TRUECOLOR, 8}, 3);
  std::string badCrc = good.bytes;
  badCrc[badCrc.find("IDAT") + 6] ^= 0x10;
  const Sampled palette = MakeSampled({"palette", SPNG_COLOR_TYPE_INDEXED, 8, false, true}, 4);
  std::string shortPalette = palette.bytes;
  // A palette of 256 entries cut to 4, its CRC made right: indices past it.
  {
    const std::size_t at = shortPalette.find("PLTE") - 4;
    const std::uint32_t length = 256 * 3;
    const std::size_t next = at + 12 + length;
    shortPalette = shortPalette.substr(0, at) + Chunk("PLTE", std::string(12, '\x40')) +
                   shortPalette.substr(next);
    const std::size_t trns = shortPalette.find("tRNS") - 4;
    const std::uint32_t trnsLength = palette.trns.n_type3_entries;
    shortPalette = shortPalette.substr(0, trns) + shortPalette.substr(trns + 12 + trnsLength);
  }
  struct Case {
    const char* name;
    std::string bytes;
    const char* message;
    PngLimits limits;
  };
  PngLimits small;
  small.maxWidth = small.maxHeight = 100;
  const Case kCases[] = {
      {"empty", "", kNotPng, {}},
      {"a PPM", "P6\n1 1\n255\nabc", kNotPng, {}},
      {"signature only", signature, kPngCorrupt, {}},
      {"65536 wide", signature + Header(65536, 1, 8, 2), kPngTooLarge, {}},
      {"65536 high", signature + Header(1, 65536, 8, 2), kPngTooLarge, {}},
      {"past the caller's limit", signature + Header(101, 1, 8, 2), kPngTooLarge, small},
      {"zero wide", signature + Header(0, 1, 8, 2), kPngCorrupt, {}},
      {"depth 3", signature + Header(1, 1, 3, 0), kPngCorrupt, {}},
      {"RGB at depth 4", signature + Header(1, 1, 4, 2), kPngCorrupt, {}},
      {"largest picture, no data",
       signature + Header(65535, 65535, 8, 6) + Chunk("IEND", ""),
       kPngCorrupt,
       {}},
      {"bad CRC in IDAT", badCrc, kPngCorrupt, {}},
      {"palette index past the palette", shortPalette, kPngCorrupt, {}},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    const Decoded decoded = Decode(c.bytes, c.limits);
    EXPECT_FALSE(decoded.ok);
    EXPECT_EQ(decoded.err, c.message);
    EXPECT_EQ(decoded.image.rgb, nullptr);
  }
  // Every truncation of a good file fails with one message.
  for (std::size_t size = 0; size + 12 < good.bytes.size(); ++size) {
    const Decoded decoded = Decode(good.bytes.substr(0, size));
    ASSERT_FALSE(decoded.ok) << size;
    ASSERT_EQ(decoded.err, size < 8 ? kNotPng : kPngCorrupt) << size;
  }
}

}  // namespace

namespace {

TEST(PreferRunLengths, ForRunsOfColourNotForPatterns) {
  std::mt19937 random(11);
  const std::size_t width = 1000, height = 64;
  // Runs of random length and colour, as a photograph snapped to 16 colours
  // gives; the same 13-pixel motif on every row, as a dither or a texture does.
  std::string runs, motif;
  for (std::size_t y = 0; y < height; ++y) {
    runs += '\0';
    motif += '\0';
    for (std::size_t x = 0; x < width;) {
      const std::size_t run = 1 + random() % 9;
      const char colour = static_cast<char>(random() % 16);
      for (std::size_t i = 0; i < run && x < width; ++i, ++x) runs += colour;
    }
    for (std::size_t x = 0; x < width; ++x)
      motif += static_cast<char>("\1\7\3\1\7\7\2\1\3\7\4\2\1"[(x + y * 5) % 13]);
  }
  EXPECT_TRUE(PreferRunLengths(reinterpret_cast<const std::uint8_t*>(runs.data()), runs.size()));
  EXPECT_FALSE(PreferRunLengths(reinterpret_cast<const std::uint8_t*>(motif.data()), motif.size()));
}

}  // namespace

namespace {

TEST(OutputFormat, FollowsTheOutputsNameElseTheInput) {
  struct Case {
    std::vector<const char*> arguments;
    PictureFormat input, expected;
  };
  const PictureFormat ppm = PictureFormat::kPpm, png = PictureFormat::kPng;
  const Case kCases[] = {
      {{}, png, png},
      {{}, ppm, ppm},
      {{"-in", "a.png"}, ppm, ppm},
      {{"-out", "b.png"}, ppm, png},
      {{"-out", "b.PnG"}, ppm, png},
      {{"-out", "b.ppm"}, png, ppm},
      {{"-out", "b.PNM"}, png, ppm},
      {{"-out", "b.png.txt"}, png, png},
      {{"-out", "b.png.txt"}, ppm, ppm},
      {{"-out", "png"}, ppm, ppm},
      {{"-out", "a.png", "-in", "x.ppm", "-out", "b.ppm"}, png, ppm},
      {{"-in", "-out", "b.ppm"}, png, png},  // "-out" is the input's name here
  };
  for (const Case& c : kCases) {
    std::string trace;
    for (const char* a : c.arguments) trace += std::string(a) + " ";
    SCOPED_TRACE(trace);
    EXPECT_EQ(OutputFormat(static_cast<int>(c.arguments.size()), c.arguments.data(), 0, c.input),
              c.expected);
  }
}

}  // namespace
