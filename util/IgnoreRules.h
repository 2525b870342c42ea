// The ignore rules a tree's listing respects on request: git's .gitignore files, the
// repository's info/exclude and the user's core.excludesFile inside a git work tree, and
// ".ignore" files everywhere, which win over git's rules.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace vorn {

// Whether text matches a pattern of git's ignore syntax: "*" and "?" never match "/", "[...]"
// classes (with "!" or "^", ranges and [:alpha:]-style names), "\" escapes the next byte, and
// "**" between slashes (or at either end) matches any number of folders.
bool WildMatch(std::string_view pattern, std::string_view text);

// The patterns of one rule file, in its order.
class IgnorePatterns {
 public:
  // Reads text as git reads a .gitignore: blank lines and "#" comments skipped, trailing
  // blanks dropped unless escaped, "!" negates, a trailing "/" takes folders only, and a
  // pattern with a "/" before its end is anchored to the file's folder.
  void Parse(std::string_view text);
  bool Empty() const { return patterns_.empty(); }

  enum class Verdict { None, Ignore, Keep };
  // The last pattern that matches decides. relative: the path below the rule file's folder;
  // name: its last component.
  Verdict Match(std::string_view relative, std::string_view name, bool folder) const;

 private:
  enum class Kind { Literal, Suffix, Wild };
  struct Pattern {
    std::string text;
    Kind kind;
    bool negated;
    bool foldersOnly;
    bool anchored;  // matched against the relative path, not the name
    // With Wild: literal bytes every match begins with, ends with, and holds somewhere, which
    // turn most names away before the pattern is matched.
    std::string prefix, suffix, needle;
  };
  std::vector<Pattern> patterns_;
};

// The rule files in force while a tree is listed, a frame per folder entered. A path git
// tracks (its index says so) is never left out by git's rules.
class IgnoreStack {
 public:
  // top: the folder the listing starts in, as the user named it; the rules of the folders
  // above it apply to it too.
  explicit IgnoreStack(const std::string& top);
  ~IgnoreStack();
  IgnoreStack(const IgnoreStack&) = delete;
  IgnoreStack& operator=(const IgnoreStack&) = delete;

  // Which rule files a folder holds, from its entries' names.
  enum Holds : unsigned { kGitignore = 1, kIgnore = 2, kGitDir = 4 };
  static unsigned HoldsOf(std::string_view name);

  // Entering the folder open at fd, named name below the folder entered before (the top
  // folder is entered first, with an empty name); holds: the rule files among its entries.
  void Enter(int fd, std::string_view name, unsigned holds);
  void Leave();

  // Whether the entry name of the folder entered last is left out.
  bool Ignored(std::string_view name, bool folder);

 private:
  struct Frame;
  void Push(int fd, const std::string& folder, unsigned holds);
  static bool Tracked(Frame& tree, std::string_view relative, bool folder);

  std::vector<std::unique_ptr<Frame>> frames_;
  std::string path_;        // the absolute path of the folder entered last, ending in "/"
  std::string scratch_;     // path_ and an entry's name
  std::string keptFolder_;  // a folder left out by git's rules but kept for its tracked files
};

}  // namespace vorn
