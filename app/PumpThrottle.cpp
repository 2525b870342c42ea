#include "PumpThrottle.h"

#include <algorithm>

void PumpThrottle::Start() {
  longestGap_ = longestPump_ = Nanoseconds{0};
  pumps_ = 0;
  sinceLastPump_.start();
}

bool PumpThrottle::Due() const {
  return !sinceLastPump_.isValid() || Nanoseconds(sinceLastPump_.nsecsElapsed()) >= interval_;
}

void PumpThrottle::BeginPump() {
  if (sinceLastPump_.isValid())
    longestGap_ = std::max(longestGap_, Nanoseconds(sinceLastPump_.nsecsElapsed()));
  pumpClock_.start();
}

void PumpThrottle::EndPump() {
  longestPump_ = std::max(longestPump_, Nanoseconds(pumpClock_.nsecsElapsed()));
  ++pumps_;
  sinceLastPump_.start();
}

void PumpThrottle::Finish() {
  if (sinceLastPump_.isValid())
    longestGap_ = std::max(longestGap_, Nanoseconds(sinceLastPump_.nsecsElapsed()));
  sinceLastPump_.invalidate();
}
