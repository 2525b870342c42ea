// The real main window, driven with Qt Test's input helpers on the offscreen platform.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QScreen>
#include <QScrollBar>
#include <QStatusBar>
#include <QStatusTipEvent>
#include <QTest>
#include <QTimer>
#include <cstdio>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "ErrorBox.h"
#include "ScopedSeam.h"
#include "StartUp.h"
#include "StyledTestKit.h"
#include "TempTree.h"
#include "TextBytes.h"
#include "VornUnit1.h"
#include "io.h"

namespace vorn {

namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using vorn::ErrorBoxText;
using vorn::Guarded;
using vorn::test::TempTree;

QString Q(const char* utf8) { return QString::fromUtf8(utf8); }

class MainWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    form = std::make_unique<TForm1>();
    Form1 = form.get();
    // Tests pump at every chance the run offers, so what happens during a run is certain.
    form->Throttle().SetInterval(std::chrono::nanoseconds(0));
    form->show();
    form->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
  }
  void TearDown() override {
    form.reset();
    StopRequested = false;
  }

  void Type(QComboBox* field, const QString& text) { test::Retype(field, text); }
  void Enter(QComboBox* field) { QTest::keyClick(field, Qt::Key_Return); }

  std::vector<std::string> Lines() {
    std::vector<std::string> out;
    for (int row = 0; row < form->Results().Shown(); ++row)
      out.push_back(form->Results().ResultLine(static_cast<size_t>(row)));
    return out;
  }
  QStringList Shown() {
    QStringList out;
    auto* model = form->ListBox1->model();
    for (int row = 0; row < model->rowCount(); ++row) out << model->index(row, 0).data().toString();
    return out;
  }
  QStringList History() {
    QStringList out;
    for (int i = 0; i < form->ComboBox2->count(); ++i) out << form->ComboBox2->itemText(i);
    return out;
  }
  QString Status() { return form->StatusBar1->currentMessage(); }
  bool Idle() { return form->dxButton1->isVisible() && !form->dxButton2->isVisible(); }

  std::unique_ptr<TForm1> form;
  // A box the test did not expect fails it rather than waiting for a click.
  test::ScopedSeam<ErrorBoxShower> unexpectedBoxes_{
      SetErrorBoxShower,
      [](QWidget*, const QString& text) { ADD_FAILURE() << "error box: " << text.toStdString(); }};
};

