#include "IgnoreRules.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "TempTree.h"
#include "io.h"

namespace vorn {
namespace {

using test::TempTree;

// Sets an environment variable for the test's length.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const std::string& value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old, had_ = true;
    setenv(name, value.c_str(), 1);
  }
  ~ScopedEnv() {
    if (had_)
      setenv(name_, old_.c_str(), 1);
    else
      unsetenv(name_);
  }

 private:
  const char* name_;
  std::string old_;
  bool had_ = false;
};

std::vector<std::string> Lines(const std::string& command) {
  std::vector<std::string> out;
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return out;
  std::string line;
  for (int c; (c = std::fgetc(pipe)) != EOF;) {
    if (c != '\n') {
      line += static_cast<char>(c);
    } else {
      out.push_back(line);
      line.clear();
    }
  }
  pclose(pipe);
  std::sort(out.begin(), out.end());
  return out;
}

std::vector<std::string> Listed(const std::string& top, std::string_view mask = "*") {
  ListingOptions options;
  options.ignoreFiles = options.hidden = true;
  std::vector<std::string> out;
  for (const std::string& path : ListFilesRecursive(top, mask, {}, options))
    out.push_back(path.substr(top.size()));
  std::sort(out.begin(), out.end());
  return out;
}

// Each rule kind of git's, in a repository the test makes: the listing must take exactly the
// files git itself lists as tracked or untracked and not ignored.
TEST(IgnoreRules, ListingEqualsWhatGitLists) {
  if (std::system("git --version >/dev/null 2>&1") != 0) GTEST_SKIP() << "no git";
  TempTree t;
  const std::string home = t.Path("home");
  const ScopedEnv h("HOME", home), x("XDG_CONFIG_HOME", home + "/xdg"),
      s("GIT_CONFIG_NOSYSTEM", "1");
  const std::string repo = t.Path("repo/");
  ASSERT_EQ(std::system(("git init -q '" + repo + "'").c_str()), 0);
  t.Write("home/.gitconfig", "[user]\n\tname = x\n[core]\n\texcludesFile = \"~/my ignore\"\n");
  t.Write("home/my ignore", "*.global\n");
  t.Write("home/xdg/git/ignore", "*.xdg\n");  // core.excludesFile is set: this one is not read
  t.Write("repo/.git/info/exclude", "*.excluded\n");
  t.Write("repo/.gitignore",
          "# comment\n*.o\n!keep.o\n/build/\ndoc/*.txt\n**/cache\nlogs/**\n!logs/keep.log\n"
          "tmp/\nout/\n!out/wanted\nx/**/y\n\\#hash\n\\!bang\nsp\\ \ntrail   \n*.[ab]\n"
          "file[0-9].txt\n[!q]z.z\nlit[[:digit:]]x\n!sub/renamed.o\nCRLF\r\n");
  t.Write("repo/sub/.gitignore", "!*.o\n/only-here\nnested/deep.c\n");
  for (const char* name : {"a.c",
                           "a.o",
                           "keep.o",
                           "build/b.c",
                           "sub/build/b.c",
                           "doc/d.txt",
                           "doc/inner/d.txt",
                           "m/cache/c",
                           "cache",
                           "logs/a.log",
                           "logs/keep.log",
                           "logs/x/keep.log",
                           "tmp",
                           "u/tmp/t",
                           "out/wanted",
                           "x/y",
                           "x/1/2/y",
                           "xy/y",
                           "#hash",
                           "!bang",
                           "sp ",
                           "sp",
                           "trail",
                           "v.a",
                           "v.b",
                           "v.c",
                           "file5.txt",
                           "filex.txt",
                           "qz.z",
                           "rz.z",
                           "lit7x",
                           "litxx",
                           "sub/s.o",
                           "sub/only-here",
                           "only-here",
                           "sub/nested/deep.c",
                           "sub/x/nested/deep.c",
                           "CRLF",
                           ".hidden",
                           "h.global",
                           "h.xdg",
                           "h.excluded",
                           "sub/renamed.o"})
    t.Write(std::string("repo/") + name, "x");
  const std::string git = "cd '" + repo + "' && git ls-files --cached --others --exclude-standard";
  EXPECT_EQ(Listed(repo), Lines(git));
  // Listing a folder of the work tree, the rules of the folders above apply too.
  EXPECT_EQ(Listed(repo + "sub/"),
            Lines("cd '" + repo + "sub' && git ls-files -co --exclude-standard"));
  // What git tracks although its rules ignore it is listed; in an ignored folder, only that.
  ASSERT_EQ(std::system(("cd '" + repo + "' && git add -A && git add -f a.o build/b.c").c_str()),
            0);
  t.Write("repo/build/new.c", "x");
  EXPECT_EQ(Listed(repo), Lines(git));
  ASSERT_EQ(std::system(("cd '" + repo + "' && git update-index --index-version 4").c_str()), 0);
  EXPECT_EQ(Listed(repo), Lines(git));  // the index's compressed form reads the same
  // The MASK's exclusions still apply.
  std::vector<std::string> masked = Lines(git);
  std::erase_if(masked, [](const std::string& p) { return p.ends_with(".c"); });
  EXPECT_EQ(Listed(repo, "!*.c"), masked);
}

