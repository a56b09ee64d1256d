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
// pixels whose colour the last 16,384 have not held, from how often the
// sampled colours repeat. The constants are what timing each way alone gave
// on one processor (bench/remap_bench.cpp --ways); the counts, lanes and
// caches are the machine's own.
#include "remap/choice.hpp"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <algorithm>
#include <cmath>
#include <vector>

#include "remap/index.hpp"

namespace remap {
namespace {

constexpr double kLargeCells = 4096, kSmallCells = 32768;
constexpr double kRemembered = 1 << kRememberedBits;

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
  const double large = counts.large, small = counts.small;
  // Cells of 8 a unit reaches: those the sample reached, and as many more
  // for each reached only once as the unit holds samples; cells of 16
  // hold eight of them.
  const double samples = std::max(counts.samples, 2);
  const double sampled = static_cast<double>(kUnitPixels) / samples;
  const double smallReached =
      std::min(kSmallCells, counts.smallCells + counts.lone * (sampled - 1));
  const double largeReached = std::min(kLargeCells, smallReached);
  const double spread = counts.spread;
  switch (way) {
    case kFull:
      return 4 * n / lanes + 8 + 64 / lanes;
    case kBlockUnion:
      return 4 * together / lanes + 8 + 160 / lanes + together / 16;
    case kEachPixelLargeCells:
      return EachPixel(large, 2 * large, largeReached, std::max(spread / 8, 1.0), kLargeCells,
                       counts, machine);
    case kEachPixelSmallCells:
      return EachPixel(small, large, smallReached, spread, kSmallCells, counts, machine);
    case kRemembering: {
      const double alike = counts.pairs / (samples * (samples - 1) / 2);
      const double misses = std::exp(-alike * kRemembered);
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

// Signatures' match colours, a component an array.
struct Colours {
  const std::int32_t* component[3];
  std::int32_t count;
};

// How many of `colours` can be nearest to a colour in the box from `low` to
// `high` (inclusive, per component): those no farther from it than the
// least farthest distance any has to it, which a cell of that box keeps.
// With `kept`, their components are written there, a component an array.
std::int32_t CandidatesOfBox(const Colours& colours, const std::int32_t* low,
                             const std::int32_t* high, std::int32_t* const* kept = nullptr) {
  const std::int32_t* const* component = colours.component;
  const std::int32_t n = colours.count;
  // Squared distances are below 2^18, exact in a float.
  const auto distance = [&](std::int32_t i, bool farthest) {
    float sum = 0;
    for (int c = 0; c < 3; ++c) {
      const std::int32_t v = component[c][i];
      const auto d = static_cast<float>(farthest ? std::max(v - low[c], high[c] - v)
                                                 : std::max({low[c] - v, v - high[c], 0}));
      sum += d * d;
    }
    return sum;
  };
  std::int32_t count = 0;
  const auto keep = [&](std::int32_t i) {
    for (int c = 0; kept != nullptr && c < 3; ++c) kept[c][count] = component[c][i];
    ++count;
  };
  float bound = 1e9f;
  std::int32_t i = 0;
#if defined(__SSE2__)
  // Four signatures at a time.
  __m128 lo[3], hi[3];
  for (int c = 0; c < 3; ++c) {
    lo[c] = _mm_set1_ps(static_cast<float>(low[c]));
    hi[c] = _mm_set1_ps(static_cast<float>(high[c]));
  }
  const auto load = [&](int c, std::int32_t at) {
    return _mm_cvtepi32_ps(_mm_loadu_si128(reinterpret_cast<const __m128i*>(component[c] + at)));
  };
  __m128 least = _mm_set1_ps(bound);
  for (; i + 4 <= n; i += 4) {
    __m128 sum = _mm_setzero_ps();
    for (int c = 0; c < 3; ++c) {
      const __m128 v = load(c, i);
      const __m128 far = _mm_max_ps(_mm_sub_ps(v, lo[c]), _mm_sub_ps(hi[c], v));
      sum = _mm_add_ps(sum, _mm_mul_ps(far, far));
    }
    least = _mm_min_ps(least, sum);
  }
  alignas(16) float lanes[4];
  _mm_store_ps(lanes, least);
  bound = std::min(std::min(lanes[0], lanes[1]), std::min(lanes[2], lanes[3]));
#endif
  for (std::int32_t k = i; k < n; ++k) bound = std::min(bound, distance(k, true));
  std::int32_t k = 0;
#if defined(__SSE2__)
  const __m128 within = _mm_set1_ps(bound);
  for (; k + 4 <= n; k += 4) {
    __m128 sum = _mm_setzero_ps();
    for (int c = 0; c < 3; ++c) {
      const __m128 v = load(c, k);
      const __m128 near =
          _mm_max_ps(_mm_max_ps(_mm_sub_ps(lo[c], v), _mm_sub_ps(v, hi[c])), _mm_setzero_ps());
      sum = _mm_add_ps(sum, _mm_mul_ps(near, near));
    }
    for (auto in = static_cast<unsigned>(_mm_movemask_ps(_mm_cmple_ps(sum, within))); in != 0;
         in &= in - 1) {
      keep(k + __builtin_ctz(in));
    }
  }
#endif
  for (; k < n; ++k) {
    if (distance(k, false) <= bound) keep(k);
  }
  return count;
}

// The candidates of the cells of the two finest levels that hold the colour
// at `rgb`: those of 16 a side among all, then those of 8 among them, with
// room for three times as many as all hold in `kept`.
void CandidatesOfCells(const Colours& all, const std::uint8_t* rgb, std::int32_t* kept,
                       std::int32_t& large, std::int32_t& small) {
  std::int32_t* const into[3] = {kept, kept + all.count, kept + 2 * all.count};
  const auto cell = [&](const Colours& among, int level, std::int32_t* const* out) {
    const int shift = 8 - level;
    std::int32_t low[3], high[3];
    for (int c = 0; c < 3; ++c) {
      low[c] = rgb[c] >> shift << shift;
      high[c] = low[c] + (1 << shift) - 1;
    }
    return CandidatesOfBox(among, low, high, out);
  };
  large = cell(all, kCoarse, into);
  small = cell({{into[0], into[1], into[2]}, large}, kFinest, nullptr);
}

// The union a block of `pixels` at `bytes` would search: the box of the
// cells, of the finest level at which its colours span at most two a side.
std::int32_t CandidatesOfBlock(const Colours& all, const std::uint8_t* bytes, int pixels) {
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
  return CandidatesOfBox(all, low, high);
}

// How many distinct values `values` holds (which it sorts); with `once`,
// how many of them it holds once only, with `pairs`, its pairs of equal values.
std::int32_t Distinct(std::uint32_t* values, int count, std::int32_t* once, std::int32_t* pairs) {
  std::sort(values, values + count);
  std::int32_t distinct = 0;
  for (int j = 0; j < count;) {
    int k = j + 1;
    while (k < count && values[k] == values[j]) ++k;
    ++distinct;
    if (once != nullptr && k - j == 1) ++*once;
    if (pairs != nullptr) *pairs += (k - j) * (k - j - 1) / 2;
    j = k;
  }
  return distinct;
}

}  // namespace

Counts Count(const Signatures& signatures, const std::uint8_t* sample, int samplePixels,
             std::uint64_t pixels) {
  const Colours all = {{signatures.red, signatures.green, signatures.blue}, signatures.count};
  Counts counts{};
  counts.signatures = all.count;
  counts.pixels = pixels;
  counts.samples = samplePixels;
  // Two blocks of the sample, its first and last, and four colours spread
  // between: the means of their cells.
  const int block = std::min(64, samplePixels);
  counts.together = (CandidatesOfBlock(all, sample, block) +
                     CandidatesOfBlock(all, sample + 3 * (samplePixels - block), block)) /
                    2;
  std::vector<std::int32_t> kept(3 * static_cast<std::size_t>(all.count));
  for (int k = 0; k < 4; ++k) {
    std::int32_t large = 0, small = 0;
    CandidatesOfCells(all, sample + 3 * ((2 * k + 1) * samplePixels / 8), kept.data(), large,
                      small);
    counts.large += large;
    counts.small += small;
  }
  counts.large = (counts.large + 2) / 4;
  counts.small = (counts.small + 2) / 4;
  std::uint32_t colours[kSamplePixels], small[kSamplePixels];
  int low[3] = {255, 255, 255}, high[3] = {0, 0, 0};
  for (int j = 0; j < samplePixels; ++j) {
    const std::uint8_t* p = sample + 3 * j;
    colours[j] = static_cast<std::uint32_t>(p[0] | p[1] << 8 | p[2] << 16);
    small[j] = static_cast<std::uint32_t>(CellOf(p, kFinest));
    for (int c = 0; c < 3; ++c) {
      low[c] = std::min<int>(low[c], p[c]);
      high[c] = std::max<int>(high[c], p[c]);
    }
  }
  counts.spread = 1;
  for (int c = 0; c < 3; ++c) counts.spread *= (high[c] >> 3) - (low[c] >> 3) + 1;
  Distinct(colours, samplePixels, nullptr, &counts.pairs);
  counts.smallCells = Distinct(small, samplePixels, &counts.lone, nullptr);
  return counts;
}

}  // namespace remap
