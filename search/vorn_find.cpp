// vorn-find: the search run from the command line, printing the result lines as the main
// window shows them, one per line, and nothing else on standard output. Exit status as grep:
// 0 when a line was found, 1 when none, 2 on an error.
#include <fcntl.h>
#include <malloc.h>
#include <unistd.h>

#include <cerrno>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "Fd.h"
#include "FileMask.h"
#include "FindArgs.h"
#include "FindPrinter.h"
#include "RegexMatcher.h"
#include "ResultsSink.h"
#include "SearchRun.h"
#include "io.h"

namespace vorn {
namespace {

enum Status { kFound = 0, kNoneFound = 1, kError = 2 };

int Usage(const std::string& message) {
  if (!message.empty()) std::fprintf(stderr, "vorn-find: %s\n", message.c_str());
  std::fputs(kFindUsage, stderr);
  return kError;
}

int WriteError() {
  std::fprintf(stderr, "vorn-find: cannot write the results: %s\n", std::strerror(errno));
  return kError;
}

int Print(std::string_view text) { return WriteAll(STDOUT_FILENO, text) ? kFound : WriteError(); }

// The error number that keeps the directory from being searched (it is missing, not a
// folder, or cannot be read or entered), or 0. An empty directory names no folder, as for
// grep (a script's unset variable must not search wherever it runs); a path too long for
// one call is opened as the search opens it, piece by piece.
int DirectoryError(const std::string& directory) {
  if (directory.empty()) return ENOENT;
  const Fd folder(OpenFolder(directory, O_RDONLY));
  if (!folder.ok()) return errno;
  return faccessat(folder.fd(), ".", X_OK, AT_EACCESS) == 0 ? 0 : errno;
}

// A terminal that takes no escape sequences, as grep leaves it plain.
bool DumbTerminal() {
  const char* term = std::getenv("TERM");
  return term == nullptr || std::strcmp(term, "dumb") == 0;
}

// Hands the run's hit lines on to the printer as a results stream: each file's beginning and
// end around its hits, every match's range in a hit line. The run cannot yet give context
// lines or leave a file after a count of hits; it stops at the first chance once no more is
// wanted.
class SinkBridge : public SearchListener {
 public:
  SinkBridge(const SearchOptions& options, ResultsSink& sink)
      : matcher_(options), sink_(sink), wants_(sink.Wants()) {}
  void Results(std::span<const SearchHit> hits) override {
    for (const SearchHit& hit : hits) {
      if (!sink_.MoreWanted()) return;
      if (!open_ || hit.path != file_) {
        End();
        file_.assign(hit.path);
        open_ = true;
        sink_.FileBegins(file_);
      }
      ranges_.clear();
      if (wants_.ranges) matcher_.Matches(hit.text, ranges_);
      SearchHit line = hit;
      line.matches = ranges_;
      ++summary_.hitLines;
      summary_.matches += ranges_.size();
      summary_.binary = summary_.binary || hit.binary;
      sink_.Lines({&line, 1});
    }
  }
  void End() {
    if (open_) sink_.FileEnds(file_, summary_);
    open_ = false;
    summary_ = {};
  }
  void FileError(std::string_view path, int error) override { sink_.FileError(path, error); }
  void Unsearched(std::string_view path, size_t lineIndex) override {
    sink_.Unsearched(path, lineIndex);
  }
  SearchOptions Options() override { return matcher_.Options(); }
  bool PumpDue() override { return !sink_.MoreWanted(); }
  bool StopRequested() override { return !sink_.MoreWanted(); }
  bool ListingGoesOn() override { return sink_.MoreWanted(); }
  bool RestOfFileWanted() override { return wants_.maxHitLines != 1; }
  bool RestOfBinaryFileWanted() override { return wants_.restOfBinaryFile; }

 private:
  LineMatcher matcher_;
  ResultsSink& sink_;
  SinkWants wants_;
  std::string file_;
  bool open_ = false;
  FileSummary summary_;
  std::vector<MatchRange> ranges_;
};

}  // namespace

int RunFind(int argc, char** argv) {
  std::setlocale(LC_CTYPE, "");
  // The workers allocate little (their findings' batches); an arena of the allocator's own
  // for each of many threads would cost more memory than it saves waiting.
  mallopt(M_ARENA_MAX, 4);

  const FindArgs args = ParseFindArgs(argc, argv);
  switch (args.action) {
    case FindArgs::Action::Help:
      return Print(std::string(kFindUsage) + kFindHelp);
    case FindArgs::Action::Version:
      return Print("vorn-find " VORN_VERSION "\n");
    case FindArgs::Action::Error:
      return Usage(args.message);
    case FindArgs::Action::Search:
      break;
  }

  if (const FileMask mask(args.mask); !mask.Fault().empty()) {
    std::fprintf(stderr, "vorn-find: %s\n", mask.Fault().c_str());
    return kError;
  }
  if (args.options.regex) {
    RegexError invalid;
    if (!RegexMatcher::Compile(args.options.query, args.options.matchCase, args.options.wholeWord,
                               &invalid, false)) {
      std::fprintf(stderr, "vorn-find: invalid regular expression at position %zu: %s\n",
                   invalid.position, invalid.message.c_str());
      return kError;
    }
  }

  if (const int error = DirectoryError(args.directory)) {
    std::fprintf(stderr, "vorn-find: %s: %s\n",
                 args.directory.empty() ? "''" : args.directory.c_str(), std::strerror(error));
    return kError;
  }

  FindStyle style;
  style.output = args.output;
  style.terminal = isatty(STDOUT_FILENO) == 1;
  if (args.color == FindArgs::Color::Always ||
      (args.color == FindArgs::Color::Auto && style.terminal && !DumbTerminal()))
    style.colors = FindColors::FromGrepColors(std::getenv("GREP_COLORS"));
  style.messages = args.messages;
  style.before = args.before;
  style.after = args.after;
  style.onlyMatching = args.onlyMatching;
  style.maxCount = args.maxCount.value_or(0);
  style.nulAfterPath = args.nulAfterPath;
  // No hit line is wanted of any file: nothing need be read.
  if (args.maxCount == size_t{0}) return kNoneFound;
  FindPrinter printer(args.options, std::move(style));
  SinkBridge bridge(args.options, printer);
  SearchRun run(AddTrailingBackslash(args.directory), args.mask, args.recursive, bridge);
  run.SetThreads(args.threads);
  try {
    run.Run();
    bridge.End();
  } catch (const std::exception& e) {
    // What was found before the failure is still printed.
    if (!printer.Flush()) return WriteError();
    std::fprintf(stderr, "vorn-find: %s\n", e.what());
    return kError;
  }
  if (!printer.Flush()) return WriteError();
  // As grep: quiet's hit is success whatever else went wrong; otherwise a file or folder that
  // could not be read makes the run an error, lines found or not.
  if (args.output == FindOutput::Quiet && printer.Found()) return kFound;
  if (printer.Missed()) return kError;
  // A line left undecided is an error unless something was found.
  if (printer.Found()) return kFound;
  return printer.AnyUnsearched() ? kError : kNoneFound;
}

}  // namespace vorn

int main(int argc, char** argv) { return vorn::RunFind(argc, argv); }