TEST_F(MainWindow, StartsWithTheLayoutsValuesNamesAndMenus) {
  EXPECT_EQ(form->windowTitle(), Q("Vorn Version 1.0"));
  EXPECT_EQ(form->ComboBox3->currentText(), FromBytes(vorn::StartFolder(VORN_SELF_UPDATE)));
  EXPECT_TRUE(form->ComboBox3->currentText().endsWith(QLatin1Char('/')));
  for (const QLabel* label : {form->Label1, form->Label2, form->Label3})
    EXPECT_LE(label->geometry().right(), 56) << label->text().toStdString();  // before the fields
  EXPECT_EQ(form->ComboBox1->currentText(), Q("*.Txt"));
  EXPECT_EQ(form->ComboBox1->count(), 4);
  EXPECT_EQ(form->ComboBox1->itemText(3), Q("*.*"));
  EXPECT_EQ(form->ComboBox2->currentText(), QString());
  for (auto* box : {form->Checkbox1, form->Checkbox2, form->Checkbox3})
    EXPECT_FALSE(box->Checked());
  EXPECT_EQ(form->Checkbox1->Caption(), Q("Whole Word"));
  EXPECT_EQ(form->Checkbox2->Caption(), Q("Match Case(Case sensitiv)"));
  EXPECT_EQ(form->Checkbox3->Caption(), Q("Include Subdirectory"));
  EXPECT_FALSE(form->dxButton1->isEnabled());
  EXPECT_TRUE(form->dxButton1->isVisible());
  EXPECT_FALSE(form->dxButton2->isVisible());
  EXPECT_EQ(form->dxButton2->Caption(), Q("Stop Search"));
  EXPECT_EQ(form->dxButton4->Caption(), Q("Look for update"));
  EXPECT_EQ(form->dxButton4->focusPolicy() & Qt::TabFocus, 0);
  EXPECT_EQ(form->ListBox1->geometry(), QRect(8, 112, 740, 290));
  EXPECT_EQ(form->dxContainer1->geometry(), QRect(8, 4, 743, 79));
  EXPECT_EQ(form->URLLabel2->geometry(), QRect(667, 408, 84, 15));
  EXPECT_EQ(form->centralWidget()->height() + form->StatusBar1->height(), 446);
  EXPECT_EQ(form->centralWidget()->width(), 759);
  EXPECT_FALSE(form->Panel1->isVisible());

  // Every component answers to its name.
  for (const char* name : {"dxContainer1", "Label1",     "Label2",    "Label3",    "ComboBox1",
                           "ComboBox2",    "ComboBox3",  "dxButton1", "dxButton2", "dxButton3",
                           "dxButton4",    "Checkbox1",  "Checkbox2", "Checkbox3", "ListBox1",
                           "URLLabel2",    "StatusBar1", "Panel1",    "MainMenu1", "PopupMenu1"})
    EXPECT_NE(form->findChild<QObject*>(QString::fromUtf8(name)), nullptr) << name;

  QStringList menus;
  for (QAction* a : form->MainMenu1->actions()) menus << a->text();
  EXPECT_EQ(menus, (QStringList{Q("File"), Q("Options"), Q("About")}));
  // How files are read: archives off and the encoding Automatic at start; the run gets both.
  EXPECT_FALSE(form->SearchCompressed1->isChecked());
  QStringList encodings;
  for (QAction* a : form->Encoding1->actions())
    if (a->isChecked()) encodings << a->text();
  EXPECT_EQ(encodings, QStringList{Q("Automatic")});
  EXPECT_EQ(form->CurrentOptions().encoding, "");
  form->SearchCompressed1->trigger();
  for (QAction* a : form->Encoding1->actions())
    if (a->text() == Q("Shift_JIS")) a->trigger();
  EXPECT_TRUE(form->CurrentOptions().packed);
  EXPECT_EQ(form->CurrentOptions().encoding, "Shift_JIS");
  form->SearchCompressed1->trigger();
  form->Encoding1->actions().front()->trigger();
  EXPECT_EQ(form->Exit1->text(), Q("Exit"));
  EXPECT_EQ(form->About1->actions().size(), 2);
  QStringList popup;
  for (QAction* a : form->PopupMenu1->actions()) popup << a->text();
  EXPECT_EQ(popup, (QStringList{Q("Open Containing Folder"), Q("Show File"),
                                Q("Search Internet for item (Narrow search)"),
                                Q("Search Internet for Item (Wide Search)"), QString(),
                                Q("Open in Editor"), Q("Copy"), Q("Copy All Results")}));

  // Tab runs through the fields top to bottom, then the options, Search and the list.
  form->ComboBox2->setEditText(Q("q"));  // enables "Search"
  form->ComboBox3->setFocus();
  std::vector<QWidget*> order{QApplication::focusWidget()};
  for (int i = 0; i < 10; ++i) {
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    order.push_back(QApplication::focusWidget());
  }
  EXPECT_THAT(order, ElementsAre(form->ComboBox3, form->dxButton3, form->ComboBox1, form->ComboBox2,
                                 form->Checkbox3, form->Checkbox1, form->Checkbox2, form->Checkbox4,
                                 form->dxButton1, form->ListBox1, form->ComboBox3));
}

