#include "io.h"

#include <gmock/gmock.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "Browser.h"
#include "TempTree.h"
#include <sys/wait.h>

namespace vorn {
namespace {

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

TEST(ListFiles, BareNamesOfMatchingRegularFilesInByteOrder) {
  TempTree t;
  t.Write("b.TXT", "");
  t.Write("a.txt", "");
  t.Write("c.log", "");
  t.Write(".hidden.txt", "");
  t.MakeDir("d.txt");
  t.Symlink("a.txt", "link.txt");
  t.Symlink("d.txt", "dirlink.txt");
  t.Fifo("pipe.txt");
  EXPECT_THAT(ListFiles(t.root(), "*.Txt"), ElementsAre(".hidden.txt", "a.txt", "b.TXT", "link.txt"));
  // Without the trailing separator the directory is the same.
  std::string noSlash = t.root();
  noSlash.pop_back();
  EXPECT_EQ(ListFiles(noSlash, "*.*").size(), 5u);
  EXPECT_TRUE(ListFiles(t.Path("missing"), "*.*").empty());
  EXPECT_TRUE(ListFiles(t.root(), "*.zip").empty());
}

TEST(ListFilesRecursive, FiltersBareNamesSkipsDotNamesAndLinkedDirectories) {
  TempTree t;
  t.Write("notes.txt", "");
  t.Write("notes.txt.bak", "");
  t.Write("data.bin", "");
  t.Write("old.txt.files/data.bin", "");
  t.Write("old.txt.files/inner.txt", "");
  t.Write("sub/deeper/x.TXT", "");
  t.Write(".git/config.txt", "");
  t.Write("sub/.dot.txt", "");
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

TEST(ListFilesRecursive, VisitsEachDirectoryAndCanBeAbandoned) {
  TempTree t;
  t.Write("a/1.txt", "");
  t.Write("b/2.txt", "");
  t.Write("c/3.txt", "");
  int visits = 0;
  EXPECT_EQ(ListFilesRecursive(t.root(), "*", [&] { return ++visits, true; }).size(), 3u);
  EXPECT_EQ(visits, 4);
  visits = 0;
  const FileList partial = ListFilesRecursive(t.root(), "*", [&] { return ++visits < 3; });
  EXPECT_THAT(partial, ElementsAre(t.Path("a/1.txt")));
}

TEST(ListFilesRecursive, SkipsUnreadableDirectories) {
  if (geteuid() == 0) GTEST_SKIP() << "root reads every directory";
  TempTree t;
  t.Write("open/a.txt", "");
  t.Write("closed/b.txt", "");
  chmod(t.Path("closed").c_str(), 0);
  EXPECT_THAT(ListFilesRecursive(t.root(), "*"), ElementsAre(t.Path("open/a.txt")));
}

TEST(PathHelpers, TrailingSeparatorProgramDirectoryAndFilesInUse) {
  EXPECT_EQ(AddTrailingBackslash("/data"), "/data/");
  EXPECT_EQ(AddTrailingBackslash("/data/"), "/data/");
  EXPECT_EQ(AddTrailingBackslash(""), "");
  const std::string dir = ProgramDirectory();
  ASSERT_FALSE(dir.empty());
  EXPECT_EQ(dir.front(), '/');
  EXPECT_EQ(dir.back(), '/');
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

TEST(StartProgram, SeamsCaptureWhatTheProgramAskedFor) {
  std::vector<std::vector<std::string>> started;
  ProgramStarter previous = SetProgramStarter([&](const std::vector<std::string>& a) { started.push_back(a); });
  OpenInBrowser("http://example.invalid/search?q=%20a");
  StartProgram({"xdg-open", "/tmp/"});
  SetProgramStarter(previous);
  ASSERT_EQ(started.size(), 2u);
  EXPECT_EQ(started[0], (std::vector<std::string>{"xdg-open", "http://example.invalid/search?q=%20a"}));
  EXPECT_EQ(started[1], (std::vector<std::string>{"xdg-open", "/tmp/"}));
  std::string opened;
  SetBrowserOpener([&](const std::string& a) { opened = a; });
  OpenInBrowser("Http://host/quillo");
  SetBrowserOpener({});
  EXPECT_EQ(opened, "Http://host/quillo");
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
}

}  // namespace
}  // namespace vorn
