// Netpbm images of every kind, read for their colours.
#include "image/netpbm.hpp"

#include <cstdint>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

namespace {

bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// The part of an image not yet read.
struct Cursor {
  std::string_view bytes;
  std::size_t at = 0;

  std::size_t Left() const { return bytes.size() - at; }
  bool AtEnd() const { return at >= bytes.size(); }
  char Peek() const { return bytes[at]; }

  // Whitespace, and comments from "#" to the end of the line.
  void SkipSpaceAndComments() {
    while (!AtEnd()) {
      if (Peek() == '#') {
        while (!AtEnd() && Peek() != '\n' && Peek() != '\r') ++at;
      } else if (IsSpace(Peek())) {
        ++at;
      } else {
        return;
      }
    }
  }

  // One decimal number after whitespace and comments. False when there is
  // none, or it is above `limit`.
  bool Number(std::uint64_t limit, std::uint64_t& value) {
    SkipSpaceAndComments();
    if (AtEnd() || !IsDigit(Peek())) return false;
    value = 0;
    for (; !AtEnd() && IsDigit(Peek()); ++at) {
      value = value * 10 + static_cast<std::uint64_t>(Peek() - '0');
      if (value > limit) return false;
    }
    return true;
  }
};

// What the header says: the size, the samples a pixel and their largest value.
struct Header {
  char kind = 0;  // '1' to '7', after the "P"
  std::uint64_t width = 0, height = 0, depth = 1, maxval = 1;
};

constexpr std::uint64_t kLargestSide = std::numeric_limits<std::int32_t>::max();
constexpr std::uint64_t kLargestMaxval = 65535;
constexpr std::uint64_t kLargestDepth = 4096;

bool Fail(std::string& problem, const char* what) {
  problem = what;
  return false;
}

// The header of P1 to P6: width, height and (but for PBM) maxval, each after
// whitespace and comments, then one whitespace character.
bool ReadPnmHeader(Cursor& in, Header& header, std::string& problem) {
  if (!in.Number(kLargestSide, header.width) || !in.Number(kLargestSide, header.height)) {
    return Fail(problem, "no width and height in its header");
  }
  const bool bitmap = header.kind == '1' || header.kind == '4';
  if (!bitmap && !in.Number(kLargestMaxval, header.maxval)) {
    return Fail(problem, "no maxval from 1 to 65535 in its header");
  }
  header.depth = header.kind == '3' || header.kind == '6' ? 3 : 1;
  if (in.AtEnd() || !IsSpace(in.Peek())) return Fail(problem, "the image ends early");
  ++in.at;
  return true;
}

// One line of a PAM header, without its end.
std::string_view NextLine(Cursor& in) {
  const std::size_t start = in.at;
  while (!in.AtEnd() && in.Peek() != '\n') ++in.at;
  std::string_view line = in.bytes.substr(start, in.at - start);
  if (!in.AtEnd()) ++in.at;
  return line;
}

// The header of P7: "KEYWORD value" lines up to ENDHDR; comments and blank
// lines skipped, TUPLTYPE and unknown keywords ignored.
bool ReadPamHeader(Cursor& in, Header& header, std::string& problem) {
  bool width = false, height = false, depth = false, maxval = false;
  while (true) {
    if (in.AtEnd()) return Fail(problem, "the image ends early");
    const std::string_view line = NextLine(in);
    Cursor words{line};
    words.SkipSpaceAndComments();
    const std::size_t start = words.at;
    while (!words.AtEnd() && !IsSpace(words.Peek())) ++words.at;
    const std::string_view keyword = line.substr(start, words.at - start);
    if (keyword.empty()) continue;
    if (keyword == "ENDHDR") break;
    std::uint64_t* value = keyword == "WIDTH"    ? &header.width
                           : keyword == "HEIGHT" ? &header.height
                           : keyword == "DEPTH"  ? &header.depth
                           : keyword == "MAXVAL" ? &header.maxval
                                                 : nullptr;
    if (value == nullptr) continue;
    const std::uint64_t limit = value == &header.maxval  ? kLargestMaxval
                                : value == &header.depth ? kLargestDepth
                                                         : kLargestSide;
    if (!words.Number(limit, *value)) return Fail(problem, "a PAM header value out of range");
    (value == &header.width    ? width
     : value == &header.height ? height
     : value == &header.depth  ? depth
                               : maxval) = true;
  }
  if (!width || !height || !depth || !maxval) {
    return Fail(problem, "a PAM header without WIDTH, HEIGHT, DEPTH and MAXVAL");
  }
  if (header.depth == 0) return Fail(problem, "a PAM header with DEPTH 0");
  return true;
}

// (v * 255 + maxval / 2) / maxval, as pamdepth 255 rounds.
std::uint32_t Scaled(std::uint64_t value, std::uint64_t maxval) {
  return static_cast<std::uint32_t>((value * 255 + maxval / 2) / maxval);
}

std::uint32_t Colour(std::uint32_t red, std::uint32_t green, std::uint32_t blue) {
  return red << 16 | green << 8 | blue;
}

// The fewest bytes the raster can take: one a sample in a plain image (a
// digit; separators come on top), the packed rows of PBM, one or two a sample
// in a raw one. False, before anything is reserved, when `in` holds fewer.
bool RasterFits(const Cursor& in, const Header& header) {
  const std::uint64_t left = in.Left();
  const bool plain = header.kind <= '3';
  std::uint64_t rowBytes = header.kind == '4' ? (header.width + 7) / 8 : header.width;
  if (header.kind != '4' && !plain) {
    rowBytes *= header.depth * (header.maxval > 255 ? 2 : 1);  // at most 2^31 * 8192
  } else if (plain) {
    rowBytes *= header.depth;
  }
  return header.height == 0 || rowBytes <= left / header.height;
}

// Reads the raster of a plain image: decimal samples (PBM: single digits,
// separators optional).
bool ReadPlainRaster(Cursor& in, const Header& header, std::vector<std::uint32_t>& colours,
                     std::string& problem) {
  const std::uint64_t pixels = header.width * header.height;
  for (std::uint64_t k = 0; k < pixels; ++k) {
    std::uint32_t samples[3] = {0, 0, 0};
    for (std::uint64_t s = 0; s < header.depth; ++s) {
      std::uint64_t value = 0;
      if (header.kind == '1') {
        in.SkipSpaceAndComments();
        if (in.AtEnd()) return Fail(problem, "the image ends early");
        if (in.Peek() != '0' && in.Peek() != '1') return Fail(problem, "a PBM sample not 0 or 1");
        value = in.Peek() == '0' ? 1 : 0;  // 1 is black
        ++in.at;
      } else if (!in.Number(header.maxval, value)) {
        return Fail(problem, in.AtEnd() ? "the image ends early" : "a sample above maxval");
      }
      samples[s] = Scaled(value, header.maxval);
    }
    colours.push_back(header.depth == 3 ? Colour(samples[0], samples[1], samples[2])
                                        : Colour(samples[0], samples[0], samples[0]));
  }
  return true;
}

// Reads the raster of a raw image: PBM's packed bits, or samples of one byte
// (maxval below 256) or two, most significant first.
bool ReadRawRaster(Cursor& in, const Header& header, std::vector<std::uint32_t>& colours,
                   std::string& problem) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(in.bytes.data()) + in.at;
  if (header.kind == '4') {
    const std::uint64_t rowBytes = (header.width + 7) / 8;
    for (std::uint64_t y = 0; y < header.height; ++y, bytes += rowBytes) {
      for (std::uint64_t x = 0; x < header.width; ++x) {
        const bool black = (bytes[x / 8] >> (7 - x % 8) & 1) != 0;
        colours.push_back(black ? 0 : 0xFFFFFF);
      }
    }
    return true;
  }
  const bool wide = header.maxval > 255;
  const std::uint64_t pixels = header.width * header.height;
  const bool colour = header.depth >= 3;
  for (std::uint64_t k = 0; k < pixels; ++k) {
    std::uint32_t samples[3];
    for (int s = 0; s < (colour ? 3 : 1); ++s) {
      const std::uint64_t value = wide ? std::uint64_t{bytes[0]} << 8 | bytes[1] : bytes[0];
      if (value > header.maxval) return Fail(problem, "a sample above maxval");
      samples[s] = Scaled(value, header.maxval);
      bytes += wide ? 2 : 1;
    }
    bytes += (header.depth - (colour ? 3 : 1)) * (wide ? 2 : 1);
    colours.push_back(colour ? Colour(samples[0], samples[1], samples[2])
                             : Colour(samples[0], samples[0], samples[0]));
  }
  return true;
}

}  // namespace

bool LooksLikeNetpbm(std::string_view bytes) {
  return bytes.size() >= 2 && bytes[0] == 'P' && bytes[1] >= '1' && bytes[1] <= '7';
}

bool ReadNetpbmColours(std::string_view bytes, std::vector<std::uint32_t>& colours,
                       std::string& problem) {
  if (!LooksLikeNetpbm(bytes)) return Fail(problem, "not a Netpbm image");
  Cursor in{bytes, 2};
  Header header;
  header.kind = bytes[1];
  if (!(header.kind == '7' ? ReadPamHeader(in, header, problem)
                           : ReadPnmHeader(in, header, problem))) {
    return false;
  }
  if (header.width == 0 || header.height == 0) return Fail(problem, "an image of no pixels");
  if (header.maxval == 0) return Fail(problem, "maxval 0");
  // Whatever the header says, the pixels must be in the file.
  if (!RasterFits(in, header)) return Fail(problem, "the image ends early");
  colours.reserve(colours.size() + header.width * header.height);
  return header.kind <= '3' ? ReadPlainRaster(in, header, colours, problem)
                            : ReadRawRaster(in, header, colours, problem);
}
