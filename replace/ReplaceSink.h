// vorn-find's replace: with --replace, each hit line printed as it would read after the
// replacement, nothing written; with --in-place too, each file with hits replaced by the safe
// write's rules, and what was left alone told on standard error with its reason.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "FilePlan.h"
#include "ResultsSink.h"
#include "SafeWrite.h"
#include "SearchRun.h"
#include "Substitution.h"

namespace vorn {

class ReplaceSink : public ResultsSink {
 public:
  // out: the descriptor the lines go to (standard output); terminal: control bytes in them
  // are written as "\xHH".
  ReplaceSink(const Substitution& substitution, bool inPlace, WriteRules rules, int out,
              bool terminal);
  ~ReplaceSink() override;
  ReplaceSink(const ReplaceSink&) = delete;
  ReplaceSink& operator=(const ReplaceSink&) = delete;

  // A binary file is told of by its name only.
  SinkWants Wants() override {
    SinkWants wants;
    wants.restOfBinaryFile = false;
    return wants;
  }
  void Lines(std::span<const SearchHit> hits) override;
  void FileEnds(std::string_view path, const FileSummary& summary) override;
  void FileError(std::string_view path, int error) override;
  void Unsearched(std::string_view path, size_t lineIndex) override;
  // After a failed write to standard output the run ends.
  bool MoreWanted() override { return !failed_; }

  // Writes the last file and what waits to be printed; false, with errno set, when a write to
  // out failed.
  bool Finish();
  // "N matches replaced in M files" and the exit status: 0 something replaced (or printed),
  // 1 nothing matched, 2 a file was left alone for an error or could not be read.
  std::string Summary() const;
  int Status() const;

 private:
  // A file's hit lines, to be planned and written by one of the writers.
  struct Job {
    size_t order = 0;
    std::string path;
    HitRanges lines;
  };
  struct Done {
    std::string path;
    WriteOutcome outcome;
    bool matched = false;
  };
  void Hit(const SearchHit& hit);
  void EndFile();
  void Write();
  void TellDone();
  void PrintLine(const SearchHit& hit);
  void Tell(std::string_view path, std::string_view what);
  void Flush();

  const Substitution& substitution_;
  bool inPlace_;
  WriteRules rules_;
  int fd_;
  bool terminal_;
  std::string out_;
  std::string file_;  // in place: the file whose hit lines are being gathered
  HitRanges lines_;
  std::string binary_;  // the binary file last told of
  std::vector<MatchRange> matches_;
  std::string with_;
  // The writers: most of a file's write is waiting for the disk, so several files are written
  // at once; what they did is told in the order the search found the files.
  std::vector<std::thread> writers_;
  std::mutex mutex_;
  std::condition_variable wake_, room_;
  std::deque<Job> jobs_;
  std::vector<std::optional<Done>> done_;
  size_t jobCount_ = 0, told_ = 0;
  bool closing_ = false;
  size_t replaced_ = 0, files_ = 0;
  bool found_ = false, errors_ = false, failed_ = false, unsearched_ = false;
  int error_ = 0;
};

}  // namespace vorn
