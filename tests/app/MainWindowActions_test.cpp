// The main window with everything wired in: the styled controls driving the search, the
// result actions, the viewer, the chooser and the About window, all reached the way a user
// reaches them. The platform seams record what the program asked for instead of starting it.
#include <arpa/inet.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QTest>
#include <QTextCharFormat>
#include <QTextCursor>
#include <QTimer>
#include <QTreeView>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "About.h"
#include "Browser.h"
#include "BuildLabel.h"
#include "ErrorBox.h"
#include "FolderModel.h"
#include "ScopedSeam.h"
#include "StyledTestKit.h"
#include "TempTree.h"
#include "TextBytes.h"
#include "UpdateChoice.h"
#include "VornUnit1.h"
#include "ftper.h"
#include "io.h"
#include "vornUnit2.h"
#include "vornUnit3.h"

namespace vorn {

namespace {

using ::testing::ElementsAre;
using vorn::test::ScopedSeam;
using vorn::test::TempTree;

QString Q(const char* utf8) { return QString::fromUtf8(utf8); }

const std::string kSearch = std::string("http://") + VORN_SEARCH_HOST + "/search?q=";

class WiredWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    // Created in the program's order, the About window owned by the main window.
    form = std::make_unique<TForm1>();
    Form1 = form.get();
    viewer = std::make_unique<TForm2>();
    Form2 = viewer.get();
    ABoutQuillo = new TABoutQuillo(form.get());
    form->Throttle().SetInterval(std::chrono::nanoseconds(0));
    form->show();
    form->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
  }
  void TearDown() override {
    form.reset();  // takes the About window and the chooser with it
    ABoutQuillo = nullptr;
    viewer.reset();
    Form2 = nullptr;
    StopRequested = false;
  }

  void Type(QComboBox* field, const QString& text) { test::Retype(field, text); }
  // Searches the folder for the query with a click on "Search".
  void Search(const std::string& folder, const QString& query) {
    Type(form->ComboBox3, FromBytes(folder));
    Type(form->ComboBox2, query);
    QTest::mouseClick(form->dxButton1, Qt::LeftButton);
    ASSERT_EQ(form->StatusBar1->currentMessage(), Q("Finished Searching"));
  }
  std::vector<std::string> Lines() {
    std::vector<std::string> out;
    for (int row = 0; row < form->Results().Shown(); ++row)
      out.push_back(form->Results().ResultLine(static_cast<size_t>(row)));
    return out;
  }
  QPoint RowCentre(int row) {
    return form->ListBox1->visualRect(form->ListBox1->model()->index(row, 0)).center();
  }
  void Select(int row) {
    QTest::mouseClick(form->ListBox1->viewport(), Qt::LeftButton, Qt::NoModifier, RowCentre(row));
    ASSERT_EQ(form->SelectedRow(), row);
  }
  // Runs `whileOpen` inside the modal loop of whatever `open` shows; a window still open
  // afterwards is closed, so a failing test cannot hang.
  void WhileModal(const std::function<void()>& open,
                  const std::function<void(QWidget*)>& whileOpen) {
    bool ran = false;
    QTimer::singleShot(0, form.get(), [&] {
      QWidget* modal = QApplication::activeModalWidget();
      ran = true;
      ASSERT_NE(modal, nullptr);
      whileOpen(modal);
      if (QWidget* still = QApplication::activeModalWidget()) {
        ADD_FAILURE() << "still open: " << still->objectName().toStdString();
        still->close();
      }
    });
    open();
    EXPECT_TRUE(ran);
  }
  // The viewer's readout of its caret's line, empty while the viewer is hidden.
  QString ViewerLine() {
    if (!viewer->isVisible()) return QString();
    viewer->ShowLinePosition();
    return viewer->StatusPanelText(1);
  }

  std::unique_ptr<TForm1> form;
  std::unique_ptr<TForm2> viewer;
  std::vector<std::vector<std::string>> started;
  std::vector<std::string> opened;
  std::vector<QString> errors;

 private:
  ScopedSeam<ProgramStarter> starter_{
      SetProgramStarter, [this](const std::vector<std::string>& a) { started.push_back(a); }};
  ScopedSeam<BrowserOpener> opener_{SetBrowserOpener,
                                    [this](const std::string& a) { opened.push_back(a); }};
  ScopedSeam<ErrorBoxShower> errorBoxes_{
      SetErrorBoxShower, [this](QWidget*, const QString& t) { errors.push_back(t); }};
};

