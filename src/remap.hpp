// Nearest-colour remapping: every pixel takes the replacement colour of the
// signature whose match colour is nearest to it.
#pragma once

#include <cstdint>

#include "config/configuration.hpp"

inline constexpr char kCouldNotLoadConfiguration[] = "Could not load configuration. Usage.\n";
inline constexpr char kCouldNotReadImage[] = "Could not read image.\n";
inline constexpr char kCouldNotWriteOutput[] = "Could not write output.\n";

// Replaces each of the `pixelCount` RGB pixels in `pixels`, in place, by the
// replacement colour (low eight bits of each component) of the signature with
// the smallest squared RGB distance; ties go to the earliest signature. Needs
// config.count >= 1. Uses the fastest kernel this build and processor have;
// all give the same bytes. The signature table is prepared once, before the
// sweep; nothing is allocated during it. `width`, the pixels in a row of the
// picture (0 when not known), only lets large tables be pruned over squares
// of pixels instead of runs along rows.
void RemapPixels(std::uint8_t* pixels, std::uint64_t pixelCount, const Configuration& config,
                 std::uint64_t width = 0);

// The kernels: the plain loop (everywhere), AVX2 and AVX-512 with VNNI
// (x86-64, chosen at run time), NEON (aarch64).
enum class RemapKernel { kPortable, kAvx2, kAvx512, kNeon };
inline constexpr RemapKernel kFastestFirst[] = {RemapKernel::kAvx512, RemapKernel::kAvx2,
                                                RemapKernel::kNeon, RemapKernel::kPortable};

// "portable", "avx2", "avx512", "neon".
const char* KernelName(RemapKernel kernel);

// True when this build has the kernel and this processor can run it.
bool HasKernel(RemapKernel kernel);

// RemapPixels with one chosen kernel. Returns false, touching nothing, when
// HasKernel(kernel) is false.
bool RemapPixelsWith(RemapKernel kernel, std::uint8_t* pixels, std::uint64_t pixelCount,
                     const Configuration& config, std::uint64_t width = 0);
