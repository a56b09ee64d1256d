// The kernels this build has, each a whole sweep compiled for its
// instruction set, and the band of a picture a sweep works on.
#pragma once

#include <cstdint>

#include "remap.hpp"
#include "remap/chooser.hpp"
#include "remap/index.hpp"
#include "remap/table.hpp"

namespace remap {

// A stretch of a picture's pixels and what searching it needs.
struct Band {
  std::uint8_t* pixels;
  std::uint64_t pixelCount;
  const Signatures* all;
  Index* index;  // null, or with `scratch` null: every pixel against every signature
  Scratch* scratch;
  Chooser* chooser;     // the thread's, kept from band to band
  std::uint64_t ahead;  // pixels the thread expects to search after this band
};

using SweepFunction = void (*)(const Band& band);

void SweepPortable(const Band& band);
#ifdef REMAP_X86_KERNELS
void SweepAvx2(const Band& band);
void SweepAvx512(const Band& band);
#endif
#ifdef REMAP_NEON_KERNEL
void SweepNeon(const Band& band);
#endif

}  // namespace remap
