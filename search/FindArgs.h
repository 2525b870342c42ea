// vorn-find's command line, read with getopt_long as shell users expect: "--" ends the
// options, short options join ("-rwj4"), long options take "=VALUE" and may be abbreviated.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

#include "FindPrinter.h"
#include "LineMatcher.h"
#include "io.h"

namespace vorn {

struct FindArgs {
  enum class Action { Search, Help, Version, Error };
  Action action = Action::Search;
  std::string message;  // with Error: what was wrong, empty for a plain usage error
  bool recursive = false;
  bool messages = true;  // tell of files and folders that could not be read
  unsigned threads = 0;  // 0: one per CPU the process may run on
  SearchOptions options;
  ListingOptions listing;
  FindOutput output = FindOutput::Lines;
  enum class Color { Auto, Always, Never };
  Color color = Color::Auto;
  std::string directory;
  std::string mask;
  // -A, -B, -C: context lines after and before each hit line.
  size_t after = 0, before = 0;
  // -o: each match on its own line.
  bool onlyMatching = false;
  // -m: hit lines per file; none, no limit.
  std::optional<size_t> maxCount;
  // -Z: a NUL byte after each path of -l, -L and -c.
  bool nulAfterPath = false;
  // --replace=TEXT: the hit lines as they would read replaced; with --in-place, written.
  std::optional<std::string> replace;
  bool inPlace = false;
};

// The usage line, and the help that follows it for --help.
extern const char* const kFindUsage;
extern const char* const kFindHelp;
constexpr unsigned kMaxFindThreads = 1024;

FindArgs ParseFindArgs(int argc, char** argv);

}  // namespace vorn
