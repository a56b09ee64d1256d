// The Floyd-Steinberg band every kernel shares, and the search of one value
// among its cell's quads (the colour cells of the pass's index) and the
// error arithmetic of one pixel, which a kernel does its own way: AVX2 with
// one vector of red, green, blue and 0 a pixel and two quads a step, the
// plain kernel with loops. Each kernel's file includes this header
// once, compiled for its own instruction set; everything here has internal
// linkage so that no other file can end up with that instruction set's code.
#pragma once

#if defined(__AVX2__)
#include <immintrin.h>
#endif

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <thread>

#include "remap/dither_job.hpp"
#include "remap/index.hpp"
#include "remap/quad_key.hpp"

namespace remap {
namespace {

// The signature nearest to a value: its replacement colour, R | G << 8 |
// B << 16, and its match colour.
struct Found {
  std::uint32_t colour;
  std::int32_t red, green, blue;
};

// The nearest to (r, g, b) of the `count` signatures at `place` (the first
// `count` where it is null), one by one; the earliest of equally near ones.
inline Found NearestAmong(const Signatures& all, const std::int32_t* place, std::int32_t count,
                          std::int32_t r, std::int32_t g, std::int32_t b) {
  std::int32_t best = place ? place[0] : 0, bestDistance = INT32_MAX;
  for (std::int32_t k = 0; k < count; ++k) {
    const std::int32_t i = place ? place[k] : k;
    const std::int32_t dr = r - all.red[i], dg = g - all.green[i], db = b - all.blue[i];
    const std::int32_t distance = dr * dr + dg * dg + db * db;
    if (distance < bestDistance) {
      best = i;
      bestDistance = distance;
    }
  }
  return {all.colour[best], all.red[best], all.green[best], all.blue[best]};
}

inline Found FromQuads(const Quad* quads, std::int32_t count, std::int32_t r, std::int32_t g,
                       std::int32_t b) {
  const std::int32_t rg =
      static_cast<std::int32_t>((static_cast<std::uint32_t>((r - 128) * 256) & 0xFFFF) |
                                static_cast<std::uint32_t>((g - 128) * 256) << 16);
  const auto place = static_cast<std::uint32_t>(SmallestKey(quads, count, rg, (b - 128) * 256)) &
                     ((1u << kPlaceBits) - 1);
  const Quad& quad = quads[place / kQuad];
  const std::uint32_t j = place % kQuad;
  // Match lanes hold -64·(m - 128), at least -64·127.
  const auto match = [](std::int16_t lane) { return 255 - ((lane + 64 * 127) >> 6); };
  return {quad.colour[j], match(quad.rg[2 * j]), match(quad.rg[2 * j + 1]), match(quad.b[2 * j])};
}

// The signature nearest to (r, g, b), each 0 to 255: in the quads of its
// cell of kLevel, the cell built first where it is not yet.
template <int kLevel>
Found Nearest(const DitherJob& job, std::int32_t r, std::int32_t g, std::int32_t b) {
  if (job.index == nullptr) return NearestAmong(*job.all, nullptr, job.all->count, r, g, b);
  Index& index = *job.index;
  constexpr int kShift = 8 - kLevel;
  const std::int32_t cell = (r >> kShift) << (2 * kLevel) | (g >> kShift) << kLevel | (b >> kShift);
  const std::uint64_t entry =
      index.quads[kLevel][static_cast<std::size_t>(cell)].load(std::memory_order_acquire);
  const auto count = static_cast<std::int32_t>(entry & kQuadCountMask);
  // Neither unbuilt (0) nor without quads (kNoQuads), in one comparison.
  if (static_cast<std::uint32_t>(count - 1) < kNoQuads - 1) {
    return FromQuads(index.quadPool.get() + (entry >> kQuadCountBits), count, r, g, b);
  }
  const CellCandidates found = BuildCandidates(index, kLevel, cell);
  if (found.quadCount > 0) return FromQuads(found.quads, found.quadCount, r, g, b);
  return NearestAmong(*index.all, found.span.place, found.span.count, r, g, b);
}

// Returns once the row whose progress is `done` has finished `needed`
// pixels, with what it has finished; or at once when the run stops.
inline std::uint32_t Await(const std::atomic<std::uint32_t>& done, std::uint32_t needed,
                           const std::atomic<bool>& stop) {
  std::uint32_t now = done.load(std::memory_order_acquire);
  for (int round = 0; now < needed && !stop.load(std::memory_order_relaxed); ++round) {
    Pause(round);
    now = done.load(std::memory_order_acquire);
  }
  return now;
}

// Rows publish their progress this often, in pixels: often enough that
// the row below hardly waits, seldom enough that its cache line rarely moves.
constexpr std::uint32_t kPublishEvery = 32;

inline std::int32_t Clamp255(std::int32_t v) { return v < 0 ? 0 : v > 255 ? 255 : v; }

// floor((e + 8) / 16) for e of at least -8200: a shift of a number never
// negative.
inline std::int32_t Rounded(std::int32_t e) { return ((e + 8 + 512 * 16) >> 4) - 512; }

// One row of a band as it goes: where its pixels and errors are, and the
// error sent right by its last pixel, and below-left and below so far to
// the entry before that pixel's and to that pixel's own.
struct RowState {
  std::uint8_t* pixels;
  const std::uint8_t* alpha;
  const std::int16_t* above;  // the zero slot for the picture's first row
  std::int16_t* below;        // entry -1 is there, not read
#if defined(__AVX2__)
  __m128i right, before, under;  // red, green, blue, 0
#else
  std::int32_t right[3], before[3], under[3];
#endif
};

inline RowState StartRow(const DitherJob& job, std::uint32_t row) {
  const std::uint64_t width = job.width, slot = 4 * (width + 1);
  RowState state;
  state.pixels = job.pixels + 3 * width * row;
  state.alpha = job.alpha ? job.alpha + width * row : nullptr;
  state.above = job.below + slot * (row > 0 ? (row - 1) % job.rings : job.rings) + 4;
  state.below = job.below + slot * (row % job.rings) + 4;
#if defined(__AVX2__)
  state.right = state.before = state.under = _mm_setzero_si128();
#else
  for (int c = 0; c < 3; ++c) state.right[c] = state.before[c] = state.under[c] = 0;
#endif
  return state;
}

#if defined(__AVX2__)
// The nearest signature to v (red, green, blue, 0 in 32-bit lanes) and its
// match colour in the same lanes.
template <int kLevel>
std::uint32_t NearestOf(const DitherJob& job, __m128i v, __m128i& match) {
  const std::int32_t r = _mm_cvtsi128_si32(v), g = _mm_extract_epi32(v, 1),
                     b = _mm_extract_epi32(v, 2);
  if (job.index != nullptr) {
    constexpr int kShift = 8 - kLevel;
    const std::int32_t cell =
        (r >> kShift) << (2 * kLevel) | (g >> kShift) << kLevel | (b >> kShift);
    const std::uint64_t entry =
        job.index->quads[kLevel][static_cast<std::size_t>(cell)].load(std::memory_order_acquire);
    const auto count = static_cast<std::int32_t>(entry & kQuadCountMask);
    if (static_cast<std::uint32_t>(count - 1) < kNoQuads - 1) {
      const Quad* quads = job.index->quadPool.get() + (entry >> kQuadCountBits);
      // 256·(v - 128) in 16-bit lanes: (r', g') and (b', 0) pairs.
      const __m128i lanes =
          _mm_packs_epi32(_mm_slli_epi32(_mm_sub_epi32(v, _mm_setr_epi32(128, 128, 128, 0)), 8),
                          _mm_setzero_si128());
      const auto place = static_cast<std::uint32_t>(SmallestKey(
                             quads, count, _mm_cvtsi128_si32(lanes), _mm_extract_epi32(lanes, 1))) &
                         ((1u << kPlaceBits) - 1);
      const Quad& quad = quads[place / kQuad];
      const std::uint32_t j = place % kQuad;
      std::int32_t pair;
      std::memcpy(&pair, &quad.rg[2 * j], sizeof pair);
      const __m128i lane =
          _mm_cvtepi16_epi32(_mm_insert_epi16(_mm_cvtsi32_si128(pair), quad.b[2 * j], 2));
      // Match lanes hold -64·(m - 128), at least -64·127.
      match = _mm_sub_epi32(
          _mm_setr_epi32(255, 255, 255, 0),
          _mm_srai_epi32(_mm_add_epi32(lane, _mm_setr_epi32(64 * 127, 64 * 127, 64 * 127, 0)), 6));
      return quad.colour[j];
    }
  }
  const Found found = Nearest<kLevel>(job, r, g, b);
  match = _mm_setr_epi32(found.red, found.green, found.blue, 0);
  return found.colour;
}

// Dithers pixel x of a row whose errors from above are final there.
template <int kLevel>
void DitherPixel(const DitherJob& job, RowState& row, std::uint32_t x) {
  std::uint8_t* p = row.pixels + 3 * std::uint64_t{x};
  const __m128i s = _mm_setr_epi32(p[0], p[1], p[2], 0);
  std::int64_t received;
  std::memcpy(&received, row.above + 4 * x, sizeof received);
  const __m128i e = _mm_add_epi32(row.right, _mm_cvtepi16_epi32(_mm_cvtsi64_si128(received)));
  // floor((e + 8) / 16) as a shift of a number never negative.
  const __m128i moved = _mm_sub_epi32(
      _mm_srai_epi32(_mm_add_epi32(e, _mm_set1_epi32(8 + 512 * 16)), 4), _mm_set1_epi32(512));
  const bool clear = row.alpha != nullptr && row.alpha[x] == 0;
  const __m128i v = clear
                        ? s
                        : _mm_min_epi32(_mm_max_epi32(_mm_add_epi32(s, moved), _mm_setzero_si128()),
                                        _mm_setr_epi32(255, 255, 255, 0));
  __m128i match;
  const std::uint32_t colour = NearestOf<kLevel>(job, v, match);
  p[0] = static_cast<std::uint8_t>(colour);
  p[1] = static_cast<std::uint8_t>(colour >> 8);
  p[2] = static_cast<std::uint8_t>(colour >> 16);
  const __m128i d = clear ? _mm_setzero_si128() : _mm_sub_epi32(v, match);
  row.right = _mm_sub_epi32(_mm_slli_epi32(d, 3), d);
  const __m128i sent = _mm_add_epi32(row.before, _mm_add_epi32(_mm_slli_epi32(d, 1), d));
  const std::int64_t packed = _mm_cvtsi128_si64(_mm_packs_epi32(sent, sent));
  std::memcpy(row.below + 4 * (std::int64_t{x} - 1), &packed, sizeof packed);
  row.before = _mm_add_epi32(row.under, _mm_add_epi32(_mm_slli_epi32(d, 2), d));
  row.under = d;
  if (x + 1 == job.width) {
    const std::int64_t last = _mm_cvtsi128_si64(_mm_packs_epi32(row.before, row.before));
    std::memcpy(row.below + 4 * x, &last, sizeof last);
  }
}
#else
// Dithers pixel x of a row whose errors from above are final there.
template <int kLevel>
void DitherPixel(const DitherJob& job, RowState& row, std::uint32_t x) {
  std::uint8_t* p = row.pixels + 3 * std::uint64_t{x};
  std::int32_t v[3];
  const bool clear = row.alpha != nullptr && row.alpha[x] == 0;
  for (std::uint32_t c = 0; c < 3; ++c) {
    const std::int32_t e = row.right[c] + row.above[4 * x + c];
    v[c] = clear ? p[c] : Clamp255(p[c] + Rounded(e));
  }
  const Found found = Nearest<kLevel>(job, v[0], v[1], v[2]);
  p[0] = static_cast<std::uint8_t>(found.colour);
  p[1] = static_cast<std::uint8_t>(found.colour >> 8);
  p[2] = static_cast<std::uint8_t>(found.colour >> 16);
  const std::int32_t m[3] = {found.red, found.green, found.blue};
  for (int c = 0; c < 3; ++c) {
    const std::int32_t d = clear ? 0 : v[c] - m[c];
    row.right[c] = 7 * d;
    row.below[4 * (std::int64_t{x} - 1) + c] = static_cast<std::int16_t>(row.before[c] + 3 * d);
    row.before[c] = row.under[c] + 5 * d;
    row.under[c] = d;
  }
  if (x + 1 == job.width) {
    for (std::uint32_t c = 0; c < 3; ++c) {
      row.below[4 * x + c] = static_cast<std::int16_t>(row.before[c]);
    }
  }
}
#endif

// A thread dithers a band of rows at once, each kLag pixels behind the one
// above: the search of a value waits on memory, and the rows' searches,
// independent, overlap. Only the band's last row tells its progress.
constexpr std::uint32_t kLag = 2;

template <int kLevel>
void DitherBand(const DitherJob& job, std::uint32_t first, std::uint32_t rows) {
  const std::uint32_t width = job.width;
  RowState state[kBand];
  for (std::uint32_t i = 0; i < rows; ++i) state[i] = StartRow(job, first + i);
  std::atomic<std::uint32_t>& done = job.progress[first + rows - 1].done;
  std::uint32_t ready = first > 0 ? 0 : width;  // pixels of the row above known finished
  const std::uint32_t steps = width + kLag * (rows - 1);
  for (std::uint32_t t = 0; t < steps; ++t) {
    if (t < width) {
      const std::uint32_t needed = t + 2 < width ? t + 2 : width;
      if (ready < needed) {
        ready = Await(job.progress[first - 1].done, needed, *job.stop);
        if (ready < needed) return;
      }
    }
    for (std::uint32_t i = 0; i < rows; ++i) {
      if (t < kLag * i || t - kLag * i >= width) continue;
      DitherPixel<kLevel>(job, state[i], t - kLag * i);
    }
    if (t >= kLag * (rows - 1)) {
      const std::uint32_t x = t - kLag * (rows - 1);
      if (x % kPublishEvery == kPublishEvery - 1) done.store(x + 1, std::memory_order_release);
    }
  }
  done.store(width, std::memory_order_release);
}

// The band with the job's cells.
inline void DitherBandOfJob(const DitherJob& job, std::uint32_t first, std::uint32_t rows) {
  if (job.level == kCoarse) {
    DitherBand<kCoarse>(job, first, rows);
  } else {
    DitherBand<kFinest>(job, first, rows);
  }
}

}  // namespace
}  // namespace remap
