// Dithering on the pass's tables: Floyd-Steinberg rows spread over threads
// as a wavefront, each value searched in the quads of its colour cell; and
// ordered dithering, which moves the pixels and leaves the rest to the pass.
#include "remap/dither.hpp"

#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <new>
#include <thread>
#include <vector>

#include "platform/platform.hpp"
#include "remap/dither_job.hpp"
#include "remap/prepared.hpp"

namespace remap {
namespace {

// Below this many pixels a thread's share would take about as long as
// starting the thread.
constexpr std::uint64_t kLeastShare = std::uint64_t{1} << 16;

// Which band each kernel dithers with. A cell holds few quads, which wider
// lanes than AVX2's would not shorten: AVX-512 takes AVX2's band, NEON
// the plain one.
struct DitherKernel {
  RemapKernel kernel;
  DitherBandFunction band;
};

const DitherKernel kDitherKernels[] = {
#ifdef REMAP_X86_KERNELS
    {RemapKernel::kAvx512, DitherBandAvx2},
    {RemapKernel::kAvx2, DitherBandAvx2},
#endif
    {RemapKernel::kNeon, DitherBandPortable},
    {RemapKernel::kPortable, DitherBandPortable},
};

DitherBandFunction RowFor(RemapKernel kernel) {
  for (const DitherKernel& k : kDitherKernels) {
    if (k.kernel == kernel) return k.band;
  }
  return DitherBandPortable;
}

RemapKernel FastestKernel() {
  for (RemapKernel kernel : kFastestFirst) {
    if (HasKernel(kernel)) return kernel;
  }
  return RemapKernel::kPortable;
}

}  // namespace

// One Floyd-Steinberg run: what its threads share, the helpers it starts,
// and the rows of the picture that have arrived.
class FsRun {
 public:
  FsRun() = default;
  FsRun(const FsRun&) = delete;
  FsRun& operator=(const FsRun&) = delete;
  ~FsRun() { Stop(); }

  // Returns false when memory is short.
  bool Prepare(DitherBandFunction band, const Signatures& all, std::uint8_t* pixels,
               std::uint32_t width, std::uint32_t height, const std::uint8_t* alpha,
               unsigned threads) {
    band_ = band;
    const std::uint64_t pixelCount = std::uint64_t{width} * height;
    std::uint64_t planned =
        threads > 0 ? threads
                    : std::min<std::uint64_t>(platform::UsableCpuCount(), pixelCount / kLeastShare);
    planned_ = std::clamp<std::uint64_t>(planned, 1, (height + kBand - 1) / kBand);
    const auto rings = static_cast<std::uint32_t>(planned_ * kBand + 1);
    // Each slot has an entry before the first, which a row's first pixel
    // writes and nobody reads; after the ring, a slot of zeros above the
    // first row.
    const std::size_t slot = std::size_t{4} * (std::size_t{width} + 1);
    if (!Reserve(below_, slot * (rings + 1)) || !Allocate(progress_, height)) return false;
    std::fill(below_.get() + slot * rings, below_.get() + slot * (rings + 1), std::int16_t{0});
    // A single signature needs no index; one that cannot be had leaves every
    // value to the search of every signature.
    index_.reset(all.count > 1 ? new (std::nothrow) Index : nullptr);
    if (index_ && !MakeIndex(all, kPoolBytes, *index_)) index_.reset();
    job_ = {&all,         index_.get(), DitherLevel(all.count), pixels, width, height, alpha,
            below_.get(), rings,        progress_.get(),        &stop_};
    return true;
  }

  // Starts the threads beside the caller's. One that cannot be started
  // leaves its bands to the others.
  void StartHelpers() {
    try {
      helpers_.reserve(planned_ - 1);
      for (std::uint64_t t = 1; t < planned_; ++t) helpers_.emplace_back(&FsRun::Work, this);
    } catch (...) {
    }
  }

  // The first `pixels` have arrived.
  void Arrived(std::uint64_t pixels) {
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      arrived_ = pixels;
    }
    arrivedOrStopped_.notify_all();
  }

  // Takes bands in order, each once its rows have arrived, until none is
  // left. Bands are taken in order, so a band's thread waits only for bands
  // taken before it, whose threads never wait for it.
  void Work() {
    while (TakeBand()) {
    }
  }

