// The status line's texts of a search run, made from where the run says it is: the file's
// entry, and its line position at every 50th line once the file's lines are known. A file's
// lines are counted here, a large file's aside, so the window keeps pumping meanwhile.
#pragma once

#include <atomic>
#include <cstddef>
#include <future>
#include <memory>
#include <optional>
#include <string>

#include "RunPacer.h"

namespace vorn {

class SearchStatus {
 public:
  SearchStatus() = default;
  ~SearchStatus();
  SearchStatus(const SearchStatus&) = delete;
  SearchStatus& operator=(const SearchStatus&) = delete;

  // At a pump: "Searching : " + entry, with ".....in Line : x/n" once the lines are known;
  // nothing before the first file.
  std::optional<std::string> AtPump(const RunProgress& at);
  // Line by line: the text for a file just opened, or for its every 50th line.
  std::string AtLine(const RunProgress& at);

  // The run's last words: finished (with the lines it could not search), or stopped.
  static std::string Finished(size_t unsearched);
  static constexpr const char* kAborted = "User aborted Search";

 private:
  std::optional<size_t> Lines(const RunProgress& at);

  std::string path_;  // the file whose lines are known or being counted
  std::optional<size_t> lines_;
  std::future<std::optional<size_t>> counting_;
  std::shared_ptr<std::atomic<bool>> cancel_;
};

}  // namespace vorn