// A path with "(", ")", ":" and blanks, and a found text with a colon, "&" and "#": every
// action takes the hit whole, never the shown line cut at its first "(" or ":".
TEST_F(WiredWindow, ResultActionsTakeTheSelectedHitWhole) {
  TempTree tree;
  const std::string dir = "Old Files (v2): copy";
  tree.Write(dir + "/notes (1).txt", "first line\nsecond line\nsay Hello: R&D #1\nlast\n");
  tree.Write(dir + "/other.txt", "nothing\nhello there\n");
  const std::string folder = tree.Path(dir);
  Search(folder, Q("hello"));
  const std::string file = folder + "/notes (1).txt";
  ASSERT_THAT(Lines(), ElementsAre(file + " (2)  :  say Hello: R&D #1",
                                   folder + "/other.txt (1)  :  hello there"));

  // Double-click, then Enter with and without Shift, Ctrl and Alt, then "Show File": each
  // opens the viewer on the row's file at its line.
  Select(0);
  QTest::mouseDClick(form->ListBox1->viewport(), Qt::LeftButton, Qt::NoModifier, RowCentre(0));
  EXPECT_EQ(ViewerLine(), Q("Line: 2/4"));
  EXPECT_EQ(viewer->Panel1->text(), FromBytes(file));
  EXPECT_THAT(viewer->RichEdit1->toPlainText().toStdString(),
              ::testing::StartsWith("first line\nsecond line\nsay Hello"));
  Select(1);
  for (Qt::KeyboardModifiers m :
       {Qt::KeyboardModifiers(Qt::NoModifier), Qt::KeyboardModifiers(Qt::ShiftModifier),
        Qt::KeyboardModifiers(Qt::ControlModifier), Qt::KeyboardModifiers(Qt::AltModifier)}) {
    viewer->hide();
    QTest::keyClick(form->ListBox1, Qt::Key_Return, m);
    EXPECT_EQ(ViewerLine(), Q("Line: 1/2")) << m.toInt();
    EXPECT_EQ(viewer->Panel1->text(), FromBytes(folder + "/other.txt"));
  }
  viewer->hide();
  QTest::keyClick(form->ListBox1, Qt::Key_Enter, Qt::KeypadModifier);
  EXPECT_EQ(ViewerLine(), Q("Line: 1/2"));
  viewer->hide();
  QTest::keyClick(form->ListBox1, Qt::Key_Space);  // the list's own key: no viewer
  EXPECT_FALSE(viewer->isVisible());
  Select(0);
  form->FindFile1->trigger();
  EXPECT_EQ(ViewerLine(), Q("Line: 2/4"));
  EXPECT_EQ(viewer->Panel1->text(), FromBytes(file));

  // The folder goes to the file manager as one argument; the web searches take the whole
  // found text, encoded; the maker's page needs no selection.
  form->OpenContainingFolder1->trigger();
  EXPECT_THAT(started, ElementsAre(std::vector<std::string>{"xdg-open", folder + "/"}));
  form->SearchInternetforItem1->trigger();
  form->SearchInternetforItem2->trigger();
  form->QuilloWare1->trigger();
  EXPECT_THAT(opened,
              ElementsAre(kSearch + "%20say%20Hello%3A%20R%26D%20%231", kSearch + "%20%2BHello%3A",
                          std::string("Http://") + VORN_MAKER_HOST + "/quillo/"));
  EXPECT_TRUE(errors.empty());

  // A file gone since the search is reported, and the viewer keeps what it showed.
  viewer->hide();
  std::remove(file.c_str());
  form->FindFile1->trigger();
  EXPECT_THAT(errors, ElementsAre(Q("Cannot open file ") + FromBytes(file) + Q(".")));
  EXPECT_FALSE(viewer->isVisible());
  EXPECT_THAT(viewer->RichEdit1->toPlainText().toStdString(), ::testing::StartsWith("first line"));
}

