// The plain kernel, for every processor: 8 pixels a block, each key built
// from three 32-bit products, and the smallest kept without a branch (a
// branch on "nearer than the best so far" mispredicts on noisy pictures).
#include <cstdint>

#include "remap/sweep.hpp"

namespace remap {
namespace {

struct Portable {
  // What a compiler makes of its loops with SSE2 or NEON.
  static constexpr int kLanes = 4;
  static constexpr int kBlock = 8;
  struct Pixels {
    std::int32_t red[kBlock], green[kBlock], blue[kBlock];  // 256·p'
  };
  using Keys = std::int32_t[kBlock];
  struct Best {
    std::int32_t e[kBlock];
    std::uint32_t colour[kBlock];
  };

  static void Load(const std::uint8_t* bytes, Pixels& pixels) {
    for (int j = 0; j < kBlock; ++j) {
      pixels.red[j] = (bytes[3 * j] - 128) * 256;
      pixels.green[j] = (bytes[3 * j + 1] - 128) * 256;
      pixels.blue[j] = (bytes[3 * j + 2] - 128) * 256;
    }
  }

  static void Search(const Pixels& pixels, const Chunk& chunk, Keys& keys) {
    for (int j = 0; j < kBlock; ++j) keys[j] = INT32_MAX;
    for (std::int32_t i = 0; i < chunk.count; ++i) {
      const Match m = chunk.match[i];
      const std::int32_t offset = chunk.offset[i];
      for (int j = 0; j < kBlock; ++j) {
        const std::int32_t key =
            offset + pixels.red[j] * m.red + pixels.green[j] * m.green + pixels.blue[j] * m.blue;
        keys[j] = key < keys[j] ? key : keys[j];
      }
    }
  }

  static void Lookup(const Keys& keys, const Chunk& chunk, Best& best) {
    for (int j = 0; j < kBlock; ++j) {
      best.e[j] = keys[j] >> kPlaceBits;
      best.colour[j] = chunk.colour[keys[j] & (kChunk - 1)];
    }
  }

  static void KeepNearer(const Best& candidate, Best& best) {
    for (int j = 0; j < kBlock; ++j) {
      const bool nearer = candidate.e[j] < best.e[j];
      best.e[j] = nearer ? candidate.e[j] : best.e[j];
      best.colour[j] = nearer ? candidate.colour[j] : best.colour[j];
    }
  }

  static void Store(const Best& best, std::uint8_t* bytes) {
    for (int j = 0; j < kBlock; ++j) PutColour(bytes + 3 * j, best.colour[j], j + 1 < kBlock);
  }
};

}  // namespace

extern const Sweeper kSweepPortable = {Sweep<Portable>, Portable::kLanes, kQuadLanes};

}  // namespace remap
