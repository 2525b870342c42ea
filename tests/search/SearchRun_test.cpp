#include "SearchRun.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <string>
#include <vector>

#include "TempTree.h"

namespace vorn {
namespace {

using test::TempTree;
using ::testing::ElementsAre;

class Recorder : public SearchListener {
 public:
  explicit Recorder(SearchOptions options) : options(std::move(options)) {}
  void Result(const SearchHit& hit) override {
    lines.emplace_back(hit.resultLine);
    EXPECT_EQ(std::string(hit.resultLine).substr(0, hit.path.size()), hit.path);
    EXPECT_LE(hit.text.size(), SearchRun::kShownLineBytes);
  }
  void Status(std::string_view text) override { statuses.emplace_back(text); }
  bool PumpDue() override { return pumpAlways; }
  void Pump() override {
    ++pumps;
    if (onPump) onPump(*this);
  }
  bool StopRequested() override { return stop; }
  SearchOptions Options() override { return options; }

  SearchOptions options;
  bool pumpAlways = false;
  bool stop = false;
  int pumps = 0;
  std::function<void(Recorder&)> onPump;
  std::vector<std::string> lines, statuses;
};

std::vector<std::string> Search(const std::string& dir, const std::string& mask, bool recursive,
                                SearchOptions options, bool lineByLine = false,
                                size_t blockSize = size_t{1} << 20) {
  Recorder r(std::move(options));
  SearchRun run(dir, mask, recursive, r);
  run.SetLineByLine(lineByLine);
  run.SetBlockSize(blockSize);
  EXPECT_EQ(run.Run(), SearchEnd::Finished);
  EXPECT_EQ(r.statuses.back(), "Finished Searching");
  return r.lines;
}

TEST(SearchRun, ResultLinesByteForByteOverAwkwardFiles) {
  TempTree t;
  t.Write("crlf.txt", "first foo\r\nsecond\r\nthird Foo\r\n");
  t.Write("cr.txt", "a foo\rb\rfoo c");
  t.Write("nul.txt", std::string("x\0foo\0y\nfoo", 11));
  t.Write("blank.txt", "   \n\t\nfoo\n\n");
  t.Write("my (copy) file.txt", "foo: (1) here");
  t.Write(".dot.txt", "foo dot");
  t.Write("sub/deep.txt", "deep foo");
  const std::string d = t.root();
  EXPECT_THAT(Search(d, "*.txt", false, {"foo", false, true}),
              ElementsAre(d + ".dot.txt (0)  :  foo dot",
                          d + "blank.txt (2)  :  foo",
                          d + "cr.txt (0)  :  a foo",
                          d + "cr.txt (2)  :  foo c",
                          d + "crlf.txt (0)  :  first foo",
                          d + "my (copy) file.txt (0)  :  foo: (1) here",
                          d + "nul.txt (0)  :  " + std::string("x\0foo\0y", 7),
                          d + "nul.txt (1)  :  foo"));
  // Recursive: dot files are skipped; case folded, the shown text keeps its own case.
  EXPECT_THAT(Search(d, "*.*", true, {"FOO", true, false}),
              ElementsAre(d + "blank.txt (2)  :  foo",
                          d + "cr.txt (0)  :  a foo",
                          d + "cr.txt (2)  :  foo c",
                          d + "crlf.txt (0)  :  first foo",
                          d + "crlf.txt (2)  :  third Foo",
                          d + "my (copy) file.txt (0)  :  foo: (1) here",
                          d + "nul.txt (0)  :  " + std::string("x\0foo\0y", 7),
                          d + "nul.txt (1)  :  foo",
                          d + "sub/deep.txt (0)  :  deep foo"));
}

TEST(SearchRun, LongLinesAreSearchedWholeAndShownCut) {
  TempTree t;
  std::string line(10u << 20, 'x');
  line.replace(line.size() - 10, 6, " late ");
  t.Write("long.txt", "early one\n" + line + "\nafter late\n");
  const auto hits = Search(t.root(), "*", false, {"late", true, true}, false, 4096);
  ASSERT_EQ(hits.size(), 2u);
  EXPECT_EQ(hits[0], t.Path("long.txt") + " (1)  :  " + std::string(4096, 'x'));
  EXPECT_EQ(hits[1], t.Path("long.txt") + " (2)  :  after late");
}

TEST(SearchRun, BadDirectoriesFifosAndLinkLoopsEndNormally) {
  TempTree t;
  t.Fifo("pipe.txt");
  t.Symlink(t.root(), "loop");
  t.Write("ok.txt", "foo");
  EXPECT_TRUE(Search(t.Path("missing/"), "*", true, {"foo", false, true}).empty());
  EXPECT_TRUE(Search(t.root(), "*.none", false, {"foo", false, true}).empty());
  EXPECT_EQ(Search(t.root(), "*", true, {"foo", false, true}).size(), 1u);
  EXPECT_EQ(Search(t.root(), "*", false, {"foo", false, true}).size(), 1u);
}

// The fast run must give what a line-by-line run gives, whatever the block size.
TEST(SearchRun, FastRunMatchesLineByLineRunOnRandomFiles) {
  TempTree t;
  std::mt19937 rng(5);
  const std::string alphabet = "ab AB_\n\r\n\t.\xE9";
  for (int f = 0; f < 25; ++f) {
    std::string text(rng() % 3000, 'a');
    for (char& c : text) c = alphabet[rng() % alphabet.size()];
    std::string name = "f";  // appended, not "f" + ...: GCC 12 at -O3 warns falsely on that
    name += std::to_string(f) + ".txt";
    t.Write(name, text);
  }
  for (const char* query : {"ab", "a", "B a", " ", "ab_", "\xE9"})
    for (bool wholeWord : {false, true})
      for (bool matchCase : {false, true})
        for (size_t block : {size_t{64}, size_t{1} << 20}) {
          const SearchOptions o{query, wholeWord, matchCase};
          ASSERT_EQ(Search(t.root(), "*", false, o, false, block), Search(t.root(), "*", false, o, true))
              << query << wholeWord << matchCase << block;
        }
}

TEST(SearchRun, LineByLineStatusTexts) {
  TempTree t;
  std::string text;
  for (int i = 0; i < 120; ++i) text += "line\n";
  t.Write("a.txt", text);
  t.Write("b.txt", "");
  Recorder r({"zzz", false, false});
  SearchRun run(t.root(), "*", false, r);
  run.SetLineByLine(true);
  run.Run();
  EXPECT_THAT(r.statuses,
              ElementsAre("Searching : a.txt", "Searching : a.txt.....in Line : 0/120",
                          "Searching : a.txt.....in Line : 50/120",
                          "Searching : a.txt.....in Line : 100/120", "Searching : b.txt",
                          "Finished Searching"));
}

TEST(SearchRun, FastRunShowsTheCurrentStatusWhenItPumps) {
  TempTree t;
  std::string text;
  for (int i = 0; i < 120; ++i) text += i == 75 ? "hit\n" : "line\n";
  t.Write("a.txt", text);
  Recorder r({"hit", false, true});
  r.pumpAlways = true;
  SearchRun run(t.root(), "*", false, r);
  run.Run();
  EXPECT_THAT(r.statuses, ElementsAre("Searching : a.txt.....in Line : 50/120",
                                      "Finished Searching"));
}

TEST(SearchRun, StopEndsTheRunAndKeepsTheLinesFound) {
  TempTree t;
  for (int f = 0; f < 5; ++f) t.Write("f" + std::to_string(f) + ".txt", "foo\nfoo\n");
  for (bool lineByLine : {false, true}) {
    Recorder r({"foo", false, true});
    r.pumpAlways = true;
    r.onPump = [](Recorder& self) { self.stop = self.lines.size() >= 3; };
    SearchRun run(t.root(), "*", false, r);
    run.SetLineByLine(lineByLine);
    EXPECT_EQ(run.Run(), SearchEnd::Aborted);
    EXPECT_EQ(r.lines.size(), 3u);
    EXPECT_EQ(r.statuses.back(), "User aborted Search");
  }
  // Stop pressed while the tree is listed: the run stops at the first file.
  Recorder listing({"foo", false, true});
  listing.stop = true;
  EXPECT_EQ(SearchRun(t.root(), "*", true, listing).Run(), SearchEnd::Aborted);
  EXPECT_TRUE(listing.lines.empty());
  // A stop with nothing to search still finishes.
  TempTree empty;
  Recorder r({"foo", false, true});
  r.pumpAlways = true;
  r.stop = true;
  EXPECT_EQ(SearchRun(empty.root(), "*", false, r).Run(), SearchEnd::Finished);
}

TEST(SearchRun, ChangedOptionsCountFromTheNextLine) {
  TempTree t;
  t.Write("a.txt", "foo\nbar\nfoo\nbar\n");
  for (bool lineByLine : {false, true}) {
    Recorder r({"foo", false, true});
    r.pumpAlways = true;
    r.onPump = [](Recorder& self) {
      if (!self.lines.empty()) self.options.query = "bar";
    };
    SearchRun run(t.root(), "*", false, r);
    run.SetLineByLine(lineByLine);
    run.Run();
    EXPECT_THAT(r.lines, ElementsAre(t.Path("a.txt") + " (0)  :  foo", t.Path("a.txt") + " (1)  :  bar",
                                     t.Path("a.txt") + " (3)  :  bar"))
        << lineByLine;
  }
}

}  // namespace
}  // namespace vorn