TEST_F(MainWindow, SearchFromTheQueryFieldShowsTheLinesAndFinishes) {
  TempTree tree;
  tree.Write("a.txt", "nothing\r\nSay Hello\r\n\r\nhello hello again\r\n");
  tree.Write("b.Txt", "hello\n");
  tree.Write("c.log", "hello, not searched by the mask\n");
  tree.Write("d.txt", "caf\xC3\xA9 hello \xFF\xFE end\n");
  tree.Write("sub/e.txt", "hello below\n");
  Type(form->ComboBox3, FromBytes(tree.root().substr(0, tree.root().size() - 1)));
  Type(form->ComboBox2, Q("hello"));
  EXPECT_TRUE(form->dxButton1->isEnabled());
  Enter(form->ComboBox2);

  EXPECT_TRUE(Idle());
  EXPECT_EQ(Status(), Q("Finished Searching"));
  EXPECT_TRUE(form->StatusTotals->text().startsWith(Q("4 lines in 3 files, ")))
      << form->StatusTotals->text().toStdString();
  // Hovering over a menu item (which sends an empty status tip) does not blank the status line.
  QStatusTipEvent tip{QString()};
  QApplication::sendEvent(form.get(), &tip);
  EXPECT_EQ(Status(), Q("Finished Searching"));
  // The Directory field now ends in the separator; lines are shown as read, whatever the case.
  EXPECT_EQ(form->ComboBox3->currentText(), FromBytes(tree.root()));
  const std::string r = tree.root();
  EXPECT_THAT(Lines(), ElementsAre(r + "a.txt (1)  :  Say Hello",
                                   r + "a.txt (3)  :  hello hello again", r + "b.Txt (0)  :  hello",
                                   r + "d.txt (0)  :  caf\xC3\xA9 hello \xFF\xFE end"));
  // Shown decoded, invalid bytes as the replacement character; the hit keeps the bytes.
  EXPECT_EQ(Shown().at(3), FromBytes(r) + QString::fromUtf8("d.txt (0)  :  café hello ") +
                               QString(2, QChar::ReplacementCharacter) + Q(" end"));
  form->ListBox1->setCurrentIndex(form->ListBox1->model()->index(3, 0));
  const std::optional<vorn::SearchHit> item = form->SelectedHit();
  ASSERT_TRUE(item.has_value());
  EXPECT_EQ(item->path, r + "d.txt");
  EXPECT_EQ(item->lineIndex, 0u);
  EXPECT_EQ(item->text, "caf\xC3\xA9 hello \xFF\xFE end");

  // Match Case, Whole Word and Include Subdirectory are read from their boxes.
  tree.Write("f.txt", "HELLO\n");
  form->Checkbox2->SetChecked(true);
  form->Checkbox1->SetChecked(true);
  form->Checkbox3->SetChecked(true);
  QTest::mouseClick(form->dxButton1, Qt::LeftButton);
  EXPECT_EQ(Status(), Q("Finished Searching"));
  EXPECT_THAT(Lines(), ElementsAre(r + "a.txt (3)  :  hello hello again", r + "b.Txt (0)  :  hello",
                                   r + "d.txt (0)  :  caf\xC3\xA9 hello \xFF\xFE end",
                                   r + "sub/e.txt (0)  :  hello below"));
  EXPECT_EQ(form->SelectedRow(), -1);  // a new run clears the list and its selection

  // Enter in File search starts a search as in the other two fields.
  Type(form->ComboBox2, Q("absent"));
  Enter(form->ComboBox1);
  EXPECT_TRUE(Lines().empty());
  EXPECT_EQ(Status(), Q("Finished Searching"));
  EXPECT_EQ(form->StatusTotals->text(), Q("no results"));
}

// The Options menu's check items feed the listing as vorn-find's options do, and keep their
// state from run to run.
TEST_F(MainWindow, ListingOptionsGiveTheCommandLinesLines) {
  TempTree tree;
  tree.MakeDir("repo/.git");
  tree.Write("repo/.gitignore", "*.log\n");
  for (const char* name : {"repo/a.c", "repo/b.log", "repo/.h.c", "other/c.c"})
    tree.Write(name, "int\n");
  tree.Symlink("../other", "repo/link");
  QStringList items;
  for (QAction* a : form->Options1->actions()) items << a->text();
  EXPECT_EQ(items, (QStringList{Q("Respect .gitignore and .ignore"), Q("Include Hidden Files"),
                                Q("Follow Links to Folders"), QString(),
                                Q("Search Compressed Files and Archives"), Q("Encoding")}));
  const std::string top = tree.Path("repo/");
  Type(form->ComboBox3, FromBytes(top));
  form->ComboBox1->setEditText(Q("*"));
  Type(form->ComboBox2, Q("int"));
  form->Checkbox3->SetChecked(true);
  for (const char* flags : {"", " --ignore-files --hidden --follow"}) {
    if (*flags)
      for (QAction* a : form->Options1->actions()) a->trigger();
    form->Do_the_search();
    form->Do_the_search();  // the items keep their state
    std::string expected;
    FILE* p =
        popen((std::string(VORN_FIND_PATH) + " -r" + flags + " " + top + " '*' int").c_str(), "r");
    ASSERT_NE(p, nullptr);
    for (int c; (c = std::fgetc(p)) != EOF;) expected += static_cast<char>(c);
    pclose(p);
    std::string actual;
    for (const std::string& line : Lines()) actual += line + "\n";
    EXPECT_EQ(actual, expected) << flags;
    EXPECT_EQ(Lines().size(), *flags ? 3u : 2u) << actual;
  }
}

