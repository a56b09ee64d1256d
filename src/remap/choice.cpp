// The choice between the ways of searching: what a pixel costs each way, in
// vector instructions, from the counts of a unit and the machine; the
// cheapest wins. With N signatures, V lanes a kernel instruction, Q
// candidates a step of the search of each pixel, U the candidates of a
// block's union, C those of a pixel's cell and s = C/Q its steps:
//
//   way             a pixel costs                                   wins
//   full            4N/V + 8 + 64/V                                 few signatures; small pictures
//   block union     4U/V + 8 + 160/V + U/16                         flat and smooth areas (U << N)
//   each pixel, 16  22 + 16(s + ½) + 20·min(s/2, 1) + memory + building
//                                                                   texture at middling N
//   each pixel, 8   the same, in cells of 8                         texture and noise at large N
//   remembering     27 + misses·(each pixel, 8 + 20)                few colours met again and again
//
// A block searches its union's candidates as the full search does every
// signature, after finding the box of its colours, and joins their lists
// where its cells differ from the last block's. A pixel searched in its cell
// waits on two loads, one depending on the other, takes Q candidates a step,
// and where cells take more than one step, ends its loop on a branch that
// the next pixel's cell may take the other way. Memory: of the cells that
// pixels near one another reach (the box of the sampled colours), the share
// the level 2 cache cannot hold waits 30 for its first line and 5 for each
// further one, and the share level 3 cannot hold 100 a line, times 16/V: a
// kernel's block of fewer pixels fetches fewer cells together and hides less
// of each wait. Cells beyond the quads' pool are searched one signature at a
// time, and those beyond the lists' pool against an ancestor's list, as long
// as every signature. Building: a cell costs about 1000 + 19x + x²/11
// with x = 3 candidates of its parent + 2 of its own, the last term for what
// outgrows the caches, and cells come in families of eight; a picture shares
// what the cells it reaches cost among its pixels, so a small one keeps to
// the full search unless its cells pay for themselves. A unit reaches no
// more cells than twice the box of its sampled colours holds. Misses: the share of
// pixels whose colour a thread's remembered colours lack, as a table like
// them lacked those of the pixels before the unit. The constants are what
// timing each way alone gave on one processor (bench/remap_bench.cpp
// --ways); the counts, lanes and caches are the machine's own.
#include "remap/choice.hpp"

#include <algorithm>
#include <cmath>
#include <numeric>
#include <vector>

#include "remap/index.hpp"

