// The kernels this build has, each a whole sweep compiled for its
// instruction set, and the band of a picture a sweep works on.
#pragma once

#include <atomic>
#include <cstdint>

#include "remap.hpp"
#include "remap/choice.hpp"
#include "remap/index.hpp"
#include "remap/table.hpp"

namespace remap {

// A stretch of a picture's pixels and what searching it needs.
struct Band {
  std::uint8_t* pixels;
  std::uint64_t pixelCount;
  std::uint64_t first;       // the place of its first pixel in the picture
  std::uint64_t head;        // the picture's first pixels, which the full search takes
  const std::uint8_t* ways;  // the Way of each unit of the picture
  const Signatures* all;
  Index* index;  // null, or with `scratch` null: every pixel against every signature
  Scratch* scratch;
  std::atomic<std::uint64_t>* searched;  // pixels, per Way
};

// A kernel's sweep and what its costs are counted in.
struct Sweeper {
  void (*sweep)(const Band& band);
  int lanes;      // Machine::lanes
  int quadLanes;  // Machine::quadLanes
};

// The signatures of a prepared table, as a sweep takes them.
const Signatures& SignaturesOf(const PreparedTable& table);

extern const Sweeper kSweepPortable;
#ifdef REMAP_X86_KERNELS
extern const Sweeper kSweepAvx2;
extern const Sweeper kSweepAvx512;
#endif
#ifdef REMAP_NEON_KERNEL
extern const Sweeper kSweepNeon;
#endif

}  // namespace remap