// The window and the command-line front end drive one engine: same tree, same lines (the
// window lists a binary file's lines, as vorn-find -a does; a UTF-16 file's in UTF-8).
TEST_F(MainWindow, GivesTheSameLinesAsTheCommandLine) {
  TempTree tree;
  std::string big;
  for (int i = 0; i < 3000; ++i)
    big += (i % 7 == 0 ? "int x" : "long y") + std::to_string(i) + (i % 3 ? "\n" : "\r\n");
  tree.Write("big.c", big);
  tree.Write("x/y/z.h", "static int a;\rint\n\n  int  \n");
  tree.Write("x/.hidden/w.c", "int hidden\n");
  tree.Write("nul.c", std::string("int\0zero\n", 9));
  tree.Write("x/u16.c", std::string("\xFF\xFEi\0n\0t\0 \0\xE9\0\n\0", 14));
  tree.Write("x/skip.txt", "int\n");
  tree.Write("build/b.c", "int\n");
  // Letters beyond ASCII fold alike in both, variants of other lengths too.
  tree.Write("x/greek.c", "/* \xCE\x98\xCE\x95\xCE\x8C\xCE\xA3 */ \xC5\xBFize_t int;\n");
  for (bool whole : {false, true}) {
    Type(form->ComboBox3, FromBytes(tree.root()));
    form->ComboBox1->setEditText(Q("*.*; !*.TXT;!build/"));
    Type(form->ComboBox2, Q("int"));
    form->Checkbox1->SetChecked(whole);
    form->Checkbox3->SetChecked(true);
    form->Do_the_search();
    std::string expected;
    const std::string command = std::string(VORN_FIND_PATH) + " -ra" + (whole ? " -w " : " ") +
                                tree.root() + " '*.*;!*.txt;!build/' int";
    FILE* p = popen(command.c_str(), "r");
    ASSERT_NE(p, nullptr);
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) expected.append(buf, n);
    pclose(p);
    std::string actual;
    for (const std::string& line : Lines()) actual += line + "\n";
    EXPECT_EQ(actual, expected) << (whole ? "whole word" : "substring");
    EXPECT_GT(Lines().size(), 400u);
    EXPECT_NE(actual.find("u16.c (0)  :  int \xC3\xA9\n"), std::string::npos);
    EXPECT_EQ(actual.find("skip.txt"), std::string::npos);
    EXPECT_EQ(actual.find("build/"), std::string::npos);
  }
  form->ComboBox2->setEditText(
      Q("\xCE\xB8\xCE\xB5\xCF\x8C\xCF\x82 */ Size_T"));  // "θεός */ Size_T"
  form->Do_the_search();
  EXPECT_EQ(Lines(), std::vector<std::string>{
                         tree.Path("x/greek.c") +
                         " (0)  :  /* \xCE\x98\xCE\x95\xCE\x8C\xCE\xA3 */ \xC5\xBFize_t int;"});
  // A mask that names a folder to search is refused before anything is searched.
  std::vector<QString> errors;
  const test::ScopedSeam<ErrorBoxShower> boxes(
      SetErrorBoxShower, [&errors](QWidget*, const QString& text) { errors.push_back(text); });
  form->ComboBox1->setEditText(Q("*.c;build/"));
  form->Do_the_search();
  // So is a mask with nothing in it, which would search no file.
  form->ComboBox1->setEditText(Q(" ; "));
  form->Do_the_search();
  EXPECT_THAT(errors,
              ElementsAre(Q("File search: mask part 'build/' names a folder; folders can "
                            "only be left out (\"!build/\")"),
                          Q("File search: the mask names no file; \"*\" takes every file.")));
  EXPECT_TRUE(Idle());
  // The refusal leaves the last run's lines and status as they were; so does a Directory
  // that is not there, named with the system's reason.
  EXPECT_EQ(Lines().size(), 1u);
  EXPECT_EQ(Status(), Q("Finished Searching"));
  form->ComboBox1->setEditText(Q("*.c"));
  form->ComboBox3->setEditText(FromBytes(tree.Path("gone/")));
  form->Do_the_search();
  ASSERT_EQ(errors.size(), 3u);
  EXPECT_EQ(errors[2], Q("The folder ") + FromBytes(tree.Path("gone/")) +
                           Q(" cannot be searched: No such file or directory."));
  EXPECT_EQ(Lines().size(), 1u);
  EXPECT_EQ(Status(), Q("Finished Searching"));
  EXPECT_TRUE(Idle());
}