TEST_F(WiredWindow, WithoutASelectedLineTheActionsDoNothing) {
  auto tryAll = [&] {
    QTest::mouseDClick(form->ListBox1->viewport(), Qt::LeftButton, Qt::NoModifier, QPoint(20, 250));
    form->ListBox1->setFocus();
    QTest::keyClick(form->ListBox1, Qt::Key_Return);
    QTest::keyClick(form->ListBox1, Qt::Key_Return, Qt::ShiftModifier);
    for (QAction* a : form->PopupMenu1->actions()) a->trigger();
  };
  tryAll();  // an empty list

  TempTree tree;
  tree.Write("a.txt", "find me\n");
  Search(tree.root(), Q("find"));
  ASSERT_EQ(form->Results().Shown(), 1);
  EXPECT_EQ(form->SelectedRow(), -1);
  tryAll();  // lines, none selected

  // A selection cleared by a new run counts as none.
  Select(0);
  QTest::mouseClick(form->dxButton1, Qt::LeftButton);
  EXPECT_EQ(form->SelectedRow(), -1);
  tryAll();

  EXPECT_FALSE(viewer->isVisible());
  EXPECT_TRUE(started.empty());
  EXPECT_TRUE(opened.empty());
  EXPECT_TRUE(errors.empty());
}

TEST_F(WiredWindow, AboutMenuAndLinkLabelShowTheAboutWindowWithItsTitle) {
  std::vector<std::string> seen;
  auto check = [&](QWidget* modal) {
    seen.push_back(modal->objectName().toStdString());
    EXPECT_EQ(ABoutQuillo->StaticText2->text(), Q(" Tessaly "));
    EXPECT_TRUE(ABoutQuillo->isModal());
    EXPECT_EQ(ABoutQuillo->BuildLabel2->Caption().left(6), Q("Build "));
    ABoutQuillo->close();
  };
  ABoutQuillo->StaticText2->setText(Q("stored"));
  WhileModal([&] { form->AboutVorn11->trigger(); }, check);
  ABoutQuillo->StaticText2->setText(Q("stored"));
  WhileModal([&] { QTest::mouseClick(form->URLLabel2, Qt::LeftButton); }, check);
  EXPECT_THAT(seen, ElementsAre("ABoutQuillo", "ABoutQuillo"));
  EXPECT_FALSE(ABoutQuillo->isVisible());

  // The link label rests blue and turns red under the pointer; a press and a release off it
  // do not open anything.
  EXPECT_EQ(form->URLLabel2->FontColor(), QColor(Qt::blue));
  vorn::test::SendEnter(form->URLLabel2);
  EXPECT_EQ(form->URLLabel2->FontColor(), QColor(Qt::red));
  vorn::test::SendLeave(form->URLLabel2);
  EXPECT_EQ(form->URLLabel2->FontColor(), QColor(Qt::blue));
  vorn::test::SendMouse(form->URLLabel2, QEvent::MouseButtonPress, QPoint(40, 7));
  vorn::test::SendMouse(form->URLLabel2, QEvent::MouseButtonRelease, QPoint(40, 70));
  EXPECT_FALSE(ABoutQuillo->isVisible());
}

TEST_F(WiredWindow, TheDotsButtonOpensTheChooserAndOkWritesTheDirectoryField) {
  TempTree tree;
  tree.MakeDir("picked (1)/sub: two");
  const std::string picked = tree.Path("picked (1)/sub: two");
  form->ComboBox3->setEditText(Q("/typed/"));
  TForm3* chooser = nullptr;
  WhileModal([&] { QTest::mouseClick(form->dxButton3, Qt::LeftButton); },
             [&](QWidget* modal) {
               chooser = qobject_cast<TForm3*>(modal);
               ASSERT_NE(chooser, nullptr);
               EXPECT_EQ(chooser, Form3);
               EXPECT_EQ(chooser->parentWidget(), form.get());
               auto* model = static_cast<FolderModel*>(chooser->ShellTreeView1->model());
               chooser->ShellTreeView1->setCurrentIndex(model->IndexOf(picked));
               QTest::mouseClick(chooser->Button2, Qt::LeftButton);
             });
  EXPECT_EQ(form->ComboBox3->currentText(), FromBytes(picked + "/"));

  // The same chooser again, on the folder it was left on; Cancel leaves the field.
  form->ComboBox3->setEditText(Q("/typed/"));
  WhileModal([&] { form->dxButton3->Click(); },
             [&](QWidget* modal) {
               EXPECT_EQ(modal, chooser);
               EXPECT_EQ(chooser->SelectedFolder(), FromBytes(picked));
               QTest::mouseClick(chooser->Button3, Qt::LeftButton);
             });
  EXPECT_EQ(form->ComboBox3->currentText(), Q("/typed/"));

  // The chooser goes with its window; the next window's "..." makes a new one.
  form.reset();
  EXPECT_EQ(Form3, nullptr);
}

