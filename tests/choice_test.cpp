// The choice of search: the way each kind of picture gets, the same ways on
// every run and any number of threads, the threads a pass plans, and cells
// at the edge of what a key's place holds.
#include "remap/choice.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <iterator>
#include <string>
#include <vector>

#include "platform/platform.hpp"
#include "remap.hpp"
#include "remap/index.hpp"
#include "remap/kernels.hpp"
#include "remap_reference.hpp"

namespace {

using remap::Way;

// AVX-512 or AVX2 lanes, AVX2 quads, 1 MiB and 32 MiB of cache.
constexpr remap::Machine kMachine = {16, 8, std::size_t{1} << 20, std::size_t{32} << 20};
constexpr remap::Machine kAvx2 = {8, 8, std::size_t{1} << 20, std::size_t{32} << 20};
constexpr std::uint64_t kLarge = 4096 * 4096;

// Counts as the pass takes them from the middle of 4096 x 4096 pictures of
// make_sample and random palettes, from the second unit of a 1920 x 1080
// crop of one, and from small ones; the way the
// benchmark found at least 1.3 times faster than every other
// (bench/remap_bench.cpp --ways, two threads; for the small pictures,
// instruction counts under callgrind), but that on noise the union of a
// block's cells, which hold every signature, costs about what the full
// search does.
struct Row {
  const char* name;
  remap::Counts counts;
  const remap::Machine& machine;
  Way way;
};
const Row kRows[] = {
    // name  N, pixels, U, C16, C8, samples, recent, missed, cells of 8, lone, spread
    {"one signature", {1, kLarge, 1, 1, 1, 256, 4096, 0, 1, 0, 1}, kMachine, remap::kFull},
    {"noise, 64", {64, kLarge, 64, 3, 2, 256, 4096, 4091, 255, 254, 32768}, kMachine, remap::kFull},
    {"fine texture, 64",
     {64, kLarge, 64, 4, 2, 256, 4096, 4038, 238, 222, 2940},
     kMachine,
     remap::kFull},
    {"smooth, 64, AVX2",
     {64, kLarge, 27, 5, 4, 256, 4096, 0, 8, 0, 36},
     kAvx2,
     remap::kRemembering},
    {"smooth, 256, AVX2",
     {256, kLarge, 68, 9, 4, 256, 4096, 0, 8, 0, 36},
     kAvx2,
     remap::kRemembering},
    {"fine texture, 256",
     {256, kLarge, 256, 7, 3, 256, 4096, 4038, 238, 222, 2940},
     kMachine,
     remap::kEachPixelSmallCells},
    {"smooth, 4096",
     {4096, kLarge, 676, 41, 7, 256, 4096, 0, 8, 0, 36},
     kMachine,
     remap::kRemembering},
    {"smooth, 4096, AVX2",
     {4096, kLarge, 676, 41, 7, 256, 4096, 0, 8, 0, 36},
     kAvx2,
     remap::kRemembering},
    {"fine texture, 4096",
     {4096, kLarge, 4096, 36, 8, 256, 4096, 4038, 238, 222, 2940},
     kMachine,
     remap::kEachPixelSmallCells},
    {"fine texture, 4096, AVX2",
     {4096, kLarge, 4096, 36, 8, 256, 4096, 4038, 238, 222, 2940},
     kAvx2,
     remap::kEachPixelSmallCells},
    {"fine texture 1920 x 1080, 4096",
     {4095, 1920 * 1080, 4095, 27, 10, 256, 4096, 3971, 235, 218, 2700},
     kAvx2,
     remap::kEachPixelSmallCells},
    {"noise 64 x 64, 4096",
     {4096, 64 * 64, 4096, 27, 8, 256, 256, 256, 255, 254, 32768},
     kMachine,
     remap::kFull},
    {"noise 128 x 128, 4096, AVX2",
     {4096, 128 * 128, 4096, 28, 7, 256, 256, 256, 252, 248, 32768},
     kAvx2,
     remap::kFull},
    {"noise 64 x 64, 100,000",
     {99682, 64 * 64, 99682, 381, 61, 256, 256, 256, 255, 254, 32768},
     kMachine,
     remap::kFull},
};

TEST(Choose, TakesTheWayThatIsClearlyCheapest) {
  for (const Row& row : kRows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(remap::Choose(row.counts, row.machine, true), row.way);
    // Without an index there is only the full search.
    EXPECT_EQ(remap::Choose(row.counts, row.machine, false), remap::kFull);
  }
}

// Remembering pays only where colours recur. On the hills of the smooth
// picture at 64 signatures, where remembered colours like a thread's lacked
// 1,905 of the last 4,096 pixels' colours, it measured 2.8 times slower than
// the union with AVX-512 and 1.7 times with AVX2, though the colours of a
// sample there repeat often enough to promise few misses.
TEST(Choose, RemembersOnlyWhereColoursRecur) {
  const remap::Counts hills = {64, kLarge, 27, 2, 1, 256, 4096, 1905, 31, 7, 350};
  EXPECT_NE(remap::Choose(hills, kMachine, true), remap::kRemembering);
  EXPECT_NE(remap::Choose(hills, kAvx2, true), remap::kRemembering);
}

// A picture too small to pay for its cells is searched in full however many
// signatures there are; a large one with thousands is not.
TEST(Choose, SmallPicturesKeepToTheFullSearch) {
  for (const std::int32_t n : {256, 4096, 100000}) {
    remap::Counts counts = {n,   64 * 64, n,   n / 100 + 2, n / 400 + 2, 256,
                            256, 256,     256, 256,         32768};
    EXPECT_EQ(remap::Choose(counts, kMachine, true), remap::kFull) << n;
    counts.pixels = kLarge;
    if (n == 4096) {
      EXPECT_NE(remap::Choose(counts, kMachine, true), remap::kFull) << n;
    }
  }
}

// The ways each unit of a picture gets, as pixels searched each way: the
// same on every run, on 1, 2, 3 and 7 threads, and whether the picture is
// remapped at once or as it arrives in parts; and every pixel is counted once.
TEST(RemapPass, SearchesEachUnitTheSameWayOnEveryRunAndAnyThreads) {
  using reference::PaletteKind;
  using reference::PictureKind;
  const reference::SceneKind scenes[] = {
      {PaletteKind::kSpread, PictureKind::kSmooth, 4096, 700, 500},
      {PaletteKind::kSnapped, PictureKind::kSwatches, 300, 640, 480},
      {PaletteKind::kSpread, PictureKind::kNoise, 1000, 900, 300},
      {PaletteKind::kClustered, PictureKind::kExact, 64, 333, 777},
  };
  // The kernel RemapPass takes: the choice counts in its lanes.
  const RemapKernel fastest = *std::find_if(std::begin(kFastestFirst), std::end(kFastestFirst),
                                            [](RemapKernel k) { return HasKernel(k); });
  unsigned seed = 0;
  for (const reference::SceneKind& c : scenes) {
    const reference::Scene scene = reference::MakeScene(c, ++seed);
    const std::uint64_t pixels = scene.raster.size() / 3;
    SCOPED_TRACE(testing::Message() << c.count << " signatures, " << c.width << " x " << c.height);
    SearchStats first;
    for (const unsigned threads : {1u, 2u, 3u, 7u, 1u, 2u, 3u, 7u}) {
      std::vector<std::uint8_t> raster(scene.raster.begin(), scene.raster.end());
      SearchStats stats;
      ASSERT_TRUE(RemapPixelsWith(fastest, raster.data(), pixels, scene.config,
                                  {SearchChoice::kCounted, threads, &stats}));
      std::uint64_t total = 0;
      for (const std::uint64_t p : stats.pixels) total += p;
      ASSERT_EQ(total, pixels);
      if (first.threads == 0) first = stats;
      for (int w = 0; w < 5; ++w) ASSERT_EQ(stats.pixels[w], first.pixels[w]) << threads;
    }
    // Part by part, the parts of odd sizes.
    const PreparedTable table = PrepareTable(scene.config);
    std::vector<std::uint8_t> raster(scene.raster.size());
    SearchStats stats;
    {
      RemapPass pass(table, {SearchChoice::kCounted, 3, &stats});
      pass.Start(raster.data(), raster.size());
      for (std::uint64_t done = 0; done < raster.size();) {
        const std::uint64_t end = std::min<std::uint64_t>(raster.size(), done + 1000 + done / 3);
        std::copy(scene.raster.begin() + static_cast<std::ptrdiff_t>(done),
                  scene.raster.begin() + static_cast<std::ptrdiff_t>(end),
                  raster.begin() + static_cast<std::ptrdiff_t>(done));
        pass.Arrived(done = end);
        pass.AwaitReady(end / 2);
      }
      pass.AwaitReady(raster.size());
    }
    for (int w = 0; w < 5; ++w) EXPECT_EQ(stats.pixels[w], first.pixels[w]);
  }
}

// Remembering is costed by how often the pixels before a unit met a table
// like a thread's: a picture of 64 colours spread over the cube in turn
// remembers its second unit; one whose 16,384 pixels before that unit are
// each of a colour of its own but the last 256, which are as before, does
// not, though those 256 repeat their colours as often.
TEST(RemapPass, RemembersAUnitWhereThePixelsBeforeItMetRememberedColours) {
  const Configuration config = reference::RandomTable(4096, 11);
  const std::uint64_t unit = remap::kUnitPixels, pixels = unit + 4096;
  std::uint64_t remembered[2] = {};
  for (const bool fresh : {false, true}) {
    std::vector<std::uint8_t> raster(3 * pixels);
    std::uint32_t random = 1;
    for (std::uint64_t i = 0; i < pixels; ++i) {
      random = random * 1664525u + 1013904223u;
      const auto k = static_cast<std::uint32_t>(i % 64);
      const bool own = fresh && i + remap::kRecentPixels >= unit && i + 256 < unit;
      const std::uint32_t colour =
          own ? random >> 8 : (k * 37 % 256) | (k * 91 % 256) << 8 | (k * 151 % 256) << 16;
      for (unsigned c = 0; c < 3; ++c)
        raster[3 * i + c] = static_cast<std::uint8_t>(colour >> 8 * c);
    }
    SearchStats stats;
    ASSERT_TRUE(RemapPixelsWith(RemapKernel::kPortable, raster.data(), pixels, config,
                                {SearchChoice::kCounted, 2, &stats, {1 << 20, 32 << 20}}));
    remembered[fresh] = stats.pixels[remap::kRemembering];
  }
  // The first unit is the same in both.
  EXPECT_EQ(remembered[0] - remembered[1], 4096u);
}

// A forced way searches every pixel, but a way that needs the index where
// one signature needs none.
TEST(RemapPass, SearchesEveryPixelTheWayAskedFor) {
  const std::string raster = reference::RandomRaster(100000, 3);
  for (int way = 0; way < 5; ++way) {
    for (const int count : {1, 40}) {
      const Configuration config = reference::RandomTable(count, 9);
      std::vector<std::uint8_t> pixels(raster.begin(), raster.end());
      SearchStats stats;
      ASSERT_TRUE(RemapPixelsWith(RemapKernel::kPortable, pixels.data(), 100000, config,
                                  {static_cast<SearchChoice>(way + 1), 2, &stats}));
      EXPECT_EQ(stats.pixels[count == 1 ? 0 : way], 100000u) << way << " " << count;
    }
  }
}

// The plan: as many threads as asked for, or as the process may use where a
// picture gives each a share of at least 65,536 pixels.
TEST(RemapPass, PlansTheThreadsAskedForOrThoseThePictureAndProcessAllow) {
  const std::string raster = reference::RandomRaster(300000, 4);
  const Configuration config = reference::RandomTable(16, 4);
  const unsigned usable = platform::UsableCpuCount();
  const struct {
    unsigned asked;
    std::uint64_t pixels;
    unsigned planned;
  } plans[] = {
      {3, 300000, 3},
      {7, 300000, 7},
      {2, 100, 2},
      {2, 64, 1},  // one block: nothing to share
      {0, 300000, std::max(1u, std::min(usable, 4u))},
      {0, 100000, 1},
  };
  for (const auto& plan : plans) {
    std::vector<std::uint8_t> pixels(raster.begin(), raster.end());
    SearchStats stats;
    ASSERT_TRUE(RemapPixelsWith(RemapKernel::kPortable, pixels.data(), plan.pixels, config,
                                {SearchChoice::kCounted, plan.asked, &stats}));
    EXPECT_EQ(stats.threads, plan.planned) << plan.asked << " asked, " << plan.pixels;
  }
}

// A cell of 8 whose list holds `count` signatures: points around the cell at
// 128..135 that are no farther from it than 26 at the nearest and no nearer
// than 26 at the farthest (so that every one of them is kept), the nearest
// to `corner` last, so that a pixel there takes the last place in the cell.
reference::Scene CellOf(int count, const std::uint8_t* corner) {
  struct Point {
    std::int32_t rgb[3];
    std::int32_t toCorner;
  };
  std::vector<Point> points;
  for (std::int32_t r = 100; r < 165; ++r) {
    for (std::int32_t g = 100; g < 165; ++g) {
      for (std::int32_t b = 100; b < 165; ++b) {
        const std::int32_t rgb[3] = {r, g, b};
        std::int32_t nearest = 0, farthest = 0, toCorner = 0;
        for (int c = 0; c < 3; ++c) {
          const std::int32_t near = std::max({128 - rgb[c], rgb[c] - 135, 0});
          const std::int32_t far = std::max(rgb[c] - 128, 135 - rgb[c]);
          nearest += near * near;
          farthest += far * far;
          toCorner += (rgb[c] - corner[c]) * (rgb[c] - corner[c]);
        }
        if (nearest <= 26 * 26 && farthest >= 26 * 26) points.push_back({{r, g, b}, toCorner});
      }
    }
  }
  std::sort(points.begin(), points.end(), [](const Point& a, const Point& b) {
    return a.toCorner != b.toCorner
               ? a.toCorner < b.toCorner
               : std::lexicographical_compare(a.rgb, a.rgb + 3, b.rgb, b.rgb + 3);
  });
  points.resize(static_cast<std::size_t>(count));
  std::reverse(points.begin(), points.end());
  reference::Scene scene{reference::TableOf(count), std::string()};
  for (int i = 0; i < count; ++i) {
    const auto k = static_cast<std::size_t>(i);
    scene.config.matchRed[k] = points[k].rgb[0];
    scene.config.matchGreen[k] = points[k].rgb[1];
    scene.config.matchBlue[k] = points[k].rgb[2];
    scene.config.replaceRed[k] = i & 0xFF;
    scene.config.replaceGreen[k] = i >> 8;
    scene.config.replaceBlue[k] = 7;
  }
  // Every colour of the cell, the corner's last.
  for (int c = 0; c < 512; ++c) {
    const char rgb[3] = {static_cast<char>(128 + (c >> 6)), static_cast<char>(128 + (c >> 3 & 7)),
                         static_cast<char>(128 + (c & 7))};
    scene.raster.append(rgb, 3);
  }
  scene.raster.append(reinterpret_cast<const char*>(corner), 3);
  return scene;
}

// A key holds a candidate's place in its cell in kPlaceBits (13) bits: a
// cell of up to 8,192 gets quads, a larger one none, and each is searched
// exactly, its last candidate included.
TEST(Quads, HoldCellsOfUpTo8192Candidates) {
  const std::uint8_t corner[3] = {135, 134, 133};
  for (const int count : {8191, 8192, 8193}) {
    SCOPED_TRACE(count);
    const reference::Scene scene = CellOf(count, corner);
    const PreparedTable table = PrepareTable(scene.config);
    remap::Index index;
    ASSERT_TRUE(remap::MakeIndex(remap::SignaturesOf(table), remap::kPoolBytes, index));
    const remap::CellCandidates cell =
        remap::BuildCandidates(index, remap::kFinest, remap::CellOf(corner, remap::kFinest));
    ASSERT_EQ(cell.span.count, count);
    EXPECT_EQ(cell.quadCount, count <= 8192 ? (count + 3) / 4 : 0);
    std::vector<std::uint8_t> expected(scene.raster.begin(), scene.raster.end());
    reference::ReferenceRemap(expected.data(), expected.size() / 3, scene.config);
    // The corner takes the last candidate.
    ASSERT_EQ(expected[expected.size() - 3], (count - 1) & 0xFF);
    ASSERT_EQ(expected[expected.size() - 2], (count - 1) >> 8);
    for (RemapKernel kernel : kFastestFirst) {
      for (const SearchChoice search :
           {SearchChoice::kEachPixelSmallCells, SearchChoice::kRemembering}) {
        std::vector<std::uint8_t> actual(scene.raster.begin(), scene.raster.end());
        if (!RemapPixelsWith(kernel, actual.data(), actual.size() / 3, scene.config, {search, 1})) {
          continue;
        }
        EXPECT_TRUE(actual == expected) << KernelName(kernel) << " " << static_cast<int>(search);
      }
    }
  }
}

}  // namespace
