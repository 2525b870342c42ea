#include "ResultActions.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <QLabel>
#include <QPlainTextEdit>
#include <QTimer>
#include <cstdlib>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "About.h"
#include "Browser.h"
#include "ErrorBox.h"
#include "ScopedSeam.h"
#include "TempTree.h"
#include "io.h"
#include "vornUnit2.h"

namespace vorn {
namespace {

using test::ScopedSeam;

const std::string kSearch = std::string("http://") + VORN_SEARCH_HOST + "/search?q=";

// Captures what the actions ask of the platform instead of starting anything.
class ActionsTest : public ::testing::Test {
 protected:
  void SetUp() override { Form2 = new TForm2; }
  void TearDown() override {
    delete Form2;
    Form2 = nullptr;
  }

  std::vector<std::vector<std::string>> started_;
  std::vector<std::string> opened_;
  std::vector<QString> errors_;
  ScopedSeam<ProgramStarter> starter_{
      SetProgramStarter, [this](const std::vector<std::string>& a) { started_.push_back(a); }};
  ScopedSeam<BrowserOpener> opener_{
      SetBrowserOpener, [this](const std::string& address) { opened_.push_back(address); }};
  ScopedSeam<ErrorBoxShower> errorBoxes_{
      SetErrorBoxShower, [this](QWidget*, const QString& text) { errors_.push_back(text); }};
};

TEST_F(ActionsTest, WithoutASelectedLineNothingHappens) {
  ShowFile(std::nullopt);
  OpenContainingFolder(std::nullopt);
  SearchInternetNarrow(std::nullopt);
  SearchInternetWide(std::nullopt);
  EXPECT_TRUE(started_.empty());
  EXPECT_TRUE(opened_.empty());
  EXPECT_TRUE(errors_.empty());
  EXPECT_FALSE(Form2->isVisible());
}

TEST_F(ActionsTest, PathsWithParenthesesColonsAndBlanksStayWhole) {
  test::TempTree tree;
  const std::string path = tree.Path("Program Files (x86)/App: v2/notes (old).txt");
  tree.Write("Program Files (x86)/App: v2/notes (old).txt", "first\nsecond: (a) line\n");
  const SearchHit hit{path, 1, "SECOND: (A) LINE"};

  OpenContainingFolder(hit);
  ASSERT_EQ(started_.size(), 1u);
  EXPECT_EQ(started_[0],
            (std::vector<std::string>{"xdg-open", tree.Path("Program Files (x86)/App: v2/")}));

  ShowFile(hit);
  EXPECT_TRUE(errors_.empty());
  EXPECT_TRUE(Form2->isVisible());
  EXPECT_EQ(Form2->RichEdit1->textCursor().position(), 6);  // the whole found text, colon and all

  // The web searches take the whole found text too, not just what follows a colon.
  SearchInternetNarrow(hit);
  ASSERT_EQ(opened_.size(), 1u);
  EXPECT_EQ(opened_[0], kSearch + "%20SECOND%3A%20%28A%29%20LINE");
}

TEST_F(ActionsTest, ContainingFolderIsAlwaysAnAbsoluteFolder) {
  char cwd[4096];
  ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
  const std::string here = AddTrailingBackslash(cwd);
  EXPECT_EQ(ContainingFolder("/data/a.txt"), "/data/");
  EXPECT_EQ(ContainingFolder("/a.txt"), "/");
  EXPECT_EQ(ContainingFolder("-rf.txt"), here);  // never handed on as an option
  EXPECT_EQ(ContainingFolder("sub/-x/a.txt"), here + "sub/-x/");
  EXPECT_EQ(ContainingFolder(""), here);
}

TEST_F(ActionsTest, NarrowAndWideSearchAddresses) {
  // The worked example: narrow takes every word of two or more, wide the first three of four.
  SearchInternetNarrow(SearchHit{"/f", 0, "ALPHA IS A BETA GAMMA DELTA"});
  SearchInternetWide(SearchHit{"/f", 0, "ALPHA IS A BETA GAMMA DELTA"});
  ASSERT_EQ(opened_.size(), 2u);
  EXPECT_EQ(opened_[0], kSearch + "%20ALPHA%20IS%20BETA%20GAMMA%20DELTA");
  EXPECT_EQ(opened_[1], kSearch + "%20%2BALPHA%20%2BBETA%20%2BGAMMA");

  // Tabs and semicolons split words; order, case and repeats are kept.
  EXPECT_EQ(NarrowSearchAddress("A;BB\tcc;;  BB "), NarrowSearchAddress("A BB cc BB"));
  EXPECT_EQ(NarrowSearchAddress("A;BB\tcc;;  BB "), kSearch + "%20BB%20cc%20BB");
  EXPECT_EQ(WideSearchAddress("abc\tabcd;ab;wxyz"), kSearch + "%20%2Babcd%20%2Bwxyz");

  // Bytes that would break or change the query are encoded.
  EXPECT_EQ(NarrowSearchAddress("R&D #12 50% a=b+c caf\xC3\xA9 x"),
            kSearch + "%20R%26D%20%2312%2050%25%20a%3Db%2Bc%20caf%C3%A9");
  EXPECT_EQ(WideSearchAddress("R&D #123 ~a-b_c.d"), kSearch + "%20%2B%23123%20%2B~a-b_c.d");

  // Nothing qualifies: the bare query address.
  EXPECT_EQ(NarrowSearchAddress("a b ; c"), kSearch);
  EXPECT_EQ(WideSearchAddress("abc de f"), kSearch);
  EXPECT_EQ(WideSearchAddress(""), kSearch);
}

TEST_F(ActionsTest, MakerHomePageAndKeys) {
  OpenMakerHomePage();
  ASSERT_EQ(opened_.size(), 1u);
  EXPECT_EQ(opened_[0], std::string("Http://") + VORN_MAKER_HOST + "/quillo/");

  // The modifiers held are the window's test: the key alone decides.
  EXPECT_TRUE(IsEnterKey(Qt::Key_Return));
  EXPECT_TRUE(IsEnterKey(Qt::Key_Enter));
  EXPECT_FALSE(IsEnterKey(Qt::Key_Space));
}

TEST_F(ActionsTest, AboutWindowGetsItsTitleAndShowsModally) {
  ABoutQuillo = new TABoutQuillo;
  QLabel* caption = ABoutQuillo->StaticText2;
  caption->setText(QStringLiteral("old"));
  bool wasModal = false;
  QTimer::singleShot(0, ABoutQuillo, [&] {
    wasModal = ABoutQuillo->isVisible() && ABoutQuillo->isModal();
    ABoutQuillo->accept();
  });
  ShowAboutWindow();
  EXPECT_TRUE(wasModal);
  EXPECT_EQ(caption->text(), QStringLiteral(" Tessaly "));
  delete ABoutQuillo;
  ABoutQuillo = nullptr;
  ShowAboutWindow();  // no window: nothing
}

// Sets environment variables for a test and puts the old values back.
class ScopedEnv {
 public:
  void Set(const char* name, const std::string& value) {
    Keep(name);
    setenv(name, value.c_str(), 1);
  }
  void Unset(const char* name) {
    Keep(name);
    unsetenv(name);
  }
  ~ScopedEnv() {
    for (const auto& [name, value] : kept_) {
      if (value)
        setenv(name.c_str(), value->c_str(), 1);
      else
        unsetenv(name.c_str());
    }
  }