// The styled button and check boxes, used by mouse and keys, drive the search: the query
// enables "Search", and the run reads each box's Checked.
TEST_F(WiredWindow, StyledButtonsAndCheckBoxesDriveTheSearch) {
  TempTree tree;
  tree.Write("a.txt", "Hello\nhello\nhelloworld\n");
  tree.Write("sub/b.txt", "hello\n");
  const std::string r = tree.root();
  int runs = 0;
  QObject::connect(&form->Results(), &QAbstractItemModel::modelReset, form.get(), [&] { ++runs; });
  Type(form->ComboBox3, FromBytes(r));

  // Disabled while the query is blank: a click does nothing.
  Type(form->ComboBox2, Q("  "));
  QTest::mouseClick(form->dxButton1, Qt::LeftButton);
  EXPECT_EQ(runs, 0);
  Type(form->ComboBox2, Q("hello"));
  ASSERT_TRUE(form->dxButton1->isEnabled());

  // Enter in the query runs one search: no button takes Enter for itself.
  QTest::keyClick(form->ComboBox2, Qt::Key_Return);
  EXPECT_EQ(runs, 1);
  EXPECT_EQ(Lines().size(), 3u);

  // Match Case, then Whole Word, then Include Subdirectory, each clicked by mouse.
  QTest::mouseClick(form->Checkbox2, Qt::LeftButton);
  EXPECT_TRUE(form->Checkbox2->Checked());
  QTest::mouseClick(form->dxButton1, Qt::LeftButton);
  EXPECT_EQ(runs, 2);
  EXPECT_THAT(Lines(), ElementsAre(r + "a.txt (1)  :  hello", r + "a.txt (2)  :  helloworld"));
  QTest::mouseClick(form->Checkbox1, Qt::LeftButton);
  QTest::mouseClick(form->Checkbox3, Qt::LeftButton);
  QTest::mouseClick(form->dxButton1, Qt::LeftButton);
  EXPECT_THAT(Lines(), ElementsAre(r + "a.txt (1)  :  hello", r + "sub/b.txt (0)  :  hello"));

  // A double click inverts a box twice; Space on a box does not toggle it; Space on the
  // focused "Search" runs the search on its release.
  int boxClicks = 0;
  QObject::connect(form->Checkbox2, &TdxCustomControl::OnClick, form.get(), [&] { ++boxClicks; });
  QTest::mouseClick(form->Checkbox2, Qt::LeftButton);
  vorn::test::SendMouse(form->Checkbox2, QEvent::MouseButtonDblClick, QPoint(8, 8));
  vorn::test::SendMouse(form->Checkbox2, QEvent::MouseButtonRelease, QPoint(8, 8));
  EXPECT_EQ(boxClicks, 2);
  EXPECT_TRUE(form->Checkbox2->Checked());
  form->Checkbox2->setFocus();
  QTest::keyClick(form->Checkbox2, Qt::Key_Space);
  EXPECT_TRUE(form->Checkbox2->Checked());
  QTest::mouseClick(form->Checkbox2, Qt::LeftButton);  // Match Case off again
  form->dxButton1->setFocus();
  const int before = runs;
  QTest::keyPress(form->dxButton1, Qt::Key_Space);
  EXPECT_EQ(runs, before);
  QTest::keyRelease(form->dxButton1, Qt::Key_Space);
  EXPECT_EQ(runs, before + 1);
  EXPECT_THAT(Lines(), ElementsAre(r + "a.txt (0)  :  Hello", r + "a.txt (1)  :  hello",
                                   r + "sub/b.txt (0)  :  hello"));

  // The container hands its enabled state to the fields, boxes and buttons in it.
  form->dxContainer1->setEnabled(false);
  EXPECT_FALSE(form->Checkbox1->isEnabled());
  EXPECT_FALSE(form->ComboBox2->isEnabled());
  form->dxContainer1->setEnabled(true);
  EXPECT_TRUE(form->dxButton3->isEnabled());
  EXPECT_TRUE(form->ComboBox2->isEnabled());
}

