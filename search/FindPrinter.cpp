#include "FindPrinter.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

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

namespace {

// The length of the valid UTF-8 sequence at the start of text and its code point, or 0.
size_t DecodeUtf8(std::string_view text, char32_t& code) {
  const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char c = byte(0);
  size_t n;
  char32_t least;
  if (c >= 0xC2 && c <= 0xDF) {
    n = 2, code = c & 0x1F, least = 0x80;
  } else if (c >= 0xE0 && c <= 0xEF) {
    n = 3, code = c & 0x0F, least = 0x800;
  } else if (c >= 0xF0 && c <= 0xF4) {
    n = 4, code = c & 0x07, least = 0x10000;
  } else {
    return 0;
  }
  if (text.size() < n) return 0;
  for (size_t i = 1; i < n; ++i) {
    if ((byte(i) & 0xC0) != 0x80) return 0;
    code = (code << 6) | (byte(i) & 0x3F);
  }
  if (code < least || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
  return n;
}

// The controls that reorder text on the screen: embeddings, overrides and isolates.
bool IsBidiControl(char32_t code) {
  return (code >= 0x202A && code <= 0x202E) || (code >= 0x2066 && code <= 0x2069);
}

}  // namespace

// Every byte below 0x20 but the tab, DEL, the C1 controls as UTF-8 writes them (C2 80 to
// C2 9F) and as a lone byte outside valid UTF-8 (0x80 to 0x9F, which some terminals take as
// C1 controls) are escaped as "\xHH"; the bidirectional controls, which would reorder what
// is shown, as "\uHHHH".
void AppendForTerminal(std::string& out, std::string_view line) {
  static constexpr char kHex[] = "0123456789abcdef";
  auto escape = [&out](unsigned char c) {
    const char code[] = {'\\', 'x', kHex[c >> 4], kHex[c & 15]};
    out.append(code, sizeof code);
  };
  for (size_t i = 0; i < line.size(); ++i) {
    const auto c = static_cast<unsigned char>(line[i]);
    if (c < 0x80) {
      if ((c < 0x20 && c != '\t') || c == 0x7F)
        escape(c);
      else
        out.push_back(static_cast<char>(c));
      continue;
    }
    char32_t code = 0;
    const size_t n = DecodeUtf8(line.substr(i), code);
    if (n == 0) {
      if (c <= 0x9F)
        escape(c);
      else
        out.push_back(static_cast<char>(c));
    } else if (code <= 0x9F) {
      escape(c);
      escape(static_cast<unsigned char>(line[i + 1]));
      i += n - 1;
    } else if (IsBidiControl(code)) {
      const char text[] = {'\\',
                           'u',
                           kHex[(code >> 12) & 15],
                           kHex[(code >> 8) & 15],
                           kHex[(code >> 4) & 15],
                           kHex[code & 15]};
      out.append(text, sizeof text);
      i += n - 1;
    } else {
      out.append(line.substr(i, n));
      i += n - 1;
    }
  }
}

FindPrinter::FindPrinter(SearchOptions options, bool terminal, bool messages)
    : options_(std::move(options)), terminal_(terminal), messages_(messages) {
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

bool FindPrinter::Flush() {
  if (!failed_ && !out_.empty() && !WriteAll(STDOUT_FILENO, out_)) {
    failed_ = true;
    error_ = errno;
  }
  out_.clear();
  errno = error_;
  return !failed_;
}

// The results found before go out first, so the message stands after them at a terminal.
void FindPrinter::FileError(std::string_view path, int error) {
  missed_ = true;
  if (!messages_) return;
  if (terminal_) Flush();
  std::string message = "vorn-find: ";
  message.append(path);
  message += ": ";
  message += std::strerror(error);
  message += '\n';
  WriteAll(STDERR_FILENO, message);
}

}  // namespace vorn