TEST_F(MainWindow, SearchIsEnabledByTheTrimmedQueryOnly) {
  form->ComboBox2->setFocus();
  QTest::keyClicks(form->ComboBox2, Q("   "));
  EXPECT_FALSE(form->dxButton1->isEnabled());
  QTest::keyClicks(form->ComboBox2, Q("x"));
  EXPECT_TRUE(form->dxButton1->isEnabled());
  for (int i = 0; i < 4; ++i) QTest::keyClick(form->ComboBox2, Qt::Key_Backspace);
  EXPECT_FALSE(form->dxButton1->isEnabled());
  // The other fields do not touch it.
  Type(form->ComboBox3, Q("  "));
  Type(form->ComboBox1, Q("*.c"));
  EXPECT_FALSE(form->dxButton1->isEnabled());
  form->ComboBox2->setEditText(Q("\tq"));
  EXPECT_TRUE(form->dxButton1->isEnabled());
  // Enabled stays as it was through a run.
  TempTree tree;
  form->ComboBox3->setEditText(FromBytes(tree.root()));
  form->Do_the_search();
  EXPECT_EQ(Status(), Q("Finished Searching"));
  EXPECT_TRUE(form->dxButton1->isEnabled());
}

TEST_F(MainWindow, HistoryKeepsEveryQueryInOrderWithItsSpaces) {
  TempTree tree;
  tree.Write("a.txt", "one two\n");
  Type(form->ComboBox3, FromBytes(tree.root()));

  // An empty query still runs a search, but adds nothing.
  Type(form->ComboBox2, QString());
  Enter(form->ComboBox2);
  EXPECT_EQ(Status(), Q("Finished Searching"));
  EXPECT_TRUE(History().isEmpty());

  Type(form->ComboBox2, Q(" two "));
  Enter(form->ComboBox2);
  Enter(form->ComboBox2);
  EXPECT_EQ(History(), (QStringList{Q(" two "), Q(" two ")}));
  EXPECT_EQ(form->ComboBox2->currentText(), Q(" two "));  // the typed text stays as typed
  QTest::keyClick(form->ComboBox2, Qt::Key_Tab);
  EXPECT_FALSE(form->ComboBox2->hasFocus());
  EXPECT_EQ(History().size(), 3);
  form->ComboBox3->setFocus();

  // Enter in the Directory field searches and adds the query, not the directory.
  Type(form->ComboBox2, Q("one"));
  form->StatusBar1->clearMessage();
  const std::string r = tree.root();
  Type(form->ComboBox3, FromBytes(tree.root()));  // focus leaves the query: adds it
  Enter(form->ComboBox3);
  EXPECT_EQ(Status(), Q("Finished Searching"));
  EXPECT_THAT(Lines(), ElementsAre(r + "a.txt (0)  :  one two"));
  // Focus leaving the Directory field added the query once more (" two ", the text then), and
  // leaving the query field added "one" before Enter added it again.
  EXPECT_EQ(History(),
            (QStringList{Q(" two "), Q(" two "), Q(" two "), Q(" two "), Q("one"), Q("one")}));

  // Other keys and a blank query add nothing.
  QTest::keyClick(form->ComboBox3, Qt::Key_End);
  Type(form->ComboBox2, Q("  "));
  Enter(form->ComboBox2);
  form->ListBox1->setFocus();
  EXPECT_EQ(History().size(), 7);  // only leaving the Directory field added "one"
  EXPECT_EQ(History().back(), Q("one"));
}

