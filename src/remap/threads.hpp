// The pass over a picture on as many threads as the process may use.
#pragma once

#include <cstdint>

#include "remap.hpp"
#include "remap/kernels.hpp"

namespace remap {

// Runs `sweep` over the `pixelCount` pixels at `pixels`, cut into bands of
// whole blocks, one a thread: as many threads as options.threads says (0:
// as many as the process may use), fewer where bands would be too small to
// be worth one. A thread that cannot be started leaves its band to the
// caller's thread; the bytes are the same either way.
void RunBands(SweepFunction sweep, const Signatures& all, std::uint8_t* pixels,
              std::uint64_t pixelCount, const RemapOptions& options);

}  // namespace remap
