#include "FindPrinter.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <string>

#include "JsonText.h"
#include "Packed.h"
#include "Utf8.h"

namespace vorn {

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
    : matcher_(options),
      style_(std::move(style)),
      start_(std::chrono::steady_clock::now()),
      errorsToTerminal_(isatty(STDERR_FILENO) == 1) {
  out_.reserve(style_.terminal ? 8192 : kFlushAt + 8192);
  // Context is for the result lines and JSON; the matches alone have none.
  const bool lines = style_.output == FindOutput::Json ||
                     (style_.output == FindOutput::Lines && !style_.onlyMatching);
  if (!lines) style_.before = style_.after = 0;
}

SinkWants FindPrinter::Wants() {
  SinkWants wants;
  wants.before = style_.before;
  wants.after = style_.after;
  const FindOutput output = style_.output;
  const bool names = output == FindOutput::Files || output == FindOutput::FilesWithout ||
                     output == FindOutput::Quiet;
  wants.maxHitLines = names ? 1 : style_.maxCount;
  // Lines, the editors' form and JSON name a binary file once, at its first hit.
  wants.restOfBinaryFile =
      output != FindOutput::Lines && output != FindOutput::Vimgrep && output != FindOutput::Json;
  wants.ranges = output == FindOutput::Vimgrep || output == FindOutput::Json ||
                 (output == FindOutput::Lines && (style_.colors || style_.onlyMatching));
  wants.everyFile = output == FindOutput::FilesWithout || output == FindOutput::Json;
  return wants;
}

void FindPrinter::FileBegins(std::string_view path) {
  file_.assign(path);
  fileHits_ = fileMatches_ = 0;
  fileBinary_ = jsonBegun_ = false;
  ++files_;
  // Groups of different files are apart as those of one file are.
  if (printedLines_) groupsSeparated_ = true;
}

void FindPrinter::Lines(std::span<const SearchHit> lines) {
  for (const SearchHit& hit : lines) {
    if (failed_) return;
    if (hit.kind == FoundKind::Break) {
      if (printedLines_) groupsSeparated_ = true;
      continue;
    }
    if (hit.kind == FoundKind::Hit) Tally(hit);
    if (hit.binary && (style_.output == FindOutput::Lines || style_.output == FindOutput::Vimgrep ||
                       style_.output == FindOutput::Json)) {
      fileBinary_ = true;
      // In JSON the file still begins and ends, its end saying it is binary.
      if (style_.output == FindOutput::Json) BeginJson(hit.path);
      if (hit.path == binaryPath_) continue;
      binaryPath_.assign(hit.path);
      // The lines before it go out first, so the two streams keep their order when joined.
      Write();
      if (failed_) return;
      Tell(hit.path, "binary file matches");
      continue;
    }
    Hit(hit);
    if ((style_.terminal && !out_.empty()) || out_.size() >= kFlushAt) Write();
  }
}

// Counts a hit line; the file names print at a file's first.
void FindPrinter::Tally(const SearchHit& hit) {
  found_ = true;
  ++fileHits_;
  ++hitLines_;
  fileMatches_ += hit.matches.size();
  matches_ += hit.matches.size();
  if (style_.output == FindOutput::Files && fileHits_ == 1) {
    Colored(&FindColors::path, hit.path);
    PathEnd('\n');
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

std::span<const MatchRange> FindPrinter::ShownMatches(const SearchHit& hit) {
  if (!hit.matches.empty() || hit.kind != FoundKind::Hit) return hit.matches;
  const LineMatch match = FirstMatch(hit);
  if (!match.Found()) return {};
  first_ = {match.at, match.at + match.size};
  return {&first_, 1};
}

// text[begin, end) with the parts of it that the marked ranges cover in the match colour.
void FindPrinter::LineText(std::string_view text, size_t begin, size_t end,
                           std::span<const MatchRange> marked) {
  size_t at = begin;
  if (Colors(&FindColors::match)) {
    for (const MatchRange& m : marked) {
      const size_t from = std::clamp(m.begin, at, end), to = std::clamp(m.end, at, end);
      if (from >= to) continue;
      Text(text, at, from);
      Open(&FindColors::match);
      Text(text, from, to);
      Close(&FindColors::match);
      at = to;
    }
  }
  Text(text, at, end);
}

// "path (line" separator text[begin, end), a hit's matches marked; "--" first where a group
// of context ended before.
void FindPrinter::ResultLine(const SearchHit& hit, std::string_view separator, size_t begin,
                             size_t end) {
  if (groupsSeparated_) {
    Colored(&FindColors::separator, "--");
    out_.push_back('\n');
    groupsSeparated_ = false;
  }
  printedLines_ = style_.before > 0 || style_.after > 0;
  if (!style_.colors) {
    std::string& to = style_.terminal ? line_ : out_;
    if (style_.terminal) line_.clear();
    char digits[24];
    const auto number = std::to_chars(digits, digits + sizeof digits, hit.lineIndex);
    to.append(hit.path).append(" (").append(digits, number.ptr).append(separator);
    to.append(hit.text.substr(begin, end - begin));
    if (style_.terminal) AppendForTerminal(out_, line_);
  } else {
    Colored(&FindColors::path, hit.path);
    Colored(&FindColors::separator, " (");
    Number(&FindColors::line, hit.lineIndex);
    Colored(&FindColors::separator, separator);
    if (hit.kind == FoundKind::Hit)
      LineText(hit.text, begin, end, ShownMatches(hit));
    else
      Text(hit.text, begin, end);
  }
  out_.push_back('\n');
}

void FindPrinter::Hit(const SearchHit& hit) {
  const std::string_view text = hit.text;
  switch (style_.output) {
    case FindOutput::Lines:
      if (hit.kind == FoundKind::Context) {
        ResultLine(hit, ")  -  ", 0, text.size());
      } else if (!style_.onlyMatching) {
        ResultLine(hit, ")  :  ", 0, text.size());
      } else {
        // A match is shown as far as the line is.
        for (const MatchRange& m : ShownMatches(hit))
          if (m.begin < m.end && m.begin < text.size())
            ResultLine(hit, ")  :  ", m.begin, std::min(m.end, text.size()));
      }
      return;
    case FindOutput::Vimgrep:
      if (hit.kind == FoundKind::Hit) Vimgrep(hit);
      return;
    case FindOutput::Json:
      Json(hit);
      return;
    case FindOutput::Count:
    case FindOutput::Files:
    case FindOutput::FilesWithout:
    case FindOutput::Quiet:
      return;
  }
}

void FindPrinter::Vimgrep(const SearchHit& hit) {
  const std::string_view text = hit.text;
  const std::span<const MatchRange> marked = ShownMatches(hit);
  // The engine's ranges know the column past a long line's shown bytes; without them the
  // file tells it, and should it no longer hold the hit, the line's start is given.
  size_t column = 0;
  if (!marked.empty()) {
    column = marked[0].begin;
  } else if (text.size() >= SearchRun::kShownLineBytes) {
    const LineMatch found = seeker_.FirstMatch(std::string(hit.path), hit.lineIndex);
    if (found.Found()) column = found.at;
  }
  auto line = [&](size_t at, size_t begin, size_t end) {
    Colored(&FindColors::path, hit.path);
    Colored(&FindColors::separator, ":");
    Number(&FindColors::line, hit.lineIndex + 1);
    Colored(&FindColors::separator, ":");
    Number(&FindColors::line, at + 1);
    Colored(&FindColors::separator, ":");
    LineText(text, begin, end, marked);
    out_.push_back('\n');
  };
  if (!style_.onlyMatching) {
    line(column, 0, text.size());
    return;
  }
  for (const MatchRange& m : marked)
    if (m.begin < m.end && m.begin < text.size())
      line(m.begin, m.begin, std::min(m.end, text.size()));
}

void FindPrinter::AppendNumber(size_t n) {
  char digits[24];
  out_.append(digits, std::to_chars(digits, digits + sizeof digits, n).ptr);
}

// A file is begun by its first finding, so files without one print nothing but their count
// in the summary.
void FindPrinter::BeginJson(std::string_view path) {
  if (jsonBegun_) return;
  jsonBegun_ = true;
  out_.append("{\"type\":\"begin\",\"path\":");
  AppendJsonData(out_, path);
  out_.append("}\n");
}

void FindPrinter::Json(const SearchHit& hit) {
  BeginJson(hit.path);
  const bool found = hit.kind == FoundKind::Hit;
  out_.append(found ? "{\"type\":\"match\",\"path\":" : "{\"type\":\"context\",\"path\":");
  AppendJsonData(out_, hit.path);
  out_.append(",\"line\":");
  AppendNumber(hit.lineIndex);
  out_.append(",\"text\":");
  AppendJsonData(out_, hit.text);
  if (found) {
    out_.append(",\"matches\":[");
    for (const MatchRange& m : hit.matches) {
      out_.append(&m == hit.matches.data() ? "{\"start\":" : ",{\"start\":");
      AppendNumber(m.begin);
      out_.append(",\"end\":");
      AppendNumber(m.end);
      out_.push_back('}');
    }
    out_.push_back(']');
  }
  out_.append("}\n");
}

// The end of a path that -l, -L and -c print: a NUL with -Z, else what plainly follows it.
void FindPrinter::PathEnd(char plain) {
  if (style_.nulAfterPath)
    out_.push_back('\0');
  else if (plain == ':')
    Colored(&FindColors::separator, ":");
  else
    out_.push_back(plain);
}

void FindPrinter::FileEnds(std::string_view path, const FileSummary& summary) {
  if (failed_) return;
  switch (style_.output) {
    case FindOutput::Count:
      if (fileHits_ == 0) break;
      Colored(&FindColors::path, path);
      PathEnd(':');
      Number(nullptr, fileHits_);
      out_.push_back('\n');
      break;
    case FindOutput::FilesWithout:
      // A file that could not be read is not known to be without a hit.
      if (fileHits_ > 0 || path == failedPath_) break;
      listed_ = true;
      Colored(&FindColors::path, path);
      PathEnd('\n');
      break;
    case FindOutput::Json:
      if (!jsonBegun_) break;
      out_.append("{\"type\":\"end\",\"path\":");
      AppendJsonData(out_, path);
      out_.append(",\"binary\":").append(fileBinary_ || summary.binary ? "true" : "false");
      out_.append(",\"hit_lines\":");
      AppendNumber(fileHits_);
      out_.append(",\"matches\":");
      AppendNumber(fileMatches_);
      out_.append("}\n");
      break;
    default:
      break;
  }
  fileHits_ = fileMatches_ = 0;
  jsonBegun_ = false;
  if ((style_.terminal && !out_.empty()) || out_.size() >= kFlushAt) Write();
}

void FindPrinter::Write() {
  if (!failed_ && !out_.empty() && !WriteAll(STDOUT_FILENO, out_)) {
    failed_ = true;
    error_ = errno;
  }
  out_.clear();
}

bool FindPrinter::Flush() {
  if (!failed_ && style_.output == FindOutput::Json) {
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start_;
    char text[160];
    std::snprintf(text, sizeof text,
                  "{\"type\":\"summary\",\"files\":%zu,\"hit_lines\":%zu,\"matches\":%zu,"
                  "\"elapsed\":%.6f}\n",
                  files_, hitLines_, matches_, elapsed.count());
    out_.append(text);
  }
  Write();
  errno = error_;
  return !failed_;
}

// The results found before go out first, so the message stands after them at a terminal.
void FindPrinter::FileError(std::string_view path, int error) {
  missed_ = true;
  failedPath_.assign(path);
  if (!style_.messages) return;
  if (style_.terminal) Write();
  Tell(path, FileErrorText(error));
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
