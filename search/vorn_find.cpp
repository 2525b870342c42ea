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

#include "Fd.h"
#include "FileMask.h"
#include "FindArgs.h"
#include "FindPrinter.h"
#include "RegexMatcher.h"
#include "ReplaceSink.h"
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

// --replace: the hit lines as they would read, or with --in-place the files written.
int RunReplace(const FindArgs& args) {
  std::string error;
  const auto substitution = Substitution::Make(args.options, *args.replace, &error);
  if (!substitution) {
    std::fprintf(stderr, "vorn-find: %s\n", error.c_str());
    return kError;
  }
  WriteRules rules;
  if (char* folder = realpath(args.directory.empty() ? "." : args.directory.c_str(), nullptr)) {
    rules.folder = folder;
    std::free(folder);
  }
  ReplaceSink sink(*substitution, args.inPlace, rules, STDOUT_FILENO, isatty(STDOUT_FILENO) == 1);
  SearchRun run(AddTrailingBackslash(args.directory), args.mask, args.recursive, args.options,
                sink);
  run.SetThreads(args.threads);
  run.SetListing(args.listing);
  try {
    run.Run();
  } catch (const std::exception& e) {
    sink.Finish();
    std::fprintf(stderr, "vorn-find: %s\n", e.what());
    return kError;
  }
  if (!sink.Finish()) return WriteError();
  if (args.inPlace) std::fprintf(stderr, "%s\n", sink.Summary().c_str());
  return sink.Status();
}

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

  if (args.replace) return RunReplace(args);

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
  SearchRun run(AddTrailingBackslash(args.directory), args.mask, args.recursive, args.options,
                printer);
  run.SetThreads(args.threads);
  run.SetListing(args.listing);
  try {
    run.Run();
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
