// Decides when a long run on the GUI thread really pumps events: only when a few
// milliseconds have passed since the last real pump, so the window stays responsive without
// paying for a pump at every line. Also keeps the longest stretch without a pump.
// Due() is asked after every hit, so it reads the system's coarse clock: a fraction of the
// precise clock's cost, and its grain (a few milliseconds) is small beside the interval.
#pragma once

#include <QElapsedTimer>
#include <chrono>

namespace vorn {

class PumpThrottle {
 public:
  using Nanoseconds = std::chrono::nanoseconds;
  static constexpr Nanoseconds kDefaultInterval = std::chrono::milliseconds(15);

  explicit PumpThrottle(Nanoseconds interval = kDefaultInterval) : interval_(interval) {}

  void SetInterval(Nanoseconds interval) { interval_ = interval; }
  Nanoseconds Interval() const { return interval_; }

  // A run begins: the caller has just come from the event loop, which counts as a pump.
  void Start();
  bool Due() const;
  // Around each real pump; the time between End and the next Begin is a stretch without one.
  void BeginPump();
  void EndPump();
  // The run ends and returns to the event loop: closes the last stretch.
  void Finish();

  Nanoseconds LongestGap() const { return longestGap_; }
  Nanoseconds LongestPump() const { return longestPump_; }
  long long Pumps() const { return pumps_; }

 private:
  Nanoseconds interval_;
  QElapsedTimer sinceLastPump_;
  QElapsedTimer pumpClock_;
  Nanoseconds lastPumpCoarse_{0};
  Nanoseconds longestGap_{0};
  Nanoseconds longestPump_{0};
  long long pumps_ = 0;
};

}  // namespace vorn
