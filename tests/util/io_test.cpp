#include "io.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <stdexcept>
#include <string>

#include "Browser.h"
#include "FileMask.h"
#include "ScopeExit.h"
#include "ScopedSeam.h"
#include "TempTree.h"

namespace vorn {
namespace {

using test::ScopedSeam;

using test::TempTree;
using ::testing::ElementsAre;

TEST(MaskMatches, WildcardsIgnoreCaseAndStarDotStarTakesEveryName) {
  EXPECT_TRUE(MaskMatches("a.txt", "*.Txt"));
  EXPECT_TRUE(MaskMatches("B.TXT", "*.Txt"));
  EXPECT_FALSE(MaskMatches("notes.txt.bak", "*.txt"));
  EXPECT_TRUE(MaskMatches("abc", "a?c"));
  EXPECT_FALSE(MaskMatches("ac", "a?c"));
  EXPECT_TRUE(MaskMatches("\xC3\xA9t\xC3\xA9", "?t?"));  // "?" is one character, not one byte
  EXPECT_TRUE(MaskMatches("Makefile", "*.*"));
  EXPECT_TRUE(MaskMatches("a.b.c", "*.*"));
  EXPECT_TRUE(MaskMatches("anything", "*"));
  EXPECT_TRUE(MaskMatches("readme", "readme.*"));
  EXPECT_TRUE(MaskMatches("x[1].c", "x[1].c"));  // brackets are plain characters
  EXPECT_FALSE(MaskMatches("abd", "a*c"));
}

TEST(MaskMatches, SeveralMasksMatchWhenAnyDoesAndEmptyPartsCountForNothing) {
  EXPECT_TRUE(MaskMatches("a.c", "*.c;*.h"));
  EXPECT_TRUE(MaskMatches("B.H", ";*.c;;*.h;"));
  EXPECT_FALSE(MaskMatches("a.cpp", "*.c;*.h"));
  EXPECT_TRUE(MaskMatches("readme", "*.md;readme.*"));  // each part keeps the ".*" rule
  EXPECT_FALSE(MaskMatches("a;b", "a;b"));              // ";" always separates
  EXPECT_FALSE(MaskMatches("a.c", ";;"));
  EXPECT_FALSE(MaskMatches("a.c", ""));
}

// Parts are trimmed; "!" parts leave files out, and "!...\/" parts leave folders out of a
// listing, unentered; a mask of exclusions only takes every other file.
TEST(ListFilesRecursive, ExclusionMasksLeaveFilesAndFoldersOut) {
  TempTree t;
  for (const char* name : {"a.c", "a.h", "a_test.c", "x.min.js", "x.js", "Build/b.c", "src/c.c",
                           "src/build/d.h", "src/node_modules/e.js", "builder/f.c"})
    t.Write(name, "");
  const auto listed = [&t](const char* mask) {
    std::vector<std::string> names;
    for (const std::string& path : ListFilesRecursive(t.root(), mask))
      names.push_back(path.substr(t.root().size()));
    return names;
  };
  EXPECT_THAT(listed("*.c; *.h"), ElementsAre("Build/b.c", "a.c", "a.h", "a_test.c", "builder/f.c",
                                              "src/build/d.h", "src/c.c"));
  EXPECT_THAT(listed("*.c;*.h;!*_test.c;!build/"),
              ElementsAre("a.c", "a.h", "builder/f.c", "src/c.c"));
  EXPECT_THAT(listed(" ! *.MIN.js ; !node_modules/;*.js"), ElementsAre("x.js"));
  EXPECT_THAT(listed("!*.c;!*.h;!bu*/"), ElementsAre("src/node_modules/e.js", "x.js", "x.min.js"));
  EXPECT_THAT(ListFiles(t.root(), "!*.c;!*.js"), ElementsAre("a.h"));
  EXPECT_TRUE(listed("!").empty());  // nothing left to take or leave: as an empty mask
  for (const char* bad : {"src/", "*.c;!src/build/", "!src/*.c"})
    EXPECT_FALSE(FileMask(bad).Fault().empty()) << bad;
  EXPECT_TRUE(FileMask("*.c; !build/ ;;").Fault().empty());
  // Parts that take every name, beside an exclusion or not.
  for (const char* every : {"*", "*.*", "**.*", "x;*.*"})
    EXPECT_TRUE(FileMask(every).TakesFile("Makefile")) << every;
  EXPECT_FALSE(FileMask(".*").TakesFile("Makefile"));
  EXPECT_FALSE(FileMask("*.*;!make*").TakesFile("Makefile"));
}

TEST(ListFiles, BareNamesOfMatchingRegularFilesInByteOrder) {
  TempTree t;
  for (const char* name : {"b.TXT", "a.txt", "c.log", ".hidden.txt"}) t.Write(name, "");
  t.MakeDir("d.txt");
  t.Symlink("a.txt", "link.txt");
  t.Symlink("d.txt", "dirlink.txt");
  t.Fifo("pipe.txt");
  EXPECT_THAT(ListFiles(t.root(), "*.Txt"),
              ElementsAre(".hidden.txt", "a.txt", "b.TXT", "link.txt"));
  // Without the trailing separator the directory is the same.
  std::string noSlash = t.root();
  noSlash.pop_back();
  EXPECT_EQ(ListFiles(noSlash, "*.*").size(), 5u);
  EXPECT_TRUE(ListFiles(t.Path("missing"), "*.*").empty());
  EXPECT_TRUE(ListFiles(t.root(), "*.zip").empty());
}

TEST(ListFilesRecursive, FiltersBareNamesSkipsDotNamesAndLinkedDirectories) {
  TempTree t;
  for (const char* name :
       {"notes.txt", "notes.txt.bak", "data.bin", "old.txt.files/data.bin",
        "old.txt.files/inner.txt", "sub/deeper/x.TXT", ".git/config.txt", "sub/.dot.txt"})
    t.Write(name, "");
  t.Symlink(t.root(), "sub/loop");  // a link loop must not recurse
  t.Symlink("../notes.txt", "sub/linked.txt");
  t.Fifo("sub/fifo.txt");
  EXPECT_THAT(ListFilesRecursive(t.root(), "*.Txt"),
              ElementsAre(t.Path("notes.txt"), t.Path("old.txt.files/inner.txt"),
                          t.Path("sub/deeper/x.TXT"), t.Path("sub/linked.txt")));
  EXPECT_EQ(ListFilesRecursive(t.root(), "*").size(), 7u);
  EXPECT_EQ(ListFilesRecursive(t.root(), "*.*").size(), 7u);
  EXPECT_TRUE(ListFilesRecursive(t.Path("nothing/"), "*").empty());
}

TEST(ListFilesRecursive, FollowsLinksToFoldersOnceAndHiddenNamesOnRequest) {
  TempTree t;
  for (const char* name : {"real/a.txt", "real/.h/b.txt", ".top.txt"}) t.Write(name, "");
  t.Symlink("real", "link1");         // two links to one folder: listed once, where first met
  t.Symlink("../real", "real/loop");  // a loop: never followed
  t.Symlink(t.root(), "real/up");
  t.Symlink("nowhere", "dangling");
  std::vector<std::pair<std::string, int>> failures;
  const auto list = [&](const ListingOptions& options) {
    FileList out;
    failures.clear();
    ListFilesRecursive(
        t.root(), "*", {}, [&](std::string&& p) { out.push_back(p.substr(t.root().size())); },
        [&](const std::string& p, int e) { failures.emplace_back(p.substr(t.root().size()), e); },
        options);
    return out;
  };
  EXPECT_THAT(list({}), ElementsAre("real/a.txt"));
  EXPECT_TRUE(failures.empty());
  ListingOptions options;
  options.followLinks = true;
  EXPECT_THAT(list(options), ElementsAre("link1/a.txt"));
  EXPECT_THAT(failures, ElementsAre(std::pair<std::string, int>("dangling", ENOENT)));
  options.hidden = true;
  EXPECT_THAT(list(options), ElementsAre(".top.txt", "link1/.h/b.txt", "link1/a.txt"));
}

TEST(ListFilesRecursive, VisitsEachDirectoryAndCanBeAbandoned) {
  TempTree t;
  for (const char* name : {"a/1.txt", "b/2.txt", "c/3.txt"}) t.Write(name, "");
  int visits = 0;
  EXPECT_EQ(ListFilesRecursive(t.root(), "*", [&] { return ++visits, true; }).size(), 3u);
  EXPECT_EQ(visits, 4);
  visits = 0;
  const FileList partial = ListFilesRecursive(t.root(), "*", [&] { return ++visits < 3; });
  EXPECT_THAT(partial, ElementsAre(t.Path("a/1.txt")));
}

// Root reads every folder, so as root the listing runs in a child that has become an
// ordinary user; the child reports what it listed through a pipe.
std::vector<std::string> ListAsOrdinaryUser(const std::string& root) {
  if (geteuid() != 0) return ListFilesRecursive(root, "*");
  int fds[2];
  if (pipe(fds) != 0) return {"pipe failed"};
  const pid_t child = fork();
  if (child == 0) {
    close(fds[0]);
    if (setgid(65534) != 0 || setuid(65534) != 0) _exit(2);
    std::string out;
    for (const std::string& path : ListFilesRecursive(root, "*")) out += path + "\n";
    if (write(fds[1], out.data(), out.size()) != static_cast<ssize_t>(out.size())) _exit(3);
    _exit(0);
  }
  close(fds[1]);
  std::string text;
  char buffer[4096];
  ssize_t n;
  while ((n = read(fds[0], buffer, sizeof buffer)) > 0) text.append(buffer, static_cast<size_t>(n));
  close(fds[0]);
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  std::vector<std::string> paths;
  for (size_t start = 0, end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
    paths.push_back(text.substr(start, end - start));
  return paths;
}

TEST(ListFilesRecursive, SkipsUnreadableDirectoriesAndGoesOn) {
  TempTree t;
  t.Write("a-open/a.txt", "");
  t.Write("b-closed/b.txt", "");
  t.Write("c-open/c.txt", "");
  for (const char* dir : {"a-open", "c-open"}) chmod(t.Path(dir).c_str(), 0755);
  for (const char* file : {"a-open/a.txt", "c-open/c.txt"}) chmod(t.Path(file).c_str(), 0644);
  chmod(t.Path("b-closed").c_str(), 0);
  chmod(t.root().c_str(), 0755);  // the ordinary user must reach the folder itself
  EXPECT_THAT(ListAsOrdinaryUser(t.root()),
              ElementsAre(t.Path("a-open/a.txt"), t.Path("c-open/c.txt")));
}

TEST(PathHelpers, TrailingSeparatorProgramDirectoryAndFilesInUse) {
  EXPECT_EQ(AddTrailingBackslash("/data"), "/data/");
  EXPECT_EQ(AddTrailingBackslash("/data/"), "/data/");
  EXPECT_EQ(AddTrailingBackslash(""), "");
  const std::string dir = ProgramDirectory();
  ASSERT_FALSE(dir.empty());
  EXPECT_EQ(dir.front(), '/');
  EXPECT_EQ(dir.back(), '/');
  EXPECT_EQ(ProgramPath().substr(0, dir.size()), dir);
  TempTree t;
  t.Write("f.txt", "x");
  t.Fifo("pipe");
  EXPECT_FALSE(IsFileInUse(t.Path("f.txt")));
  EXPECT_TRUE(IsFileInUse(t.Path("missing.txt")));
  EXPECT_FALSE(IsFileInUse(t.Path("pipe")));  // opening must not block on a FIFO
}

}  // namespace
}  // namespace vorn

namespace vorn {
namespace {

TEST(StartProgram, RunsDetachedWithoutAShellAndLeavesNoZombie) {
  test::TempTree t;
  const std::string marker = t.Path("a b; $(c) 'd'");
  StartProgram({"touch", marker});  // the argument is one file name, not shell text
  for (int i = 0; i < 200 && access(marker.c_str(), F_OK) != 0; ++i) usleep(10000);
  EXPECT_EQ(access(marker.c_str(), F_OK), 0);
  EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1);  // no child of ours is left to reap
  StartProgram({"/no/such/program"});            // nothing reported, nothing thrown
  StartProgram({});
}

TEST(StartProgram, ChildGetsTheStartingDescriptorLimitBack) {
  rlimit limit{};
  ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &limit), 0);
  if (StartingDescriptorLimit() >= limit.rlim_max && !getenv("VORN_LOWERED_LIMIT")) {
    // Nothing could be raised here: the test runs again in a process started lower.
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      limit.rlim_cur = std::min<rlim_t>(256, limit.rlim_max / 2);
      setrlimit(RLIMIT_NOFILE, &limit);
      setenv("VORN_LOWERED_LIMIT", "1", 1);
      const std::string self = ProgramPath();
      execl(self.c_str(), self.c_str(),
            "--gtest_filter=StartProgram.ChildGetsTheStartingDescriptorLimitBack", nullptr);
      _exit(127);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    return;
  }
  test::TempTree t;
  const std::string marker = t.Path("limit");
  RaiseDescriptorLimit();
  StartProgram({"/bin/sh", "-c", "ulimit -Sn > \"$0.part\" && mv \"$0.part\" \"$0\"", marker});
  for (int i = 0; i < 500 && access(marker.c_str(), F_OK) != 0; ++i) usleep(10000);
  const unsigned long start = StartingDescriptorLimit();
  EXPECT_EQ(test::ReadFile(marker),
            (start == RLIM_INFINITY ? std::string("unlimited") : std::to_string(start)) + "\n");
  rlimit now{};
  ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &now), 0);
  EXPECT_EQ(now.rlim_cur, now.rlim_max);  // the program itself keeps the raised limit
}

