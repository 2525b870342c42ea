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

// A failed write stops the run. A binary file's hits print nothing; the first of them says
// "vorn-find: PATH: binary file matches" on standard error.
class FindPrinter : public SearchListener {
 public:
  FindPrinter(SearchOptions options, bool terminal);

  void Results(std::span<const SearchHit> hits) override;
  SearchOptions Options() override { return options_; }
  // After a failed write the run is asked to stop at its next chance.
  bool PumpDue() override { return failed_; }
  bool StopRequested() override { return failed_; }
  bool ListingGoesOn() override { return !failed_; }

  // False, with errno set, once a write has failed.
  bool Flush();
  bool Found() const { return found_; }

 private:
  static constexpr size_t kFlushAt = size_t{1} << 20;
  SearchOptions options_;
  bool terminal_;
  bool errorsToTerminal_;
  std::string out_;
  std::string line_;        // at a terminal: the line before it is made safe
  std::string binaryPath_;  // the binary file last told of
  bool found_ = false;
  bool failed_ = false;
  int error_ = 0;
};

}  // namespace vorn
