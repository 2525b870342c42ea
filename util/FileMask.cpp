#include "FileMask.h"

#include <algorithm>

namespace vorn {

namespace {

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }

// Length of the character that starts at text[i]: "?" stands for one character, and a
// UTF-8 name's character may span several bytes.
size_t CharLength(std::string_view text, size_t i) {
  size_t n = 1;
  if (static_cast<unsigned char>(text[i]) >= 0xC0)
    while (i + n < text.size() && (static_cast<unsigned char>(text[i + n]) & 0xC0) == 0x80) ++n;
  return n;
}

bool WildcardMatches(std::string_view name, std::string_view mask) {
  size_t n = 0, m = 0;
  size_t starMask = std::string_view::npos, starName = 0;
  while (n < name.size()) {
    if (m < mask.size() && mask[m] == '*') {
      starMask = m++;
      starName = n;
    } else if (m < mask.size() && mask[m] == '?') {
      n += CharLength(name, n);
      ++m;
    } else if (m < mask.size() && LowerAscii(mask[m]) == LowerAscii(name[n])) {
      ++n;
      ++m;
    } else if (starMask != std::string_view::npos) {
      m = starMask + 1;
      n = ++starName;
    } else {
      return false;
    }
  }
  while (m < mask.size() && mask[m] == '*') ++m;
  return m == mask.size();
}

bool PartMatches(std::string_view name, std::string_view part) {
  if (WildcardMatches(name, part)) return true;
  return part.size() >= 2 && part.substr(part.size() - 2) == ".*" &&
         WildcardMatches(name, part.substr(0, part.size() - 2));
}

bool AnyMatches(std::string_view name, const std::vector<std::string>& parts) {
  return std::any_of(parts.begin(), parts.end(),
                     [name](const std::string& part) { return PartMatches(name, part); });
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
      (folder ? notFolders_ : exclude ? notFiles_ : files_).emplace_back(part);
    }
    if (end == mask.size()) break;
    mask.remove_prefix(end + 1);
  }
  everyFile_ = files_.empty() && !(notFiles_.empty() && notFolders_.empty());
}

bool FileMask::TakesFile(std::string_view name) const {
  return (everyFile_ || AnyMatches(name, files_)) && !AnyMatches(name, notFiles_);
}

bool FileMask::TakesFolder(std::string_view name) const { return !AnyMatches(name, notFolders_); }

}  // namespace vorn
