// What lets a caller work on a raster while it moves: the reader and writer
// of images tell it of each part, and the remap pass is one. It knows no file
// format.
#pragma once

#include <cstdint>

// ReadImage, given one, reads the raster in parts and tells it as each
// arrives; WriteImage, given one, writes the raster in parts and waits before
// each until it may go. What is read, written and reported is the same with
// one as without.
class RasterPace {
 public:
  virtual ~RasterPace() = default;
  // The raster, `bytes` long, is at `raster`; none of it has arrived yet.
  virtual void Start(std::uint8_t* raster, std::uint64_t bytes) = 0;
  // Its first `bytes` have arrived.
  virtual void Arrived(std::uint64_t bytes) = 0;
  // The read has failed. Returns once nothing uses the raster, which is
  // freed next.
  virtual void Abandon() = 0;
  // Returns once the first `bytes` may be written.
  virtual void AwaitReady(std::uint64_t bytes) = 0;
};
