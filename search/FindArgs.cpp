#include "FindArgs.h"

#include <getopt.h>

#include <charconv>
#include <string_view>

#include "TextDecoding.h"

namespace vorn {

const char* const kFindUsage = "usage: vorn-find [OPTION...] DIRECTORY MASK TEXT\n";

const char* const kFindHelp =
    "Prints every line that holds TEXT in the files of DIRECTORY whose names match MASK,\n"
    "as \"path (line)  :  text\" with the 0-based line index.\n"
    "\n"
    "  -r, --recursive       include subdirectories (names beginning with \".\" are skipped)\n"
    "  -R, --dereference-recursive\n"
    "                        recursive, links to folders followed, as in grep\n"
    "      --follow          enter links to folders, each folder once (a loop is never\n"
    "                        followed); tell of links that lead nowhere\n"
    "      --hidden          list and enter names beginning with \".\"\n"
    "      --ignore-files    leave out what .gitignore files (in a git work tree, with\n"
    "                        .git/info/exclude and core.excludesFile) and .ignore files\n"
    "                        leave out; .ignore wins; .git, .hg and .svn are not entered\n"
    "  -w, --whole-word      find whole words only\n"
    "  -i, --ignore-case     ignore letter case (the default)\n"
    "  -s, --case-sensitive  match case (also --match-case)\n"
    "  -E, --regex           TEXT is a regular expression (also -P)\n"
    "  -a, --text            list the lines of binary files too, byte for byte\n"
    "      --encoding=ENC    read files without a byte-order mark as ENC: auto (the\n"
    "                        default: UTF-8, else the legacy encoding detected, else\n"
    "                        Windows-1252), utf-8 (bytes as they are) or a name such as\n"
    "                        windows-1252, ISO-8859-15, Shift_JIS, GB18030, EUC-KR, KOI8-R\n"
    "  -z, --search-zip      search gzip, bzip2, xz, zstd and lz4 files as their content,\n"
    "                        and the members of zip, tar, 7z and cpio archives, printed\n"
    "                        as ARCHIVE//MEMBER\n"
    "  -j, --threads=N       read and search on N threads (default: the CPUs it may use)\n"
    "  -c, --count           print PATH:N, the number of hit lines, for each file with a hit\n"
    "  -l, --files-with-matches\n"
    "                        print only the path of each file with a hit\n"
    "      --vimgrep         print PATH:LINE:COLUMN:TEXT, line and column 1-based\n"
    "      --color[=WHEN]    colour the path, the line and every match: WHEN is auto\n"
    "                        (at a terminal, the default), always or never; GREP_COLORS\n"
    "                        sets the colours as for grep (also --colour)\n"
    "      --no-messages     say nothing of files and folders that cannot be read\n"
    "  -A, --after-context=NUM\n"
    "                        print NUM lines after each hit line, as \"path (line)  -  text\"\n"
    "  -B, --before-context=NUM\n"
    "                        print NUM lines before each hit line\n"
    "  -C, --context=NUM     print NUM lines before and after each hit line; groups of lines\n"
    "                        that are not next to each other are separated by \"--\"\n"
    "  -o, --only-matching   print each match on its own line, as \"path (line)  :  match\"\n"
    "  -m, --max-count=NUM   stop reading a file after NUM hit lines\n"
    "  -q, --quiet           print nothing; exit 0 at the first hit (also --silent)\n"
    "  -L, --files-without-match\n"
    "                        print only the path of each file searched without a hit\n"
    "  -Z, --null            print a NUL byte after each path of -l, -L and -c\n"
    "      --json            print one JSON object per line: begin, match, context and end\n"
    "                        per file, and a summary (see the manual page)\n"
    "      --replace=TEXT    print each hit line as it would read with every match replaced\n"
    "                        by TEXT (with -E, \"$1\", \"${name}\" and \"$$\" as PCRE2 has\n"
    "                        them); nothing is written\n"
    "      --in-place        with --replace, write the files: each one whole or not at all,\n"
    "                        its encoding, line ends and other bytes kept; binary, read-only\n"
    "                        and hard-linked files are left alone, and so are files outside\n"
    "                        DIRECTORY reached by a link; \"N matches replaced in M files\"\n"
    "                        and each file left alone go to standard error"
    "  -h, --help            print this help and exit\n"
    "      --version         print the version and exit\n"
    "\n"
    "MASK is a file-name wildcard (\"*\" any run, \"?\" one character, case ignored), or\n"
    "several separated by \";\" (\"*.c; *.h\"). A part beginning with \"!\" leaves files\n"
    "out (\"!*.min.js\"); one that also ends in \"/\" leaves folders out, unlisted and not\n"
    "entered (\"!build/\"). A MASK of exclusions only takes every other file.\n"
    "A file with a NUL byte in its first 64 KiB or in a found line is binary: instead of its\n"
    "lines, \"vorn-find: PATH: binary file matches\" goes to standard error. UTF-16 files\n"
    "with a byte-order mark are searched and printed as UTF-8 text.\n"
    "Ignoring case, letters of the UTF-8 text compare by Unicode's simple case folding\n"
    "(accented, Greek and Cyrillic letters too; \"k\" finds the Kelvin sign); bytes that\n"
    "are not valid UTF-8 compare exactly.\n"
    "\n"
    "A regular expression has PCRE2's syntax (as Perl's) and applies to one line at a time:\n"
    "\"^\" and \"$\" match at the line's ends and no match crosses a line break. Without -s\n"
    "letters match in any case, by Unicode's folding; -w takes a match only where it stands\n"
    "between the line's ends or non-word bytes; \\w, \\d and [[:alpha:]] know Unicode. A line\n"
    "the expression needs too much work for is reported on standard error and skipped.\n"
    "Exit status: 0 when a line was found, 1 when none, 2 on an error (also when a file or\n"
    "folder could not be read, or a line was left unsearched and nothing was found).\n"
    "With --in-place: 0 when a match was replaced, 1 when none, 2 when a file was left\n"
    "alone for an error.\n";

namespace {

// Long options without a short form get codes above any byte.
enum LongOnly : int { kVersion = 256, kColor, kVimgrep, kNoMessages, kJson, kEncoding };
// The listing's options, apart so that other options may be added above without renumbering.
enum ListingOnly : int { kFollow = 320, kHidden, kIgnoreFiles };
// The replace's options.
enum ReplaceOnly : int { kReplace = 340, kInPlace };

constexpr option kLongOptions[] = {
    {"recursive", no_argument, nullptr, 'r'},
    {"dereference-recursive", no_argument, nullptr, 'R'},
    {"follow", no_argument, nullptr, kFollow},
    {"hidden", no_argument, nullptr, kHidden},
    {"ignore-files", no_argument, nullptr, kIgnoreFiles},
    {"whole-word", no_argument, nullptr, 'w'},
    {"ignore-case", no_argument, nullptr, 'i'},
    {"case-sensitive", no_argument, nullptr, 's'},
    {"match-case", no_argument, nullptr, 's'},
    {"text", no_argument, nullptr, 'a'},
    {"regex", no_argument, nullptr, 'E'},
    {"threads", required_argument, nullptr, 'j'},
    {"count", no_argument, nullptr, 'c'},
    {"files-with-matches", no_argument, nullptr, 'l'},
    {"vimgrep", no_argument, nullptr, kVimgrep},
    {"color", optional_argument, nullptr, kColor},
    {"colour", optional_argument, nullptr, kColor},
    {"help", no_argument, nullptr, 'h'},
    {"version", no_argument, nullptr, kVersion},
    {"no-messages", no_argument, nullptr, kNoMessages},
    {"after-context", required_argument, nullptr, 'A'},
    {"before-context", required_argument, nullptr, 'B'},
    {"context", required_argument, nullptr, 'C'},
    {"only-matching", no_argument, nullptr, 'o'},
    {"max-count", required_argument, nullptr, 'm'},
    {"quiet", no_argument, nullptr, 'q'},
    {"silent", no_argument, nullptr, 'q'},
    {"files-without-match", no_argument, nullptr, 'L'},
    {"null", no_argument, nullptr, 'Z'},
    {"json", no_argument, nullptr, kJson},
    {"encoding", required_argument, nullptr, kEncoding},
    {"search-zip", no_argument, nullptr, 'z'},
    {"replace", required_argument, nullptr, kReplace},
    {"in-place", no_argument, nullptr, kInPlace},
    {nullptr, 0, nullptr, 0},
};
// The leading ":" has a missing argument reported as ':' rather than '?'.
constexpr const char* kShortOptions =
    ":rRwiscaEPj:lhz"
    "A:B:C:om:qLZ";

bool ParseThreads(std::string_view text, unsigned& threads) {
  unsigned value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size() || value < 1 || value > kMaxFindThreads)
    return false;
  threads = value;
  return true;
}

// A line count or limit: a whole number from 0 up.
bool ParseCount(std::string_view text, size_t& count) {
  size_t value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size() || text.empty()) return false;
  count = value;
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
  bool count = false, files = false, vimgrep = false;
  bool quiet = false, filesWithout = false, json = false;
  args.options.tellBinary = true;
  opterr = 0;  // the messages are ours
  optind = 0;  // 0 also resets getopt's state, so the parse may run more than once
  for (;;) {
    const int c = getopt_long(argc, argv, kShortOptions, kLongOptions, nullptr);
    if (c == -1) break;
    switch (c) {
      case 'r':
        args.recursive = true;
        break;
      case 'R':
        args.recursive = true;
        args.listing.followLinks = true;
        break;
      case kFollow:
        args.listing.followLinks = true;
        break;
      case kHidden:
        args.listing.hidden = true;
        break;
      case kIgnoreFiles:
        args.listing.ignoreFiles = true;
        break;
      case 'w':
        args.options.wholeWord = true;
        break;
      case 'i':
        args.options.matchCase = false;
        break;
      case 's':
        args.options.matchCase = true;
        break;
      case 'c':
        count = true;
        break;
      case 'l':
        files = true;
        filesWithout = false;  // the later of -l and -L counts
        break;
      case kVimgrep:
        vimgrep = true;
        break;
      case kColor: {
        const std::string_view when = optarg ? optarg : "auto";
        if (when == "auto")
          args.color = FindArgs::Color::Auto;
        else if (when == "always")
          args.color = FindArgs::Color::Always;
        else if (when == "never")
          args.color = FindArgs::Color::Never;
        else
          return Error("invalid argument '" + std::string(when) +
                       "' for '--color' (auto, always or never)");
        break;
      }
      case 'a':
        args.options.tellBinary = false;
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
      case kNoMessages:
        args.messages = false;
        break;
      case 'A':
      case 'B':
      case 'C': {
        size_t lines = 0;
        if (!ParseCount(optarg, lines))
          return Error("invalid context length '" + std::string(optarg) + "' (a whole number)");
        if (c != 'B') args.after = lines;
        if (c != 'A') args.before = lines;
        break;
      }
      case 'o':
        args.onlyMatching = true;
        break;
      case 'm': {
        size_t limit = 0;
        if (!ParseCount(optarg, limit))
          return Error("invalid max count '" + std::string(optarg) + "' (a whole number)");
        args.maxCount = limit;
        break;
      }
      case 'q':
        quiet = true;
        break;
      case 'L':
        filesWithout = true;
        files = false;
        break;
      case 'Z':
        args.nulAfterPath = true;
        break;
      case kJson:
        json = true;
        break;
      case kEncoding: {
        const std::string_view name = optarg;
        if (name == "auto") {
          args.options.encoding.clear();
        } else if (name == "utf-8" || name == "UTF-8" || name == "utf8") {
          args.options.encoding = kEncodingUtf8;
        } else {
          args.options.encoding = KnownEncoding(name);
          if (args.options.encoding.empty())
            return Error("unknown encoding '" + std::string(name) +
                         "' for '--encoding' (auto, utf-8 or an encoding's name)");
        }
        break;
      }
      case 'z':
        args.options.packed = true;
        break;
      case kReplace:
        args.replace = optarg;
        break;
      case kInPlace:
        args.inPlace = true;
        break;
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
  if (args.inPlace && !args.replace) return Error("'--in-place' needs '--replace=TEXT'");
  if (args.replace &&
      (count || files || filesWithout || quiet || vimgrep || json || args.onlyMatching))
    return Error(
        "'--replace' prints whole lines: not with -c, -l, -L, -q, -o, --json or --vimgrep");
  if (json && (count || files || filesWithout || vimgrep))
    return Error("--json prints lines only: it cannot be used with -c, -l, -L or --vimgrep");
  // As in grep, quiet wins over all, and the file names win over the counts.
  args.output = quiet          ? FindOutput::Quiet
                : filesWithout ? FindOutput::FilesWithout
                : files        ? FindOutput::Files
                : count        ? FindOutput::Count
                : json         ? FindOutput::Json
                : vimgrep      ? FindOutput::Vimgrep
                               : FindOutput::Lines;
  args.directory = argv[optind];
  args.mask = argv[optind + 1];
  args.options.query = argv[optind + 2];
  return args;
}

}  // namespace vorn