 private:
  void Keep(const char* name) {
    const char* old = getenv(name);
    kept_.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
  }
  std::vector<std::pair<std::string, std::optional<std::string>>> kept_;
};

// The desktop's default text/plain application's Exec line, or $VISUAL/$EDITOR in a terminal,
// to the argument vector started through the seam: the 1-based line, and the first match's
// column in characters (in bytes for vim).
TEST_F(ActionsTest, OpenInEditorStartsTheUsersEditorAtTheLineAndColumn) {
  test::TempTree home;
  home.MakeDir("config");
  home.MakeDir("data/applications");
  home.MakeDir("bin");
  home.Write("bin/myterm", "#!/bin/sh\n");
  chmod(home.Path("bin/myterm").c_str(), 0755);
  ScopedEnv env;
  env.Set("XDG_CONFIG_HOME", home.Path("config"));
  env.Set("XDG_CONFIG_DIRS", home.Path("none"));
  env.Set("XDG_DATA_HOME", home.Path("data"));
  env.Set("XDG_DATA_DIRS", home.Path("none"));
  env.Set("XDG_CURRENT_DESKTOP", "GNOME");
  env.Set("PATH", home.Path("bin"));
  env.Set("TERMINAL", home.Path("bin/myterm"));
  env.Unset("VISUAL");
  env.Unset("EDITOR");
  const std::string file = "/src/-a b.c";
  const MatchRange match{5, 11};  // "return", after 4 characters of 5 bytes
  const SearchHit hit{file, 916, "  \xC3\xA9 return 0;", false, std::span(&match, 1)};
  const std::string term = home.Path("bin/myterm");

  struct Case {
    const char* exec;
    std::vector<std::string> argv;
  };
  const Case cases[] = {
      {"gedit %U", {"gedit", "+917:5", file}},
      {"kate -b %U", {"kate", "-b", "--line", "917", "--column", "5", file}},
      {"/usr/share/code/code --unity-launch %F",
       {"/usr/share/code/code", "--unity-launch", "--goto", file + ":917:5"}},
      {"mousepad %F", {"mousepad", "--line=917", "--column=5", file}},
      {"/usr/bin/flatpak run --command=gnome-text-editor org.gnome.TextEditor %U",
       {"/usr/bin/flatpak", "run", "--command=gnome-text-editor", "org.gnome.TextEditor", "+917:5",
        file}},
      {"\"/opt/My Editor/ed\" --title=%c", {"/opt/My Editor/ed", "--title=Ed", file}},
  };
  for (const Case& c : cases) {
    home.Write("config/gnome-mimeapps.list", "[Default Applications]\ntext/plain=ed.desktop;\n");
    home.Write("data/applications/ed.desktop",
               std::string("[Desktop Entry]\nName=Ed\nExec=") + c.exec + "\n");
    started_.clear();
    OpenInEditor(hit);
    ASSERT_EQ(started_.size(), 1u) << c.exec;
    EXPECT_EQ(started_[0], c.argv) << c.exec;
  }
  // A terminal application runs in the terminal emulator.
  home.Write("data/applications/ed.desktop", "[Desktop Entry]\nExec=vim %F\nTerminal=true\n");
  started_.clear();
  OpenInEditor(hit);
  EXPECT_EQ(started_.at(0),
            (std::vector<std::string>{term, "-e", "vim", "+call cursor(917,6)", file}));

  // No desktop default: $VISUAL, then $EDITOR; a graphical one runs as it is.
  home.Write("config/gnome-mimeapps.list", "");
  env.Set("VISUAL", "nvim -p");
  env.Set("EDITOR", "nano");
  started_.clear();
  OpenInEditor(hit);
  env.Unset("VISUAL");
  OpenInEditor(hit);
  env.Set("EDITOR", "'/opt/sub l/subl'");
  OpenInEditor(hit);
  EXPECT_EQ(started_, (std::vector<std::vector<std::string>>{
                          {term, "-e", "nvim", "-p", "+call cursor(917,6)", file},
                          {term, "-e", "nano", "+917,5", file},
                          {"/opt/sub l/subl", file + ":917:5"}}));

  // Nothing set up, or the editor cannot start: the error box says so.
  env.Unset("EDITOR");
  Guarded(nullptr, [&] { OpenInEditor(hit); });
  env.Set("EDITOR", "gedit");  // not on PATH
  {
    const ScopedSeam<ProgramStarter> real(SetProgramStarter, {});
    Guarded(nullptr, [&] { OpenInEditor(hit); });
    Guarded(nullptr, [&] { OpenContainingFolder(hit); });  // no xdg-open on PATH
  }
  ASSERT_EQ(errors_.size(), 3u);
  EXPECT_TRUE(errors_[0].contains(QStringLiteral("neither VISUAL nor EDITOR is set")))
      << errors_[0].toStdString();
  EXPECT_EQ(errors_[1], QStringLiteral("Could not start gedit to open the file in the text editor: "
                                       "No such file or directory."));
  EXPECT_EQ(
      errors_[2],
      QStringLiteral("Could not start xdg-open to open the folder: No such file or directory."));
}

}  // namespace
}  // namespace vorn
