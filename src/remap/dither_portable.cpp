// The Floyd-Steinberg row for every processor: each value's cell searched
// in plain loops.
#include "remap/dither_row.hpp"

namespace remap {

void DitherRowPortable(const DitherJob& job, std::uint32_t row) { DitherRow(job, row); }

}  // namespace remap
