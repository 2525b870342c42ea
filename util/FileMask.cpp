#include "FileMask.h"

#include <unicode/uchar.h>

#include <algorithm>

#include "Utf8.h"

namespace vorn {

namespace {

// A name or mask part as the code points it compares by: each letter folded by Unicode's
// simple case folding, as the text search folds it, and each byte that is not valid UTF-8
// kept apart as itself (above every code point), so it only ever equals itself.
std::u32string Folded(std::string_view text) {
  std::u32string out;
  out.reserve(text.size());
  while (!text.empty()) {
    char32_t c = 0;
    const size_t n = DecodeUtf8At(text, c);
    if (n == 0) {
      out.push_back(0x110000 + static_cast<unsigned char>(text[0]));
      text.remove_prefix(1);
      continue;
    }
    if (c < 0x80)
      out.push_back((c >= 'A' && c <= 'Z') ? c + 32 : c);
    else
      out.push_back(
          static_cast<char32_t>(u_foldCase(static_cast<UChar32>(c), U_FOLD_CASE_DEFAULT)));
    text.remove_prefix(n);
  }
  return out;
}

bool WildcardMatches(std::u32string_view name, std::u32string_view mask) {
  size_t n = 0, m = 0;
  size_t starMask = std::u32string_view::npos, starName = 0;
  while (n < name.size()) {
    if (m < mask.size() && mask[m] == '*') {
      starMask = m++;
      starName = n;
    } else if (m < mask.size() && (mask[m] == '?' || mask[m] == name[n])) {
      ++n;
      ++m;
    } else if (starMask != std::u32string_view::npos) {
      m = starMask + 1;
      n = ++starName;
    } else {
      return false;
    }
  }
  while (m < mask.size() && mask[m] == '*') ++m;
  return m == mask.size();
}

bool PartMatches(std::u32string_view name, std::u32string_view part) {
  if (WildcardMatches(name, part)) return true;
  return part.size() >= 2 && part.substr(part.size() - 2) == U".*" &&
         WildcardMatches(name, part.substr(0, part.size() - 2));
}

bool AnyMatches(std::u32string_view name, const std::vector<std::u32string>& parts) {
  return std::any_of(parts.begin(), parts.end(),
                     [name](const std::u32string& part) { return PartMatches(name, part); });
}

// Whether a part takes every name ("*", "*.*"): then no name needs folding for it.
bool TakesEveryName(std::u32string_view part) {
  if (part.size() > 2 && part.substr(part.size() - 2) == U".*") part.remove_suffix(2);
  return !part.empty() &&
         std::all_of(part.begin(), part.end(), [](char32_t c) { return c == '*'; });
}

std::string_view TrimBlanks(std::string_view text) {
  const size_t first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

}  // namespace

FileMask::FileMask(std::string_view mask) {
  // A mask without ";" is one part, as it always was.
  for (;;) {
    const size_t end = std::min(mask.find(';'), mask.size());
    std::string_view part = TrimBlanks(mask.substr(0, end));
    const bool exclude = part.starts_with('!');
    if (exclude) part = TrimBlanks(part.substr(1));
    const bool folder = part.ends_with('/');
    if (folder) part.remove_suffix(1);
    if (part.find('/') != std::string_view::npos) {
      if (fault_.empty())
        fault_ = "mask part '" + std::string(TrimBlanks(mask.substr(0, end))) +
                 "' names a path; a part names a file or a folder (\"!build/\")";
    } else if (folder && !exclude) {
      if (fault_.empty())
        fault_ = "mask part '" + std::string(TrimBlanks(mask.substr(0, end))) +
                 "' names a folder; folders can only be left out (\"!" + std::string(part) + "/\")";
    } else if (!part.empty()) {
      (folder ? notFolders_ : exclude ? notFiles_ : files_).push_back(Folded(part));
    }
    if (end == mask.size()) break;
    mask.remove_prefix(end + 1);
  }
  everyFile_ = files_.empty() && !(notFiles_.empty() && notFolders_.empty());
  // A mask with no part to take or leave out ("", ";", "!", blanks) would search nothing.
  if (fault_.empty() && files_.empty() && notFiles_.empty() && notFolders_.empty())
    fault_ = "the mask names no file; \"*\" takes every file";
}

bool FileMask::TakesFile(std::string_view name) const {
  if (files_.empty() && notFiles_.empty()) return everyFile_;
  if (notFiles_.empty() && std::any_of(files_.begin(), files_.end(), TakesEveryName)) return true;
  const std::u32string folded = Folded(name);
  return (everyFile_ || AnyMatches(folded, files_)) && !AnyMatches(folded, notFiles_);
}

bool FileMask::TakesFolder(std::string_view name) const {
  return notFolders_.empty() || !AnyMatches(Folded(name), notFolders_);
}

}  // namespace vorn
