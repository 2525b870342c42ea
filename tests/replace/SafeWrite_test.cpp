#include "SafeWrite.h"

#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <regex>
#include <string>
#include <vector>

#include "ScopedSeam.h"
#include "TempTree.h"
#include "UndoStore.h"

namespace vorn {
namespace {

constexpr const char* kUsage = "usage: vorn-find [OPTION...] DIRECTORY MASK TEXT\n";

using test::ReadFile;
using test::TempTree;

std::string Output(const std::string& command) {
  std::string out;
  FILE* pipe = popen(command.c_str(), "r");
  char buffer[4096];
  for (size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, n);
  pclose(pipe);
  return out;
}

std::vector<std::string> Names(const std::string& folder) {
  std::vector<std::string> names;
  DIR* dir = opendir(folder.c_str());
  while (dirent* e = readdir(dir))
    if (std::string(e->d_name) != "." && std::string(e->d_name) != "..")
      names.emplace_back(e->d_name);
  closedir(dir);
  std::sort(names.begin(), names.end());
  return names;
}

std::unique_ptr<Substitution> Foo() {
  std::string error;
  return Substitution::Make({"foo", false, true, false}, "bar", &error);
}

WriteRules Rules(const TempTree& tree, bool outside = false) {
  char* real = realpath(tree.root().c_str(), nullptr);
  WriteRules rules{real, outside};
  std::free(real);
  return rules;
}

WriteStep failAt;
int failWith = 0;
int FailOne(WriteStep step, const char*) { return step == failAt ? failWith : 0; }
int KillAt(WriteStep step, const char*) {
  if (step == failAt) _exit(9);
  return 0;
}

// A failure at every step before the rename leaves the old bytes and no temporary file, and
// says why; one after it leaves the new bytes. Killed at any step, the file is old or new,
// and a temporary file left behind is named for it.
TEST(SafeWrite, EveryFileIsWhollyOldOrWhollyNew) {
  const auto foo = Foo();
  const std::vector<WriteStep> steps = {
      WriteStep::Create, WriteStep::Write,      WriteStep::Owner,
      WriteStep::Mode,   WriteStep::Attributes, WriteStep::Flush,
      WriteStep::Keep,   WriteStep::Rename,     WriteStep::FlushFolder};
  for (const int error : {ENOSPC, EDQUOT, EIO, EACCES}) {
    for (const WriteStep step : steps) {
      TempTree tree;
      tree.Write("a.txt", "one foo\r\ntwo");
      const FilePlan plan = PlanFile(tree.Path("a.txt"), *foo, nullptr);
      failAt = step;
      failWith = error;
      UndoStore undo;
      WriteOutcome outcome;
      {
        test::ScopedSeam<WriteFault> seam(SetWriteFault, FailOne);
        outcome = ReplaceInFile(plan, {}, Rules(tree), &undo);
      }
      const bool after = step == WriteStep::FlushFolder;
      EXPECT_EQ(ReadFile(tree.Path("a.txt")), after ? "one bar\r\ntwo" : "one foo\r\ntwo");
      EXPECT_EQ(outcome.replaced, after);
      EXPECT_EQ(outcome.reason, after ? "" : std::strerror(error));
      EXPECT_EQ(Names(tree.root()), std::vector<std::string>{"a.txt"});
      EXPECT_EQ(undo.Count(), after ? 1u : 0u);
    }
  }
  for (const WriteStep step : steps) {
    TempTree tree;
    tree.Write("a.txt", "one foo");
    const FilePlan plan = PlanFile(tree.Path("a.txt"), *foo, nullptr);
    failAt = step;
    const pid_t child = fork();
    if (child == 0) {
      SetWriteFault(KillAt);
      ReplaceInFile(plan, {}, Rules(tree), nullptr);
      _exit(0);
    }
    int status = 0;
    waitpid(child, &status, 0);
    const std::string now = ReadFile(tree.Path("a.txt"));
    EXPECT_EQ(now, step >= WriteStep::FlushFolder ? "one bar" : "one foo");
    for (const std::string& name : Names(tree.root()))
      if (name != "a.txt") {
        EXPECT_TRUE(std::regex_match(name, std::regex(R"(\.a\.txt\.vorn-[A-Za-z0-9]{6})"))) << name;
      }
  }
}

// The refusals: each file left as it was, with its reason.
TEST(SafeWrite, LeavesAloneWhatItMustNotWrite) {
  const auto foo = Foo();
  TempTree tree, elsewhere;
  tree.Write("changed.txt", "foo");
  tree.Write("linked.txt", "foo");
  ASSERT_EQ(link(tree.Path("linked.txt").c_str(), tree.Path("second.txt").c_str()), 0);
  tree.Write("readonly.txt", "foo");
  chmod(tree.Path("readonly.txt").c_str(), 0444);
  tree.Write("binary.txt", std::string("foo\0", 4));
  elsewhere.Write("target.txt", "foo");
  tree.Symlink(elsewhere.Path("target.txt"), "out.txt");
  const struct {
    const char* name;
    const char* reason;
  } table[] = {
      {"changed.txt", "changed since the preview"},
      {"linked.txt", "has other hard links"},
      {"readonly.txt", "read-only"},
      {"binary.txt", "binary"},
      {"out.txt", "outside the searched folder"},
  };
  std::vector<FilePlan> plans;
  for (const auto& row : table) plans.push_back(PlanFile(tree.Path(row.name), *foo, nullptr));
  tree.Write("changed.txt", "foo!");
  for (size_t i = 0; i < std::size(table); ++i) {
    const std::string before = ReadFile(tree.Path(table[i].name));
    const WriteOutcome outcome = ReplaceInFile(plans[i], {}, Rules(tree), nullptr);
    EXPECT_FALSE(outcome.replaced) << table[i].name;
    EXPECT_EQ(outcome.reason, table[i].reason) << table[i].name;
    EXPECT_FALSE(outcome.error);
    EXPECT_EQ(ReadFile(tree.Path(table[i].name)), before);
  }
  struct stat st {};
  stat(tree.Path("readonly.txt").c_str(), &st);
  EXPECT_EQ(st.st_mode & 0777, 0444u);

  // Allowed, the link's target is replaced and the link stays a link.
  EXPECT_TRUE(ReplaceInFile(plans[4], {}, Rules(tree, true), nullptr).replaced);
  EXPECT_EQ(ReadFile(elsewhere.Path("target.txt")), "bar");
  lstat(tree.Path("out.txt").c_str(), &st);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
}

// The new file keeps the mode and the attributes; undo puts back only what the replace left
// as it was, and removes its private folder.
TEST(SafeWrite, KeepsTheFilesWaysAndUndoesOnlyItsOwnWork) {
  const auto foo = Foo();
  TempTree tree;
  tree.Write("a.sh", "echo foo\n");
  tree.Write("b.txt", "foo\n");
  chmod(tree.Path("a.sh").c_str(), 0751);
  const bool attributes = setxattr(tree.Path("a.sh").c_str(), "user.note", "kept", 4, 0) == 0;
  UndoStore undo;
  for (const char* name : {"a.sh", "b.txt"})
    ASSERT_TRUE(
        ReplaceInFile(PlanFile(tree.Path(name), *foo, nullptr), {}, Rules(tree), &undo).replaced);
  struct stat st {};
  stat(tree.Path("a.sh").c_str(), &st);
  EXPECT_EQ(st.st_mode & 07777, 0751u);
  if (attributes) {
    char value[8] = {};
    EXPECT_EQ(getxattr(tree.Path("a.sh").c_str(), "user.note", value, sizeof value), 4);
    EXPECT_STREQ(value, "kept");
  }
  const std::string folder = undo.Folder();
  stat(folder.c_str(), &st);
  EXPECT_EQ(st.st_mode & 0777, 0700u);

  tree.Write("b.txt", "edited since\n");
  const auto outcomes = undo.Undo();
  ASSERT_EQ(outcomes.size(), 2u);
  EXPECT_TRUE(outcomes[0].restored);
  EXPECT_FALSE(outcomes[1].restored);
  EXPECT_EQ(outcomes[1].reason, "changed since the replace");
  EXPECT_EQ(ReadFile(tree.Path("a.sh")), "echo foo\n");
  EXPECT_EQ(ReadFile(tree.Path("b.txt")), "edited since\n");
  EXPECT_NE(access(folder.c_str(), F_OK), 0);
}

// vorn-find: the lines as they would be, nothing written; then written, with the count on
// standard error, a file left alone told, and the exit status.
TEST(SafeWrite, VornFindReplacesInPlace) {
  TempTree tree;
  tree.Write("a.txt", "foo and foo\r\nnone\rFOO");
  tree.Write("ro.txt", "foo");
  chmod(tree.Path("ro.txt").c_str(), 0444);
  const std::string find = std::string(VORN_FIND_PATH) + " " + tree.root() + " '*.txt' ";
  EXPECT_EQ(Output(find + "foo --replace='[$0]' 2>&1"),
            tree.root() + "a.txt (0)  :  [$0] and [$0]\n" + tree.root() + "a.txt (2)  :  [$0]\n" +
                tree.root() + "ro.txt (0)  :  [$0]\n");
  EXPECT_EQ(ReadFile(tree.Path("a.txt")), "foo and foo\r\nnone\rFOO");
  EXPECT_EQ(Output(find + "foo -E --replace='<$0>' --in-place 2>&1; echo \"rc=$?\""),
            "vorn-find: " + tree.root() + "ro.txt: left alone: read-only\n" +
                "3 matches replaced in 1 file\nrc=0\n");
  EXPECT_EQ(ReadFile(tree.Path("a.txt")), "<foo> and <foo>\r\nnone\r<FOO>");
  EXPECT_EQ(Output(find + "zzz --replace=x --in-place 2>&1; echo \"rc=$?\""),
            "0 matches replaced in 0 files\nrc=1\n");
  EXPECT_EQ(Output(find + "foo --in-place 2>&1; echo \"rc=$?\""),
            "vorn-find: '--in-place' needs '--replace=TEXT'\n" + std::string(kUsage) + "rc=2\n");
}

}  // namespace
}  // namespace vorn
