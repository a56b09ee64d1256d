// The choice between the ways of searching, by measured time alone.
#include "remap/chooser.hpp"

namespace remap {
namespace {

// Times of one way differ this much from window to window.
constexpr double kJitter = 1.1;

}  // namespace

Chooser::Chooser(SearchChoice choice, bool indexed) {
  bool any = false;
  for (int w = 0; w < kWays; ++w) {
    allowed_[w] = choice == SearchChoice::kMeasured
                      ? w == kFull || indexed
                      : static_cast<int>(choice) == w + 1 && (w == kFull || indexed);
    any = any || allowed_[w];
  }
  // A way asked for that needs an index there is none of.
  if (!any) allowed_[kFull] = true;
}

Way Chooser::Next() const {
  for (int w = 0; w < kWays; ++w) {
    if (allowed_[w] && Seconds(static_cast<Way>(w)) < 0) return static_cast<Way>(w);
  }
  const Way cheapest = Cheapest();
  for (int w = 0; w < kWays; ++w) {
    if (w != cheapest && allowed_[w] && since_[w] > kTrialShare * Seconds(static_cast<Way>(w))) {
      return static_cast<Way>(w);
    }
  }
  return cheapest;
}

double Chooser::Seconds(Way way) const {
  double least = -1;
  const int count = timed_[way] < kRecent ? timed_[way] : kRecent;
  for (int r = 0; r < count; ++r) {
    least = least < 0 || recent_[way][r] < least ? recent_[way][r] : least;
  }
  return least;
}

void Chooser::Took(Way way, double perPixel, double building, bool warm) {
  const Way cheapest = Cheapest();
  if (warm_[way]) --timed_[way];
  recent_[way][timed_[way]++ % kRecent] = perPixel;
  warm_[way] = warm;
  for (double& since : since_) since += way == cheapest ? perPixel + building : 0;
  // A way's windows end what it owes, but those of a way that settled only
  // once it has paid: it may run a while as the cheapest before it loses,
  // and then its settling must still make its next trial wait. A trial of
  // a way adopted earlier, whose settling another way's trial cut short,
  // owes nothing yet: it settles again if it wins.
  if (way != owing_ || since_[way] >= 0) {
    since_[way] = -kTrialShare * building;
    if (way == adopted_ && settled_ >= kSettlePixels) {
      owing_ = way;
    } else if (way == owing_) {
      owing_ = kWays;
    }
  }
  // A trial of another way, or its first timing, leaves an adopted way to
  // settle when it next runs; the adopted way's own timed window ends it.
  if (warm && way != cheapest && Timed(cheapest) && Cheapest() == way) {
    adopted_ = way;
    settled_ = 0;
  } else if (way == adopted_) {
    adopted_ = kWays;
  }
  untimed_ = 0;
}

Way Chooser::Cheapest() const {
  Way best = kFull;
  double fastest = -1;
  for (int w = 0; w < kWays; ++w) {
    const double seconds = Seconds(static_cast<Way>(w));
    if (allowed_[w] && seconds >= 0 && (fastest < 0 || seconds < fastest)) {
      best = static_cast<Way>(w);
      fastest = seconds;
    }
  }
  const double full = Seconds(kFull);
  return allowed_[kFull] && full >= 0 && fastest * kJitter > full ? kFull : best;
}

}  // namespace remap