  // Returns once the first `rows` rows are dithered, taking bands that have
  // arrived meanwhile; of rows not yet arrived it waits only for those of
  // whole bands that have.
  void AwaitRows(std::uint32_t rows) {
    const std::uint32_t width = job_.width, height = job_.height;
    const auto arrivedRows = static_cast<std::uint32_t>(arrived_.load() / width);
    if (arrivedRows < height) rows = std::min(rows, arrivedRows / kBand * kBand);
    if (rows == 0) return;
    // Only the last row of a band tells its progress; it finishes last.
    const std::uint32_t last = std::min((rows - 1) / kBand * kBand + kBand, height) - 1;
    const std::atomic<std::uint32_t>& done = progress_[last].done;
    for (int round = 0; done.load(std::memory_order_acquire) < width; ++round) {
      if (stop_.load(std::memory_order_relaxed)) return;
      std::uint32_t first = next_.load();
      const std::uint64_t needed =
          std::uint64_t{width} * std::min<std::uint64_t>(std::uint64_t{first} + kBand, height);
      if (first < height && arrived_.load() >= needed &&
          next_.compare_exchange_strong(first, first + kBand)) {
        band_(job_, first, std::min(kBand, height - first));
        round = 0;
      } else {
        Pause(round);
      }
    }
  }

  // Returns once no thread of the run touches the pixels; they are left
  // part dithered.
  void Stop() {
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      stop_.store(true, std::memory_order_relaxed);
    }
    arrivedOrStopped_.notify_all();
    Join();
  }

  void Join() {
    for (std::thread& helper : helpers_) helper.join();
    helpers_.clear();
  }

 private:
  // Dithers the next band once its rows have arrived; false when there was
  // none or the run stopped.
  bool TakeBand() {
    const std::uint32_t height = job_.height;
    const std::uint32_t first = next_.fetch_add(kBand);
    if (first >= height) return false;
    const std::uint32_t rows = std::min(kBand, height - first);
    const std::uint64_t needed = std::uint64_t{job_.width} * (first + rows);
    {
      std::unique_lock<std::mutex> lock(mutex_);
      arrivedOrStopped_.wait(
          lock, [&] { return arrived_.load() >= needed || stop_.load(std::memory_order_relaxed); });
      if (stop_.load(std::memory_order_relaxed)) return false;
    }
    band_(job_, first, rows);
    return true;
  }

  DitherBandFunction band_ = nullptr;
  std::uint64_t planned_ = 1;
  std::unique_ptr<std::int16_t[]> below_;
  std::unique_ptr<RowProgress[]> progress_;
  std::unique_ptr<Index> index_;
  DitherJob job_{};
  std::atomic<std::uint32_t> next_{0};
  std::atomic<bool> stop_{false};
  std::mutex mutex_;
  std::condition_variable arrivedOrStopped_;
  std::atomic<std::uint64_t> arrived_{0};  // pixels, written under the mutex
  std::vector<std::thread> helpers_;
};