// A tree big enough that a run has many pumps before it ends.
void WriteManyFiles(const TempTree& tree, int files) {
  for (int f = 0; f < files; ++f) {
    char name[32];
    std::snprintf(name, sizeof name, "f%04d.txt", f);
    tree.Write(name, "needle one\nhay\nneedle two\n");
  }
}

TEST_F(MainWindow, StopSearchEndsTheRunAndKeepsTheLinesFound) {
  TempTree tree;
  WriteManyFiles(tree, 300);
  Type(form->ComboBox3, FromBytes(tree.root()));
  Type(form->ComboBox2, Q("needle"));
  int stopAt = 40;
  bool checkedDuringRun = false;
  QObject::connect(&form->Results(), &QAbstractItemModel::rowsInserted, form.get(), [&] {
    if (form->Results().Shown() < stopAt || checkedDuringRun) return;
    checkedDuringRun = true;
    EXPECT_TRUE(form->Searching());
    EXPECT_TRUE(Status().startsWith(Q("Searching : f0"))) << Status().toStdString();
    EXPECT_FALSE(form->dxButton1->isVisible());
    EXPECT_TRUE(form->dxButton2->isVisible());
    // Enter while the run goes on does nothing: no nested run, nothing in the history.
    const int before = form->Results().Shown();
    Enter(form->ComboBox2);
    Enter(form->ComboBox3);
    EXPECT_TRUE(History().isEmpty());
    EXPECT_GE(form->Results().Shown(), before);
    QTest::mouseClick(form->dxButton2, Qt::LeftButton);
  });
  Enter(form->ComboBox2);
  EXPECT_TRUE(checkedDuringRun);
  EXPECT_EQ(Status(), Q("User aborted Search"));
  EXPECT_TRUE(Idle());
  EXPECT_GE(form->Results().Shown(), stopAt);
  EXPECT_LT(form->Results().Shown(), 600);
  EXPECT_EQ(form->Results().Total(), static_cast<size_t>(form->Results().Shown()));
  EXPECT_EQ(Lines().front(), tree.root() + "f0000.txt (0)  :  needle one");
  // Clicking "Stop Search" took the focus from the query field, which added it; Enter added
  // it once more when the run had returned.
  EXPECT_EQ(History(), (QStringList{Q("needle"), Q("needle")}));

  // The next run starts afresh and runs to its end.
  stopAt = 1 << 30;
  QTest::mouseClick(form->dxButton1, Qt::LeftButton);
  EXPECT_EQ(Status(), Q("Finished Searching"));
  EXPECT_EQ(form->Results().Shown(), 600);
}

// A window system whose event loop, kept busy by a run's pumps, never gets round to the
// list's timers or the window's update requests: what the view lays out and paints only
// when the loop is idle stays off the screen until the run ends.
class BusyEventLoop : public QObject {
 public:
  explicit BusyEventLoop(TForm1& form) : form_(form) { qApp->installEventFilter(this); }
  bool eventFilter(QObject* receiver, QEvent* event) override {
    if (!form_.Searching() ||
        (event->type() != QEvent::Timer && event->type() != QEvent::UpdateRequest))
      return false;
    return receiver == form_.ListBox1 || receiver == form_.ListBox1->viewport() ||
           receiver == form_.windowHandle();
  }

 private:
  TForm1& form_;
};

