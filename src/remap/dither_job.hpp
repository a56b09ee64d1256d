// One Floyd-Steinberg run as the threads share it, and the band of rows each
// kernel dithers. Bands go to threads in order; a row may dither pixel x once the
// row above has finished pixel x + 1, whose error reaches pixel x last. The
// error a pixel sends to its right stays in registers; what a row sends
// below goes to a buffer of its own, each entry written once, when final.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <thread>

#include "remap.hpp"
#include "remap/index.hpp"
#include "remap/table.hpp"

namespace remap {

// How many pixels of a row are finished, alone in its cache line.
struct alignas(64) RowProgress {
  std::atomic<std::uint32_t> done{0};
};

struct DitherJob {
  const Signatures* all;
  Index* index;  // null: every pixel against every signature
  int level;     // of the cells values are searched in: kCoarse or kFinest
  std::uint8_t* pixels;
  std::uint32_t width, height;
  const std::uint8_t* alpha;  // null, or a byte a pixel
  // Per ring slot, per pixel from -1 to width - 1, the error sent below:
  // red, green, blue, 0 in sixteenths (at most 16 * 270 in size). Row r
  // writes slot r % rings and reads slot (r - 1) % rings, the first row slot
  // `rings`, all zeros. With at least two slots a slot is written again
  // only once its reader has passed (each row trails the one above).
  std::int16_t* below;
  std::uint32_t rings;
  RowProgress* progress;          // one a row
  const std::atomic<bool>* stop;  // set: bands give up waiting and return
};

// The level of the cells a value is searched in: cells of 16 a side hold a
// few quads for palettes of up to a few hundred colours, and fit the
// caches better; beyond, cells of 8 hold fewer.
inline int DitherLevel(std::int32_t signatures) { return signatures <= 512 ? kCoarse : kFinest; }

// How a thread waits for another's progress: it spins a while, then gives
// way a while (the other may have been put aside), then sleeps a little at
// a time, so that on a busy machine it leaves its processor to the thread
// it waits for.
inline void Pause(int round) {
  if (round < 256) return;
  if (round < 320) {
    std::this_thread::yield();
  } else {
    std::this_thread::sleep_for(std::chrono::microseconds(50));
  }
}

// Rows a thread takes at once, as a band.
constexpr std::uint32_t kBand = 4;

// Dithers rows first to first + rows - 1 (at most kBand).
using DitherBandFunction = void (*)(const DitherJob& job, std::uint32_t first, std::uint32_t rows);

void DitherBandPortable(const DitherJob& job, std::uint32_t first, std::uint32_t rows);
#ifdef REMAP_X86_KERNELS
void DitherBandAvx2(const DitherJob& job, std::uint32_t first, std::uint32_t rows);
#endif

}  // namespace remap
