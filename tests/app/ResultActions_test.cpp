#include "ResultActions.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <QApplication>
#include <QLabel>
#include <QPlainTextEdit>
#include <QTimer>
#include <memory>
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

}  // namespace
}  // namespace vorn
