// vorn-find's output: the result lines on standard output, at a terminal each one as it is
// found and made safe to show, to a pipe or file in large blocks, byte for byte.
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>

#include "SearchRun.h"

namespace vorn {

// At a terminal, control characters would let a file's bytes drive the terminal: they are
// written as "\xHH".
void AppendForTerminal(std::string& out, std::string_view line);

// Writes all of data to fd, going on after partial writes and interrupts.
bool WriteAll(int fd, std::string_view data);

// A failed write stops the run.
class FindPrinter : public SearchListener {
 public:
  FindPrinter(SearchOptions options, bool terminal);

  void Results(std::span<const SearchHit> hits) override;
  // Said on standard error at once, with the line index as result lines show it.
  void Unsearched(std::string_view path, size_t lineIndex) override;
  SearchOptions Options() override { return options_; }
  // After a failed write the run is asked to stop at its next chance.
  bool PumpDue() override { return failed_; }
  bool StopRequested() override { return failed_; }
  bool ListingGoesOn() override { return !failed_; }

  // False, with errno set, once a write has failed.
  bool Flush();
  bool Found() const { return found_; }
  bool AnyUnsearched() const { return unsearched_; }

 private:
  static constexpr size_t kFlushAt = size_t{1} << 20;
  SearchOptions options_;
  bool terminal_;
  std::string out_;
  std::string line_;  // at a terminal: the line before it is made safe
  bool found_ = false;
  bool unsearched_ = false;
  bool failed_ = false;
  int error_ = 0;
};

}  // namespace vorn