// What reaches the screen while a run goes on, not what the model holds: the viewport's
// pixels as the window system was last given them, grabbed between two pumps mid-run.
TEST_F(MainWindow, RowsReachTheScreenWhileTheRunGoesOn) {
  TempTree tree;
  for (int d = 0; d < 20; ++d)
    for (int f = 0; f < 20; ++f)
      tree.Write(std::string("d").append(std::to_string(d)).append("/f").append(std::to_string(f)) +
                     ".txt",
                 "needle one\n");
  form->StatusBar1->showMessage(Q("Finished Searching"));  // as the run before left it
  Type(form->ComboBox3, FromBytes(tree.root()));
  Type(form->ComboBox2, Q("needle"));
  form->Checkbox3->SetChecked(true);
  const BusyEventLoop busy(*form);
  QImage seen;
  QStringList statuses;
  long long pumpsAtRows = -1;
  QObject::connect(&form->Results(), &QAbstractItemModel::rowsInserted, form.get(), [&] {
    if (pumpsAtRows < 0 && form->Results().Shown() >= 30) pumpsAtRows = form->Throttle().Pumps();
  });
  // The status changes between pumps, outside any event the view may still be waiting for.
  QObject::connect(form->StatusBar1, &QStatusBar::messageChanged, form.get(), [&] {
    if (!form->Searching()) return;
    statuses << Status();
    if (!seen.isNull() || pumpsAtRows < 0 || form->Throttle().Pumps() < pumpsAtRows + 1) return;
    QWidget* viewport = form->ListBox1->viewport();
    const QPoint at = viewport->mapTo(form.get(), QPoint(0, 0));
    seen = form->screen()
               ->grabWindow(form->winId(), at.x(), at.y(), viewport->width(), viewport->height())
               .toImage();
    form->dxButton2Click();
  });
  Enter(form->ComboBox2);
  ASSERT_FALSE(seen.isNull());
  int ink = 0;
  for (int y = 0; y < seen.height(); ++y)
    for (int x = 0; x < seen.width(); ++x) ink += qGray(seen.pixel(x, y)) < 128;
  EXPECT_GT(ink, 500) << "the list is blank on the screen with rows in the model";
  ASSERT_FALSE(statuses.isEmpty());
  EXPECT_FALSE(statuses.contains(Q("Finished Searching")));
  EXPECT_TRUE(statuses.front().startsWith(Q("Searching : ")));
}

// A long list is laid out again a slice at a time when rows come: one scrolled past the first
// slice stays where it was.
TEST_F(MainWindow, AListScrolledFarDownKeepsItsPlaceWhenRowsCome) {
  const std::vector<SearchHit> hits(300000, SearchHit{"/t/a.c", 0, "x"});
  ResultListModel& results = form->Results();
  QScrollBar* bar = form->ListBox1->verticalScrollBar();
  const auto laidOut = [&] { return bar->maximum() + bar->pageStep() >= results.Shown(); };
  results.Add(hits);
  results.Publish();
  ASSERT_TRUE(QTest::qWaitFor(laidOut));
  bar->setValue(290000);
  results.Add(std::span(hits).first(10));
  results.Publish();
  ASSERT_TRUE(QTest::qWaitFor(laidOut));
  QCoreApplication::processEvents();
  EXPECT_EQ(bar->value(), 290000);
}

TEST_F(MainWindow, ExitOrClosingDuringARunEndsTheProgram) {
  TempTree tree;
  WriteManyFiles(tree, 300);
  for (bool byMenu : {true, false}) {
    if (!byMenu) SetUp();  // a fresh window for the second way out
    Type(form->ComboBox3, FromBytes(tree.root()));
    Type(form->ComboBox2, Q("needle"));
    form->Checkbox3->SetChecked(byMenu);
    bool ended = false;
    QObject::connect(&form->Results(), &QAbstractItemModel::rowsInserted, form.get(), [&] {
      if (form->Results().Shown() < 10 || ended) return;
      ended = true;
      if (byMenu)
        form->Exit1->trigger();
      else
        form->close();
    });
    bool returned = false;
    QTimer::singleShot(0, form.get(), [&] {
      form->dxButton1->Click();
      returned = true;
    });
    // The event loop ends once the run has returned: no search goes on behind it. (Should
    // the program fail to end, the guard ends the loop so the test fails instead of hanging.)
    bool guardFired = false;
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, form.get(), [&] {
      guardFired = true;
      QApplication::quit();
    });
    guard.start(30000);
    QApplication::exec();
    EXPECT_FALSE(guardFired);
    EXPECT_TRUE(ended);
    EXPECT_TRUE(returned);
    EXPECT_EQ(Status(), Q("User aborted Search"));
    EXPECT_LT(form->Results().Shown(), 600);
    // A closing window starts no new run.
    form->Do_the_search();
    EXPECT_EQ(Status(), Q("User aborted Search"));
  }
}

