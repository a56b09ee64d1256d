// Which way each unit of a picture is searched: a function of counts the
// pass takes from the signatures and from the pixels just before the unit,
// of the kernel's lanes and of the caches' sizes, never of a clock. The same
// picture and signatures on the same machine get the same ways on every run,
// under any load and on any number of threads.
#pragma once

#include <cstddef>
#include <cstdint>

#include "remap/table.hpp"

namespace remap {

// The ways a block can be searched, in SearchChoice's order.
enum Way { kFull, kBlockUnion, kEachPixelLargeCells, kEachPixelSmallCells, kRemembering, kWays };

// A picture is decided in units of this many pixels from its first, each
// from a sample of the kSamplePixels pixels before it; the first unit from
// its own first kSamplePixels, which the full search takes. Counting a
// sample costs about what searching a thousand of its pixels in full does.
constexpr std::uint64_t kUnitPixels = std::uint64_t{1} << 20;
constexpr int kSamplePixels = 256;
// And from the kRecentPixels pixels before it (the first unit's sample),
// met in order as a thread's remembered colours meet them: how many of the
// last kRecentCounted of them those would lack.
constexpr std::uint64_t kRecentPixels = std::uint64_t{1} << 14;
constexpr std::uint64_t kRecentCounted = std::uint64_t{1} << 12;

// What decides, besides the counts: the kernel's lanes and the caches.
struct Machine {
  int lanes;      // pixels a kernel's instruction compares with one signature
  int quadLanes;  // candidates a step of the search of each pixel takes
  std::size_t level2, level3;
};

// What the pass counts for a unit.
struct Counts {
  std::int32_t signatures;
  std::uint64_t pixels;     // in the picture
  std::int32_t together;    // candidates of a sampled block's box (the union it would search)
  std::int32_t large;       // candidates of a sampled colour's cell of 16, a mean of up to four
  std::int32_t small;       // and of its cell of 8
  std::int32_t samples;     // pixels sampled, at most kSamplePixels
  std::int32_t recent;      // pixels before the unit met as remembered colours,
  std::int32_t missed;      // and how many of them those lacked
  std::int32_t smallCells;  // cells of 8 the sample reaches
  std::int32_t lone;        // cells of 8 only one sampled pixel reaches
  std::int32_t spread;      // cells of 8 in the box of the sampled colours
};

// What a pixel costs each way, in vector instructions, building its share
// of the cells included; and the cheapest way (the earlier on a tie).
// Without an index only the full search can be had.
double Cost(Way way, const Counts& counts, const Machine& machine);
Way Choose(const Counts& counts, const Machine& machine, bool indexed);

// The counts of `samplePixels` pixels at `sample` (at most kSamplePixels)
// against `all`, for a picture of `pixels`; all but `recent` and `missed`.
Counts Count(const Signatures& all, const std::uint8_t* sample, int samplePixels,
             std::uint64_t pixels);

}  // namespace remap