TEST(IgnoreRules, IgnoreFilesWinInsideAndOutsideWorkTreesAndRepositoriesAreNotEntered) {
  TempTree t;
  const ScopedEnv h("HOME", t.Path("home")), x("XDG_CONFIG_HOME", t.Path("home/xdg"));
  t.MakeDir("git/.git/info");
  t.Write("git/.gitignore", "*.log\n");
  t.Write("git/sub/.ignore", "!*.log\n*.tmp\n");
  t.Write("git/sub/.gitignore", "*.tmp\n!*.tmp\n");
  for (const char* name : {"git/a.log", "git/sub/b.log", "git/sub/c.tmp", "git/sub/d.c",
                           "git/.git/config", "git/.hg/h", "git/.svn/s", "git/e/.hg"})
    t.Write(name, "x");
  EXPECT_THAT(Listed(t.Path("git/")),
              ::testing::ElementsAre(".gitignore", "e/.hg", "sub/.gitignore", "sub/.ignore",
                                     "sub/b.log", "sub/d.c"));
  // Outside a work tree .gitignore files mean nothing, .ignore files still apply, from the
  // folders above too.
  t.Write("plain/.gitignore", "*.c\n");
  t.Write("plain/.ignore", "*.tmp\n");
  for (const char* name : {"plain/a.c", "plain/in/b.tmp", "plain/in/c.txt"}) t.Write(name, "x");
  EXPECT_THAT(Listed(t.Path("plain/in/")), ::testing::ElementsAre("c.txt"));
  // One folder alone keeps its dot files as always, less the ignored ones.
  ListingOptions options;
  options.ignoreFiles = true;
  EXPECT_THAT(ListFiles(t.Path("plain/"), "*", options),
              ::testing::ElementsAre(".gitignore", ".ignore", "a.c"));
}

TEST(WildMatch, ClassesEscapesAndDoubleStars) {
  EXPECT_TRUE(WildMatch("a/**/b", "a/b"));
  EXPECT_TRUE(WildMatch("a/**/b", "a/x/y/b"));
  EXPECT_FALSE(WildMatch("a/*/b", "a/x/y/b"));
  EXPECT_TRUE(WildMatch("**/b", "b"));
  EXPECT_FALSE(WildMatch("a**b/c", "ax/yb/c"));  // "**" beside other bytes is one "*"
  EXPECT_TRUE(WildMatch("[]x]", "]"));
  EXPECT_TRUE(WildMatch("[^a-c]", "d"));
  EXPECT_FALSE(WildMatch("[!a-c]", "b"));
  EXPECT_FALSE(WildMatch("a?b", "a/b"));
  EXPECT_TRUE(WildMatch("\\*", "*"));
  EXPECT_FALSE(WildMatch("\\*", "x"));
  EXPECT_FALSE(WildMatch("[a", "a"));
  EXPECT_TRUE(WildMatch("[[:upper:][:digit:]]", "7"));
  // A hostile rule file costs no time: stars give up as soon as no later start can match.
  std::string stars, deep, folders;
  for (int i = 0; i < 40; ++i) stars += "*a";
  for (int i = 0; i < 20; ++i) deep += "**/a";
  for (int i = 0; i < 200; ++i) folders += "a/";
  EXPECT_FALSE(WildMatch(stars + "b", std::string(255, 'a')));
  EXPECT_FALSE(WildMatch(deep + "/b", folders + "c"));
}

}  // namespace
}  // namespace vorn
