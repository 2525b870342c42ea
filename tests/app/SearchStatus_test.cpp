// The status line's texts of a run, as the window makes them from where the run says it is.
#include "SearchStatus.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "SearchRun.h"
#include "TempTree.h"

namespace vorn {
namespace {

using ::testing::ElementsAre;

class Statuses : public ResultsSink, public RunPacer {
 public:
  void Lines(std::span<const SearchHit>) override {}
  bool PumpDue() override { return pumpAlways; }
  void Pump(const RunProgress& at) override {
    if (auto text = status.AtPump(at)) texts.push_back(*text);
  }
  void Progress(const RunProgress& at) override { texts.push_back(status.AtLine(at)); }
  bool pumpAlways = false;
  SearchStatus status;
  std::vector<std::string> texts;
};

std::vector<std::string> StatusesOf(const std::string& dir, const char* query, bool pump,
                                    bool lineByLine, unsigned threads = 1,
                                    size_t block = 1u << 20) {
  Statuses s;
  s.pumpAlways = pump;
  SearchRun run(dir, "*", false, SearchOptions{query, false, true}, s, &s);
  run.SetLineByLine(lineByLine);
  run.SetThreads(threads);
  run.SetBlockSize(block);
  const SearchEnd end = run.Run();
  s.texts.push_back(end == SearchEnd::Aborted ? SearchStatus::kAborted
                                              : SearchStatus::Finished(run.UnsearchedLines()));
  return s.texts;
}

TEST(SearchStatus, TextsOfLineByLineAndFastRuns) {
  test::TempTree t;
  std::string text;
  for (int i = 0; i < 120; ++i) text += i == 75 ? "hit\n" : "line\n";
  t.Write("lines/a.txt", text);
  t.Write("lines/b.txt", "");
  EXPECT_THAT(StatusesOf(t.Path("lines/"), "zzz", false, true),
              ElementsAre("Searching : a.txt", "Searching : a.txt.....in Line : 0/120",
                          "Searching : a.txt.....in Line : 50/120",
                          "Searching : a.txt.....in Line : 100/120", "Searching : b.txt",
                          "Finished Searching"));
  // A fast run shows where it is when it pumps: at the hit, the line's fifty.
  t.Write("fast/a.txt", text);
  EXPECT_THAT(StatusesOf(t.Path("fast/"), "hit", true, false),
              ElementsAre("Searching : a.txt.....in Line : 50/120", "Finished Searching"));
  // The lines of a UTF-16 file are its text's, on one thread or several.
  std::string utf16 = "\xFF\xFE";
  for (const char c : text) utf16 += std::string{c, '\0'};
  t.Write("count/a.txt", utf16);
  for (unsigned threads : {1u, 3u})
    EXPECT_THAT(StatusesOf(t.Path("count/"), "hit", true, false, threads, 64),
                ElementsAre("Searching : a.txt.....in Line : 50/120", "Finished Searching"));
  EXPECT_EQ(SearchStatus::Finished(2),
            "Finished Searching (2 lines could not be searched: the regular expression needs too "
            "much work)");
}

}  // namespace
}  // namespace vorn
