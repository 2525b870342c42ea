// The plan of one file's replacements, made when the preview reads the file: which lines
// change, each match's place and replacement, and the file as the preview saw it (device,
// inode, size, modification time and a hash of its bytes), so the write can tell a file that
// changed since. The new content keeps every byte outside the chosen matches.
#pragma once

#include <sys/stat.h>

#include <array>
#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "FileText.h"
#include "SearchHit.h"
#include "Substitution.h"

namespace vorn {

struct FileIdentity {
  dev_t device = 0;
  ino_t inode = 0;
  long long size = 0;
  long long mtimeSec = 0;
  long nsec = 0;
  std::array<unsigned char, 32> hash{};

  bool SameFile(const struct stat& st) const;
  bool operator==(const FileIdentity&) const = default;
  static FileIdentity Of(const struct stat& st, std::string_view bytes);
};

// One changed line: its text before and after, the matches in each (the same count, in order).
struct LineChange {
  size_t lineIndex = 0;
  std::string before;
  std::string after;
  std::vector<MatchRange> matches;   // in before
  std::vector<MatchRange> replaced;  // in after: where each match's replacement stands
  std::vector<std::string> with;     // each match's replacement, line breaks as the line's own
};

struct FilePlan {
  std::string path;    // as the search listed it
  std::string target;  // the file itself, links resolved
  FileIdentity seen;
  std::vector<LineChange> lines;
  std::string refusal;  // why it will not be written ("binary", ...), empty when it may be

  size_t Matches() const;
};

// The engine's ranges of a file's hit lines, by line index; a line given without ranges, a
// file given without any, or a pattern's matches, are found again here.
using HitRanges = std::map<size_t, std::vector<MatchRange>>;

// Reads the file at path and plans its replacements on the lines given (every line when
// lines is null). A file that cannot be read gives a plan with its refusal set.
FilePlan PlanFile(const std::string& path, const Substitution& substitution,
                  const HitRanges* lines);
// The same for bytes already read.
FilePlan PlanText(std::string path, const FileText& text, const Substitution& substitution,
                  const HitRanges* lines);

// Which matches are to be replaced, in the plan's order across its lines; empty: all of them.
using MatchChoice = std::vector<bool>;

// The file's new bytes: text with the chosen matches of plan replaced, each replacement in the
// file's own encoding. Nullopt when a match no longer lies where the plan says (the bytes are
// not those planned on) or falls inside a character.
std::optional<std::string> ApplyPlan(const FileText& text, const FilePlan& plan,
                                     const MatchChoice& chosen);

}  // namespace vorn
