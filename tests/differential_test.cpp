// The pass against the rule worked out by brute force, on random signature
// tables and pictures made to find where a fast search cuts corners: ties,
// duplicate match colours, clusters inside one cell of the colour cube,
// negative components, odd lengths. Every kernel, every way of searching and
// several thread counts; the pass as the program streams it; and the program
// itself on random files.
//
// The suite runs a few cases from a fixed seed. For long runs:
//   REMAP_DIFF_CASES=N    cases per test (and N / 8 program runs)
//   REMAP_DIFF_SEED=S     first case seed; case i has seed S + i
//   REMAP_DIFF_BUDGET=B   pixel-signature pairs a case may hold (default 2e7)
//   REMAP_DIFF_VERBOSE=1  each case printed as it starts
// A failure names its seed: REMAP_DIFF_SEED=seed REMAP_DIFF_CASES=1 repeats it
// alone, and the failure shows the fewest signatures and pixels that keep it.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <limits>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "remap.hpp"
#include "remap_reference.hpp"
#include "run_program.hpp"
#include "test_inputs.hpp"

namespace {

using Pixels = std::vector<std::uint8_t>;
using Colour = std::array<std::int32_t, 3>;

// Sanitizers and emulators run several times slower: the suite asks less there.
#ifdef REMAP_SANITIZE
constexpr std::uint64_t kSlowdown = 8;
#elif defined(_WIN32)
constexpr std::uint64_t kSlowdown = 2;
#else
constexpr std::uint64_t kSlowdown = 1;
#endif

std::uint64_t Slowdown() { return kSlowdown * (test::Emulated() ? 8 : 1); }

double Setting(const char* name, double fallback) {
  const char* text = std::getenv(name);
  return text != nullptr && *text != '\0' ? std::strtod(text, nullptr) : fallback;
}

std::uint64_t Cases(std::uint64_t suite) {
  return static_cast<std::uint64_t>(Setting(
      "REMAP_DIFF_CASES", static_cast<double>(std::max<std::uint64_t>(1, suite / Slowdown()))));
}
std::uint64_t FirstSeed() { return static_cast<std::uint64_t>(Setting("REMAP_DIFF_SEED", 1)); }
std::uint64_t Budget() {
  return static_cast<std::uint64_t>(
      Setting("REMAP_DIFF_BUDGET", 2e7 / static_cast<double>(Slowdown())));
}

// How to run the case of `seed` alone (a case depends on the budget too).
std::string Repeat(std::uint64_t seed) {
  return "\nrepeat alone: REMAP_DIFF_SEED=" + std::to_string(seed) +
         " REMAP_DIFF_CASES=1 REMAP_DIFF_BUDGET=" + std::to_string(Budget()) + " with " +
         testing::UnitTest::GetInstance()->current_test_info()->name();
}

void Log(const std::string& line) {
  static const bool verbose = Setting("REMAP_DIFF_VERBOSE", 0) != 0;
  if (verbose) std::printf("%s\n", line.c_str()), std::fflush(stdout);
}

// Pseudo-random choices, the same for a seed with every standard library.
class Random {
 public:
  explicit Random(std::uint64_t seed) : engine_(seed) {}
  std::uint64_t Below(std::uint64_t n) { return engine_() % n; }
  std::int32_t Between(std::int32_t low, std::int32_t high) {
    return low + static_cast<std::int32_t>(Below(static_cast<std::uint64_t>(high - low) + 1));
  }
  bool OneIn(std::uint64_t n) { return Below(n) == 0; }
  template <typename T>
  T Pick(std::initializer_list<T> values) {
    return values.begin()[Below(values.size())];
  }
  template <typename T>
  void Shuffle(std::vector<T>& values) {
    for (std::size_t i = values.size(); i > 1; --i) std::swap(values[i - 1], values[Below(i)]);
  }

 private:
  std::mt19937_64 engine_;
};

constexpr std::int32_t kLowest = -15, kHighest = 255;

std::int32_t Component(std::int32_t v) { return std::min(kHighest, std::max(kLowest, v)); }
std::uint8_t Sample(std::int32_t v) {
  return static_cast<std::uint8_t>(std::min(255, std::max(0, v)));
}

struct Table {
  std::vector<Colour> match, replace;
  std::size_t size() const { return match.size(); }
};

Configuration ConfigurationOf(const Table& table) {
  Configuration config = reference::TableOf(static_cast<int>(table.size()));
  for (std::size_t i = 0; i < table.size(); ++i) {
    config.matchRed[i] = table.match[i][0];
    config.matchGreen[i] = table.match[i][1];
    config.matchBlue[i] = table.match[i][2];
    config.replaceRed[i] = table.replace[i][0];
    config.replaceGreen[i] = table.replace[i][1];
    config.replaceBlue[i] = table.replace[i][2];
  }
  return config;
}

// The rule, from its words alone: the smallest squared distance over every
// signature, in 64-bit integers, and the first signature at it. Worked out
// once per distinct colour of the picture.
class Rule {
 public:
  explicit Rule(const Table& table) {
    for (const Colour& m : table.match) {
      red_.push_back(m[0]), green_.push_back(m[1]), blue_.push_back(m[2]);
    }
  }

  std::size_t Nearest(const std::uint8_t* pixel) const {
    const std::int64_t r = pixel[0], g = pixel[1], b = pixel[2];
    const std::size_t n = red_.size();
    std::int64_t least = std::numeric_limits<std::int64_t>::max();
    for (std::size_t i = 0; i < n; ++i) least = std::min(least, Distance(i, r, g, b));
    for (std::size_t i = 0; i < n; ++i) {
      if (Distance(i, r, g, b) == least) return i;
    }
    return n;
  }

  std::int64_t Distance(std::size_t i, std::int64_t r, std::int64_t g, std::int64_t b) const {
    return (r - red_[i]) * (r - red_[i]) + (g - green_[i]) * (g - green_[i]) +
           (b - blue_[i]) * (b - blue_[i]);
  }

