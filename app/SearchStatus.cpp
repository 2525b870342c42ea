#include "SearchStatus.h"

#include <algorithm>
#include <charconv>

#include "FileReader.h"

namespace vorn {

namespace {

// Files up to this size are counted at once when the status needs their lines: about a
// millisecond of the GUI thread's time. A larger one is counted on a thread of its own.
constexpr long long kCountAtOnce = 1ll << 20;

void AppendNumber(std::string& out, size_t value) {
  char digits[24];
  const auto r = std::to_chars(digits, digits + sizeof digits, value);
  out.append(digits, r.ptr);
}

std::optional<size_t> CountLinesOf(const std::string& path, const std::atomic<bool>* cancel) {
  FileReader counter;
  FolderCache folders;
  return folders.Open(counter, path) ? counter.CountLines(cancel) : std::optional<size_t>(0);
}

}  // namespace

SearchStatus::~SearchStatus() {
  if (cancel_) cancel_->store(true);
}

// The number of lines of the file the run is at: known to the run when it read the file to
// its end; otherwise counted here, a large file aside, until which the status names the file.
std::optional<size_t> SearchStatus::Lines(const RunProgress& at) {
  if (at.path != path_) {
    if (cancel_) cancel_->store(true);
    cancel_.reset();
    counting_ = {};
    lines_.reset();
    path_.assign(at.path);
  }
  if (at.lines) lines_ = at.lines;
  if (lines_) return lines_;
  if (counting_.valid()) {
    if (counting_.wait_for(std::chrono::seconds(0)) != std::future_status::ready)
      return std::nullopt;
    lines_ = counting_.get();
    return lines_;
  }
  if (at.size <= kCountAtOnce) {
    lines_ = CountLinesOf(path_, nullptr);
    return lines_;
  }
  cancel_ = std::make_shared<std::atomic<bool>>(false);
  counting_ = std::async(std::launch::async, [path = path_, cancel = cancel_] {
    return CountLinesOf(path, cancel.get());
  });
  return std::nullopt;
}

std::optional<std::string> SearchStatus::AtPump(const RunProgress& at) {
  if (at.entry.empty() && at.path.empty()) return std::nullopt;
  std::string text = "Searching : ";
  text.append(at.entry);
  const std::optional<size_t> lines = Lines(at);
  if (lines && *lines > 0) {
    const size_t n = *lines;
    const size_t line = at.fileDone ? n - 1 : std::min(at.line, n - 1);
    text += ".....in Line : ";
    AppendNumber(text, line / 50 * 50);
    text += '/';
    AppendNumber(text, n);
  }
  return text;
}

std::string SearchStatus::AtLine(const RunProgress& at) {
  std::string text = "Searching : ";
  text.append(at.entry);
  if (at.opened) return text;
  text += ".....in Line : ";
  AppendNumber(text, at.line);
  text += '/';
  AppendNumber(text, Lines(at).value_or(0));
  return text;
}

std::string SearchStatus::Finished(size_t unsearched) {
  if (unsearched == 0) return "Finished Searching";
  std::string text = "Finished Searching (";
  AppendNumber(text, unsearched);
  text += unsearched == 1 ? " line" : " lines";
  text += " could not be searched: the regular expression needs too much work)";
  return text;
}

}  // namespace vorn