// The fourth box makes the query a pattern: an invalid one starts no run, a valid one finds
// its lines, and the viewer marks the pattern's first match on the line.
TEST_F(WiredWindow, RegularExpressionBoxErrorBoxAndViewerMark) {
  EXPECT_FALSE(form->Checkbox4->Checked());
  EXPECT_EQ(form->Checkbox4->Caption(), Q("Regular expression"));
  const QRect above = form->Checkbox2->geometry().translated(form->dxContainer1->pos());
  EXPECT_EQ(form->Checkbox4->geometry(), above.translated(0, 24));
  TempTree tree;
  tree.Write("a.txt", "x = kmalloc(4);\nno call here\n  p = KMALLOC_node (n);\n");
  QTest::mouseClick(form->Checkbox4, Qt::LeftButton);
  EXPECT_TRUE(form->Checkbox4->Checked());
  Type(form->ComboBox3, FromBytes(tree.root()));
  Type(form->ComboBox2, Q("kmalloc(\\w"));
  QTest::mouseClick(form->dxButton1, Qt::LeftButton);
  EXPECT_THAT(errors, ElementsAre(Q("The regular expression is not valid: missing closing "
                                    "parenthesis (at position 11).")));
  EXPECT_TRUE(form->dxButton1->isVisible());
  EXPECT_TRUE(form->StatusBar1->currentMessage().isEmpty());

  form->ComboBox1->setEditText(Q("*.*"));
  Search(tree.root(), Q("kmalloc\\w*\\s*\\("));
  ASSERT_THAT(Lines(), ElementsAre(tree.Path("a.txt") + " (0)  :  x = kmalloc(4);",
                                   tree.Path("a.txt") + " (2)  :    p = KMALLOC_node (n);"));
  Select(1);
  form->FindFile1->trigger();
  const int line = 16 + 13 + 6;  // the match begins after the lines before and "  p = "
  QTextCursor caret = viewer->RichEdit1->textCursor();
  EXPECT_EQ(caret.position(), line);
  caret.setPosition(line + 1);
  EXPECT_EQ(caret.charFormat().foreground().color(), QColor(Qt::red));
  caret.setPosition(line + 14);  // the "(" ends the match
  EXPECT_EQ(caret.charFormat().foreground().color(), QColor(Qt::red));
  caret.setPosition(line + 15);
  EXPECT_NE(caret.charFormat().foreground().color(), QColor(Qt::red));
  EXPECT_EQ(errors.size(), 1u);
}

// The built program carries its version record, so its About window reads the build.
TEST_F(WiredWindow, LookForUpdateShowsTheUpdateWindowAndStopsWhenNoServerAnswers) {
  if (!vorn::kSelfUpdate) GTEST_SKIP() << "this copy leaves its updates to the system's packages";
  vorn::TFTPWindow window;
  vorn::FTPWindow = &window;
  window.IdFTP1.Host = "127.0.0.1";
  window.IdFTP1.Port = 1;  // nothing listens there: the connection is refused at once
  vorn::test::ClickOn(form->dxButton4);
  QTRY_VERIFY(window.isVisible());
  EXPECT_EQ(window.MessageLines().value(0), QStringLiteral("Status : Connecting to 127.0.0.1."));
  EXPECT_TRUE(errors.empty());
  EXPECT_TRUE(started.empty());  // nothing was downloaded or restarted
  vorn::FTPWindow = nullptr;
}

// A copy installed from the system's packages answers with a note and never connects, even
// with an update server listening where the update window would go.
TEST_F(WiredWindow, PackagedCopyOnlySaysWhereUpdatesComeFrom) {
  const int server = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  ASSERT_EQ(bind(server, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(listen(server, 1), 0);
  ASSERT_EQ(getsockname(server, reinterpret_cast<sockaddr*>(&address), &length), 0);
  vorn::TFTPWindow window;
  vorn::FTPWindow = &window;
  window.IdFTP1.Host = "127.0.0.1";
  window.IdFTP1.Port = ntohs(address.sin_port);
  std::vector<QString> notes;
  const ScopedSeam shower(SetInformationShower,
                          [&](QWidget*, const QString& t) { notes.push_back(t); });

  if (vorn::kSelfUpdate)
    vorn::LookForUpdate(form.get(), false);
  else
    vorn::test::ClickOn(form->dxButton4);
  QTest::qWait(100);
  EXPECT_THAT(notes, ElementsAre(Q("Updates for this copy come with your system's packages.")));
  EXPECT_FALSE(window.isVisible());
  pollfd waiting{server, POLLIN, 0};
  EXPECT_EQ(poll(&waiting, 1, 0), 0);  // nobody knocked
  EXPECT_TRUE(errors.empty());

  FTPWindow = nullptr;
  close(server);
}

TEST(ProgramFile, CarriesTheVersionRecord) {
  TBuildLabel label(nullptr, VORN_PROGRAM_PATH);
  label.SetTextCaption2(Q("Build"));
  label.Loaded();
  EXPECT_EQ(label.Caption(), Q("Build 0.9.0.13"));
}

}  // namespace
}  // namespace vorn
