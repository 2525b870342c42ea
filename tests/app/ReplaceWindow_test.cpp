// The replace window reached from the main window's File menu: its preview, Stop, the replace
// with its question and its list of what was done, and the undo, driven as a user drives them.
#include "ReplaceWindow.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <memory>

#include "TempTree.h"
#include "VornUnit1.h"

namespace vorn {
namespace {

using test::ReadFile;
using test::TempTree;

class ReplaceWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    form = std::make_unique<TForm1>();
    Form1 = form.get();
    form->ComboBox3->setEditText(QString::fromStdString(tree.root()));
    form->ComboBox1->setEditText(QStringLiteral("*.txt"));
    form->ComboBox2->setEditText(QStringLiteral("foo"));
    form->show();
    QAction* item = form->findChild<QAction*>(QStringLiteral("ReplaceInFiles1"));
    ASSERT_TRUE(item);
    EXPECT_EQ(item->shortcut(), QKeySequence(QStringLiteral("Ctrl+H")));
    item->trigger();
    window = form->findChild<ReplaceWindow*>();
    ASSERT_TRUE(window);
    window->Throttle().SetInterval(std::chrono::nanoseconds(0));
    window->confirm = [this](const QString& q, size_t outside, bool& allow) {
      question = q;
      allow = allowOutside;
      (void)outside;
      return true;
    };
  }
  void TearDown() override { form.reset(); }

  QStringList Rows(const QWidget* list) {
    QStringList out;
    if (auto* tree = qobject_cast<const QTreeWidget*>(list)) {
      for (int i = 0; i < tree->topLevelItemCount(); ++i) out << tree->topLevelItem(i)->text(0);
    } else {
      auto* report = qobject_cast<const QListWidget*>(list);
      for (int i = 0; i < report->count(); ++i) out << report->item(i)->text();
    }
    return out;
  }

  static QString Q(const char* utf8) { return QString::fromUtf8(utf8); }
  QString P(const char* name) { return QString::fromStdString(tree.Path(name)); }

  TempTree tree;
  std::unique_ptr<TForm1> form;
  ReplaceWindow* window = nullptr;
  QString question;
  bool allowOutside = false;
};

TEST_F(ReplaceWindowTest, PreviewsReplacesTheCheckedMatchesAndUndoes) {
  tree.Write("a.txt", "foo foo\r\nbar\n");
  tree.Write("b.txt", "one foo\n");
  tree.Write("ro.txt", "foo\n");
  chmod(tree.Path("ro.txt").c_str(), 0444);
  // Filled from the main window, and editable.
  EXPECT_EQ(window->text->text(), QStringLiteral("foo"));
  EXPECT_EQ(window->mask->text(), QStringLiteral("*.txt"));
  QTest::keyClicks(window->with, QStringLiteral("X"));
  QTest::mouseClick(window->previewButton, Qt::LeftButton);
  EXPECT_EQ(Rows(window->matches),
            QStringList({P("a.txt") + Q("  (2 matches)"), P("b.txt") + Q("  (1 match)"),
                         P("ro.txt") + Q("  (1 match)")}));
  QTreeWidgetItem* a = window->matches->topLevelItem(0);
  EXPECT_EQ(a->child(0)->text(0), QStringLiteral("0: foo foo \u2192 X foo"));
  EXPECT_EQ(a->child(1)->text(0), QStringLiteral("0: foo foo \u2192 foo X"));
  EXPECT_EQ(window->status->text(), QStringLiteral("4 matches in 3 files"));
  a->child(0)->setCheckState(0, Qt::Unchecked);
  EXPECT_EQ(a->checkState(0), Qt::PartiallyChecked);

  QTest::mouseClick(window->replaceButton, Qt::LeftButton);
  EXPECT_EQ(question, QStringLiteral("Replace 3 matches in 3 files?"));
  EXPECT_EQ(ReadFile(tree.Path("a.txt")), "foo X\r\nbar\n");
  EXPECT_EQ(ReadFile(tree.Path("b.txt")), "one X\n");
  EXPECT_EQ(ReadFile(tree.Path("ro.txt")), "foo\n");
  EXPECT_EQ(Rows(window->report),
            QStringList({Q("Replaced 1 match: ") + P("a.txt"), Q("Replaced 1 match: ") + P("b.txt"),
                         Q("Left alone: ") + P("ro.txt") + Q(" \u2014 read-only")}));
  EXPECT_EQ(window->status->text(),
            QStringLiteral("2 matches replaced in 2 files; 1 file left alone"));
  EXPECT_FALSE(window->replaceButton->isEnabled());

  tree.Write("b.txt", "edited\n");
  ASSERT_TRUE(window->undoButton->isEnabled());
  QTest::mouseClick(window->undoButton, Qt::LeftButton);
  EXPECT_EQ(ReadFile(tree.Path("a.txt")), "foo foo\r\nbar\n");
  EXPECT_EQ(ReadFile(tree.Path("b.txt")), "edited\n");
  EXPECT_EQ(window->status->text(), QStringLiteral("1 file put back; 1 file left alone"));
  EXPECT_FALSE(window->undoButton->isEnabled());
}

// Stop ends the preview at its next pump with what was found so far, and a replace between
// two files: files done stay done, the rest untouched.
TEST_F(ReplaceWindowTest, StopsThePreviewAndTheReplace) {
  for (int i = 0; i < 200; ++i) tree.Write("f" + std::to_string(1000 + i) + ".txt", "foo\n");
  int rowsAtStop = -1;
  QTimer::singleShot(0, window, [&] {
    rowsAtStop = window->matches->topLevelItemCount();
    QTest::mouseClick(window->stopButton, Qt::LeftButton);
  });
  window->Preview();
  const int listed = window->matches->topLevelItemCount();
  EXPECT_GE(rowsAtStop, 0);
  EXPECT_LT(listed, 200);
  EXPECT_TRUE(window->status->text().endsWith(QStringLiteral("(stopped)")));
  EXPECT_TRUE(window->previewButton->isEnabled());

  window->Preview();
  ASSERT_EQ(window->matches->topLevelItemCount(), 200);
  QTimer::singleShot(0, window, [&] { QTest::mouseClick(window->stopButton, Qt::LeftButton); });
  window->Replace();
  int replaced = 0;
  for (int i = 0; i < 200; ++i) {
    const std::string now = ReadFile(tree.Path("f" + std::to_string(1000 + i) + ".txt"));
    EXPECT_TRUE(now == "foo\n" || now == "\n") << now;
    replaced += now == "\n";
  }
  EXPECT_GT(replaced, 0);
  EXPECT_LT(replaced, 200);
  EXPECT_EQ(window->report->count(), replaced);
}

}  // namespace
}  // namespace vorn
