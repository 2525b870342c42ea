#include "SearchRun.h"

#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <random>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include "HitShelf.h"
#include "TempTree.h"

namespace vorn {
namespace {

using test::TempTree;
using ::testing::ElementsAre;

class Recorder : public ResultsSink, public RunPacer {
 public:
  explicit Recorder(SearchOptions options) : options(std::move(options)) {}
  SinkWants Wants() override { return wants; }
  void Lines(std::span<const SearchHit> hits) override {
    for (const SearchHit& hit : hits) {
      if (hit.kind != FoundKind::Hit) continue;
      EXPECT_LE(hit.text.size(), SearchRun::kShownLineBytes);
      AppendResultLine(lines.emplace_back(), hit);
    }
    if (onResults) onResults();
  }
  bool PumpDue() override { return pumpAlways; }
  void Pump(const RunProgress&) override {
    ++pumps;
    if (onPump) onPump(*this);
  }
  bool StopRequested() override { return stop; }
  SearchOptions Options(const SearchOptions&) override { return options; }

  SearchOptions options;
  SinkWants wants;
  bool pumpAlways = false;
  bool stop = false;
  int pumps = 0;
  std::function<void(Recorder&)> onPump;
  std::function<void()> onResults;
  std::vector<std::string> lines;
};

std::vector<std::string> Search(const std::string& dir, const std::string& mask, bool recursive,
                                SearchOptions options, bool lineByLine = false,
                                size_t blockSize = size_t{1} << 20, unsigned threads = 0) {
  Recorder r(std::move(options));
  SearchRun run(dir, mask, recursive, r.options, r, &r);
  run.SetLineByLine(lineByLine);
  run.SetBlockSize(blockSize);
  run.SetThreads(threads);
  EXPECT_EQ(run.Run(), SearchEnd::Finished);
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
  EXPECT_THAT(
      Search(d, "*.txt", false, {"foo", false, true}),
      ElementsAre(d + ".dot.txt (0)  :  foo dot", d + "blank.txt (2)  :  foo",
                  d + "cr.txt (0)  :  a foo", d + "cr.txt (2)  :  foo c",
                  d + "crlf.txt (0)  :  first foo", d + "my (copy) file.txt (0)  :  foo: (1) here",
                  d + "nul.txt (0)  :  " + std::string("x\0foo\0y", 7), d + "nul.txt (1)  :  foo"));
  // Recursive: dot files are skipped; case folded, the shown text keeps its own case.
  EXPECT_THAT(
      Search(d, "*.*", true, {"FOO", true, false}),
      ElementsAre(d + "blank.txt (2)  :  foo", d + "cr.txt (0)  :  a foo",
                  d + "cr.txt (2)  :  foo c", d + "crlf.txt (0)  :  first foo",
                  d + "crlf.txt (2)  :  third Foo", d + "my (copy) file.txt (0)  :  foo: (1) here",
                  d + "nul.txt (0)  :  " + std::string("x\0foo\0y", 7), d + "nul.txt (1)  :  foo",
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

long PeakKilobytes() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

// A file with no line break is searched whole in bounded memory and the files after it too;
// files deep down a tree, under folder paths longer than the system takes in one call, are
// found with few descriptors to spare.
TEST(SearchRun, NoBreakFilesDeepTreesAndLongPathsAreSearched) {
  TempTree t;
  t.Write("a.txt", "foo\n");
  t.Write("z.txt", "x foo\n");
  {
    const int fd = open(t.Path("b.img").c_str(), O_WRONLY | O_CREAT, 0644);
    ASSERT_GE(fd, 0);
    const off_t size = off_t{384} << 20;
    ASSERT_EQ(pwrite(fd, " foo", 4, size - 4), 4);
    close(fd);
  }
  const long before = PeakKilobytes();
  for (unsigned threads : {1u, 2u})
    EXPECT_THAT(Search(t.root(), "*", false, {"foo", true, true}, false, size_t{1} << 20, threads),
                ElementsAre(t.Path("a.txt") + " (0)  :  foo",
                            t.Path("b.img") + " (0)  :  " + std::string(4096, '\0'),
                            t.Path("z.txt") + " (0)  :  x foo"));
  EXPECT_LT(PeakKilobytes() - before, 64 * 1024);

  // 300 folders of 16-byte names: the deepest paths pass 4096 bytes.
  TempTree deep;
  int dir = open(deep.root().c_str(), O_PATH | O_DIRECTORY);
  for (int level = 1; level <= 300; ++level) {
    const std::string name = "folder-" + std::to_string(1000000000 + level);
    ASSERT_EQ(mkdirat(dir, name.c_str(), 0755), 0);
    const int sub = openat(dir, name.c_str(), O_PATH | O_DIRECTORY);
    close(dir);
    dir = sub;
    if (level % 100 == 0) {
      const int fd = openat(dir, "hit.txt", O_WRONLY | O_CREAT, 0644);
      ASSERT_EQ(write(fd, "foo\n", 4), 4);
      close(fd);
    }
  }
  close(dir);
  // In a child with 256 descriptors, as a desktop session's limit would be to a deeper tree.
  const pid_t child = fork();
  if (child == 0) {
    rlimit limit{256, 256};
    setrlimit(RLIMIT_NOFILE, &limit);
    Recorder r({"foo", false, true});
    SearchRun run(deep.root(), "*.txt", true, r.options, r, &r);
    run.Run();
    _exit(r.lines.size() == 3 && r.lines.front().size() > 5000 ? 0 : 1);
  }
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  ASSERT_EQ(std::system(("rm -rf '" + deep.root() + "folder-1000000001'").c_str()), 0);
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

// Bad units and a last odd byte of a UTF-16 file show as U+FFFD (the table of every path
// holds UTF-16 files to their UTF-8 text).
TEST(SearchRun, BadUtf16UnitsShowAsReplacementCharacters) {
  TempTree t;
  t.Write("bad/odd.txt", std::string("\xFF\xFE"
                                     "b\0e\0t\0a\0A",
                                     11));
  t.Write("bad/lone.txt", std::string("\xFE\xFF\xD8\x00\0b\0e\0t\0a\xDC\x00\0\n\xD8\x3D", 18));
  const std::string bad = t.Path("bad/");
  EXPECT_THAT(Search(bad, "*", false, {"beta", false, true}),
              ElementsAre(bad + "lone.txt (0)  :  \xEF\xBF\xBD"
                                "beta\xEF\xBF\xBD",
                          bad + "odd.txt (0)  :  beta\xEF\xBF\xBD"));
  EXPECT_THAT(Search(bad, "lone.txt", false, {"\xEF\xBF\xBD", false, true}),
              ElementsAre(bad + "lone.txt (0)  :  \xEF\xBF\xBD"
                                "beta\xEF\xBF\xBD",
                          bad + "lone.txt (1)  :  \xEF\xBF\xBD"));
}

// Line by line; fast on one thread; fast on three.
constexpr std::pair<bool, unsigned> kModes[] = {{true, 1}, {false, 1}, {false, 3}};

TEST(SearchRun, StopEndsTheRunAndKeepsTheLinesFound) {
  TempTree t;
  for (int f = 0; f < 5; ++f) t.Write("f" + std::to_string(f) + ".txt", "foo\nfoo\n");
  for (const auto& [lineByLine, threads] : kModes) {
    Recorder r({"foo", false, true});
    r.pumpAlways = true;
    r.onPump = [](Recorder& self) { self.stop = self.lines.size() >= 3; };
    SearchRun run(t.root(), "*", false, r.options, r, &r);
    run.SetLineByLine(lineByLine);
    run.SetThreads(threads);
    EXPECT_EQ(run.Run(), SearchEnd::Aborted);
    EXPECT_EQ(r.lines.size(), 3u);
  }
  // Stop pressed while the tree is listed: the run stops at the first file.
  Recorder listing({"foo", false, true});
  listing.stop = true;
  EXPECT_EQ(SearchRun(t.root(), "*", true, listing.options, listing, &listing).Run(),
            SearchEnd::Aborted);
  EXPECT_TRUE(listing.lines.empty());
  // A stop with nothing to search still finishes.
  TempTree empty;
  Recorder r({"foo", false, true});
  r.pumpAlways = true;
  r.stop = true;
  EXPECT_EQ(SearchRun(empty.root(), "*", false, r.options, r, &r).Run(), SearchEnd::Finished);
}

TEST(SearchRun, AFileIsLeftAtItsFirstHitWhenTheRestIsNotWanted) {
  TempTree t;
  const std::string longLine(300, 'x');
  t.Write("a.txt", "foo 1\nbar\nfoo 2\n");
  t.Write("b.txt", "bar\n" + longLine + "foo" + longLine + "\nfoo 3\n");  // a hit in a long line
  t.Write("c.txt", std::string(500, '\n') + "foo 4\nfoo 5");              // in a later block
  t.Write("d.txt", "bar\n");
  for (const auto& [lineByLine, threads] : kModes) {
    Recorder r({"foo", false, true});
    r.wants.maxHitLines = 1;
    SearchRun run(t.root(), "*", false, r.options, r, &r);
    run.SetLineByLine(lineByLine);
    run.SetBlockSize(128);
    run.SetThreads(threads);
    EXPECT_EQ(run.Run(), SearchEnd::Finished);
    ASSERT_EQ(r.lines.size(), 3u) << threads;
    EXPECT_THAT(r.lines[0], ::testing::HasSubstr("a.txt (0)"));
    EXPECT_THAT(r.lines[1], ::testing::HasSubstr("b.txt (1)"));
    EXPECT_THAT(r.lines[2], ::testing::HasSubstr("c.txt (500)"));
  }
}

TEST(SearchRun, ChangedOptionsCountFromTheNextLine) {
  TempTree t;
  t.Write("a.txt", "foo\nbar\nbaz\nbar\n");
  for (const auto& [lineByLine, threads] : kModes) {
    Recorder r({"foo", false, true});
    r.pumpAlways = true;
    r.onPump = [](Recorder& self) {
      if (!self.lines.empty()) self.options.query = "bar";
    };
    SearchRun run(t.root(), "*", false, r.options, r, &r);
    run.SetLineByLine(lineByLine);
    run.SetThreads(threads);
    run.Run();
    EXPECT_THAT(r.lines,
                ElementsAre(t.Path("a.txt") + " (0)  :  foo", t.Path("a.txt") + " (1)  :  bar",
                            t.Path("a.txt") + " (3)  :  bar"))
        << lineByLine << threads;
  }
}

// An option change deep inside a file searched ahead by the workers: the file is searched
// again here from the next line on, and the lines skipped on the way keep the pump rhythm.
TEST(SearchRun, ResumingInsideALargeFileKeepsPumping) {
  TempTree t;
  std::string text = "foo\n";
  for (int i = 0; i < 400000; ++i) text += "line of text\n";
  t.Write("big.txt", text + "foo\nbar\n");
  Recorder r({"foo", false, true});
  r.pumpAlways = true;
  int pumpsAfter = 0;
  r.onPump = [&pumpsAfter](Recorder& self) {
    pumpsAfter += self.options.query == "bar";
    if (self.lines.size() == 2) self.options.query = "bar";
  };
  SearchRun run(t.root(), "*", false, r.options, r, &r);
  run.SetThreads(2);
  run.SetBlockSize(size_t{64} << 10);
  run.Run();
  EXPECT_THAT(r.lines, ElementsAre(t.Path("big.txt") + " (0)  :  foo",
                                   t.Path("big.txt") + " (400001)  :  foo",
                                   t.Path("big.txt") + " (400002)  :  bar"));
  EXPECT_GT(pumpsAfter, 40);  // 5 MB skipped in blocks of 64 KB
}

// The files listed are searched while the rest of the tree is listed: when the first hit
// comes, the last folder has not been entered yet, and a file put there then is found too.
TEST(SearchRun, TheFirstHitDoesNotWaitForTheListing) {
  TempTree t;
  t.Write("a.txt", "foo\n");
  for (int d = 100; d < 400; ++d) {
    // Appended piece by piece: "literal" + std::string draws a false -Wrestrict from GCC 12's
    // optimiser.
    std::string folder = "d";
    folder += std::to_string(d);
    t.Write(folder + "/x", "bar\n");
  }
  for (unsigned threads : {1u, 2u}) {
    std::remove(t.Path("d399/late").c_str());
    Recorder r({"foo", false, true});
    r.onResults = [&] {
      if (r.lines.size() == 1) t.Write("d399/late", "foo\n");
    };
    SearchRun run(t.root(), "*", true, r.options, r, &r);
    run.SetThreads(threads);
    run.SetListAhead(16);
    run.Run();
    EXPECT_EQ(r.lines.size(), 2u) << threads;
  }
}

// Short of descriptors the run waits for one or searches on fewer threads, never skipping a
// file or a folder: in a child whose hard limit is tiny, many threads over a deep, wide tree.
TEST(SearchRun, NoFileIsMissedForWantOfDescriptors) {
  TempTree t;
  std::string path;
  for (int level = 0; level < 45; ++level) {
    path += 'd';
    path += std::to_string(level);
    path += '/';
    t.Write(path + "hit.txt", "foo\n");
  }
  for (int f = 0; f < 150; ++f)
    t.Write(std::string("wide/f").append(std::to_string(f)), "x\nfoo\n");
  for (const auto& [limit, threads] : {std::pair{48u, 64u}, {16u, 8u}, {24u, 1u}}) {
    const pid_t child = fork();
    if (child == 0) {
      Recorder r({"foo", false, true});
      // The sanitizer checks a virtual call's object through a descriptor of its own the first
      // time it sees its type: seen here, before the descriptors run short.
      static_cast<RunPacer&>(r).PumpDue();
      static_cast<ResultsSink&>(r).MoreWanted();
      rlimit few{limit, limit};
      setrlimit(RLIMIT_NOFILE, &few);
      SearchRun run(t.root(), "*", true, r.options, r, &r);
      run.SetThreads(threads);
      run.Run();
      _exit(r.lines.size() == 195 ? 0 : 1);
    }
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << limit << " " << threads;
  }
}

// At its k-th call the listener changes the query, stops the run or throws, at every point of
// a run whose workers wait for room for their findings; the sanitizer build catches any worker
// that touches a file, a slot or a list the run has left.
class Saboteur : public ResultsSink, public RunPacer {
 public:
  enum class Act { Change, Stop, Throw };
  // keep: the workers keep the hits on a shelf, as for the window.
  Saboteur(Act act, int at, bool keep = false)
      : act_(act), at_(at), shelf_(keep ? std::make_shared<HitShelf>() : nullptr) {}
  SinkWants Wants() override {
    SinkWants wants;
    wants.shelf = shelf_;
    return wants;
  }
  void Lines(std::span<const SearchHit> hits) override {
    Tick();
    for (const SearchHit& hit : hits) lines += hit.path.size() + hit.text.size();
  }
  bool PumpDue() override { return Tick(), true; }
  void Pump(const RunProgress&) override { Tick(); }
  bool StopRequested() override { return stop; }
  SearchOptions Options(const SearchOptions&) override { return options; }
  int calls = 0;
  size_t lines = 0;
  SearchOptions options{"a", false, true};

 private:
  void Tick() {
    if (++calls != at_) return;
    if (act_ == Act::Throw) throw std::runtime_error("listener");
    if (act_ == Act::Stop) stop = true;
    options.query = "b";
  }
  Act act_;
  int at_;
  std::shared_ptr<HitShelf> shelf_;
  bool stop = false;
};

TEST(SearchRun, ChangesStopsAndListenerErrorsAtEveryPoint) {
  TempTree t;
  std::string many;
  for (int i = 0; i < 400; ++i) many += i % 3 ? "a b a\n" : "b\n";
  for (int f = 0; f < 24; ++f) {
    // Appended piece by piece: "literal" + std::string draws a false -Wrestrict from GCC 12.
    std::string name = "d";
    name += std::to_string(f % 4);
    name += "/f";
    name += std::to_string(f);
    t.Write(name, many);
  }
  for (unsigned threads : {1u, 2u, 3u, 8u, 16u}) {
    Saboteur count(Saboteur::Act::Change, 0);
    SearchRun whole(t.root(), "*", true, count.options, count, &count);
    whole.SetThreads(threads);
    whole.SetBlockSize(256);
    whole.Run();
    for (auto act : {Saboteur::Act::Change, Saboteur::Act::Stop, Saboteur::Act::Throw})
      for (int at = 1; at <= count.calls; at += std::max(1, count.calls / 40)) {
        Saboteur s(act, at, at % 2 == 0);
        SearchRun run(t.root(), "*", true, s.options, s, &s);
        run.SetThreads(threads);
        run.SetBlockSize(256);
        // With several threads the hits come in batches of varying size, so a run may make
        // fewer calls than the one counted; it throws when it reaches the k-th.
        bool threw = false;
        try {
          run.Run();
        } catch (const std::runtime_error&) {
          threw = true;
        }
        if (act == Saboteur::Act::Throw) {
          EXPECT_EQ(threw, s.calls >= at) << threads << " " << at << " " << s.calls;
        }
      }
  }
}

}  // namespace
}  // namespace vorn
