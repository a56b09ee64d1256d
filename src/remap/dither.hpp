// Dithering: the remap rule with each pixel's value moved first, by the
// error its neighbours left (Floyd-Steinberg) or by a fixed 8 x 8 pattern
// (ordered). Integers throughout: every kernel, processor and number of
// threads gives the same bytes.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>

#include "remap.hpp"

// How a pixel's value is moved before its nearest colour is taken: not at
// all, by the error its neighbours left, or by the 8 x 8 pattern.
enum class DitherMethod { kNone, kFloydSteinberg, kOrdered };

// Floyd-Steinberg over a `width` x `height` RGB raster, in place. Rows top to
// bottom, each left to right; per pixel and component the value is
//   v = clamp(s + floor((e + 8) / 16), 0, 255)
// where s is the sample and e the sum, in sixteenths, of the errors sent to
// it. The pixel takes the replacement colour of the signature whose match
// colour m is nearest to v (the remap rule), and sends d = v - m: 7d to the
// right, 3d below-left, 5d below, 1d below-right; what would leave the
// picture is dropped. Where `alpha` (width x height bytes, or null) is 0
// the pixel takes the colour nearest to its sample, sends nothing and what
// is sent to it is dropped. `threads` 0: as many as the process may use.
// Returns false, touching nothing, when memory is short.
bool DitherFloydSteinberg(std::uint8_t* pixels, std::uint32_t width, std::uint32_t height,
                          const std::uint8_t* alpha, const PreparedTable& table,
                          unsigned threads = 0);

// For tests and benchmarks: the same with a chosen kernel. Returns false,
// touching nothing, when HasKernel(kernel) is false.
bool DitherFloydSteinbergWith(RemapKernel kernel, std::uint8_t* pixels, std::uint32_t width,
                              std::uint32_t height, const std::uint8_t* alpha,
                              const Configuration& config, unsigned threads = 0);

// The classic recursive 8 x 8 Bayer matrix, values 0 to 63, row y column x.
std::int32_t BayerValue(std::uint32_t x, std::uint32_t y);

// The largest strength ordered dithering takes.
inline constexpr std::int32_t kMaxOrderedStrength = 1023;

// The strength of ordered dithering that suits the table: with D the median
// (the lower of the middle two for an even count) of the distances from
// each distinct match colour to the nearest other, D / sqrt(3) rounded to
// the nearest integer, the step along all three components as long as D.
// 0 for a table of one match colour. Exact, through a grid of cells about
// as many as the colours: some 50 ms for 100,000 colours spread over the
// cube.
std::int32_t OrderedStrength(const PreparedTable& table);

// Moves `pixelCount` pixels at `pixels`, the first being pixel `first` of a
// picture `width` wide, by the ordered pattern of strength `strength` (0 to
// kMaxOrderedStrength): for each component
//   v = clamp(s + floor((2 * B[y mod 8][x mod 8] - 63) * strength / 128), 0, 255).
// Pixels whose `alpha` (as many bytes as pixels, or null) is 0 stay as they
// are. The remap pass then finishes ordered dithering.
void OffsetOrdered(std::uint8_t* pixels, std::uint64_t pixelCount, std::uint64_t first,
                   std::uint32_t width, const std::uint8_t* alpha, std::int32_t strength);

// OffsetOrdered over the whole raster, then RemapPixels.
void DitherOrdered(std::uint8_t* pixels, std::uint32_t width, std::uint32_t height,
                   const std::uint8_t* alpha, const PreparedTable& table, std::int32_t strength);

// RemapPass with ordered dithering: each part of the raster is moved by the
// pattern as it arrives, then remapped. `width` is read when the raster
// starts (ReadImage has stored the header's by then); `alpha` (one byte a
// pixel, or null) must be whole by then too.
class OrderedPass final : public RasterPace {
 public:
  OrderedPass(const PreparedTable& table, const std::uint16_t& width, const std::uint8_t* alpha,
              std::int32_t strength)
      : pass_(table), width_(width), alpha_(alpha), strength_(strength) {}

  void Start(std::uint8_t* raster, std::uint64_t bytes) override;
  void Arrived(std::uint64_t bytes) override;
  void Abandon() override { pass_.Abandon(); }
  void AwaitReady(std::uint64_t bytes) override { pass_.AwaitReady(bytes); }

 private:
  RemapPass pass_;
  const std::uint16_t& width_;
  const std::uint8_t* alpha_;
  std::int32_t strength_;
  std::uint8_t* raster_ = nullptr;
  std::uint64_t offset_ = 0;  // pixels moved so far
};

namespace remap {
class FsRun;
}

// Floyd-Steinberg while the raster moves, as RemapPass: rows are dithered
// once they have arrived, on threads of its own and on the writer's while it
// waits, and each part is held back until its rows are dithered. `width` is
// read when the raster starts (ReadImage has stored the header's by then).
// Destroying it returns once nothing of it touches the raster.
class FloydSteinbergPass final : public RasterPace {
 public:
  FloydSteinbergPass(const PreparedTable& table, const std::uint16_t& width);
  ~FloydSteinbergPass() override;
  FloydSteinbergPass(const FloydSteinbergPass&) = delete;
  FloydSteinbergPass& operator=(const FloydSteinbergPass&) = delete;

  void Start(std::uint8_t* raster, std::uint64_t bytes) override;
  void Arrived(std::uint64_t bytes) override;
  void Abandon() override;
  void AwaitReady(std::uint64_t bytes) override;
  // Memory was short when the raster started: nothing is dithered.
  bool Failed() const { return failed_; }

 private:
  const PreparedTable& table_;
  const std::uint16_t& width_;
  std::unique_ptr<remap::FsRun> run_;
  bool failed_ = false;
};
