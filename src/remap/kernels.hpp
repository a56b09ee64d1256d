// The kernels this build has, each a whole sweep compiled for its
// instruction set. The driver chooses among them.
#pragma once

#include <cstdint>

#include "remap/table.hpp"

namespace remap {

// `width`: pixels a row, or 0 when not known.
using SweepFunction = void (*)(std::uint8_t* pixels, std::uint64_t pixelCount, std::uint64_t width,
                               const Table& table);

void SweepPortable(std::uint8_t* pixels, std::uint64_t pixelCount, std::uint64_t width,
                   const Table& table);
#ifdef REMAP_X86_KERNELS
void SweepAvx2(std::uint8_t* pixels, std::uint64_t pixelCount, std::uint64_t width,
               const Table& table);
void SweepAvx512(std::uint8_t* pixels, std::uint64_t pixelCount, std::uint64_t width,
                 const Table& table);
#endif
#ifdef REMAP_NEON_KERNEL
void SweepNeon(std::uint8_t* pixels, std::uint64_t pixelCount, std::uint64_t width,
               const Table& table);
#endif

}  // namespace remap
