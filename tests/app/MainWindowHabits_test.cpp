// The main window's keyboard, history, drop and tooltip habits, on the real window.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QDropEvent>
#include <QLineEdit>
#include <QListView>
#include <QMimeData>
#include <QStatusBar>
#include <QTest>
#include <QTextDocument>
#include <QUrl>
#include <cstdio>
#include <initializer_list>
#include <memory>

#include "TempTree.h"
#include "VornUnit1.h"

namespace {

using vorn::test::TempTree;

QString Q(const char* utf8) { return QString::fromUtf8(utf8); }

class MainWindowHabits : public ::testing::Test {
 protected:
  void SetUp() override {
    form = std::make_unique<TForm1>();
    Form1 = form.get();
    form->Throttle().SetInterval(std::chrono::nanoseconds(0));
    form->show();
    form->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
  }
  void TearDown() override {
    form.reset();
    StopRequested = false;
  }
  void Type(QComboBox* field, const QString& text) {
    field->setFocus();
    field->lineEdit()->selectAll();
    QTest::keyClick(field, Qt::Key_Delete);
    QTest::keyClicks(field, text);
  }
  QString Key(Qt::Key key) {
    QTest::keyClick(form->ComboBox2, key);
    return form->ComboBox2->currentText();
  }
  // Drags data onto target and drops it there, as the file manager would, offering copy,
  // move and link (or only the given actions); returns whether the drop was taken.
  bool Drop(QWidget* target, QMimeData* data,
            Qt::DropActions offered = Qt::CopyAction | Qt::MoveAction | Qt::LinkAction) {
    const QPoint at(target->width() / 2, target->height() / 2);
    QDragEnterEvent enter(at, offered, data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &enter);
    if (!enter.isAccepted()) return false;
    QDropEvent drop(at, offered, data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &drop);
    return drop.isAccepted() && drop.dropAction() != Qt::MoveAction;
  }
  QMimeData* Urls(const QList<QUrl>& urls) {
    auto* data = new QMimeData;  // owned by mimes_
    data->setUrls(urls);
    if (!urls.isEmpty()) data->setText(urls.front().toString());  // as file managers do
    mimes_.emplace_back(data);
    return data;
  }