namespace {

bool Dither(DitherBandFunction band, const Signatures& all, std::uint8_t* pixels,
            std::uint32_t width, std::uint32_t height, const std::uint8_t* alpha,
            unsigned threads) {
  if (width == 0 || height == 0) return true;
  FsRun run;
  if (!run.Prepare(band, all, pixels, width, height, alpha, threads)) return false;
  run.Arrived(std::uint64_t{width} * height);
  run.StartHelpers();
  run.Work();
  run.Join();
  return true;
}

// floor(n / 128) for any n.
std::int32_t FloorDiv128(std::int32_t n) { return n >= 0 ? n / 128 : -((-n + 127) / 128); }

// The offsets of the pattern at strength `strength` for row `y`, per pixel
// x mod 8, as two amounts each in 0..255: one added and one taken away,
// with saturation; at most one of them is not 0.
void PatternRow(std::int32_t strength, std::uint32_t y, std::uint8_t* add, std::uint8_t* take) {
  for (std::uint32_t x = 0; x < 8; ++x) {
    const std::int32_t t = FloorDiv128((2 * BayerValue(x, y) - 63) * strength);
    add[x] = static_cast<std::uint8_t>(std::clamp(t, 0, 255));
    take[x] = static_cast<std::uint8_t>(std::clamp(-t, 0, 255));
  }
}

// The squared distance from each of `count` colours (components -15 to 255,
// no two alike, at least two) to the nearest other, found in a grid of
// cells about as many as the colours: each colour looks through shells of
// cells around its own until no colour beyond them can be nearer.
std::vector<std::int32_t> NearestOtherSquared(const Signatures& all) {
  const auto count = static_cast<std::size_t>(all.count);
  std::int32_t side = 1;  // cells a side
  while (side < 64 && static_cast<std::size_t>(side * side * side) < count) ++side;
  const std::int32_t size = (271 + side - 1) / side;  // values a cell holds a side
  const auto cellOf = [&](std::size_t i, std::int32_t& r, std::int32_t& g, std::int32_t& b) {
    r = (all.red[i] + 15) / size;
    g = (all.green[i] + 15) / size;
    b = (all.blue[i] + 15) / size;
    return static_cast<std::size_t>((r * side + g) * side + b);
  };
  const auto cells = static_cast<std::size_t>(side * side * side);
  std::vector<std::uint32_t> start(cells + 1, 0), order(count);
  std::int32_t r, g, b;
  for (std::size_t i = 0; i < count; ++i) ++start[cellOf(i, r, g, b) + 1];
  for (std::size_t c = 0; c < cells; ++c) start[c + 1] += start[c];
  {
    std::vector<std::uint32_t> fill(start.begin(), start.end() - 1);
    for (std::size_t i = 0; i < count; ++i) {
      order[fill[cellOf(i, r, g, b)]++] = static_cast<std::uint32_t>(i);
    }
  }
  std::vector<std::int32_t> nearest(count);
  for (std::size_t i = 0; i < count; ++i) {
    cellOf(i, r, g, b);
    std::int32_t best = INT32_MAX;
    // After shells 0 to k, a colour not yet seen lies beyond one side of
    // the box they make: at least `gap` away.
    const std::int32_t u[3] = {all.red[i] + 15, all.green[i] + 15, all.blue[i] + 15};
    const std::int32_t c[3] = {r, g, b};
    const auto gap = [&](std::int32_t k) {
      std::int32_t least = INT32_MAX;
      for (int a = 0; a < 3; ++a) {
        if (c[a] - k > 0) least = std::min(least, u[a] - (c[a] - k) * size + 1);
        if (c[a] + k < side - 1) least = std::min(least, (c[a] + k + 1) * size - u[a]);
      }
      return least;
    };
    for (std::int32_t k = 0; k < side; ++k) {
      if (k > 0) {
        const std::int64_t beyond = gap(k - 1);
        if (std::int64_t{best} <= beyond * beyond) break;
      }
      for (std::int32_t cr = std::max(r - k, 0); cr <= std::min(r + k, side - 1); ++cr) {
        for (std::int32_t cg = std::max(g - k, 0); cg <= std::min(g + k, side - 1); ++cg) {
          for (std::int32_t cb = std::max(b - k, 0); cb <= std::min(b + k, side - 1); ++cb) {
            const std::int32_t away =
                std::max({std::abs(cr - r), std::abs(cg - g), std::abs(cb - b)});
            if (away != k) continue;
            const auto cell = static_cast<std::size_t>((cr * side + cg) * side + cb);
            for (std::uint32_t o = start[cell]; o < start[cell + 1]; ++o) {
              const std::uint32_t j = order[o];
              if (j == i) continue;
              const std::int32_t dr = all.red[i] - all.red[j], dg = all.green[i] - all.green[j],
                                 db = all.blue[i] - all.blue[j];
              best = std::min(best, dr * dr + dg * dg + db * db);
            }
          }
        }
      }
    }
    nearest[i] = best;
  }
  return nearest;
}

}  // namespace
}  // namespace remap

bool DitherFloydSteinberg(std::uint8_t* pixels, std::uint32_t width, std::uint32_t height,
                          const std::uint8_t* alpha, const PreparedTable& table, unsigned threads) {
  return remap::Dither(remap::RowFor(remap::FastestKernel()), table->all, pixels, width, height,
                       alpha, threads);
}

bool DitherFloydSteinbergWith(RemapKernel kernel, std::uint8_t* pixels, std::uint32_t width,
                              std::uint32_t height, const std::uint8_t* alpha,
                              const Configuration& config, unsigned threads) {
  if (!HasKernel(kernel)) return false;
  const PreparedTable table = PrepareTable(config);
  if (!table) throw std::bad_alloc();
  if (!remap::Dither(remap::RowFor(kernel), table->all, pixels, width, height, alpha, threads)) {
    throw std::bad_alloc();
  }
  return true;
}

std::int32_t BayerValue(std::uint32_t x, std::uint32_t y) {
  // Each doubling of the matrix, M' = [[4M, 4M + 2], [4M + 3, 4M + 1]],
  // adds a quadrant chosen by the next higher bits of x and y, worth the
  // least: so the lowest bits are worth the most.
  static constexpr std::int32_t kTwo[2][2] = {{0, 2}, {3, 1}};
  std::int32_t value = 0;
  for (int bit = 0; bit < 3; ++bit) {
    value = 4 * value + kTwo[(y >> bit) & 1][(x >> bit) & 1];
  }
  return value;
}