TEST(StartProgram, SeamsCaptureWhatTheProgramAskedFor) {
  std::vector<std::vector<std::string>> started;
  {
    const ScopedSeam starter(SetProgramStarter,
                             [&](const std::vector<std::string>& a) { started.push_back(a); });
    OpenInBrowser("http://example.invalid/search?q=%20a");
    StartProgram({"xdg-open", "/tmp/"});
  }
  ASSERT_EQ(started.size(), 2u);
  EXPECT_EQ(started[0],
            (std::vector<std::string>{"xdg-open", "http://example.invalid/search?q=%20a"}));
  EXPECT_EQ(started[1], (std::vector<std::string>{"xdg-open", "/tmp/"}));
  std::string outer, inner;
  {
    const ScopedSeam opener(SetBrowserOpener, [&](const std::string& a) { outer = a; });
    {
      const ScopedSeam nested(SetBrowserOpener, [&](const std::string& a) { inner = a; });
      OpenInBrowser("Http://host/quillo");
    }
    OpenInBrowser("Http://host/back");  // the nested stand-in is gone, the outer one is back
  }
  EXPECT_EQ(inner, "Http://host/quillo");
  EXPECT_EQ(outer, "Http://host/back");
}

}  // namespace
}  // namespace vorn

namespace vorn {
namespace {

TEST(LocalFileSize, SizesFollowLinksAndKeepTheLow32Bits) {
  test::TempTree t;
  t.Write("f.bin", std::string(1234, 'x'));
  t.Write("empty", "");
  t.MakeDir("dir");
  t.Symlink(t.Path("f.bin"), "link");
  EXPECT_EQ(LocalFileSize(t.Path("f.bin")), 1234);
  EXPECT_EQ(LocalFileSize(t.Path("empty")), 0);
  EXPECT_EQ(LocalFileSize(t.Path("link")), 1234);
  EXPECT_EQ(LocalFileSize(t.Path("dir")), 0);
  EXPECT_EQ(LocalFileSize(t.Path("missing")), -1);
  EXPECT_EQ(LocalFileSize(""), -1);
  // Sparse files: sizes past 2 GiB wrap the way a 32-bit size does.
  t.Write("big", "");
  ASSERT_EQ(truncate(t.Path("big").c_str(), (off_t{1} << 32) + 5), 0);
  EXPECT_EQ(LocalFileSize(t.Path("big")), 5);
  ASSERT_EQ(truncate(t.Path("big").c_str(), off_t{3} << 30), 0);
  EXPECT_EQ(LocalFileSize(t.Path("big")), -(1 << 30));
  // The full size, for a check that the whole file is there.
  EXPECT_EQ(FileSize(t.Path("big")), std::int64_t{3} << 30);
  EXPECT_EQ(FileSize(t.Path("link")), 1234);
  EXPECT_EQ(FileSize(t.Path("dir")), -1);
  EXPECT_EQ(FileSize(t.Path("missing")), -1);
}

}  // namespace
}  // namespace vorn

namespace vorn {
namespace {

// A cleanup's error reaches the caller on a plain way out; while another error unwinds, that
// first error goes on instead of ending the program. The cleanup runs once either way.
TEST(ScopeExit, ACleanupThatThrowsNeverEndsTheProgram) {
  int runs = 0;
  const auto throwing = [&runs] {
    ++runs;
    throw std::runtime_error("cleanup");
  };
  std::string caught;
  try {
    ScopeExit cleanup(throwing);
  } catch (const std::exception& e) {
    caught = e.what();
  }
  EXPECT_EQ(caught, "cleanup");  // a guard that drops the cleanup's error catches nothing
  EXPECT_EQ(runs, 1);
  caught.clear();
  try {
    ScopeExit cleanup(throwing);
    throw std::logic_error("work");
  } catch (const std::exception& e) {
    caught = e.what();
  }
  EXPECT_EQ(caught, "work");
  EXPECT_EQ(runs, 2);
  // Dismissed, it runs nothing.
  {
    ScopeExit cleanup(throwing);
    cleanup.Dismiss();
  }
  EXPECT_EQ(runs, 2);
}

}  // namespace
}  // namespace vorn
