// Runs a cleanup on every way out of a scope, thrown exceptions included, unless dismissed.
#pragma once

#include <exception>
#include <utility>

namespace vorn {

// A cleanup may raise events whose handlers throw. On a plain way out that error goes on to
// the caller, as it would from straight-line code; while another error is already unwinding
// the stack, that first error goes on and the cleanup's is dropped (two at once would end
// the program).
template <class Cleanup>
class ScopeExit {
 public:
  explicit ScopeExit(Cleanup cleanup) : cleanup_(std::move(cleanup)) {}
  ~ScopeExit() noexcept(false) {
    if (!armed_) return;
    if (std::uncaught_exceptions() == unwinding_) {
      cleanup_();
      return;
    }
    try {
      cleanup_();
    } catch (...) {
    }
  }
  ScopeExit(const ScopeExit&) = delete;
  ScopeExit& operator=(const ScopeExit&) = delete;

  // The work succeeded: nothing to undo.
  void Dismiss() { armed_ = false; }

 private:
  Cleanup cleanup_;
  int unwinding_ = std::uncaught_exceptions();  // errors in flight when the scope began
  bool armed_ = true;
};

}  // namespace vorn
