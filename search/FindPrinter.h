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
// written as "\xHH", and the bidirectional controls, which reorder what is shown, as "\uHHHH".
void AppendForTerminal(std::string& out, std::string_view line);

// Writes all of data to fd, going on after partial writes and interrupts.
bool WriteAll(int fd, std::string_view data);

// A failed write stops the run. A file or folder that could not be read is told on standard
// error, unless the messages are dropped; either way the run ends as failed.
class FindPrinter : public SearchListener {
 public:
  FindPrinter(SearchOptions options, bool terminal, bool messages = true);

  void Results(std::span<const SearchHit> hits) override;
  void FileError(std::string_view path, int error) override;
  SearchOptions Options() override { return options_; }
  // After a failed write the run is asked to stop at its next chance.
  bool PumpDue() override { return failed_; }
  bool StopRequested() override { return failed_; }
  bool ListingGoesOn() override { return !failed_; }

  // False, with errno set, once a write has failed.
  bool Flush();
  bool Found() const { return found_; }
  // Some file or folder could not be read.
  bool Missed() const { return missed_; }

 private:
  static constexpr size_t kFlushAt = size_t{1} << 20;
  SearchOptions options_;
  bool terminal_;
  bool messages_;
  bool missed_ = false;
  std::string out_;
  std::string line_;  // at a terminal: the line before it is made safe
  bool found_ = false;
  bool failed_ = false;
  int error_ = 0;
};

}  // namespace vorn