std::int32_t OrderedStrength(const PreparedTable& table) {
  const remap::Signatures& all = table->all;
  if (all.count < 2) return 0;
  std::vector<std::int32_t> nearest = remap::NearestOtherSquared(all);
  const auto middle = nearest.begin() + static_cast<std::ptrdiff_t>((nearest.size() - 1) / 2);
  std::nth_element(nearest.begin(), middle, nearest.end());
  // The integer nearest to sqrt(q / 3), q the median squared distance: s
  // rounded down, then up where (s + 1/2)² < q / 3. (Never equal: 4q would
  // be 3 (2s + 1)², odd.)
  const std::int64_t q = *middle;
  auto s = static_cast<std::int64_t>(std::sqrt(static_cast<double>(q / 3)));
  while (s * s > q / 3) --s;
  while ((s + 1) * (s + 1) <= q / 3) ++s;
  if (3 * (2 * s + 1) * (2 * s + 1) < 4 * q) ++s;
  return static_cast<std::int32_t>(s);
}

void OffsetOrdered(std::uint8_t* pixels, std::uint64_t pixelCount, std::uint64_t first,
                   std::uint32_t width, const std::uint8_t* alpha, std::int32_t strength) {
  std::uint64_t k = 0;
  while (k < pixelCount) {
    const std::uint64_t at = first + k;
    const auto y = static_cast<std::uint32_t>(at / width),
               x0 = static_cast<std::uint32_t>(at % width);
    const std::uint64_t run = std::min<std::uint64_t>(pixelCount - k, width - x0);
    std::uint8_t add[8], take[8];
    remap::PatternRow(strength, y, add, take);
    std::uint8_t* p = pixels + 3 * k;
    std::uint64_t j = 0;
    if (alpha == nullptr) {
      // Sixteen pixels at a time, in a loop a compiler vectorises: the
      // pattern repeats every eight.
      std::uint8_t add48[48], take48[48];
      for (int b = 0; b < 48; ++b) {
        add48[b] = add[(x0 + static_cast<std::uint32_t>(b / 3)) % 8];
        take48[b] = take[(x0 + static_cast<std::uint32_t>(b / 3)) % 8];
      }
      for (; j + 16 <= run; j += 16) {
        std::uint8_t* q = p + 3 * j;
        for (int b = 0; b < 48; ++b) {
          const int up = q[b] + add48[b];
          const int v = (up > 255 ? 255 : up) - take48[b];
          q[b] = static_cast<std::uint8_t>(v < 0 ? 0 : v);
        }
      }
    }
    for (; j < run; ++j) {
      if (alpha != nullptr && alpha[k + j] == 0) continue;
      const std::uint32_t x = (x0 + static_cast<std::uint32_t>(j)) % 8;
      for (int c = 0; c < 3; ++c) {
        std::uint8_t& s = p[3 * j + static_cast<std::uint64_t>(c)];
        s = static_cast<std::uint8_t>(std::clamp(s + add[x] - take[x], 0, 255));
      }
    }
    k += run;
  }
}

void DitherOrdered(std::uint8_t* pixels, std::uint32_t width, std::uint32_t height,
                   const std::uint8_t* alpha, const PreparedTable& table, std::int32_t strength) {
  const std::uint64_t count = std::uint64_t{width} * height;
  OffsetOrdered(pixels, count, 0, width, alpha, strength);
  RemapPixels(pixels, count, table);
}

void OrderedPass::Start(std::uint8_t* raster, std::uint64_t bytes) {
  raster_ = raster;
  offset_ = 0;
  pass_.Start(raster, bytes);
}

void OrderedPass::Arrived(std::uint64_t bytes) {
  const std::uint64_t pixels = bytes / 3;
  OffsetOrdered(raster_ + 3 * offset_, pixels - offset_, offset_, width_,
                alpha_ ? alpha_ + offset_ : nullptr, strength_);
  offset_ = pixels;
  pass_.Arrived(3 * pixels);
}

FloydSteinbergPass::FloydSteinbergPass(const PreparedTable& table, const std::uint16_t& width)
    : table_(table), width_(width) {}

FloydSteinbergPass::~FloydSteinbergPass() = default;

void FloydSteinbergPass::Start(std::uint8_t* raster, std::uint64_t bytes) {
  const std::uint32_t width = width_;
  const auto height = static_cast<std::uint32_t>(bytes / 3 / width);
  run_.reset(new (std::nothrow) remap::FsRun);
  if (!run_ || !run_->Prepare(remap::RowFor(remap::FastestKernel()), table_->all, raster, width,
                              height, nullptr, 0)) {
    run_.reset();
    failed_ = true;
    return;
  }
  run_->StartHelpers();
}

void FloydSteinbergPass::Arrived(std::uint64_t bytes) {
  if (run_) run_->Arrived(bytes / 3);
}

void FloydSteinbergPass::Abandon() {
  if (run_) run_->Stop();
}

void FloydSteinbergPass::AwaitReady(std::uint64_t bytes) {
  if (!run_) return;
  const std::uint64_t row = std::uint64_t{3} * width_;
  run_->AwaitRows(static_cast<std::uint32_t>((bytes + row - 1) / row));
}