  // The signature each pixel takes.
  std::vector<std::size_t> Winners(const Pixels& pixels) const {
    const std::size_t count = pixels.size() / 3;
    std::vector<std::uint32_t> colours(count);
    for (std::size_t k = 0; k < count; ++k) colours[k] = Key(pixels.data() + 3 * k);
    std::vector<std::uint32_t> distinct = colours;
    std::sort(distinct.begin(), distinct.end());
    distinct.erase(std::unique(distinct.begin(), distinct.end()), distinct.end());
    std::vector<std::size_t> nearest(distinct.size());
    for (std::size_t j = 0; j < distinct.size(); ++j) {
      const std::uint8_t p[3] = {static_cast<std::uint8_t>(distinct[j] >> 16),
                                 static_cast<std::uint8_t>(distinct[j] >> 8),
                                 static_cast<std::uint8_t>(distinct[j])};
      nearest[j] = Nearest(p);
    }
    std::vector<std::size_t> winners(count);
    for (std::size_t k = 0; k < count; ++k) {
      winners[k] = nearest[static_cast<std::size_t>(
          std::lower_bound(distinct.begin(), distinct.end(), colours[k]) - distinct.begin())];
    }
    return winners;
  }

  static std::uint32_t Key(const std::uint8_t* p) {
    return std::uint32_t{p[0]} << 16 | std::uint32_t{p[1]} << 8 | p[2];
  }

