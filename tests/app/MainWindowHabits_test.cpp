// The main window's history walk, Escape, Alt chords, drops and tooltips, on the real window.
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
#include <memory>

#include "TempTree.h"
#include "TextBytes.h"
#include "VornUnit1.h"

using namespace vorn;

namespace {

QString Q(const char* utf8) { return QString::fromUtf8(utf8); }

class MainWindowHabits : public ::testing::Test {
 protected:
  void SetUp() override {
    form->Throttle().SetInterval(std::chrono::nanoseconds(0));
    form->show();
  }
  void Type(QComboBox* field, const QString& text) {
    field->setFocus();
    field->setEditText(QString());
    QTest::keyClicks(field, text);
  }
  QString Key(Qt::Key key) {
    QTest::keyClick(form->ComboBox2, key);
    return form->ComboBox2->currentText();
  }
  // Drags a URL onto target and drops it, as a file manager does (with the URL as text too);
  // returns whether the drop was taken without a move.
  bool Drop(QWidget* target, const QUrl& url,
            Qt::DropActions offered = Qt::CopyAction | Qt::MoveAction) {
    QMimeData data;
    data.setUrls({url});
    data.setText(url.toString());
    QDragEnterEvent enter(QPoint(2, 2), offered, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &enter);
    if (!enter.isAccepted()) return false;
    QDropEvent drop(QPoint(2, 2), offered, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &drop);
    return drop.isAccepted() && drop.dropAction() != Qt::MoveAction;
  }

  std::unique_ptr<TForm1> form = std::make_unique<TForm1>();
  vorn::test::TempTree tree;
};

TEST_F(MainWindowHabits, UpFromNewTextGivesTheMostRecentQueryAndDownBringsTheTextBack) {
  Type(form->ComboBox2, Q("one"));
  form->ComboBox2Exit();
  Type(form->ComboBox2, Q("new"));
  EXPECT_EQ(Key(Qt::Key_Up), Q("one"));  // a lone query can be recalled
  EXPECT_EQ(Key(Qt::Key_Down), Q("new"));
  for (const char* query : {"two", "three", "three"}) {
    Type(form->ComboBox2, Q(query));
    form->ComboBox2Exit();
  }
  Type(form->ComboBox2, Q("draft"));
  EXPECT_EQ(Key(Qt::Key_Up), Q("three"));
  EXPECT_EQ(Key(Qt::Key_Up), Q("two"));  // the repeat is stepped over
  EXPECT_EQ(Key(Qt::Key_Down), Q("three"));
  EXPECT_EQ(Key(Qt::Key_Down), Q("draft"));
}

TEST_F(MainWindowHabits, EscapeStopsARunningSearchAndAltLettersTypeNothing) {
  for (int f = 0; f < 300; ++f) tree.Write("f" + std::to_string(f) + ".txt", "needle\n");
  form->ComboBox3->setEditText(FromBytes(tree.root()));
  Type(form->ComboBox2, Q("needle"));
  QObject::connect(&form->Results(), &QAbstractItemModel::rowsInserted, form.get(), [&] {
    if (form->Results().Shown() >= 20) QTest::keyClick(form->ComboBox2, Qt::Key_Escape);
  });
  QTest::keyClick(form->ComboBox2, Qt::Key_Return);
  EXPECT_EQ(form->StatusBar1->currentMessage(), Q("User aborted Search"));
  EXPECT_LT(form->Results().Shown(), 300);

  for (QComboBox* field : {form->ComboBox1, form->ComboBox2, form->ComboBox3}) {
    const QString before = field->currentText();
    field->setFocus();
    field->lineEdit()->end(false);
    QTest::keyClick(field, Qt::Key_F, Qt::AltModifier);
    QTest::keyClick(field, Qt::Key_X);
    EXPECT_EQ(field->currentText(), before + Q("x"));
  }
}

TEST_F(MainWindowHabits, ADroppedFolderOrFileNamesTheDirectoryAndNoAddressBecomesText) {
  tree.Write("sub dir/a.txt", "x\n");
  const QString sub = FromBytes(tree.Path("sub dir"));
  Type(form->ComboBox2, Q("query"));
  QLineEdit* query = form->ComboBox2->lineEdit();
  EXPECT_TRUE(Drop(query, QUrl::fromLocalFile(sub)));
  EXPECT_EQ(form->ComboBox3->currentText(), sub + Q("/"));
  EXPECT_TRUE(Drop(form.get(), QUrl::fromLocalFile(sub + Q("/a.txt"))));
  EXPECT_EQ(form->ComboBox3->currentText(), sub + Q("/"));

  // Refused: a web address, an offer to move.
  EXPECT_FALSE(Drop(query, QUrl(Q("https://example.org/x"))));
  EXPECT_FALSE(Drop(form.get(), QUrl::fromLocalFile(sub), Qt::MoveAction));
  EXPECT_EQ(form->ComboBox3->currentText(), sub + Q("/"));
  EXPECT_EQ(form->ComboBox2->currentText(), Q("query"));
}

TEST_F(MainWindowHabits, ARowsTooltipShowsItsWholeLineAsText) {
  tree.Write("page.txt", "<b>needle</b> & <img src=\"x\"> " + std::string(300, 'y') + "\n");
  form->ComboBox3->setEditText(FromBytes(tree.root()));
  form->ComboBox2->setEditText(Q("needle"));
  form->Do_the_search();
  const QModelIndex row = form->ListBox1->model()->index(0, 0);
  QTextDocument tip;
  tip.setHtml(row.data(Qt::ToolTipRole).toString());
  // Zero-width spaces let the tip wrap anywhere; the text is the line's.
  const QString text = tip.toPlainText().remove(QChar(0x200B));
  EXPECT_EQ(text, row.data(Qt::DisplayRole).toString());
  EXPECT_TRUE(text.endsWith(Q("<img src=\"x\"> ") + QString(300, QLatin1Char('y'))));
}

}  // namespace
