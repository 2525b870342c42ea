#include "PumpThrottle.h"

#include <time.h>

#include <algorithm>

namespace vorn {

namespace {

PumpThrottle::Nanoseconds CoarseNow() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC_COARSE, &now);
  return std::chrono::seconds(now.tv_sec) + PumpThrottle::Nanoseconds(now.tv_nsec);
}

}  // namespace

void PumpThrottle::Start() {
  longestGap_ = longestPump_ = Nanoseconds{0};
  pumps_ = 0;
  sinceLastPump_.start();
  lastPumpCoarse_ = CoarseNow();
}

bool PumpThrottle::Due() const {
  return !sinceLastPump_.isValid() || CoarseNow() - lastPumpCoarse_ >= interval_;
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
  lastPumpCoarse_ = CoarseNow();
}

void PumpThrottle::Finish() {
  if (sinceLastPump_.isValid())
    longestGap_ = std::max(longestGap_, Nanoseconds(sinceLastPump_.nsecsElapsed()));
  sinceLastPump_.invalidate();
}

}  // namespace vorn
