// vorn-find: the search run from the command line, printing the result lines as the main
// window shows them, one per line, and nothing else on standard output. Exit status as grep:
// 0 when a line was found, 1 when none, 2 on an error.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <clocale>
#include <cstdio>
#include <cstring>
#include <exception>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "FastStrings.h"
#include "Fd.h"
#include "SearchRun.h"
#include "io.h"

namespace vorn {
namespace {

constexpr const char* kUsage =
    "usage: vorn-find [-r|--recursive] [-w|--whole-word] [-c|--match-case] [-j N|--threads N] "
    "DIRECTORY MASK TEXT\n";

constexpr const char* kHelp =
    "Prints every line that holds TEXT in the files of DIRECTORY whose names match MASK,\n"
    "as \"path (line)  :  text\" with the 0-based line index.\n"
    "\n"
    "  -r, --recursive    include subdirectories (names beginning with \".\" are skipped)\n"
    "  -w, --whole-word   find whole words only\n"
    "  -c, --match-case   match case\n"
    "  -j, --threads N    read and search on N threads (default: the number of online CPUs)\n"
    "  -h, --help         print this help and exit\n"
    "      --version      print the version and exit\n"
    "\n"
    "MASK is a file-name wildcard (\"*\" any run, \"?\" one character, case ignored), or\n"
    "several separated by \";\" (\"*.c;*.h\").\n"
    "Exit status: 0 when a line was found, 1 when none, 2 on an error.\n";

constexpr unsigned kMaxThreads = 1024;

enum Status { kFound = 0, kNoneFound = 1, kError = 2 };

// Writes all of data to fd, going on after partial writes and interrupts.
bool WriteAll(int fd, std::string_view data) {
  while (!data.empty()) {
    const ssize_t n = write(fd, data.data(), data.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = EIO;
      return false;
    }
    data.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

// At a terminal, control characters would let a file's bytes drive the terminal: every byte
// below 0x20 but the tab, DEL, and the C1 controls as UTF-8 writes them (C2 80 to C2 9F) are
// shown as "\xHH".
void AppendForTerminal(std::string& out, std::string_view line) {
  static constexpr char kHex[] = "0123456789abcdef";
  auto escape = [&out](unsigned char c) {
    const char code[] = {'\\', 'x', kHex[c >> 4], kHex[c & 15]};
    out.append(code, sizeof code);
  };
  for (size_t i = 0; i < line.size(); ++i) {
    const auto c = static_cast<unsigned char>(line[i]);
    if ((c < 0x20 && c != '\t') || c == 0x7F) {
      escape(c);
    } else if (c == 0xC2 && i + 1 < line.size() &&
               (static_cast<unsigned char>(line[i + 1]) & 0xE0) == 0x80) {
      escape(c);
      escape(static_cast<unsigned char>(line[++i]));
    } else {
      out.push_back(static_cast<char>(c));
    }
  }
}

// Result lines go to standard output: at a terminal each one as it is found, made safe to
// show; to a pipe or file in large blocks, byte for byte. A failed write stops the run.
class PrintingListener : public SearchListener {
 public:
  PrintingListener(SearchOptions options, bool terminal)
      : options_(std::move(options)), terminal_(terminal) {
    out_.reserve(terminal ? 8192 : kFlushAt + 8192);
  }

  void Results(std::span<const SearchHit> hits) override {
    for (const SearchHit& hit : hits) {
      if (failed_) return;
      found_ = true;
      if (terminal_) {
        line_.clear();
        AppendResultLine(line_, hit);
        AppendForTerminal(out_, line_);
      } else {
        AppendResultLine(out_, hit);
      }
      out_.push_back('\n');
      if (terminal_ || out_.size() >= kFlushAt) Flush();
    }
  }
  SearchOptions Options() override { return options_; }
  // After a failed write the run is asked to stop at its next chance.
  bool PumpDue() override { return failed_; }
  bool StopRequested() override { return failed_; }
  bool ListingGoesOn() override { return !failed_; }

  // False, with errno set, once a write has failed.
  bool Flush() {
    if (!failed_ && !out_.empty() && !WriteAll(STDOUT_FILENO, out_)) {
      failed_ = true;
      error_ = errno;
    }
    out_.clear();
    errno = error_;
    return !failed_;
  }
  bool Found() const { return found_; }

 private:
  static constexpr size_t kFlushAt = size_t{1} << 20;
  SearchOptions options_;
  bool terminal_;
  std::string out_;
  std::string line_;  // at a terminal: the line before it is made safe
  bool found_ = false;
  bool failed_ = false;
  int error_ = 0;
};

int Usage() {
  std::fputs(kUsage, stderr);
  return kError;
}

int WriteError() {
  std::fprintf(stderr, "vorn-find: cannot write the results: %s\n", std::strerror(errno));
  return kError;
}

int Print(std::string_view text) { return WriteAll(STDOUT_FILENO, text) ? kFound : WriteError(); }

bool ParseThreads(std::string_view text, unsigned& threads) {
  unsigned value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size() || value < 1 || value > kMaxThreads)
    return false;
  threads = value;
  return true;
}

int BadThreads(std::string_view text) {
  std::fprintf(stderr, "vorn-find: invalid thread count '%.*s' (a whole number from 1 to %u)\n",
               static_cast<int>(text.size()), text.data(), kMaxThreads);
  return Usage();
}

// The error number that keeps the directory from being searched (it is missing, not a
// folder, or cannot be read or entered), or 0. An empty directory names the working one; a
// path too long for one call is opened as the search opens it, piece by piece.
int DirectoryError(const std::string& directory) {
  const Fd folder(OpenFolder(directory, O_RDONLY));
  if (!folder.ok()) return errno;
  return faccessat(folder.fd(), ".", X_OK, AT_EACCESS) == 0 ? 0 : errno;
}

}  // namespace

int RunFind(int argc, char** argv) {
  std::setlocale(LC_CTYPE, "");
  UpperFoldTable();  // built once, before anything searches

  bool recursive = false;
  unsigned threads = 0;  // one per online CPU
  SearchOptions options;
  std::vector<std::string> positional;
  bool optionsEnd = false;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (optionsEnd || arg.size() < 2 || arg[0] != '-') {
      positional.emplace_back(arg);
    } else if (arg == "--") {
      optionsEnd = true;
    } else if (arg == "--help") {
      return Print(std::string(kUsage) + kHelp);
    } else if (arg == "--version") {
      return Print("vorn-find " VORN_VERSION "\n");
    } else if (arg == "--recursive") {
      recursive = true;
    } else if (arg == "--whole-word") {
      options.wholeWord = true;
    } else if (arg == "--match-case") {
      options.matchCase = true;
    } else if (arg == "--threads" || arg.starts_with("--threads=")) {
      std::string_view value;
      if (arg.size() > 9)
        value = arg.substr(10);
      else if (i + 1 < argc)
        value = argv[++i];
      else
        return Usage();
      if (!ParseThreads(value, threads)) return BadThreads(value);
    } else if (arg[1] != '-') {
      // A cluster of short options; "j" takes the rest of the cluster, or the next argument.
      for (size_t k = 1; k < arg.size(); ++k) {
        const char c = arg[k];
        if (c == 'r') {
          recursive = true;
        } else if (c == 'w') {
          options.wholeWord = true;
        } else if (c == 'c') {
          options.matchCase = true;
        } else if (c == 'h') {
          return Print(std::string(kUsage) + kHelp);
        } else if (c == 'j') {
          std::string_view value = arg.substr(k + 1);
          if (value.empty()) {
            if (i + 1 == argc) return Usage();
            value = argv[++i];
          }
          if (!ParseThreads(value, threads)) return BadThreads(value);
          break;
        } else {
          return Usage();
        }
      }
    } else {
      return Usage();
    }
  }
  if (positional.size() != 3) return Usage();
  options.query = positional[2];

  if (const int error = DirectoryError(positional[0])) {
    std::fprintf(stderr, "vorn-find: %s: %s\n", positional[0].c_str(), std::strerror(error));
    return kError;
  }

  PrintingListener listener(options, isatty(STDOUT_FILENO) == 1);
  SearchRun run(AddTrailingBackslash(positional[0]), positional[1], recursive, listener);
  run.SetThreads(threads);
  try {
    run.Run();
  } catch (const std::exception& e) {
    // What was found before the failure is still printed.
    if (!listener.Flush()) return WriteError();
    std::fprintf(stderr, "vorn-find: %s\n", e.what());
    return kError;
  }
  if (!listener.Flush()) return WriteError();
  return listener.Found() ? kFound : kNoneFound;
}

}  // namespace vorn

int main(int argc, char** argv) { return vorn::RunFind(argc, argv); }
