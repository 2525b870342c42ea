// The main window's history walk, Escape, Alt chords, drops and tooltips, on the real window.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDropEvent>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QMimeData>
#include <QScreen>
#include <QStatusBar>
#include <QTest>
#include <QTextDocument>
#include <QToolTip>
#include <QUrl>
#include <cstdio>
#include <memory>

#include "TempTree.h"
#include "TextBytes.h"
#include "VornUnit1.h"

namespace vorn {

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
  for (int f = 0; f < 300; ++f) {
    // Formatted in place: string concatenation here draws a false -Wrestrict from GCC 12's
    // Release optimiser.
    char name[16];
    std::snprintf(name, sizeof name, "f%d.txt", f);
    tree.Write(name, "needle\n");
  }
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

  // The local forms of an address, and a name that is not UTF-8, byte for byte.
  tree.MakeDir("caf\xE9");
  const std::string root = tree.root();
  EXPECT_TRUE(Drop(query, QUrl::fromEncoded(QByteArray::fromStdString("file://localhost" + root +
                                                                      "sub%20dir/a.txt"))));
  EXPECT_EQ(form->ComboBox3->currentText(), sub + Q("/"));
  EXPECT_TRUE(
      Drop(query, QUrl::fromEncoded(QByteArray::fromStdString("file://" + root + "caf%E9"))));
  EXPECT_EQ(ToBytes(form->ComboBox3->currentText()), root + "caf\xE9/");
  EXPECT_TRUE(Drop(query, QUrl::fromLocalFile(sub)));

  // Refused: a web address, another host, an offer to move.
  EXPECT_FALSE(Drop(query, QUrl(Q("https://example.org/x"))));
  EXPECT_FALSE(Drop(query, QUrl::fromEncoded(QByteArray::fromStdString("file://elsewhere.example" +
                                                                       root + "sub%20dir"))));
  EXPECT_FALSE(Drop(form.get(), QUrl::fromLocalFile(sub), Qt::MoveAction));
  EXPECT_EQ(form->ComboBox3->currentText(), sub + Q("/"));
  EXPECT_EQ(form->ComboBox2->currentText(), Q("query"));
}

// A row and its tooltip show the line as text: markup as its characters, control bytes and
// bytes that are not UTF-8 as stand-ins, a long line wrapped within the screen; the hit the
// actions take keeps the bytes. The folder, named by bytes that are not UTF-8, comes back
// from the Directory field unchanged.
TEST_F(MainWindowHabits, RowsAndTooltipsShowLinesAsTextAndBytesComeBackUnchanged) {
  const struct {
    std::string line;
    QString shown;
  } cases[] = {
      {"<b>needle</b> & <img src=\"x\">", Q("<b>needle</b> & <img src=\"x\">")},
      {std::string("needle\0nul\x1B[31m\x7F\tend", 20), Q("needle\u2400nul\u241B[31m\u2421\tend")},
      {"caf\xE9 needle", Q("caf\uFFFD needle")},
      {"needle" + std::string(4090, 'y'), Q("needle") + QString(4090, QLatin1Char('y'))},
  };
  const std::string folder = tree.root() + "d\xE9j\xE0/";
  for (size_t i = 0; i < std::size(cases); ++i)
    tree.Write("d\xE9j\xE0/" + std::to_string(i) + ".txt", cases[i].line + "\n");
  // The lines' bytes as they are: Automatic would show the Latin-1 line decoded.
  for (QAction* a : form->Encoding1->actions())
    if (a->text() == Q("UTF-8 only")) a->trigger();
  form->ComboBox3->setEditText(FromBytes(folder));
  form->ComboBox2->setEditText(Q("needle"));
  form->Do_the_search();
  EXPECT_EQ(ToBytes(form->ComboBox3->currentText()), folder);
  ASSERT_EQ(form->Results().Shown(), static_cast<int>(std::size(cases)));
  const QString prefix = ShownBytes(folder);  // "d\uFFFDj\uFFFD/"
  for (size_t i = 0; i < std::size(cases); ++i) {
    const QModelIndex row = form->ListBox1->model()->index(static_cast<int>(i), 0);
    const QString shown =
        prefix + Q(std::to_string(i).c_str()) + Q(".txt (0)  :  ") + cases[i].shown;
    EXPECT_EQ(row.data(Qt::DisplayRole).toString(), shown) << i;
    QTextDocument tip;
    tip.setHtml(row.data(Qt::ToolTipRole).toString());
    EXPECT_EQ(tip.toPlainText().remove(QChar(0x200B)), shown) << i;
    form->ListBox1->setCurrentIndex(row);
    EXPECT_EQ(form->SelectedHit()->path, folder + std::to_string(i) + ".txt");
    EXPECT_EQ(form->SelectedHit()->text, cases[i].line);
    // Shown as a tooltip, the line fits the screen.
    QToolTip::showText(QPoint(0, 0), row.data(Qt::ToolTipRole).toString(), form->ListBox1);
    int tips = 0;
    for (QWidget* w : QApplication::topLevelWidgets()) {
      if (w->inherits("QTipLabel") && w->isVisible()) {
        ++tips;
        EXPECT_LE(w->width(), form->screen()->geometry().width()) << i;
      }
    }
    EXPECT_EQ(tips, 1);
    QToolTip::hideText();
  }
}

}  // namespace
}  // namespace vorn
