#include "FindPrinter.h"

#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstring>
#include <string>

#include "Utf8.h"

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

// The controls that reorder text on the screen: embeddings, overrides and isolates.
bool IsBidiControl(char32_t code) {
  return (code >= 0x202A && code <= 0x202E) || (code >= 0x2066 && code <= 0x2069);
}

// Every byte below 0x20 but the tab, DEL, the C1 controls as UTF-8 writes them (C2 80 to
// C2 9F) and as a lone byte outside valid UTF-8 (0x80 to 0x9F, which some terminals take as
// C1 controls) are escaped as "\xHH"; the bidirectional controls, which would reorder what
// is shown, as "\uHHHH". Only the sequences that begin in line[begin, end) are written, each
// whole, so a colour never cuts a character and the pieces of a line add up to the line.
void AppendEscaped(std::string& out, std::string_view line, size_t begin, size_t end) {
  static constexpr char kHex[] = "0123456789abcdef";
  auto escape = [&out](unsigned char c) {
    const char code[] = {'\\', 'x', kHex[c >> 4], kHex[c & 15]};
    out.append(code, sizeof code);
  };
  size_t i = begin;
  // Skip what a sequence that began before this piece has written already.
  for (size_t j = begin; j-- > 0 && begin - j < 4;) {
    char32_t code = 0;
    const size_t n = DecodeUtf8At(line.substr(j), code);
    if (n > 0 && j + n > begin) {
      i = j + n;
      break;
    }
    if ((static_cast<unsigned char>(line[j]) & 0xC0) != 0x80) break;
  }
  for (; i < end; ++i) {
    const auto c = static_cast<unsigned char>(line[i]);
    if (c < 0x80) {
      if ((c < 0x20 && c != '\t') || c == 0x7F)
        escape(c);
      else
        out.push_back(static_cast<char>(c));
      continue;
    }
    char32_t code = 0;
    const size_t n = DecodeUtf8At(line.substr(i), code);
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

bool IsSgr(std::string_view value) {
  return value.find_first_not_of("0123456789;") == std::string_view::npos;
}

}  // namespace

void AppendForTerminal(std::string& out, std::string_view line) {
  AppendEscaped(out, line, 0, line.size());
}

FindColors FindColors::FromGrepColors(const char* setting) {
  FindColors colors;
  std::string_view rest = setting ? setting : "";
  while (!rest.empty()) {
    const size_t colon = rest.find(':');
    const std::string_view entry = rest.substr(0, colon);
    rest = colon == std::string_view::npos ? std::string_view() : rest.substr(colon + 1);
    const size_t eq = entry.find('=');
    const std::string_view name = entry.substr(0, eq);
    if (eq == std::string_view::npos) {
      if (name == "ne") colors.eraseLine = false;
      continue;
    }
    const std::string_view value = entry.substr(eq + 1);
    if (!IsSgr(value)) continue;
    if (name == "ms" || name == "mt")
      colors.match = value;
    else if (name == "fn")
      colors.path = value;
    else if (name == "ln")
      colors.line = value;
    else if (name == "se")
      colors.separator = value;
  }
  return colors;
}

FindPrinter::FindPrinter(const SearchOptions& options, FindStyle style)
    : matcher_(options), style_(std::move(style)), errorsToTerminal_(isatty(STDERR_FILENO) == 1) {
  out_.reserve(style_.terminal ? 8192 : kFlushAt + 8192);
}

SinkWants FindPrinter::Wants() {
  SinkWants wants;
  wants.ranges = false;
  wants.maxHitLines = style_.output == FindOutput::Files ? 1 : 0;
  wants.restOfBinaryFile =
      style_.output != FindOutput::Lines && style_.output != FindOutput::Vimgrep;
  return wants;
}

void FindPrinter::Lines(std::span<const SearchHit> hits) {
  for (const SearchHit& hit : hits) {
    if (failed_) return;
    if (hit.kind != FoundKind::Hit) continue;
    found_ = true;
    if (hit.binary &&
        (style_.output == FindOutput::Lines || style_.output == FindOutput::Vimgrep)) {
      if (hit.path == binaryPath_) continue;
      binaryPath_.assign(hit.path);
      // The lines before it go out first, so the two streams keep their order when joined.
      Write();
      if (failed_) return;
      Tell(hit.path, "binary file matches");
      continue;
    }
    if (style_.output == FindOutput::Lines && !style_.colors) {
      if (style_.terminal) {
        line_.clear();
        AppendResultLine(line_, hit);
        AppendForTerminal(out_, line_);
      } else {
        AppendResultLine(out_, hit);
      }
      out_.push_back('\n');
    } else {
      Hit(hit);
    }
    if ((style_.terminal && !out_.empty()) || out_.size() >= kFlushAt) Write();
  }
}

void FindPrinter::Text(std::string_view text, size_t begin, size_t end) {
  if (style_.terminal)
    AppendEscaped(out_, text, begin, end);
  else
    out_.append(text.substr(begin, end - begin));
}

bool FindPrinter::Colors(Part part) const {
  return part && style_.colors && !((*style_.colors).*part).empty();
}

void FindPrinter::Open(Part part) {
  if (!Colors(part)) return;
  out_.append("\33[").append((*style_.colors).*part).append("m");
  if (style_.colors->eraseLine) out_.append("\33[K");
}

void FindPrinter::Close(Part part) {
  if (!Colors(part)) return;
  out_.append("\33[m");
  if (style_.colors->eraseLine) out_.append("\33[K");
}

void FindPrinter::Colored(Part part, std::string_view text) {
  Open(part);
  Text(text, 0, text.size());
  Close(part);
}

void FindPrinter::Number(Part part, size_t n) {
  char digits[24];
  const auto end = std::to_chars(digits, digits + sizeof digits, n).ptr;
  Open(part);
  out_.append(digits, end);
  Close(part);
}

// The line's first counting occurrence in the shown text; none when it lies beyond the shown
// bytes of a long line.
LineMatch FindPrinter::FirstMatch(const SearchHit& hit) const {
  // A whole word cut by the end of the shown bytes is not known to be one.
  return matcher_.FirstMatch(
      hit.text, true,
      hit.text.size() < SearchRun::kShownLineBytes || !matcher_.Options().wholeWord);
}

// The line's text with the occurrence at match marked.
void FindPrinter::LineText(std::string_view text, LineMatch match) {
  if (!style_.colors || !match.Found()) {
    Text(text, 0, text.size());
    return;
  }
  const size_t end = match.at + match.size;
  Text(text, 0, match.at);
  Open(&FindColors::match);
  Text(text, match.at, end);
  Close(&FindColors::match);
  Text(text, end, text.size());
}

void FindPrinter::Hit(const SearchHit& hit) {
  switch (style_.output) {
    case FindOutput::Lines:
      Colored(&FindColors::path, hit.path);
      Colored(&FindColors::separator, " (");
      Number(&FindColors::line, hit.lineIndex);
      Colored(&FindColors::separator, ")  :  ");
      LineText(hit.text, FirstMatch(hit));
      break;
    case FindOutput::Vimgrep: {
      const LineMatch match = FirstMatch(hit);
      // Past the shown bytes of a long line the file tells the column; should it no longer
      // hold the hit, the line's start is given.
      LineMatch column = match;
      if (!column.Found() && hit.text.size() >= SearchRun::kShownLineBytes)
        column = seeker_.FirstMatch(std::string(hit.path), hit.lineIndex);
      if (!column.Found()) column.at = 0;
      Colored(&FindColors::path, hit.path);
      Colored(&FindColors::separator, ":");
      Number(&FindColors::line, hit.lineIndex + 1);
      Colored(&FindColors::separator, ":");
      Number(&FindColors::line, column.at + 1);
      Colored(&FindColors::separator, ":");
      LineText(hit.text, match);
      break;
    }
    case FindOutput::Count:
    case FindOutput::Files:
      if (fileHits_ > 0 && hit.path == file_) {
        ++fileHits_;
        return;
      }
      EndFile();
      file_ = hit.path;
      fileHits_ = 1;
      if (style_.output == FindOutput::Files) {
        Colored(&FindColors::path, hit.path);
        out_.push_back('\n');
      }
      return;
  }
  out_.push_back('\n');
}

// A file's count is known once the next file's first hit, or the end of the run, comes.
void FindPrinter::EndFile() {
  if (style_.output != FindOutput::Count || fileHits_ == 0) return;
  Colored(&FindColors::path, file_);
  Colored(&FindColors::separator, ":");
  Number(nullptr, fileHits_);
  out_.push_back('\n');
  fileHits_ = 0;
}

void FindPrinter::Write() {
  if (!failed_ && !out_.empty() && !WriteAll(STDOUT_FILENO, out_)) {
    failed_ = true;
    error_ = errno;
  }
  out_.clear();
}

bool FindPrinter::Flush() {
  if (!failed_) EndFile();
  Write();
  errno = error_;
  return !failed_;
}

// The results found before go out first, so the message stands after them at a terminal.
void FindPrinter::FileError(std::string_view path, int error) {
  missed_ = true;
  if (!style_.messages) return;
  if (style_.terminal) Write();
  Tell(path, std::strerror(error));
}

// Standard error is written at once: the line is reported however the results are kept.
void FindPrinter::Unsearched(std::string_view path, size_t lineIndex) {
  unsearched_ = true;
  Tell(path, "line " + std::to_string(lineIndex) +
                 ": the regular expression needs too much work for this line");
}

// "vorn-find: PATH: WHAT" on standard error, the path made safe at a terminal.
void FindPrinter::Tell(std::string_view path, std::string_view what) {
  std::string note = "vorn-find: ";
  if (errorsToTerminal_)
    AppendForTerminal(note, path);
  else
    note.append(path);
  note.append(": ").append(what).push_back('\n');
  WriteAll(STDERR_FILENO, note);
}

}  // namespace vorn
