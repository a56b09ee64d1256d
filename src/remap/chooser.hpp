// Which way a window of blocks is searched: each way's recent times a pixel,
// and how long the cheapest has run since each other was last timed. One a
// thread, kept from one part of a picture to the next.
#pragma once

#include <cstdint>

#include "remap.hpp"

namespace remap {

// The ways a block can be searched, in SearchChoice's order.
enum Way { kFull, kBlockUnion, kEachPixelLargeCells, kEachPixelSmallCells, kRemembering, kWays };

// A search not chosen is timed again once the chosen one has taken this
// many times as long as the other was last seen to take: trying costs at
// most a share this small, however the two compare.
constexpr double kTrialShare = 32;
// Pixels a way settles for once a trial taken warm has made it the
// cheapest: as many as there are cells of 8, which a picture of
// noise takes to reach each about once.
constexpr std::uint64_t kSettlePixels = std::uint64_t{1} << 15;

class Chooser {
 public:
  // `indexed`: the ways that need cells may be taken.
  Chooser(SearchChoice choice, bool indexed);

  // Untimed ways first, the full search first of all: it needs no cells,
  // which a small picture may not make up for. Then the cheapest, but
  // another once the cheapest has run kTrialShare times as long as that one
  // takes.
  Way Next() const;

  bool Timed(Way way) const { return allowed_[way] && Seconds(way) >= 0; }
  // The least of the way's last kRecent times, or -1 before the first.
  double Seconds(Way way) const;

  // A window took `perPixel` to search and `building` a pixel to build
  // cells. Times vary with the pixels a window holds, and a long one may
  // only mean the thread was interrupted or shared its core: a way's time
  // is the least of its last few. Cells are built once, so they do not
  // count against a way, but they make its next trial wait as long as its
  // search would. A time taken `warm`, on pixels searched again, flatters
  // the way: it holds only until the way's next window, timed as it comes,
  // replaces it.
  void Took(Way way, double perPixel, double building, bool warm);

  // A way that a trial, timed warm, made the cheapest finds what it reads
  // out of the caches: the way before it had them to itself. Its windows
  // settle, untimed, until they have searched kSettlePixels pixels; then
  // its first timed window replaces the warm time, and what settling took
  // makes its next trial wait even if it runs a while as the cheapest.
  bool Settling(Way way) const { return way == adopted_ && settled_ < kSettlePixels; }
  void Settled(std::uint64_t pixels) { settled_ += pixels; }
  // Windows that fill a table or settle are untimed; what they took counts
  // as building in the next window timed, in this part of the picture or a
  // later one.
  void Untimed(double seconds) { untimed_ += seconds; }
  double Untimed() const { return untimed_; }

  // The way with the shortest time; but the full search, which needs no
  // cells, unless another beats it by more than times jitter from window to
  // window: two ways about as fast would otherwise take turns.
  Way Cheapest() const;

 private:
  static constexpr int kRecent = 4;
  bool allowed_[kWays];
  double recent_[kWays][kRecent] = {};
  int timed_[kWays] = {};
  bool warm_[kWays] = {};     // the way's last time was taken warm
  double since_[kWays] = {};  // the cheapest's time since each was last timed
  Way adopted_ = kWays;       // settling, after a trial timed warm
  Way owing_ = kWays;         // settled, and still paying for it
  std::uint64_t settled_ = 0;
  double untimed_ = 0;  // seconds, since the last window timed
};

}  // namespace remap
