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
  Index* index;  // made once a unit needs it; without `scratch`, every pixel is searched in full
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

// Each defined only where the build has the kernel.
extern const Sweeper kSweepPortable, kSweepAvx2, kSweepAvx512, kSweepNeon;

}  // namespace remap
