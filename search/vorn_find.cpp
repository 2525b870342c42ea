// vorn-find: the search run from the command line, printing the result lines as the main
// window shows them, one per line, and nothing else on standard output.
#include <cerrno>
#include <clocale>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "FastStrings.h"
#include "SearchRun.h"
#include "io.h"

namespace {

constexpr const char* kUsage =
    "usage: vorn-find [-r|--recursive] [-w|--whole-word] [-c|--match-case] DIRECTORY MASK TEXT";

class PrintingListener : public vorn::SearchListener {
 public:
  explicit PrintingListener(vorn::SearchOptions options) : options_(std::move(options)) {
    out_.reserve(kFlushAt + 8192);
  }
  ~PrintingListener() override { Flush(); }

  void Result(const vorn::SearchHit& hit) override {
    out_.append(hit.resultLine);
    out_.push_back('\n');
    if (out_.size() >= kFlushAt) Flush();
  }
  vorn::SearchOptions Options() override { return options_; }

  bool Flush() {
    if (!out_.empty() && std::fwrite(out_.data(), 1, out_.size(), stdout) != out_.size())
      failed_ = true;
    out_.clear();
    return !failed_;
  }
  bool Failed() const { return failed_; }

 private:
  static constexpr size_t kFlushAt = size_t{1} << 20;
  vorn::SearchOptions options_;
  std::string out_;
  bool failed_ = false;
};

int Usage() {
  std::fprintf(stderr, "%s\n", kUsage);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::setlocale(LC_CTYPE, "");
  vorn::UpperFoldTable();  // built once, before anything searches

  bool recursive = false;
  vorn::SearchOptions options;
  std::vector<std::string> positional;
  bool optionsEnd = false;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (optionsEnd || arg.size() < 2 || arg[0] != '-') {
      positional.emplace_back(arg);
    } else if (arg == "--") {
      optionsEnd = true;
    } else if (arg == "--help") {
      std::printf("%s\n", kUsage);
      return 0;
    } else if (arg == "--recursive") {
      recursive = true;
    } else if (arg == "--whole-word") {
      options.wholeWord = true;
    } else if (arg == "--match-case") {
      options.matchCase = true;
    } else if (arg[1] != '-') {
      for (char c : arg.substr(1)) {
        if (c == 'r') recursive = true;
        else if (c == 'w') options.wholeWord = true;
        else if (c == 'c') options.matchCase = true;
        else return Usage();
      }
    } else {
      return Usage();
    }
  }
  if (positional.size() != 3) return Usage();
  options.query = positional[2];

  PrintingListener listener(options);
  vorn::SearchRun run(vorn::AddTrailingBackslash(positional[0]), positional[1], recursive, listener);
  run.Run();
  if (!listener.Flush() || std::fflush(stdout) != 0) {
    std::fprintf(stderr, "vorn-find: cannot write the results: %s\n", std::strerror(errno));
    return 1;
  }
  return 0;
}