 private:
  std::vector<std::int64_t> red_, green_, blue_;
};

Pixels Replaced(const Table& table, const std::vector<std::size_t>& winners) {
  Pixels out(3 * winners.size());
  for (std::size_t k = 0; k < winners.size(); ++k) {
    for (std::size_t c = 0; c < 3; ++c) {
      out[3 * k + c] = static_cast<std::uint8_t>(table.replace[winners[k]][c] & 0xFF);
    }
  }
  return out;
}

// Signature tables. Each kind adds `n` match colours and may note colours
// worth giving pixels: centres of ties, corners of cells.
enum class PaletteKind {
  kSpread,      // anywhere in -15..255
  kPositive,    // anywhere in 0..255
  kCell,        // inside one cube of 1 to 32 values a side, aligned or not
  kDuplicates,  // a few colours, each many times
  kLattice,     // on a grid, so that pixels between two points tie
  kSymmetric,   // signed permutations of one offset around centres: many ties at once
  kCorner,      // near one corner of the cube, far from most pixels
  kLevels,      // components only on the edges of cells and the ends of the range
  kShell,       // on a sphere around a centre
  kCount
};

void AddPalette(PaletteKind kind, std::size_t n, Random& random, std::vector<Colour>& match,
                std::vector<Colour>& spots) {
  const std::size_t end = match.size() + n;
  auto add = [&](const Colour& c) {
    if (match.size() < end) match.push_back(c);
  };
  switch (kind) {
    case PaletteKind::kSpread:
    case PaletteKind::kPositive: {
      const std::int32_t low = kind == PaletteKind::kSpread ? kLowest : 0;
      while (match.size() < end) {
        add({random.Between(low, 255), random.Between(low, 255), random.Between(low, 255)});
      }
      break;
    }
    case PaletteKind::kCell: {
      const std::int32_t side = random.Pick({1, 2, 4, 8, 8, 8, 8, 16, 16, 32});
      Colour base;
      for (std::int32_t& b : base) {
        b = random.OneIn(3) ? random.Between(kLowest, 256 - side)
                            : side * random.Between(-1, 256 / side - 1);
      }
      while (match.size() < end) {
        add({Component(base[0] + random.Between(0, side - 1)),
             Component(base[1] + random.Between(0, side - 1)),
             Component(base[2] + random.Between(0, side - 1))});
      }
      for (const std::int32_t d : {-1, 0, side / 2, side - 1, side}) {
        spots.push_back({base[0] + d, base[1] + d, base[2] + d});
        spots.push_back({base[0] + d, base[1] + side - 1 - d, base[2] + d});
      }
      break;
    }
    case PaletteKind::kDuplicates: {
      std::vector<Colour> few(static_cast<std::size_t>(random.Pick({1, 2, 3, 5, 17})));
      for (Colour& c : few) {
        c = {random.Between(kLowest, 255), random.Between(kLowest, 255),
             random.Between(kLowest, 255)};
        spots.push_back(c);
      }
      while (match.size() < end) add(few[random.Below(few.size())]);
      break;
    }
    case PaletteKind::kLattice: {
      const std::int32_t step = random.Pick({2, 3, 4, 6, 8, 10, 16, 17, 32, 51, 64, 85, 128});
      const std::int32_t origin = random.Between(kLowest, kLowest + step - 1);
      const std::int32_t points = (255 - origin) / step + 1;
      auto point = [&] { return origin + step * random.Between(0, points - 1); };
      while (match.size() < end) add({point(), point(), point()});
      for (int i = 0; i < 8; ++i) {
        spots.push_back({point() + step / 2, point() + step / 2, point()});
        spots.push_back({point() + step / 2, point() + step / 2, point() + step / 2});
      }
      break;
    }
    case PaletteKind::kSymmetric:
      while (match.size() < end) {
        // Half the centres on or beside the corners of cells of 8.
        auto near8 = [&] {
          return random.OneIn(2)
                     ? random.Between(0, 255)
                     : Component(8 * random.Between(0, 32) + random.Pick({-1, 0, 1, 7}));
        };
        const Colour centre = {Sample(near8()), Sample(near8()), Sample(near8())};
        const std::int32_t reach = random.Pick({1, 2, 3, 8, 20, 100, 127, 200});
        const Colour offset = {random.Between(0, reach), random.Between(0, reach),
                               random.Between(0, reach)};
        spots.push_back(centre);
        std::vector<Colour> around;
        const int order[6][3] = {{0, 1, 2}, {0, 2, 1}, {1, 0, 2}, {1, 2, 0}, {2, 0, 1}, {2, 1, 0}};
        for (const auto& o : order) {
          for (int signs = 0; signs < 8; ++signs) {
            Colour c;
            for (int j = 0; j < 3; ++j) {
              c[static_cast<std::size_t>(j)] =
                  centre[static_cast<std::size_t>(j)] +
                  ((signs >> j & 1) ? -1 : 1) * offset[static_cast<std::size_t>(o[j])];
            }
            if (Component(c[0]) == c[0] && Component(c[1]) == c[1] && Component(c[2]) == c[2]) {
              around.push_back(c);
            }
          }
        }
        random.Shuffle(around);
        for (const Colour& c : around) add(c);
      }
      break;
    case PaletteKind::kCorner: {
      const Colour corner = {random.Pick({kLowest, kHighest}), random.Pick({kLowest, kHighest}),
                             random.Pick({kLowest, kHighest})};
      const std::int32_t reach = random.Pick({0, 3, 20, 60});
      auto inward = [&](std::int32_t c) {
        return c == kLowest ? c + random.Between(0, reach) : c - random.Between(0, reach);
      };
      while (match.size() < end) add({inward(corner[0]), inward(corner[1]), inward(corner[2])});
      spots.push_back({255 - corner[0], 255 - corner[1], 255 - corner[2]});
      spots.push_back({128, 128, 128});
      break;
    }
    case PaletteKind::kLevels: {
      auto level = [&] {
        return random.Pick({-15, -14, -1,  0,   1,   7,   8,   9,   15,  16, 17,
                            31,  32,  127, 128, 239, 240, 247, 248, 254, 255});
      };
      while (match.size() < end) add({level(), level(), level()});
      for (int i = 0; i < 8; ++i) spots.push_back({level(), level(), level()});
      break;
    }
    case PaletteKind::kShell: {
      const Colour centre = {random.Between(0, 255), random.Between(0, 255),
                             random.Between(0, 255)};
      const std::int32_t radius = random.Pick({2, 5, 12, 40, 100});
      spots.push_back(centre);
      for (int tries = 0; match.size() < end; ++tries) {
        const Colour v = {random.Between(-radius, radius), random.Between(-radius, radius),
                          random.Between(-radius, radius)};
        const std::int32_t d = v[0] * v[0] + v[1] * v[1] + v[2] * v[2];
        const Colour c = {Component(centre[0] + v[0]), Component(centre[1] + v[1]),
                          Component(centre[2] + v[2])};
        if (tries > 100000 || (d >= radius * radius - radius && d <= radius * radius + radius)) {
          add(c);
        }
      }
      break;
    }
    case PaletteKind::kCount:
      break;
  }
}

const char* PaletteName(PaletteKind kind) {
  const char* names[] = {"spread",    "positive", "cell",   "duplicates", "lattice",
                         "symmetric", "corner",   "levels", "shell"};
  return names[static_cast<int>(kind)];
}

// Signature counts where blocks of 8, 16, 64, 256 or 4096 and the like
// begin and end, a few at random, now and then a great many.
std::size_t PickCount(Random& random) {
  const std::size_t edges[] = {1,  2,   3,   7,   8,    15,   16,   17,   63,   64,
                               65, 255, 256, 257, 4095, 4096, 4097, 8191, 8192, 8193};
  const std::uint64_t roll = random.Below(100);
  if (roll < 2) return random.Pick<std::size_t>({20000, 65535, 65536, 65537, 100000});
  if (roll < 8) return static_cast<std::size_t>(random.Between(1, 20000));
  if (roll < 25) return static_cast<std::size_t>(random.Between(1, 300));
  if (roll < 35) return random.Pick<std::size_t>({1, 2, 3});
  return edges[random.Below(20)];
}

// A table of `n` signatures of one to three kinds, in blocks or mixed, or
// (`crowded`) all in one cell of 8 or 16 values a side, aligned or across the
// boundaries of smaller cells, or on one colour, bar a few far away; and
// replacement colours that name their signature where they can (so a wrong
// winner shows) or are random in -15..255 (only their low 8 bits count).
Table MakeTable(std::size_t n, bool crowded, Random& random, std::vector<Colour>& spots,
                std::string& about) {
  Table table;
  if (crowded) {
    const std::int32_t side = random.Pick({1, 8, 8, 16});
    const std::int32_t shift = random.Pick({0, 0, side / 2, 1});
    Colour base;
    for (std::int32_t& b : base) {
      b = std::min(256 - side, side * random.Between(0, 256 / side - 1) + shift);
      if (random.OneIn(5)) b = std::max(kLowest, -side / 2);
    }
    for (std::size_t i = 0; i < n; ++i) {
      table.match.push_back({base[0] + random.Between(0, side - 1),
                             base[1] + random.Between(0, side - 1),
                             base[2] + random.Between(0, side - 1)});
    }
    const std::uint64_t outliers = random.Below(4);
    for (std::uint64_t k = 0; k < outliers; ++k) {
      table.match[random.Below(n)] = {random.Between(kLowest, 255), random.Between(kLowest, 255),
                                      random.Between(kLowest, 255)};
    }
    for (const std::int32_t d : {-1, 0, side / 2, side}) {
      spots.push_back({base[0] + d, base[1] + d, base[2] + d});
    }
    spots.push_back({255 - base[0], 255 - base[1], 255 - base[2]});
    about += "crowded in a cell of " + std::to_string(side) + " at " + std::to_string(base[0]) +
             "," + std::to_string(base[1]) + "," + std::to_string(base[2]) + ", " +
             std::to_string(outliers) + " far";
  } else {
    const std::uint64_t kinds = 1 + random.Below(3);
    std::size_t left = n;
    for (std::uint64_t k = 0; k < kinds; ++k) {
      const std::size_t part =
          k + 1 == kinds ? left : static_cast<std::size_t>(random.Below(left + 1));
      const auto kind =
          static_cast<PaletteKind>(random.Below(static_cast<std::uint64_t>(PaletteKind::kCount)));
      AddPalette(kind, part, random, table.match, spots);
      about += std::string(k ? "+" : "") + PaletteName(kind) + "(" + std::to_string(part) + ")";
      left -= part;
    }
    if (random.OneIn(2)) {
      random.Shuffle(table.match);
      about += " mixed";
    }
  }
  const bool named = !random.OneIn(4);
  about += named ? ", replacements name their signature" : ", random replacements";
  for (std::size_t i = 0; i < n; ++i) {
    Colour r;
    if (named) {
      r = {static_cast<std::int32_t>(i & 0xFF), static_cast<std::int32_t>(i >> 8 & 0xFF),
           static_cast<std::int32_t>(i >> 16 & 0x0F) | random.Between(0, 15) << 4};
      for (std::int32_t& c : r) {
        if (c > 240 && random.OneIn(2)) c -= 256;  // the same low 8 bits, written negative
      }
    } else {
      r = {random.Between(kLowest, 255), random.Between(kLowest, 255),
           random.Between(kLowest, 255)};
    }
    table.replace.push_back(r);
  }
  return table;
}

// Pictures.
enum class PictureKind {
  kNoise,      // every pixel random
  kGradient,   // smooth ramps over rows, with or without grain
  kSwatches,   // a few flat colours in long runs
  kTexture,    // one colour with fine grain
  kExact,      // the match colours themselves
  kMidpoints,  // halfway between two match colours (ties where the sums are even)
  kNear,       // within two of a match colour
  kSpots,      // the palette's noted colours and near them
  kFlat,       // one colour throughout
  kBitFlips,   // one colour with one bit of one component flipped, pixel by pixel
  kCycle,      // a few to a few hundred colours coming round again and again
  kCount
};

const char* PictureName(PictureKind kind) {
  const char* names[] = {"noise", "gradient", "swatches", "texture",   "exact", "midpoints",
                         "near",  "spots",    "flat",     "bit flips", "cycle"};
  return names[static_cast<int>(kind)];
}

void AddPicture(PictureKind kind, std::size_t count, Random& random, const Table& table,
                const std::vector<Colour>& spots, Pixels& pixels) {
  auto push = [&](std::int32_t r, std::int32_t g, std::int32_t b) {
    pixels.push_back(Sample(r)), pixels.push_back(Sample(g)), pixels.push_back(Sample(b));
  };
  auto randomColour = [&]() -> Colour {
    return {random.Between(0, 255), random.Between(0, 255), random.Between(0, 255)};
  };
  auto someMatch = [&] { return table.match[random.Below(table.size())]; };
  auto someSpot = [&] {
    return spots.empty() ? randomColour() : spots[random.Below(spots.size())];
  };
  switch (kind) {
    case PictureKind::kNoise:
      for (std::size_t k = 0; k < count; ++k) {
        push(random.Between(0, 255), random.Between(0, 255), random.Between(0, 255));
      }
      break;
    case PictureKind::kGradient: {
      const std::size_t width = static_cast<std::size_t>(random.Between(1, 2000));
      const Colour start = randomColour();
      Colour across, down;  // 256ths of a level a pixel
      for (std::size_t c = 0; c < 3; ++c) {
        across[c] = random.Between(-300, 300);
        down[c] = random.Between(-3000, 3000);
      }
      const std::int32_t grain = random.Pick({0, 0, 1, 3});
      for (std::size_t k = 0; k < count; ++k) {
        const auto x = static_cast<std::int64_t>(k % width),
                   y = static_cast<std::int64_t>(k / width);
        Colour c;
        for (std::size_t j = 0; j < 3; ++j) {
          // A triangle wave keeps the ramp inside 0..255.
          std::int64_t v = (std::int64_t{start[j]} * 256 + std::int64_t{x} * across[j] +
                            std::int64_t{y} * down[j]) /
                           256 % 510;
          if (v < 0) v += 510;
          c[j] = static_cast<std::int32_t>(v > 255 ? 510 - v : v) + random.Between(-grain, grain);
        }
        push(c[0], c[1], c[2]);
      }
      break;
    }
    case PictureKind::kSwatches: {
      std::vector<Colour> few(static_cast<std::size_t>(random.Between(1, 6)));
      for (Colour& c : few) c = random.OneIn(2) ? someMatch() : randomColour();
      for (std::size_t k = 0; k < count;) {
        const Colour& c = few[random.Below(few.size())];
        const std::size_t run = std::min(count - k, 1 + random.Below(count / few.size() + 1));
        for (std::size_t j = 0; j < run; ++j) push(c[0], c[1], c[2]);
        k += run;
      }
      break;
    }
    case PictureKind::kTexture: {
      const Colour base = random.OneIn(2) ? someSpot() : randomColour();
      const std::int32_t grain = random.Pick({1, 2, 4});
      for (std::size_t k = 0; k < count; ++k) {
        push(base[0] + random.Between(-grain, grain), base[1] + random.Between(-grain, grain),
             base[2] + random.Between(-grain, grain));
      }
      break;
    }
    case PictureKind::kExact:
      for (std::size_t k = 0; k < count; ++k) {
        const Colour c = someMatch();
        push(c[0], c[1], c[2]);
      }
      break;
    case PictureKind::kMidpoints:
      for (std::size_t k = 0; k < count; ++k) {
        const Colour a = someMatch(), b = someMatch();
        const std::int32_t up = random.Between(0, 1);
        push((a[0] + b[0] + up) >> 1, (a[1] + b[1] + up) >> 1, (a[2] + b[2] + up) >> 1);
      }
      break;
    case PictureKind::kNear:
      for (std::size_t k = 0; k < count; ++k) {
        const Colour c = someMatch();
        push(c[0] + random.Between(-2, 2), c[1] + random.Between(-2, 2),
             c[2] + random.Between(-2, 2));
      }
      break;
    case PictureKind::kSpots:
      for (std::size_t k = 0; k < count; ++k) {
        const Colour c = someSpot();
        const std::int32_t d = random.OneIn(2) ? 0 : 1;
        push(c[0] + random.Between(-d, d), c[1] + random.Between(-d, d),
             c[2] + random.Between(-d, d));
      }
      break;
    case PictureKind::kFlat: {
      const Colour c = random.OneIn(2) ? someSpot() : randomColour();
      for (std::size_t k = 0; k < count; ++k) push(c[0], c[1], c[2]);
      break;
    }
    case PictureKind::kBitFlips: {
      const Colour c = random.OneIn(2) ? someSpot() : randomColour();
      for (std::size_t k = 0; k < count; ++k) {
        Colour flipped = {Sample(c[0]), Sample(c[1]), Sample(c[2])};
        if (!random.OneIn(4)) flipped[random.Below(3)] ^= 1 << random.Below(8);
        push(flipped[0], flipped[1], flipped[2]);
      }
      break;
    }
    case PictureKind::kCycle: {
      std::vector<Colour> few(static_cast<std::size_t>(random.Pick({2, 3, 8, 64, 300})));
      for (Colour& c : few) c = random.OneIn(2) ? someMatch() : randomColour();
      const bool inTurn = random.OneIn(2);
      for (std::size_t k = 0; k < count; ++k) {
        const Colour& c = few[inTurn ? k % few.size() : random.Below(few.size())];
        push(c[0], c[1], c[2]);
      }
      break;
    }
    case PictureKind::kCount:
      break;
  }
}

// Pixel counts around the lengths of vectors, blocks and threads' shares,
// some at random, now and then a million.
std::size_t PickPixels(Random& random) {
  const std::size_t edges[] = {1,    2,    3,    4,    5,    7,     8,     9,    15,   16,
                               17,   31,   32,   33,   63,   64,    65,    127,  128,  129,
                               255,  256,  257,  511,  512,  513,   1023,  1024, 1025, 4095,
                               4096, 4097, 8191, 8192, 8193, 65535, 65536, 65537};
  const std::uint64_t roll = random.Below(100);
  if (roll < 3) return 1000000 - random.Below(100);
  if (roll < 13) return static_cast<std::size_t>(random.Between(1, 300000));
  if (roll < 40) return static_cast<std::size_t>(random.Between(1, 20000));
  return edges[random.Below(sizeof edges / sizeof edges[0])];
}

// A picture of one to four kinds, one after another.
Pixels MakePicture(std::size_t count, Random& random, const Table& table,
                   const std::vector<Colour>& spots, std::string& about) {
  Pixels pixels;
  pixels.reserve(3 * count);
  const std::uint64_t kinds = 1 + random.Below(random.OneIn(2) ? 1 : 4);
  std::size_t left = count;
  for (std::uint64_t k = 0; k < kinds; ++k) {
    const std::size_t part =
        k + 1 == kinds ? left : static_cast<std::size_t>(random.Below(left + 1));
    const auto kind =
        static_cast<PictureKind>(random.Below(static_cast<std::uint64_t>(PictureKind::kCount)));
    AddPicture(kind, part, random, table, spots, pixels);
    about += std::string(k ? "+" : "") + PictureName(kind) + "(" + std::to_string(part) + ")";
    left -= part;
  }
  return pixels;
}

struct Case {
  std::uint64_t seed;
  Table table;
  Pixels pixels;
  std::string about;
};

Case MakeCase(std::uint64_t seed) {
  Random random(seed);
  Case c{seed, {}, {}, ""};
  const bool crowded = random.OneIn(8);
  const std::size_t n =
      crowded ? random.Pick<std::size_t>({63, 64, 65, 255, 256, 257, 4095, 4096, 4097, 8191, 8192,
                                          8193, 20000, 65536, 65537, 100000})
              : PickCount(random);
  std::vector<Colour> spots;
  c.about = std::to_string(n) + " signatures: ";
  c.table = MakeTable(n, crowded, random, spots, c.about);
  // The pass may try every signature for every pixel: a case holds at most
  // the budget's pairs, its length just short of the cap or at it.
  std::size_t count = PickPixels(random);
  const std::size_t cap = std::max<std::size_t>(1, static_cast<std::size_t>(Budget() / n));
  if (count > cap)
    count = cap - static_cast<std::size_t>(random.Below(std::min<std::size_t>(cap, 66)));
  c.about += "; " + std::to_string(count) + " pixels: ";
  c.pixels = MakePicture(count, random, c.table, spots, c.about);
  return c;
}

// A component as the command line and sscanf's "%02x" take it.
std::string Spelled(std::int32_t v, Random* random = nullptr) {
  char text[16];
  if (v < 0) {
    std::snprintf(text, sizeof text, "-%x", static_cast<unsigned>(-v));
  } else if (random != nullptr && v < 16 && random->OneIn(4)) {
    std::snprintf(text, sizeof text, "+%X", static_cast<unsigned>(v));
  } else {
    std::snprintf(text, sizeof text, random != nullptr && random->OneIn(2) ? "%02X" : "%02x",
                  static_cast<unsigned>(v));
  }
  return text;
}

std::string Signature(const Table& table, std::size_t i, Random* random = nullptr) {
  std::string s = "#";
  for (const std::int32_t v : table.match[i]) s += Spelled(v, random);
  s += ":#";
  for (const std::int32_t v : table.replace[i]) s += Spelled(v, random);
  return s;
}

std::string Hex(const std::uint8_t* p) {
  char text[8];
  std::snprintf(text, sizeof text, "%02x%02x%02x", p[0], p[1], p[2]);
  return text;
}

const SearchChoice kSearches[] = {RemapOptions{}.search,
                                  SearchChoice::kFull,
                                  SearchChoice::kBlockUnion,
                                  SearchChoice::kEachPixelLargeCells,
                                  SearchChoice::kEachPixelSmallCells,
                                  SearchChoice::kRemembering};
const char* const kSearchNames[] = {
    "automatic",  "full", "block union", "each pixel, cells of 16", "each pixel, cells of 8",
    "remembering"};
const unsigned kThreads[] = {1, 2, 3, 7};

struct Way {
  RemapKernel kernel;
  std::size_t search;
  unsigned threads;
  std::string Name() const {
    return std::string(KernelName(kernel)) + ", " + kSearchNames[search] + ", " +
           std::to_string(threads) + " thread" + (threads == 1 ? "" : "s");
  }
};

Pixels RunWay(const Way& way, const Table& table, Pixels pixels) {
  const Configuration config = ConfigurationOf(table);
  EXPECT_TRUE(RemapPixelsWith(way.kernel, pixels.data(), pixels.size() / 3, config,
                              {kSearches[way.search], way.threads}));
  return pixels;
}

bool Differs(const Way& way, const Table& table, const Pixels& pixels) {
  return RunWay(way, table, pixels) != Replaced(table, Rule(table).Winners(pixels));
}

// The fewest pixels and signatures (in their order) on which `way` still
// goes wrong: the wrong pixels one at a time, else all of them; then
// signatures dropped in halves, quarters and so on while the fault stays.
std::string Minimised(const Way& way, Table table, Pixels pixels, const Pixels& got,
                      const Pixels& expected) {
  for (std::size_t k = 0, tried = 0; k < pixels.size() / 3 && tried < 16; ++k) {
    if (std::equal(got.data() + 3 * k, got.data() + 3 * k + 3, expected.data() + 3 * k)) continue;
    ++tried;
    const Pixels one(pixels.data() + 3 * k, pixels.data() + 3 * k + 3);
    if (Differs(way, table, one)) {
      pixels = one;
      break;
    }
  }
  int runs = 0;
  for (std::size_t chunk = table.size() / 2; chunk >= 1 && runs < 3000; chunk /= 2) {
    for (std::size_t start = 0; start < table.size() && table.size() > 1 && runs < 3000;) {
      Table smaller;
      for (std::size_t i = 0; i < table.size(); ++i) {
        if (i >= start && i < start + chunk) continue;
        smaller.match.push_back(table.match[i]);
        smaller.replace.push_back(table.replace[i]);
      }
      ++runs;
      if (!smaller.match.empty() && Differs(way, smaller, pixels)) {
        table = smaller;
      } else {
        start += chunk;
      }
    }
  }
  const Pixels now = RunWay(way, table, pixels);
  const std::vector<std::size_t> winners = Rule(table).Winners(pixels);
  const Pixels want = Replaced(table, winners);
  std::ostringstream out;
  out << "smallest failing case found (" << way.Name() << "): " << table.size() << " signatures";
  if (table.size() <= 40) {
    for (std::size_t i = 0; i < table.size(); ++i) out << " " << Signature(table, i);
  }
  out << "; " << pixels.size() / 3 << " pixels";
  for (std::size_t k = 0, shown = 0; k < pixels.size() / 3 && shown < 4; ++k) {
    if (std::equal(now.data() + 3 * k, now.data() + 3 * k + 3, want.data() + 3 * k)) continue;
    ++shown;
    out << "\n  pixel " << k << " #" << Hex(pixels.data() + 3 * k) << ": expected #"
        << Hex(want.data() + 3 * k) << " (signature " << winners[k] << "), got #"
        << Hex(now.data() + 3 * k);
  }
  return out.str();
}

// Where `got` and `expected` differ: how many pixels, the first few, and
// which signature the rule gives each and at what distance.
std::string Difference(const Table& table, const Pixels& pixels, const Pixels& got,
                       const Pixels& expected, const std::vector<std::size_t>& winners) {
  std::ostringstream out;
  std::size_t wrong = 0;
  const Rule rule(table);
  for (std::size_t k = 0; k < pixels.size() / 3; ++k) {
    if (std::equal(got.data() + 3 * k, got.data() + 3 * k + 3, expected.data() + 3 * k)) continue;
    if (++wrong > 4) continue;
    const std::uint8_t* p = pixels.data() + 3 * k;
    out << "\n  pixel " << k << " #" << Hex(p) << ": expected #" << Hex(expected.data() + 3 * k)
        << " (signature " << winners[k] << " " << Signature(table, winners[k]) << ", distance "
        << rule.Distance(winners[k], p[0], p[1], p[2]) << "), got #" << Hex(got.data() + 3 * k);
    for (std::size_t i = 0, named = 0; i < table.size() && named < 3; ++i) {
      if ((table.replace[i][0] & 0xFF) == got[3 * k] &&
          (table.replace[i][1] & 0xFF) == got[3 * k + 1] &&
          (table.replace[i][2] & 0xFF) == got[3 * k + 2]) {
        out << (named++ ? ", " : " from signature ") << i << " " << Signature(table, i)
            << " at distance " << rule.Distance(i, p[0], p[1], p[2]);
      }
    }
  }
  return std::to_string(wrong) + " of " + std::to_string(pixels.size() / 3) + " pixels wrong" +
         out.str();
}

// Every kernel and way of searching on every case; every thread count where
// the case is small, one at random where it is not.
TEST(Differential, EveryKernelSearchAndThreadCountKeepsTheRule) {
  const std::uint64_t first = FirstSeed(), cases = Cases(120);
  std::uint64_t runs = 0, failures = 0;
  for (std::uint64_t seed = first; seed < first + cases && failures < 3; ++seed) {
    const Case c = MakeCase(seed);
    SCOPED_TRACE(testing::Message() << "seed " << seed << ": " << c.about << Repeat(seed));
    Log("seed " + std::to_string(seed) + ": " + c.about);
    const std::vector<std::size_t> winners = Rule(c.table).Winners(c.pixels);
    const Pixels expected = Replaced(c.table, winners);
    {
      // The brute force itself against the plainest form of the rule, on a few pixels.
      Pixels head(c.pixels.begin(),
                  c.pixels.begin() +
                      static_cast<std::ptrdiff_t>(std::min<std::size_t>(c.pixels.size(), 3 * 8)));
      reference::ReferenceRemap(head.data(), head.size() / 3, ConfigurationOf(c.table));
      ASSERT_TRUE(std::equal(head.begin(), head.end(), expected.begin()));
    }
    Random random(seed ^ 0x9e3779b97f4a7c15u);
    const bool cheap = c.pixels.size() / 3 * c.table.size() <= 200000;
    std::string wrong;  // every way that went wrong, the first in full
    for (const RemapKernel kernel : kFastestFirst) {
      if (!HasKernel(kernel)) continue;
      for (std::size_t search = 0; search < std::size(kSearches); ++search) {
        const unsigned oneOf = kThreads[random.Below(std::size(kThreads))];
        for (const unsigned threads : kThreads) {
          if (!cheap && threads != oneOf) continue;
          const Way way{kernel, search, threads};
          const Pixels got = RunWay(way, c.table, c.pixels);
          ++runs;
          if (got == expected) continue;
          if (wrong.empty()) {
            wrong = way.Name() + ": " + Difference(c.table, c.pixels, got, expected, winners) +
                    "\n" + Minimised(way, c.table, c.pixels, got, expected) + "\nwrong too:";
          } else {
            wrong += "\n  " + way.Name();
          }
        }
      }
    }
    {
      // And as the program calls it when the raster is read whole.
      const Configuration config = ConfigurationOf(c.table);
      Pixels got = c.pixels;
      RemapPixels(got.data(), got.size() / 3, PrepareTable(config));
      ++runs;
      if (got != expected) {
        wrong +=
            (wrong.empty() ? "RemapPixels: " + Difference(c.table, c.pixels, got, expected, winners)
                           : "\n  RemapPixels");
      }
    }
    if (!wrong.empty()) {
      ++failures;
      ADD_FAILURE() << wrong;
    }
  }
  std::printf("%llu cases from seed %llu, %llu runs of the pass\n",
              static_cast<unsigned long long>(cases), static_cast<unsigned long long>(first),
              static_cast<unsigned long long>(runs));
}

// The pass as the program runs it: the raster arriving in parts of odd
// sizes, asked for at odd moments, on the fastest kernel with any search
// and thread count; sometimes abandoned halfway.
TEST(Differential, ThePassWhileTheRasterArrivesKeepsTheRule) {
  const std::uint64_t first = FirstSeed(), cases = Cases(120);
  for (std::uint64_t seed = first; seed < first + cases; ++seed) {
    const Case c = MakeCase(seed);
    Random random(seed ^ 0x5851f42d4c957f2du);
    const std::size_t search = static_cast<std::size_t>(random.Below(std::size(kSearches)));
    const unsigned threads = random.OneIn(5) ? 0u : kThreads[random.Below(std::size(kThreads))];
    const std::uint64_t bytes = c.pixels.size();
    const std::uint64_t part = std::max<std::uint64_t>(
        bytes / 2000,
        random.Pick<std::uint64_t>({1, 2, 3, 5, 7, 64, 191, 4095, 4097, 65537, 1u << 20}));
    SCOPED_TRACE(testing::Message()
                 << "seed " << seed << ": " << c.about << "; " << kSearchNames[search] << ", "
                 << threads << " threads, parts of about " << part << Repeat(seed));
    Log("seed " + std::to_string(seed) + ": " + c.about + "; " + kSearchNames[search] + ", " +
        std::to_string(threads) + " threads, parts of about " + std::to_string(part));
    const Configuration config = ConfigurationOf(c.table);
    const PreparedTable table = PrepareTable(config);
    ASSERT_TRUE(table);
    const Pixels expected = Replaced(c.table, Rule(c.table).Winners(c.pixels));
    Pixels raster(bytes, 0xA5);  // what has not arrived is junk
    const bool abandon = random.OneIn(10);
    {
      RemapPass pass(table, {kSearches[search], threads});
      pass.Start(raster.data(), bytes);
      std::uint64_t checked = 0;
      for (std::uint64_t done = 0; done < bytes;) {
        const std::uint64_t end = std::min(bytes, done + 1 + random.Below(2 * part));
        std::copy(c.pixels.begin() + static_cast<std::ptrdiff_t>(done),
                  c.pixels.begin() + static_cast<std::ptrdiff_t>(end),
                  raster.begin() + static_cast<std::ptrdiff_t>(done));
        pass.Arrived(done = end);
        if (abandon && done >= bytes / 2) {
          pass.Abandon();
          break;
        }
        if (random.OneIn(6)) {
          // Any count of bytes; only the whole pixels among them must be final.
          const std::uint64_t asked = checked + random.Below(end - checked + 1);
          pass.AwaitReady(asked);
          const std::uint64_t whole = asked / 3 * 3;
          ASSERT_TRUE(std::equal(raster.begin() + static_cast<std::ptrdiff_t>(checked),
                                 raster.begin() + static_cast<std::ptrdiff_t>(whole),
                                 expected.begin() + static_cast<std::ptrdiff_t>(checked)))
              << "bytes " << checked << " to " << whole << " of " << bytes << " after " << end;
          checked = std::max(checked, whole);
        }
      }
      if (abandon) continue;
      pass.AwaitReady(bytes);
      if (raster != expected) {
        FAIL() << Difference(c.table, c.pixels, raster, expected, Rule(c.table).Winners(c.pixels));
      }
    }
  }
}

// The program on random P6 files: random sizes, maxval and header spacing,
// 1 to 500 signatures spelled every way the grammar allows, the image from a
// file or standard input (a file or a pipe), the result to standard output
// or a file.
TEST(Differential, TheProgramOnRandomFilesKeepsTheRule) {
  const std::uint64_t first = FirstSeed(), cases = std::max<std::uint64_t>(1, Cases(240) / 8);
  const test::ScratchDir dir;
  for (std::uint64_t seed = first; seed < first + cases; ++seed) {
    Random random(seed ^ 0x2545f4914f6cdd1du);
    std::vector<Colour> spots;
    std::string about;
    // Now and then a picture of millions of pixels, which the program reads
    // and remaps in parts, with fewer signatures to keep the brute force quick.
    const bool big = random.OneIn(6);
    const auto n = static_cast<std::size_t>(big || random.OneIn(4) ? random.Between(1, 16)
                                                                   : random.Between(1, 500));
    const Table table = MakeTable(n, random.OneIn(8), random, spots, about);
    const std::int32_t width = big               ? random.Between(1000, 3000)
                               : random.OneIn(8) ? 1
                                                 : random.Between(1, 300);
    const std::int32_t height = big               ? random.Between(100, 700)
                                : random.OneIn(8) ? 1
                                                  : random.Between(1, 200);
    test::Ppm ppm;
    ppm.width = std::to_string(width);
    ppm.height = std::to_string(height);
    ppm.maxval = std::to_string(random.OneIn(2) ? 255 : random.Between(1, 255));
    ppm.afterMagic = random.Pick<std::string>({"\n", " ", "\t", " \n\t"});
    ppm.betweenSizes = random.Pick<std::string>({" ", "\n", "  ", "\t"});
    ppm.afterSizes = random.Pick<std::string>({"\n", " ", "\r\n"});
    ppm.delimiter = random.Pick<std::string>({"\n", " ", "\t"});
    about += "; ";
    const Pixels pixels =
        MakePicture(static_cast<std::size_t>(width) * static_cast<std::size_t>(height), random,
                    table, spots, about);
    ppm.raster.assign(pixels.begin(), pixels.end());
    const Pixels remapped = Replaced(table, Rule(table).Winners(pixels));
    const std::string expected = "P6\n" + ppm.width + " " + ppm.height + "\n" + ppm.maxval + "\n" +
                                 std::string(remapped.begin(), remapped.end());

    std::vector<std::string> args = {std::to_string(n)};
    for (std::size_t i = 0; i < n; ++i) args.push_back(Signature(table, i, &random));
    const std::string input = dir / "in.ppm", output = dir / "out.ppm";
    test::WriteFile(input, ppm.Bytes());
    std::remove(output.c_str());
    // The test's own pipe holds small files only; a shell's takes any.
    const bool fitsAPipe = ppm.Bytes().size() <= 60000;
#ifdef _WIN32
    const int route = static_cast<int>(random.Below(fitsAPipe ? 6 : 5));
#else
    int route = static_cast<int>(random.Below(7));
    if (route == 5 && !fitsAPipe) route = 6;
#endif
    test::Streams streams;
    const char* routes[] = {"-in, standard output",
                            "-in then -out",
                            "-out then -in",
                            "standard input from a file",
                            "standard input from a file, -out",
                            "standard input from a pipe",
                            "a shell's pipe in, -out"};
    switch (route) {
      case 0:
        args.insert(args.end(), {"-in", "in.ppm"});
        break;
      case 1:
        args.insert(args.end(), {"-in", "in.ppm", "-out", "out.ppm"});
        break;
      case 2:
        args.insert(args.end(), {"-out", "out.ppm", "-in", "in.ppm"});
        break;
      case 3:
        streams = test::StdinFrom(input);
        break;
      case 4:
        streams = test::StdinFrom(input);
        args.insert(args.end(), {"-out", "out.ppm"});
        break;
      case 5:
        streams = test::PipedIn(ppm.Bytes());
        break;
      default:
        args.insert(args.end(), {"-out", output});
        break;
    }
    SCOPED_TRACE(testing::Message()
                 << "seed " << seed << ": " << about << "; " << width << " x " << height
                 << ", maxval " << ppm.maxval << ", " << routes[route] << Repeat(seed));
    Log("seed " + std::to_string(seed) + ": " + about + "; " + std::to_string(width) + " x " +
        std::to_string(height) + ", maxval " + ppm.maxval + ", " + routes[route]);
    test::Run run;
    if (route == 6) {
#ifndef _WIN32
      std::string line = "cat '" + input + "' | " + test::ShellCommandFor(REMAP_EXECUTABLE);
      for (const std::string& arg : args) line += " '" + arg + "'";
      line += " 2>'" + (dir / "err") + "'";
      const int status = std::system(line.c_str());
      run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      run.err = test::ReadFile(dir / "err");
#endif
    } else {
      run = test::RunProgram(REMAP_EXECUTABLE, args, dir, streams);
    }
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    const bool toFile = route == 1 || route == 2 || route == 4 || route == 6;
    const std::string got = toFile ? test::ReadFile(output) : run.out;
    if (!toFile) {
      EXPECT_FALSE(std::filesystem::exists(output));
    }
    ASSERT_EQ(got.size(), expected.size());
    if (got != expected) {
      const std::size_t header = expected.size() - remapped.size();
      ASSERT_EQ(got.substr(0, header), expected.substr(0, header));
      const Pixels gotPixels(got.begin() + static_cast<std::ptrdiff_t>(header), got.end());
      FAIL() << Difference(table, pixels, gotPixels, remapped, Rule(table).Winners(pixels));
    }
  }
}

}  // namespace