  std::unique_ptr<TForm1> form;
  std::vector<std::unique_ptr<QMimeData>> mimes_;
};

TEST_F(MainWindowHabits, UpFromNewTextGivesTheMostRecentQueryAndDownBringsTheTextBack) {
  Type(form->ComboBox2, Q("only"));
  form->ComboBox2Exit();
  Type(form->ComboBox2, Q("new"));
  EXPECT_EQ(Key(Qt::Key_Up), Q("only"));  // one query: it can be recalled
  EXPECT_EQ(Key(Qt::Key_Up), Q("only"));
  EXPECT_EQ(Key(Qt::Key_Down), Q("new"));
  EXPECT_TRUE(form->dxButton1->isEnabled());

  for (const char* query : {"two", "three", "three"}) {
    Type(form->ComboBox2, Q(query));
    form->ComboBox2Exit();
  }
  // The query just kept is still shown: Up goes to the one before, stepping over repeats.
  EXPECT_EQ(Key(Qt::Key_Up), Q("two"));
  Type(form->ComboBox2, Q("draft"));
  EXPECT_EQ(Key(Qt::Key_Up), Q("three"));
  EXPECT_EQ(Key(Qt::Key_Up), Q("two"));
  EXPECT_EQ(Key(Qt::Key_Up), Q("only"));
  EXPECT_EQ(Key(Qt::Key_Down), Q("two"));
  // Editing a recalled query makes it new text again.
  QTest::keyClicks(form->ComboBox2, Q("s"));
  EXPECT_EQ(Key(Qt::Key_Up), Q("three"));
  EXPECT_EQ(Key(Qt::Key_Down), Q("twos"));
  EXPECT_EQ(form->ComboBox2->count(), 4);  // walking adds nothing
}

TEST_F(MainWindowHabits, EscapeStopsARunningSearchAndAltLettersTypeNothing) {
  TempTree tree;
  for (int f = 0; f < 300; ++f) {
    char name[32];
    std::snprintf(name, sizeof name, "f%04d.txt", f);
    tree.Write(name, "needle one\nhay\nneedle two\n");
  }
  Type(form->ComboBox3, QString::fromLocal8Bit(tree.root()));
  Type(form->ComboBox2, Q("needle"));
  bool pressed = false;
  QObject::connect(&form->Results(), &QAbstractItemModel::rowsInserted, form.get(), [&] {
    if (pressed || form->Results().Shown() < 20) return;
    pressed = true;
    QTest::keyClick(form->ComboBox2, Qt::Key_Escape);
  });
  QTest::keyClick(form->ComboBox2, Qt::Key_Return);
  EXPECT_TRUE(pressed);
  EXPECT_EQ(form->StatusBar1->currentMessage(), Q("User aborted Search"));
  EXPECT_LT(form->Results().Shown(), 600);
  // Idle, Escape does nothing to the window or the field.
  QTest::keyClick(form->ComboBox2, Qt::Key_Escape);
  EXPECT_TRUE(form->isVisible());
  EXPECT_EQ(form->ComboBox2->currentText(), Q("needle"));

  for (QComboBox* field : {form->ComboBox1, form->ComboBox2, form->ComboBox3}) {
    const QString before = field->currentText();
    field->setFocus();
    field->lineEdit()->end(false);
    QTest::keyClick(field, Qt::Key_F, Qt::AltModifier);
    QTest::keyClick(field, Qt::Key_S, Qt::AltModifier | Qt::ShiftModifier);
    EXPECT_EQ(field->currentText(), before) << field->objectName().toStdString();
    QTest::keyClick(field, Qt::Key_X);
    EXPECT_EQ(field->currentText(), before + Q("x"));
  }
}

TEST_F(MainWindowHabits, ADroppedFolderOrFileNamesTheDirectoryAndNoAddressBecomesText) {
  TempTree tree;
  tree.Write("sub dir/a.txt", "x\n");
  const QString root = QString::fromLocal8Bit(tree.root());
  const QString sub = root + Q("sub dir");
  Type(form->ComboBox2, Q("query"));
  QLineEdit* query = form->ComboBox2->lineEdit();

  // Onto the query field: the folder goes to Directory, the query stays.
  EXPECT_TRUE(Drop(query, Urls({QUrl::fromLocalFile(sub)})));
  EXPECT_EQ(form->ComboBox3->currentText(), sub + Q("/"));
  EXPECT_EQ(form->ComboBox2->currentText(), Q("query"));
  // A file onto the window names its folder; the root keeps one "/".
  EXPECT_TRUE(Drop(form.get(), Urls({QUrl::fromLocalFile(root + Q("sub dir/a.txt"))})));
  EXPECT_EQ(form->ComboBox3->currentText(), sub + Q("/"));
  EXPECT_TRUE(Drop(form->ComboBox3->lineEdit(), Urls({QUrl::fromLocalFile(Q("/"))})));
  EXPECT_EQ(form->ComboBox3->currentText(), Q("/"));

  // Refused, and no field takes text: a web address, a path that is gone, a move-only offer.
  for (QWidget* target :
       std::initializer_list<QWidget*>{query, form->ComboBox3->lineEdit(), form.get()}) {
    EXPECT_FALSE(Drop(target, Urls({QUrl(Q("https://example.org/x"))})));
    EXPECT_FALSE(Drop(target, Urls({QUrl::fromLocalFile(root + Q("gone"))})));
    EXPECT_FALSE(Drop(target, Urls({QUrl::fromLocalFile(sub)}), Qt::MoveAction));
  }
  EXPECT_EQ(form->ComboBox3->currentText(), Q("/"));
  EXPECT_EQ(form->ComboBox2->currentText(), Q("query"));

  // Dragged plain text still goes into a field.
  auto* text = new QMimeData;
  mimes_.emplace_back(text);
  text->setText(Q(" more"));
  query->end(false);
  Drop(query, text);
  EXPECT_EQ(form->ComboBox2->currentText(), Q("query more"));
}

TEST_F(MainWindowHabits, ARowsTooltipShowsItsWholeLineAsText) {
  TempTree tree;
  const std::string line = "<b>needle</b> & <img src=\"x\"> " + std::string(300, 'y');
  tree.Write("page.txt", line + "\n");
  Type(form->ComboBox3, QString::fromLocal8Bit(tree.root()));
  Type(form->ComboBox2, Q("needle"));
  form->Do_the_search();
  ASSERT_EQ(form->Results().Shown(), 1);
  const QModelIndex row = form->ListBox1->model()->index(0, 0);
  QTextDocument tip;
  tip.setHtml(row.data(Qt::ToolTipRole).toString());
  EXPECT_EQ(tip.toPlainText(), row.data(Qt::DisplayRole).toString());
  EXPECT_TRUE(tip.toPlainText().endsWith(QString::fromStdString(line)));
}

}  // namespace
