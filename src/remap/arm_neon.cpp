// NEON kernel for aarch64, where NEON is always present. A block is 16
// pixels, as one three-register load gives them (two blocks at once run out
// of registers). Per pixel lane:
//   red, green, blue: 256·p' in 16-bit lanes, 8 pixels a register
//   keys: 8192·e + place in 32-bit lanes, 4 pixels a register
//   colour: R | G << 8 | B << 16
// A key is one widening multiply and two widening multiply-accumulates by
// the match lanes of one signature, then the offset added.
#include <arm_neon.h>

#include <cstdint>

#include "remap/sweep.hpp"

namespace remap {
namespace {

struct Neon {
  static constexpr int kLanes = 4;  // keys, 32 bits a lane
  static constexpr int kBlock = 16;
  struct Pixels {
    int16x8_t red[2], green[2], blue[2];
  };
  using Keys = int32x4_t[4];
  struct Best {
    int32x4_t e[4];
    uint32x4_t colour[4];
  };

  // 256·(byte - 128) for the low and high eight bytes.
  static void Widen(uint8x16_t bytes, int16x8_t* lanes) {
    const int8x16_t centred = vreinterpretq_s8_u8(veorq_u8(bytes, vdupq_n_u8(0x80)));
    lanes[0] = vshll_n_s8(vget_low_s8(centred), 8);
    lanes[1] = vshll_high_n_s8(centred, 8);
  }

  static void Load(const std::uint8_t* p, Pixels& pixels) {
    const uint8x16x3_t rgb = vld3q_u8(p);
    Widen(rgb.val[0], pixels.red);
    Widen(rgb.val[1], pixels.green);
    Widen(rgb.val[2], pixels.blue);
  }

  static void Search(const Pixels& pixels, const Chunk& chunk, Keys& keys) {
    for (int v = 0; v < 4; ++v) keys[v] = vdupq_n_s32(INT32_MAX);
    for (std::int32_t i = 0; i < chunk.count; ++i) {
      const int16x4_t m = vld1_s16(&chunk.match[i].red);
      const int32x4_t offset = vld1q_dup_s32(&chunk.offset[i]);
      for (int h = 0; h < 2; ++h) {
        int32x4_t low = vmull_lane_s16(vget_low_s16(pixels.red[h]), m, 0);
        low = vmlal_lane_s16(low, vget_low_s16(pixels.green[h]), m, 1);
        low = vmlal_lane_s16(low, vget_low_s16(pixels.blue[h]), m, 2);
        int32x4_t high = vmull_high_lane_s16(pixels.red[h], m, 0);
        high = vmlal_high_lane_s16(high, pixels.green[h], m, 1);
        high = vmlal_high_lane_s16(high, pixels.blue[h], m, 2);
        keys[2 * h] = vminq_s32(keys[2 * h], vaddq_s32(low, offset));
        keys[2 * h + 1] = vminq_s32(keys[2 * h + 1], vaddq_s32(high, offset));
      }
    }
  }

  static void Lookup(const Keys& keys, const Chunk& chunk, Best& best) {
    const int32x4_t placeMask = vdupq_n_s32(kChunk - 1);
    for (int v = 0; v < 4; ++v) {
      const uint32x4_t place = vreinterpretq_u32_s32(vandq_s32(keys[v], placeMask));
      if (chunk.count <= 16) {
        // Sixteen colours are 64 bytes: one four-register table lookup.
        const uint8x16x4_t table = vld1q_u8_x4(reinterpret_cast<const std::uint8_t*>(chunk.colour));
        const uint32x4_t index = vmlaq_n_u32(vdupq_n_u32(0x03020100), place, 0x04040404);
        best.colour[v] = vreinterpretq_u32_u8(vqtbl4q_u8(table, vreinterpretq_u8_u32(index)));
      } else {
        std::uint32_t places[4], colours[4];
        vst1q_u32(places, place);
        for (int l = 0; l < 4; ++l) colours[l] = chunk.colour[places[l]];
        best.colour[v] = vld1q_u32(colours);
      }
      best.e[v] = vshrq_n_s32(keys[v], kPlaceBits);
    }
  }

  static void KeepNearer(const Best& candidate, Best& best) {
    for (int v = 0; v < 4; ++v) {
      const uint32x4_t nearer = vcltq_s32(candidate.e[v], best.e[v]);
      best.e[v] = vminq_s32(best.e[v], candidate.e[v]);
      best.colour[v] = vbslq_u32(nearer, candidate.colour[v], best.colour[v]);
    }
  }

  static void Store(const Best& best, std::uint8_t* p) {
    const uint8x16_t every4th = vld1q_u8(kEvery4th);
    const uint32x4_t* c = best.colour;
    const uint8x16x4_t colours = {{vreinterpretq_u8_u32(c[0]), vreinterpretq_u8_u32(c[1]),
                                   vreinterpretq_u8_u32(c[2]), vreinterpretq_u8_u32(c[3])}};
    const uint8x16_t red = vqtbl4q_u8(colours, every4th);
    const uint8x16_t green = vqtbl4q_u8(colours, vaddq_u8(every4th, vdupq_n_u8(1)));
    const uint8x16_t blue = vqtbl4q_u8(colours, vaddq_u8(every4th, vdupq_n_u8(2)));
    vst3q_u8(p, uint8x16x3_t{{red, green, blue}});
  }

  static constexpr std::uint8_t kEvery4th[16] = {0,  4,  8,  12, 16, 20, 24, 28,
                                                 32, 36, 40, 44, 48, 52, 56, 60};
};

}  // namespace

extern const Sweeper kSweepNeon = {Sweep<Neon>, Neon::kLanes, kQuadLanes};

}  // namespace remap
