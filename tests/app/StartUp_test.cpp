// The window program's command line, read before any window system is needed, and its start
// folder.
#include "StartUp.h"

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "TempTree.h"
#include "io.h"

using namespace vorn;

namespace {

struct Outcome {
  std::string out;
  int status;
};

// Runs the real program with no display of any kind, so a run that reaches the window system
// fails.
Outcome RunVorn(const std::string& args, const char* streams) {
  const std::string command = "env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM '" +
                              std::string(VORN_PROGRAM_PATH) + "' " + args + " " + streams;
  FILE* p = popen(command.c_str(), "r");
  std::string out;
  char buffer[4096];
  for (size_t n; (n = fread(buffer, 1, sizeof buffer, p)) > 0;) out.append(buffer, n);
  const int status = pclose(p);
  return {out, WIFEXITED(status) ? WEXITSTATUS(status) : -1};
}

StartArgs Parse(std::vector<std::string> words) {
  static std::vector<std::string> kept;
  kept = std::move(words);
  kept.insert(kept.begin(), "vorn");
  static std::vector<char*> argv;
  argv.clear();
  for (std::string& w : kept) argv.push_back(w.data());
  return ParseStartArgs(static_cast<int>(argv.size()), argv.data());
}

TEST(StartUp, HelpVersionAndMistakesNeedNoDisplay) {
  const Outcome version = RunVorn("--version", "2>&1");
  EXPECT_EQ(version.out, "vorn " VORN_VERSION "\n");
  EXPECT_EQ(version.status, 0);
  const Outcome help = RunVorn("-platform xcb --help extra", "2>/dev/null");
  EXPECT_EQ(help.out.rfind(kStartUsage, 0), 0u) << help.out;
  EXPECT_NE(help.out.find("\n  --version "), std::string::npos);
  EXPECT_EQ(help.status, 0);
  // The update's handshake answers on the descriptor named, without a window.
  const Outcome handshake = RunVorn("--update-handshake 1", "2>&1");
  EXPECT_EQ(handshake.out, "ready " VORN_VERSION "\n");
  EXPECT_EQ(handshake.status, 0);
  for (const char* bad : {"--bogus", "-x", "--versio", "/no/such/folder/", "one two", "-style",
                          "--update-handshake"}) {
    SCOPED_TRACE(bad);
    EXPECT_EQ(RunVorn(bad, "2>/dev/null").out, "");
    const Outcome error = RunVorn(bad, "2>&1 >/dev/null");
    EXPECT_EQ(error.status, 2);
    EXPECT_EQ(error.out.rfind("vorn: ", 0), 0u) << error.out;
    EXPECT_NE(error.out.find(kStartUsage), std::string::npos) << error.out;
  }
}

TEST(StartUp, DirectoryArgumentNamesAFolderWithItsTrailingSlash) {
  test::TempTree tree;
  tree.Write("a b/%41.txt", "x\n");
  const std::string folder = tree.Path("a b/");
  std::string url = "file://" + tree.root() + "a%20b";
  struct Case {
    std::vector<std::string> args;
    std::string directory;  // empty: an error
  };
  const Case cases[] = {
      {{folder.substr(0, folder.size() - 1)}, folder},
      {{tree.root() + "a b/../a b//"}, folder},
      {{url}, folder},
      {{"file://localhost" + tree.root() + "a%20b/"}, folder},
      {{folder + "%41.txt"}, folder},  // a file: its folder
      {{url + "/%2541.txt"}, folder},
      {{"-platform", "offscreen", "--", folder}, folder},
      {{}, ""},
      {{"file://elsewhere" + tree.root()}, ""},
      {{"http://example.org/"}, ""},
      {{url + "%2"}, ""},
      {{folder + "missing"}, ""},
      {{folder, folder}, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args.empty() ? "(none)" : c.args.back());
    const StartArgs args = Parse(c.args);
    EXPECT_EQ(args.directory, c.directory);
    const bool error = c.directory.empty() && !c.args.empty();
    EXPECT_EQ(args.action, error ? StartArgs::Action::Error : StartArgs::Action::Run);
  }
  // The GUI library gets its own options, never the folder.
  const StartArgs args = Parse({"--style=Fusion", folder, "-platform", "offscreen"});
  ASSERT_EQ(args.guiArgv.size(), 5u);
  EXPECT_STREQ(args.guiArgv[1], "--style=Fusion");
  EXPECT_STREQ(args.guiArgv[3], "offscreen");
  EXPECT_EQ(args.guiArgv[4], nullptr);
}

TEST(StartUp, PackagedCopyStartsAtHomePortableCopyInItsOwnFolder) {
  EXPECT_EQ(StartFolder(true), ProgramDirectory());
  const char* home = std::getenv("HOME");
  const std::string saved = home ? home : "";
  setenv("HOME", "/srv/someone", 1);
  EXPECT_EQ(StartFolder(false), "/srv/someone/");
  setenv("HOME", "", 1);  // unusable: the password database's entry
  EXPECT_EQ(StartFolder(false).back(), '/');
  EXPECT_EQ(StartFolder(false).front(), '/');
  if (home)
    setenv("HOME", saved.c_str(), 1);
  else
    unsetenv("HOME");
}

}  // namespace
