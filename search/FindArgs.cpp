#include "FindArgs.h"

#include <getopt.h>

#include <charconv>
#include <string_view>

namespace vorn {

const char* const kFindUsage = "usage: vorn-find [OPTION...] DIRECTORY MASK TEXT\n";

const char* const kFindHelp =
    "Prints every line that holds TEXT in the files of DIRECTORY whose names match MASK,\n"
    "as \"path (line)  :  text\" with the 0-based line index.\n"
    "\n"
    "  -r, --recursive       include subdirectories (names beginning with \".\" are skipped)\n"
    "  -w, --whole-word      find whole words only\n"
    "  -i, --ignore-case     ignore letter case (the default)\n"
    "  -s, --case-sensitive  match case (also --match-case)\n"
    "  -c                    match case (old spelling of -s)\n"
    "  -E, --regex           TEXT is a regular expression (also -P)\n"
    "  -j, --threads=N       read and search on N threads (default: the number of CPUs)\n"
    "  -h, --help            print this help and exit\n"
    "      --version         print the version and exit\n"
    "\n"
    "MASK is a file-name wildcard (\"*\" any run, \"?\" one character, case ignored), or\n"
    "several separated by \";\" (\"*.c;*.h\").\n"
    "\n"
    "A regular expression has PCRE2's syntax (as Perl's) and applies to one line at a time:\n"
    "\"^\" and \"$\" match at the line's ends and no match crosses a line break. Without -s\n"
    "letters match in any case, by Unicode's folding; -w takes a match only where it stands\n"
    "between the line's ends or non-word bytes; \\w, \\d and [[:alpha:]] know Unicode. A line\n"
    "the expression needs too much work for is reported on standard error and skipped.\n"
    "Exit status: 0 when a line was found, 1 when none, 2 on an error.\n";

namespace {

// Long options without a short form get codes above any byte.
enum LongOnly : int { kVersion = 256 };

constexpr option kLongOptions[] = {
    {"recursive", no_argument, nullptr, 'r'},     {"whole-word", no_argument, nullptr, 'w'},
    {"ignore-case", no_argument, nullptr, 'i'},   {"case-sensitive", no_argument, nullptr, 's'},
    {"match-case", no_argument, nullptr, 's'},    {"regex", no_argument, nullptr, 'E'},
    {"threads", required_argument, nullptr, 'j'}, {"help", no_argument, nullptr, 'h'},
    {"version", no_argument, nullptr, kVersion},  {nullptr, 0, nullptr, 0},
};
// The leading ":" has a missing argument reported as ':' rather than '?'.
constexpr const char* kShortOptions = ":rwiscEPj:h";

bool ParseThreads(std::string_view text, unsigned& threads) {
  unsigned value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size() || value < 1 || value > kMaxFindThreads)
    return false;
  threads = value;
  return true;
}

FindArgs Error(std::string message) {
  FindArgs args;
  args.action = FindArgs::Action::Error;
  args.message = std::move(message);
  return args;
}

}  // namespace

FindArgs ParseFindArgs(int argc, char** argv) {
  FindArgs args;
  opterr = 0;  // the messages are ours
  optind = 0;  // 0 also resets getopt's state, so the parse may run more than once
  for (;;) {
    const int c = getopt_long(argc, argv, kShortOptions, kLongOptions, nullptr);
    if (c == -1) break;
    switch (c) {
      case 'r':
        args.recursive = true;
        break;
      case 'w':
        args.options.wholeWord = true;
        break;
      case 'i':
        args.options.matchCase = false;
        break;
      case 's':
      case 'c':
        args.options.matchCase = true;
        break;
      case 'E':
      case 'P':
        args.options.regex = true;
        break;
      case 'j':
        if (!ParseThreads(optarg, args.threads))
          return Error("invalid thread count '" + std::string(optarg) +
                       "' (a whole number from 1 to " + std::to_string(kMaxFindThreads) + ")");
        break;
      case 'h':
        args.action = FindArgs::Action::Help;
        return args;
      case kVersion:
        args.action = FindArgs::Action::Version;
        return args;
      case ':':
      default: {
        // A long option is named as typed; a short one by its letter.
        const std::string_view typed = argv[optind - 1];
        if (typed.starts_with("--"))
          return Error(c == ':' ? "option '" + std::string(typed) + "' requires an argument"
                                : "unrecognized or ambiguous option '" + std::string(typed) + "'");
        const std::string letter(1, static_cast<char>(optopt));
        return Error(c == ':' ? "option requires an argument -- '" + letter + "'"
                              : "invalid option -- '" + letter + "'");
      }
    }
  }
  if (argc - optind != 3) return Error("");
  args.directory = argv[optind];
  args.mask = argv[optind + 1];
  args.options.query = argv[optind + 2];
  return args;
}

}  // namespace vorn