namespace remap {
namespace {

constexpr double kLargeCells = 4096, kSmallCells = 32768;

// The search of each pixel in cells of `candidates`, whose parents have
// `parent`, of which a unit reaches `reached` of the level's `cells`, and
// pixels near one another `near`.
double EachPixel(double candidates, double parent, double reached, double near, double cells,
                 const Counts& counts, const Machine& machine) {
  const double lines = candidates / kQuad + 0.5;
  const double pixels = static_cast<double>(counts.pixels);
  // The share of cells that the caches do not hold, where those near one
  // another outgrow them: a cell's first line waits on memory, and the next
  // ones, which follow it, less. A block's cells are fetched together: the
  // fewer its pixels, the less of each wait the others hide.
  const double held = std::min(reached, near) * lines * 64;
  const auto missed = [held](std::size_t cache) {
    return std::max(0.0, 1 - static_cast<double>(cache) / held);
  };
  const double memory =
      (missed(machine.level2) * (30 + 5 * (lines - 1)) + missed(machine.level3) * 100 * lines) *
      std::min(16.0 / machine.lanes, 4.0);
  // The cells the whole picture reaches, each unit no more than twice the
  // box of the sampled colours holds, and the share of them beyond the
  // quads' pool, which are searched one signature at a time. They are built
  // in families of eight, each unit's in no more families than twice that
  // box holds at the level above.
  const double units = std::ceil(pixels / static_cast<double>(kUnitPixels));
  const double picture = std::min({cells, pixels, std::min(reached, 2 * near) * units});
  const double pool = static_cast<double>(kPoolBytes - kPoolBytes / 3);
  const double pooled = picture * lines * sizeof(Quad);
  const double beyond = pooled > pool ? 1 - pool / pooled : 0;
  const double built = std::min(cells, 8 * std::min(picture, std::max(near / 4, 1.0) * units));
  const double x = 3 * parent + 2 * candidates;
  const double building = built * (1000 + 19 * x + x * x / 11) / pixels;
  // The lists of the cells built and of their ancestors, each level an
  // eighth as many cells with about twice the candidates. Cells beyond
  // the lists' pool keep an ancestor's list, up to every signature, and are
  // searched one signature at a time.
  double lists = 0;
  for (double level = built, each = candidates; level >= 1; level /= 8, each *= 2) {
    lists += level * std::min(each, static_cast<double>(counts.signatures));
  }
  const double listPool = static_cast<double>(kPoolBytes / 3 / sizeof(std::int32_t));
  const double unlisted = lists > listPool ? 1 - listPool / lists : 0;
  // Cells of more than one step end their loop on a branch that the next
  // pixel's cell may take the other way.
  const double steps = candidates / machine.quadLanes;
  return 22 + 16 * (steps + 0.5) + 20 * std::min(steps / 2, 1.0) + memory +
         beyond * 8 * candidates + building + unlisted * 8 * counts.signatures;
}

}  // namespace

double Cost(Way way, const Counts& counts, const Machine& machine) {
  const double n = counts.signatures, lanes = machine.lanes;
  const double together = std::min(counts.together, counts.signatures);
  const double large = counts.large;
  // Cells of 8 a unit reaches: those the sample reached, and as many more
  // for each reached only once as the unit holds samples; cells of 16
  // hold eight of them.
  const double samples = std::max(counts.samples, 2);
  const double sampled = static_cast<double>(kUnitPixels) / samples;
  const double smallReached =
      std::min(kSmallCells, counts.smallCells + counts.lone * (sampled - 1));
  const double largeReached = std::min(kLargeCells, smallReached);
  switch (way) {
    case kFull:
      return 4 * n / lanes + 8 + 64 / lanes;
    case kBlockUnion:
      return 4 * together / lanes + 8 + 160 / lanes + together / 16;
    case kEachPixelLargeCells:
      return EachPixel(large, 2 * large, largeReached, std::max(counts.spread / 8.0, 1.0),
                       kLargeCells, counts, machine);
    case kEachPixelSmallCells:
      return EachPixel(counts.small, large, smallReached, counts.spread, kSmallCells, counts,
                       machine);
    case kRemembering: {
      const double misses = static_cast<double>(counts.missed) / std::max(counts.recent, 1);
      return 27 + misses * (Cost(kEachPixelSmallCells, counts, machine) + 20);
    }
    case kWays:
      break;
  }
  return 0;
}

Way Choose(const Counts& counts, const Machine& machine, bool indexed) {
  Way best = kFull;
  double least = Cost(kFull, counts, machine);
  for (int w = kFull + 1; indexed && w < kWays; ++w) {
    const double cost = Cost(static_cast<Way>(w), counts, machine);
    if (cost < least) {
      best = static_cast<Way>(w);
      least = cost;
    }
  }
  return best;
}

Counts Count(const Signatures& all, const std::uint8_t* sample, int samplePixels,
             std::uint64_t pixels) {
  Counts counts{};
  counts.signatures = all.count;
  counts.pixels = pixels;
  counts.samples = samplePixels;
  // The candidates of the box of the cells `1 << shift` a side from the one
  // holding `low` to the one holding `high`.
  const auto n = static_cast<std::size_t>(all.count);
  std::vector<std::int32_t> scratch(8 * n);
  std::iota(scratch.begin(), scratch.begin() + all.count, 0);
  const auto cells = [&](const std::int32_t* low, const std::int32_t* high, int shift) {
    const std::int32_t* const every[3] = {all.red, all.green, all.blue};
    std::int32_t *in[3], *out[3];
    for (int c = 0; c < 3; ++c) {
      in[c] = scratch.data() + static_cast<std::size_t>(2 + 2 * c) * n;
      out[c] = in[c] + n;
      Along(every[c], all.count, low[c] >> shift << shift, (((high[c] >> shift) + 1) << shift) - 1,
            in[c], out[c]);
    }
    return Kept(in, out, all.count, scratch.data(), scratch.data() + n);
  };
  // Two blocks of the sample, its first and last, and four colours spread
  // between: the means of their cells. A picture of fewer than 16,384
  // pixels, which could not pay for more, takes one block and one colour.
  const int colours = static_cast<int>(std::clamp<std::uint64_t>(pixels >> 12, 1, 4));
  const int blocks = std::min(colours, 2), block = std::min(64, samplePixels);
  for (int k = 0; k < blocks; ++k) {
    // A block searches the union of the cells of the finest level at which
    // its colours span at most two a side.
    std::int32_t low[3], high[3];
    const int shift = 8 - BoxOf(sample + 3 * k * (samplePixels - block), block, low, high);
    counts.together += shift == 8 ? all.count : cells(low, high, shift);
  }
  counts.together /= blocks;
  for (int k = 0; k < colours; ++k) {
    const std::uint8_t* p = sample + 3 * ((2 * k + 1) * samplePixels / (2 * colours));
    const std::int32_t rgb[3] = {p[0], p[1], p[2]};
    counts.large += cells(rgb, rgb, 8 - kCoarse);
    counts.small += cells(rgb, rgb, 8 - kFinest);
  }
  counts.large = (counts.large + colours / 2) / colours;
  counts.small = (counts.small + colours / 2) / colours;
  std::uint32_t small[kSamplePixels];
  for (int j = 0; j < samplePixels; ++j) {
    small[j] = static_cast<std::uint32_t>(CellOf(sample + 3 * j, kFinest));
  }
  std::int32_t low[3], high[3];
  BoxOf(sample, samplePixels, low, high);
  counts.spread = 1;
  for (int c = 0; c < 3; ++c) counts.spread *= (high[c] >> 3) - (low[c] >> 3) + 1;
  // The cells of 8 the sample reaches, and those it reaches once only.
  std::sort(small, small + samplePixels);
  for (int j = 0, k = 0; j < samplePixels; j = k) {
    for (k = j + 1; k < samplePixels && small[k] == small[j];) ++k;
    ++counts.smallCells;
    counts.lone += k - j == 1 ? 1 : 0;
  }
  return counts;
}

}  // namespace remap
