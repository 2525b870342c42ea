// Puts a test's stand-in into one of the program's process-wide seams (a Set... function that
// returns what it replaced) and puts the replaced one back when the scope ends, however the
// test leaves it.
#pragma once

#include <type_traits>
#include <utility>

namespace vorn::test {

template <class Value>
class ScopedSeam {
 public:
  using Setter = Value (*)(Value);
  ScopedSeam(Setter set, std::type_identity_t<Value> standIn)
      : set_(set), previous_(set(std::move(standIn))) {}
  ~ScopedSeam() { set_(std::move(previous_)); }
  ScopedSeam(const ScopedSeam&) = delete;
  ScopedSeam& operator=(const ScopedSeam&) = delete;

 private:
  Setter set_;
  Value previous_;
};

}  // namespace vorn::test
