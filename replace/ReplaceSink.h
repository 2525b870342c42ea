// vorn-find's replace: with --replace, each hit line printed as it would read after the
// replacement, nothing written; with --in-place too, each file with hits replaced by the safe
// write's rules, and what was left alone told on standard error with its reason.
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>

#include "FilePlan.h"
#include "SafeWrite.h"
#include "SearchRun.h"
#include "Substitution.h"

namespace vorn {

class ReplaceSink : public SearchListener {
 public:
  // out: the descriptor the lines go to (standard output); terminal: control bytes in them
  // are written as "\xHH".
  ReplaceSink(const Substitution& substitution, bool inPlace, WriteRules rules, int out,
              bool terminal);

  void Results(std::span<const SearchHit> hits) override;
  void FileError(std::string_view path, int error) override;
  void Unsearched(std::string_view path, size_t lineIndex) override;
  SearchOptions Options() override { return substitution_.Matcher().Options(); }
  bool PumpDue() override { return failed_; }
  bool StopRequested() override { return failed_; }
  bool ListingGoesOn() override { return !failed_; }
  bool RestOfBinaryFileWanted() override { return false; }

  // Writes the last file and what waits to be printed; false, with errno set, when a write to
  // out failed.
  bool Finish();
  // "N matches replaced in M files" and the exit status: 0 something replaced (or printed),
  // 1 nothing matched, 2 a file was left alone for an error or could not be read.
  std::string Summary() const;
  int Status() const;

 private:
  void Hit(const SearchHit& hit);
  void EndFile();
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
  size_t replaced_ = 0, files_ = 0;
  bool found_ = false, errors_ = false, failed_ = false, unsearched_ = false;
  int error_ = 0;
};

}  // namespace vorn
