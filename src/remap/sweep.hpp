// The sweep every kernel shares: whole blocks in place, the last short block
// through a copy on the stack, and each block searched chunk by chunk, a
// later chunk winning only where it is strictly nearer.
//
// A kernel K supplies, for a block of K::kBlock pixels:
//   K::Pixels, K::Keys, K::Best                 what its registers hold
//   K::Load(bytes, pixels)                      pixels into lanes
//   K::Search(pixels, chunk, keys)              smallest key per pixel over one chunk
//   K::Lookup(keys, chunk, best)                distance and colour of those keys
//   K::KeepNearer(candidate, best)              where candidate is strictly nearer, take it
//   K::Store(best, bytes)                       colours back into the block
// Each kernel's file includes this header once and instantiates Sweep with its
// own K, compiled for its own instruction set.
#pragma once

#include <cstdint>
#include <cstring>

#include "remap/table.hpp"

namespace remap {

// Needs at least one chunk.
template <class K>
void RemapBlock(std::uint8_t* bytes, const Table& table) {
  typename K::Pixels pixels;
  K::Load(bytes, pixels);
  typename K::Keys keys;
  typename K::Best best;
  K::Search(pixels, table.chunks[0], keys);
  K::Lookup(keys, table.chunks[0], best);
  for (std::int32_t c = 1; c < table.chunkCount; ++c) {
    typename K::Best candidate;
    K::Search(pixels, table.chunks[c], keys);
    K::Lookup(keys, table.chunks[c], candidate);
    K::KeepNearer(candidate, best);
  }
  K::Store(best, bytes);
}

template <class K>
void Sweep(std::uint8_t* pixels, std::uint64_t pixelCount, const Table& table) {
  constexpr std::uint64_t kBlock = K::kBlock;
  std::uint64_t k = 0;
  for (; pixelCount - k >= kBlock; k += kBlock) RemapBlock<K>(pixels + 3 * k, table);
  if (k < pixelCount) {
    std::uint8_t tail[kBlock * 3] = {};
    const auto bytes = static_cast<std::size_t>(3 * (pixelCount - k));
    std::memcpy(tail, pixels + 3 * k, bytes);
    RemapBlock<K>(tail, table);
    std::memcpy(pixels + 3 * k, tail, bytes);
  }
}

}  // namespace remap
