// The prepared signature table behind a PreparedTable: its own arrays, and
// the Signatures that point into them.
#pragma once

#include <cstdint>
#include <memory>

#include "remap.hpp"
#include "remap/table.hpp"

namespace remap {

struct Prepared {
  std::unique_ptr<std::int32_t[]> red, green, blue, norm, offset;
  std::unique_ptr<Match[]> match;
  std::unique_ptr<std::uint32_t[]> colour;
  std::unique_ptr<Chunk[]> chunks;
  Signatures all{};
};

}  // namespace remap
