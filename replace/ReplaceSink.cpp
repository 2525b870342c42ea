#include "ReplaceSink.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace vorn {

namespace {
constexpr size_t kFlushAt = size_t{1} << 20;
}

ReplaceSink::ReplaceSink(const Substitution& substitution, bool inPlace, WriteRules rules, int out,
                         bool terminal)
    : substitution_(substitution),
      inPlace_(inPlace),
      rules_(std::move(rules)),
      fd_(out),
      terminal_(terminal) {}

void ReplaceSink::Results(std::span<const SearchHit> hits) {
  for (const SearchHit& hit : hits) Hit(hit);
  if (out_.size() >= kFlushAt || terminal_) Flush();
}

void ReplaceSink::Hit(const SearchHit& hit) {
  if (inPlace_) {
    if (hit.path != file_) {
      EndFile();
      file_ = hit.path;
    }
    lines_[hit.lineIndex].assign(hit.matches.begin(), hit.matches.end());
    return;
  }
  if (hit.binary) {
    if (hit.path != binary_) {
      binary_ = hit.path;
      Tell(hit.path, "binary file matches");
    }
    return;
  }
  PrintLine(hit);
}

// The shown line is the whole line unless it was cut at its shown length; a cut one is read
// from its file as the write would read it.
void ReplaceSink::PrintLine(const SearchHit& hit) {
  std::string whole;
  std::string_view line = hit.text;
  if (line.size() >= SearchRun::kShownLineBytes) {
    HitRanges one{{hit.lineIndex, {}}};
    const FilePlan plan = PlanFile(std::string(hit.path), substitution_, &one);
    if (plan.lines.empty()) return;
    whole = plan.lines[0].before;
    line = whole;
  }
  matches_.assign(hit.matches.begin(), hit.matches.end());
  if (matches_.empty() || line.size() != hit.text.size())
    substitution_.FindMatches(line, (matches_.clear(), matches_));
  if (matches_.empty()) return;
  found_ = true;
  std::string after;
  size_t copied = 0;
  for (const MatchRange& m : matches_) {
    if (m.begin < copied || m.end > line.size() || !substitution_.Expand(line, m, with_)) return;
    after.append(line, copied, m.begin - copied);
    after += with_;
    copied = m.end;
  }
  after.append(line, copied);
  replaced_ += matches_.size();
  const SearchHit shown{hit.path, hit.lineIndex, after, false, {}, FoundKind::Hit};
  if (!terminal_) {
    AppendResultLine(out_, shown);
  } else {
    std::string plain;
    AppendResultLine(plain, shown);
    for (const char c : plain) {
      const auto b = static_cast<unsigned char>(c);
      if (b < 0x20 && c != '\t') {
        char escaped[8];
        std::snprintf(escaped, sizeof escaped, "\\x%02X", b);
        out_ += escaped;
      } else {
        out_ += c;
      }
    }
  }
  out_ += '\n';
}

void ReplaceSink::EndFile() {
  if (file_.empty()) return;
  const FilePlan plan = PlanFile(file_, substitution_, &lines_);
  lines_.clear();
  const std::string path = std::move(file_);
  file_.clear();
  if (plan.Matches() == 0 && plan.refusal.empty()) return;
  found_ = true;
  const WriteOutcome outcome = ReplaceInFile(plan, {}, rules_, nullptr);
  if (outcome.replaced) {
    replaced_ += outcome.matches;
    ++files_;
    return;
  }
  errors_ = errors_ || outcome.error;
  Tell(path, "left alone: " + outcome.reason);
}

void ReplaceSink::FileError(std::string_view path, int error) {
  errors_ = true;
  Tell(path, std::strerror(error));
}

void ReplaceSink::Unsearched(std::string_view path, size_t lineIndex) {
  unsearched_ = true;
  Tell(path, "line " + std::to_string(lineIndex) + " needs too much work, not searched");
}

void ReplaceSink::Tell(std::string_view path, std::string_view what) {
  Flush();
  std::fprintf(stderr, "vorn-find: %.*s: %.*s\n", static_cast<int>(path.size()), path.data(),
               static_cast<int>(what.size()), what.data());
}

void ReplaceSink::Flush() {
  std::string_view rest = out_;
  while (!rest.empty() && !failed_) {
    const ssize_t n = ::write(fd_, rest.data(), rest.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      failed_ = true;
      error_ = n < 0 ? errno : EIO;
      break;
    }
    rest.remove_prefix(static_cast<size_t>(n));
  }
  out_.clear();
}

bool ReplaceSink::Finish() {
  EndFile();
  Flush();
  if (failed_) errno = error_;
  return !failed_;
}

std::string ReplaceSink::Summary() const {
  return std::to_string(replaced_) + (replaced_ == 1 ? " match" : " matches") + " replaced in " +
         std::to_string(files_) + (files_ == 1 ? " file" : " files");
}

int ReplaceSink::Status() const {
  if (errors_ || failed_) return 2;
  if (replaced_ > 0) return 0;
  return unsearched_ ? 2 : 1;
}

}  // namespace vorn