// An error that ends a run early is shown in the error box, and the window is idle again:
// not stuck with "Stop Search" showing, and ready for the next run.
TEST_F(MainWindow, AnErrorDuringARunIsShownAndLeavesTheWindowIdle) {
  TempTree tree;
  WriteManyFiles(tree, 20);
  Type(form->ComboBox3, FromBytes(tree.root()));
  Type(form->ComboBox2, Q("needle"));
  bool fail = true;
  QObject::connect(&form->Results(), &QAbstractItemModel::rowsInserted, form.get(), [&] {
    if (fail) throw std::runtime_error("Read error on the disk");
  });
  const test::ScopedSeam<ErrorBoxShower> realBox(SetErrorBoxShower, {});
  QString shown;
  QTimer closer;  // the run pumps events before the box appears: look until it is there
  QObject::connect(&closer, &QTimer::timeout, form.get(), [&] {
    if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
      shown = box->text();
      box->accept();
    }
  });
  closer.start(5);
  QTest::mouseClick(form->dxButton1, Qt::LeftButton);
  closer.stop();
  EXPECT_EQ(shown, Q("Read error on the disk."));
  EXPECT_TRUE(Idle());
  EXPECT_FALSE(form->Searching());

  fail = false;
  QTest::mouseClick(form->dxButton1, Qt::LeftButton);
  EXPECT_EQ(Status(), Q("Finished Searching"));
  EXPECT_EQ(form->Results().Shown(), 40);
}

TEST_F(MainWindow, ResizingKeepsTheAnchorsAndTheMinimumSize) {
  const QSize start = form->size();
  form->resize(start.width() + 200, start.height() + 100);
  QTRY_COMPARE(form->size(), QSize(start.width() + 200, start.height() + 100));
  EXPECT_EQ(form->ListBox1->geometry(), QRect(8, 112, 940, 390));
  EXPECT_EQ(form->dxContainer1->geometry(), QRect(8, 4, 943, 79));
  EXPECT_EQ(form->URLLabel2->geometry(), QRect(867, 508, 84, 15));
  EXPECT_EQ(form->dxButton1->geometry().topLeft(), QPoint(8, 88));
  EXPECT_EQ(form->ComboBox2->geometry(), QRect(57, 57, 281, 17));
  // Anchored to the top only: the button keeps its centre's share of the container's width.
  const QRect update = form->dxButton4->geometry();
  EXPECT_NEAR(update.center().x() * 743.0 / 943.0, 697.0, 2.0);
  EXPECT_EQ(update.size(), QSize(81, 13));
  // The list stays in the window's client area above the status line.
  EXPECT_EQ(form->centralWidget()->height() - form->ListBox1->geometry().bottom() - 1, 25);

  form->resize(100, 50);
  QTRY_COMPARE(form->size(), form->minimumSize());
  EXPECT_EQ(form->minimumSize().width(), 492);
  EXPECT_GE(form->ListBox1->width(), 0);
  form->resize(start);
  QTRY_COMPARE(form->size(), start);
  EXPECT_EQ(form->ListBox1->geometry(), QRect(8, 112, 740, 290));
  EXPECT_EQ(form->dxButton4->geometry(), QRect(657, 3, 81, 13));
}

TEST(ErrorBox, ShowsTheErrorTitledWithTheApplicationAndGoesOn) {
  EXPECT_EQ(ErrorBoxText(Q("File not found")), Q("File not found."));
  EXPECT_EQ(ErrorBoxText(Q("Done.")), Q("Done."));
  EXPECT_EQ(ErrorBoxText(Q("Socket Error # 10061\r\n")), Q("Socket Error # 10061\r\n"));
  EXPECT_EQ(ErrorBoxText(QString()), QString());

  QString title, text;
  QTimer::singleShot(0, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    ASSERT_NE(box, nullptr);
    title = box->windowTitle();
    text = box->text();
    box->accept();
  });
  bool after = false;
  Guarded(nullptr, [] { throw std::runtime_error("Cannot list the folder"); });
  after = true;
  EXPECT_TRUE(after);
  EXPECT_EQ(title, Q("Tessaly"));
  EXPECT_EQ(text, Q("Cannot list the folder."));
}

}  // namespace
}  // namespace vorn
