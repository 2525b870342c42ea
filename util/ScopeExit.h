// Runs a cleanup on every way out of a scope, thrown exceptions included, unless dismissed.
#pragma once

#include <utility>

namespace vorn {

template <class Cleanup>
class ScopeExit {
 public:
  explicit ScopeExit(Cleanup cleanup) : cleanup_(std::move(cleanup)) {}
  ~ScopeExit() {
    if (armed_) cleanup_();
  }
  ScopeExit(const ScopeExit&) = delete;
  ScopeExit& operator=(const ScopeExit&) = delete;

  // The work succeeded: nothing to undo.
  void Dismiss() { armed_ = false; }

 private:
  Cleanup cleanup_;
  bool armed_ = true;
};

}  // namespace vorn
