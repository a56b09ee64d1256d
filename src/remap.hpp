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
// config.count >= 1.
// Uses the fastest kernel the processor supports; all give the same bytes.
void RemapPixels(std::uint8_t* pixels, std::uint64_t pixelCount, const Configuration& config);

// The kernels, for tests and benchmarks: the plain loop, AVX2, AVX-512 with VNNI.
enum class RemapKernel { kPortable, kAvx2, kAvx512 };

// "portable", "avx2", "avx512".
const char* KernelName(RemapKernel kernel);

// RemapPixels with one chosen kernel. Returns false, touching nothing, when
// this processor or build lacks it.
bool RemapPixelsWith(RemapKernel kernel, std::uint8_t* pixels, std::uint64_t pixelCount,
                     const Configuration& config);
