// The Floyd-Steinberg row for every processor: each value's cell searched
// in plain loops.
#include "remap/dither_row.hpp"

namespace remap {

void DitherBandPortable(const DitherJob& job, std::uint32_t first, std::uint32_t rows) {
  DitherBandOfJob(job, first, rows);
}

}  // namespace remap
