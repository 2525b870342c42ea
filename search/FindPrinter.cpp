#include "FindPrinter.h"

#include <unistd.h>

#include <cerrno>
#include <string>

namespace vorn {

bool WriteAll(int fd, std::string_view data) {
  while (!data.empty()) {
    const ssize_t n = write(fd, data.data(), data.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = EIO;
      return false;
    }
    data.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

// Every byte below 0x20 but the tab, DEL, and the C1 controls as UTF-8 writes them (C2 80 to
// C2 9F) are escaped.
void AppendForTerminal(std::string& out, std::string_view line) {
  static constexpr char kHex[] = "0123456789abcdef";
  auto escape = [&out](unsigned char c) {
    const char code[] = {'\\', 'x', kHex[c >> 4], kHex[c & 15]};
    out.append(code, sizeof code);
  };
  for (size_t i = 0; i < line.size(); ++i) {
    const auto c = static_cast<unsigned char>(line[i]);
    if ((c < 0x20 && c != '\t') || c == 0x7F) {
      escape(c);
    } else if (c == 0xC2 && i + 1 < line.size() &&
               (static_cast<unsigned char>(line[i + 1]) & 0xE0) == 0x80) {
      escape(c);
      escape(static_cast<unsigned char>(line[++i]));
    } else {
      out.push_back(static_cast<char>(c));
    }
  }
}

FindPrinter::FindPrinter(SearchOptions options, bool terminal)
    : options_(std::move(options)), terminal_(terminal) {
  out_.reserve(terminal ? 8192 : kFlushAt + 8192);
}

void FindPrinter::Results(std::span<const SearchHit> hits) {
  for (const SearchHit& hit : hits) {
    if (failed_) return;
    found_ = true;
    if (terminal_) {
      line_.clear();
      AppendResultLine(line_, hit);
      AppendForTerminal(out_, line_);
    } else {
      AppendResultLine(out_, hit);
    }
    out_.push_back('\n');
    if (terminal_ || out_.size() >= kFlushAt) Flush();
  }
}

void FindPrinter::Unsearched(std::string_view path, size_t lineIndex) {
  unsearched_ = true;
  std::string text = "vorn-find: ";
  if (terminal_)
    AppendForTerminal(text, path);
  else
    text.append(path);
  text += ": line " + std::to_string(lineIndex) +
          ": the regular expression needs too much work for this line\n";
  // Standard error is written at once: the line is reported however the results are kept.
  WriteAll(STDERR_FILENO, text);
}

bool FindPrinter::Flush() {
  if (!failed_ && !out_.empty() && !WriteAll(STDOUT_FILENO, out_)) {
    failed_ = true;
    error_ = errno;
  }
  out_.clear();
  errno = error_;
  return !failed_;
}

}  // namespace vorn
