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
// the full search unless its cells pay for themselves. Misses: the share of
// pixels whose colour a thread's remembered colours lack, as they lacked
// those of the pixels before the unit. The constants are what timing each way alone gave
// on one processor (bench/remap_bench.cpp --ways); the counts, lanes and
// caches are the machine's own.
#include "remap/choice.hpp"

#include <algorithm>
#include <cmath>
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
  // The cells the whole picture reaches, and the share of them beyond the
  // quads' pool, which are searched one signature at a time.
  const double units = std::ceil(pixels / static_cast<double>(kUnitPixels));
  const double picture = std::min({cells, pixels, reached * units});
  const double pool = static_cast<double>(kPoolBytes - kPoolBytes / 3);
  const double pooled = picture * lines * sizeof(Quad);
  const double beyond = pooled > pool ? 1 - pool / pooled : 0;
  const double built = std::min(cells, 8 * picture);
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

namespace {

// The candidates of the cells of the two finest levels that hold the colour
// at `rgb`: those of 16 a side among all, then those of 8 among them, with
// room for four times as many as all hold in `kept`.
void CandidatesOfCells(const Signatures& all, const std::uint8_t* rgb, std::int32_t* kept,
                       std::int32_t& large, std::int32_t& small) {
  const std::int32_t* const every[3] = {all.red, all.green, all.blue};
  const auto n = static_cast<std::size_t>(all.count);
  const auto cell = [&](const std::int32_t* const* among, std::int32_t count, int level) {
    const int shift = 8 - level;
    std::int32_t low[3], high[3];
    for (int c = 0; c < 3; ++c) {
      low[c] = rgb[c] >> shift << shift;
      high[c] = low[c] + (1 << shift) - 1;
    }
    return NearestToBox(among, count, low, high, kept);
  };
  large = cell(every, all.count, kCoarse);
  std::int32_t* const into[3] = {kept + n, kept + 2 * n, kept + 3 * n};
  for (std::int32_t k = 0; k < large; ++k) {
    for (int c = 0; c < 3; ++c) into[c][k] = every[c][kept[k]];
  }
  small = cell(into, large, kFinest);
}

// The union a block of `pixels` at `bytes` would search: the box of the
// cells, of the finest level at which its colours span at most two a side;
// with room for as many as all hold in `kept`.
std::int32_t CandidatesOfBlock(const Signatures& all, const std::uint8_t* bytes, int pixels,
                               std::int32_t* kept) {
  std::int32_t low[3] = {255, 255, 255}, high[3] = {0, 0, 0};
  for (int j = 0; j < 3 * pixels; ++j) {
    low[j % 3] = std::min<std::int32_t>(low[j % 3], bytes[j]);
    high[j % 3] = std::max<std::int32_t>(high[j % 3], bytes[j]);
  }
  int shift = 8 - kFinest;
  const auto spans = [&] {
    bool two = true;
    for (int c = 0; c < 3; ++c) two = two && (high[c] >> shift) - (low[c] >> shift) <= 1;
    return two;
  };
  while (shift < 8 && !spans()) ++shift;
  if (shift == 8) return all.count;
  for (int c = 0; c < 3; ++c) {
    low[c] = low[c] >> shift << shift;
    high[c] = (((high[c] >> shift) + 1) << shift) - 1;
  }
  const std::int32_t* const every[3] = {all.red, all.green, all.blue};
  return NearestToBox(every, all.count, low, high, kept);
}

}  // namespace

Counts Count(const Signatures& all, const std::uint8_t* sample, int samplePixels,
             std::uint64_t pixels) {
  Counts counts{};
  counts.signatures = all.count;
  counts.pixels = pixels;
  counts.samples = samplePixels;
  // Two blocks of the sample, its first and last, and four colours spread
  // between: the means of their cells.
  std::vector<std::int32_t> kept(4 * static_cast<std::size_t>(all.count));
  const int block = std::min(64, samplePixels);
  counts.together =
      (CandidatesOfBlock(all, sample, block, kept.data()) +
       CandidatesOfBlock(all, sample + 3 * (samplePixels - block), block, kept.data())) /
      2;
  for (int k = 0; k < 4; ++k) {
    std::int32_t large = 0, small = 0;
    CandidatesOfCells(all, sample + 3 * ((2 * k + 1) * samplePixels / 8), kept.data(), large,
                      small);
    counts.large += large;
    counts.small += small;
  }
  counts.large = (counts.large + 2) / 4;
  counts.small = (counts.small + 2) / 4;
  std::uint32_t small[kSamplePixels];
  int low[3] = {255, 255, 255}, high[3] = {0, 0, 0};
  for (int j = 0; j < samplePixels; ++j) {
    const std::uint8_t* p = sample + 3 * j;
    small[j] = static_cast<std::uint32_t>(CellOf(p, kFinest));
    for (int c = 0; c < 3; ++c) {
      low[c] = std::min<int>(low[c], p[c]);
      high[c] = std::max<int>(high[c], p[c]);
    }
  }
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
