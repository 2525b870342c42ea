#include "FilePlan.h"

#include <fcntl.h>
#include <sodium.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "Fd.h"
#include "SafeWrite.h"

namespace vorn {

namespace {

// The line's own line end as UTF-8 text; a last line without one takes the line end before it.
std::string LineEndText(const FileText& text, size_t index) {
  const bool utf16 =
      text.Encoding() == TextEncoding::Utf16LE || text.Encoding() == TextEncoding::Utf16BE;
  for (size_t i = index + 1; i-- > 0;) {
    const std::string_view end = text.LineEnd(i);
    if (end.empty()) continue;
    if (end.size() == (utf16 ? 4u : 2u)) return "\r\n";
    const bool cr = utf16 ? (end[0] == '\r' || end[1] == '\r') : end[0] == '\r';
    return cr ? "\r" : "\n";
  }
  return "\n";
}

// Every line break in a replacement becomes the line's own.
std::string WithLineEnds(std::string_view with, const std::string& lineEnd) {
  if (with.find_first_of("\r\n") == std::string_view::npos) return std::string(with);
  std::string out;
  for (size_t at = 0; at < with.size(); ++at) {
    if (with[at] == '\r' || with[at] == '\n') {
      if (with[at] == '\r' && at + 1 < with.size() && with[at + 1] == '\n') ++at;
      out += lineEnd;
    } else {
      out += with[at];
    }
  }
  return out;
}

bool RangesFit(const std::vector<MatchRange>& ranges, size_t size) {
  size_t last = 0;
  for (size_t k = 0; k < ranges.size(); ++k) {
    const MatchRange& r = ranges[k];
    if (r.begin > r.end || r.end > size || r.begin < last) return false;
    // Two empty matches never share a place.
    if (k > 0 && r.begin == r.end && ranges[k - 1].begin == ranges[k - 1].end &&
        r.begin == ranges[k - 1].end)
      return false;
    last = r.end;
  }
  return true;
}

}  // namespace

bool FileIdentity::SameFile(const struct stat& st) const {
  return device == st.st_dev && inode == st.st_ino && size == st.st_size &&
         mtimeSec == st.st_mtim.tv_sec && nsec == st.st_mtim.tv_nsec;
}

FileIdentity FileIdentity::Of(const struct stat& st, std::string_view bytes) {
  static const bool ready = sodium_init() >= 0;
  (void)ready;
  FileIdentity id;
  id.device = st.st_dev;
  id.inode = st.st_ino;
  id.size = st.st_size;
  id.mtimeSec = st.st_mtim.tv_sec;
  id.nsec = st.st_mtim.tv_nsec;
  crypto_generichash(id.hash.data(), id.hash.size(),
                     reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), nullptr,
                     0);
  return id;
}

size_t FilePlan::Matches() const {
  size_t n = 0;
  for (const LineChange& line : lines) n += line.matches.size();
  return n;
}

FilePlan PlanFile(const std::string& path, const Substitution& substitution,
                  const HitRanges* lines) {
  FilePlan plan;
  plan.path = path;
  std::string target, bytes;
  struct stat st {};
  const int error = ReadTarget(path, target, bytes, st);
  if (error != 0) {
    plan.refusal = std::strerror(error);
    return plan;
  }
  const FileText text(std::move(bytes));
  plan = PlanText(path, text, substitution, lines);
  plan.target = std::move(target);
  plan.seen = FileIdentity::Of(st, text.Bytes());
  return plan;
}

FilePlan PlanText(std::string path, const FileText& text, const Substitution& substitution,
                  const HitRanges* lines) {
  FilePlan plan;
  plan.path = std::move(path);
  std::vector<size_t> hitLines;
  const auto planLine = [&](size_t index, const std::vector<MatchRange>* given) {
    if (index >= text.LineCount()) return true;
    LineChange change;
    change.lineIndex = index;
    change.before = text.Text(index);
    // The search's ranges must be the matches found here, or the line is not the one it saw.
    substitution.FindMatches(change.before, change.matches);
    if (given && !given->empty() && !substitution.FindsOwnMatches() &&
        (!RangesFit(*given, change.before.size()) || *given != change.matches))
      return false;
    if (change.matches.empty()) return true;
    const std::string lineEnd = LineEndText(text, index);
    size_t copied = 0;
    std::string with;
    for (const MatchRange& m : change.matches) {
      if (!substitution.Expand(change.before, m, with)) return false;
      change.after.append(change.before, copied, m.begin - copied);
      const size_t at = change.after.size();
      change.with.push_back(WithLineEnds(with, lineEnd));
      change.after += change.with.back();
      change.replaced.push_back({at, change.after.size()});
      copied = m.end;
    }
    change.after.append(change.before, copied);
    hitLines.push_back(index);
    plan.lines.push_back(std::move(change));
    return true;
  };
  bool found = true;
  if (lines) {
    for (const auto& [index, ranges] : *lines) found = found && planLine(index, &ranges);
  } else {
    for (size_t i = 0; i < text.LineCount(); ++i) found = found && planLine(i, nullptr);
  }
  if (!found)
    plan.refusal = "its matches are not where the search found them";
  else if (text.BinaryAt(hitLines))
    plan.refusal = "binary";
  return plan;
}

std::optional<std::string> ApplyPlan(const FileText& text, const FilePlan& plan,
                                     const MatchChoice& chosen) {
  const std::string& bytes = text.Bytes();
  std::string out;
  out.reserve(bytes.size() + bytes.size() / 16);
  size_t copied = 0, k = 0;
  std::vector<size_t> map;
  for (const LineChange& change : plan.lines) {
    if (change.lineIndex >= text.LineCount()) return std::nullopt;
    if (text.Text(change.lineIndex, &map) != change.before) return std::nullopt;
    for (size_t j = 0; j < change.matches.size(); ++j, ++k) {
      if (!chosen.empty() && (k >= chosen.size() || !chosen[k])) continue;
      const size_t begin = map[change.matches[j].begin], end = map[change.matches[j].end];
      if (begin == std::string::npos || end == std::string::npos || begin < copied)
        return std::nullopt;
      out.append(bytes, copied, begin - copied);
      out += text.Encode(change.with[j]);
      copied = end;
    }
  }
  out.append(bytes, copied);
  return out;
}

}  // namespace vorn
