// The kernels this build has, each a whole sweep compiled for its
// instruction set. The driver chooses among them.
#pragma once

#include <cstdint>

#include "remap/table.hpp"

namespace remap {

using SweepFunction = void (*)(std::uint8_t* pixels, std::uint64_t pixelCount, const Table& table);

void SweepPortable(std::uint8_t* pixels, std::uint64_t pixelCount, const Table& table);
#ifdef REMAP_X86_KERNELS
void SweepAvx2(std::uint8_t* pixels, std::uint64_t pixelCount, const Table& table);
void SweepAvx512(std::uint8_t* pixels, std::uint64_t pixelCount, const Table& table);
#endif
#ifdef REMAP_NEON_KERNEL
void SweepNeon(std::uint8_t* pixels, std::uint64_t pixelCount, const Table& table);
#endif

}  // namespace remap
