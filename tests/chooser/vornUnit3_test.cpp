#include "vornUnit3.h"

#include <gtest/gtest.h>

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QTreeView>
#include <functional>
#include <memory>

#include "FolderModel.h"
#include "TempTree.h"
#include "TextBytes.h"

namespace vorn {

namespace {

class ChooserTest : public ::testing::Test {
 protected:
  void SetUp() override {
    field_ = std::make_unique<QComboBox>();
    field_->setEditable(true);
    field_->setEditText(QStringLiteral("/before/"));
  }

  // Shows the chooser modally and runs `whileOpen` inside its modal loop. A chooser still
  // open afterwards is recorded and closed, so a failing test cannot hang.
  bool RunModal(TForm3& chooser, const std::function<void()>& whileOpen) {
    bool ranOpen = false;
    bool stillOpen = false;
    QTimer::singleShot(0, &chooser, [&] {
      ranOpen = chooser.isVisible() && chooser.isModal();
      whileOpen();
      stillOpen = chooser.isVisible();
      if (stillOpen) chooser.reject();
    });
    chooser.ShowFor(field_.get());
    EXPECT_TRUE(ranOpen);
    return !stillOpen;  // true: the chooser closed itself
  }

  QModelIndex IndexOf(TForm3& chooser, const std::string& path) {
    return static_cast<FolderModel*>(chooser.ShellTreeView1->model())->IndexOf(path);
  }

  std::unique_ptr<QComboBox> field_;
  vorn::test::TempTree tree_;
};

TEST_F(ChooserTest, FirstOpeningSelectsTheRootAndOkWritesItWithOneSlash) {
  TForm3 chooser;
  EXPECT_EQ(chooser.windowTitle(), QStringLiteral("Choose Directory"));
  EXPECT_EQ(chooser.SelectedFolder(), QStringLiteral("/"));
  EXPECT_TRUE(chooser.ShellTreeView1->isExpanded(chooser.ShellTreeView1->currentIndex()));
  EXPECT_TRUE(RunModal(chooser, [&] { QTest::mouseClick(chooser.Button2, Qt::LeftButton); }));
  EXPECT_EQ(field_->currentText(), QStringLiteral("/"));
}

TEST_F(ChooserTest, OkWritesTheTreesFolderAndKeepsTheStateForTheNextOpening) {
  tree_.MakeDir("My Data (1)/sub: x");
  const std::string folder = tree_.Path("My Data (1)/sub: x");
  TForm3 chooser;
  EXPECT_TRUE(RunModal(chooser, [&] {
    chooser.ShellTreeView1->setCurrentIndex(IndexOf(chooser, folder));
    chooser.ShellComboBox1->setCurrentIndex(0);  // the drop-down is not read
    QTest::mouseClick(chooser.Button2, Qt::LeftButton);
  }));
  EXPECT_EQ(field_->currentText().toStdString(), folder + "/");

  // The second opening shows the tree as it was left; Cancel leaves the field.
  field_->setEditText(QStringLiteral("/typed/"));
  EXPECT_TRUE(RunModal(chooser, [&] {
    EXPECT_EQ(chooser.SelectedFolder().toStdString(), folder);
    EXPECT_TRUE(chooser.ShellTreeView1->isExpanded(IndexOf(chooser, "/")));
    QTest::mouseClick(chooser.Button3, Qt::LeftButton);
  }));
  EXPECT_EQ(field_->currentText(), QStringLiteral("/typed/"));
}

// A name that is not UTF-8 is listed with its stand-in, beside its neighbours in byte order,
// and the field gets its very bytes back.
TEST_F(ChooserTest, FoldersOfAnyBytesAreListedAndPickedAsTheyAre) {
  for (const char* name : {"b", "caf\xe9", "a<b>c", ".hidden", "\xff\xfe"}) tree_.MakeDir(name);
  tree_.Write("file", "not a folder\n");
  TForm3 chooser;
  const QModelIndex top = IndexOf(chooser, tree_.root());
  ASSERT_TRUE(top.isValid());
  auto* model = chooser.ShellTreeView1->model();
  model->fetchMore(top);  // as the tree does when the folder is expanded
  QStringList shown;
  for (int row = 0; row < model->rowCount(top); ++row)
    shown << model->index(row, 0, top).data().toString();
  EXPECT_EQ(shown, QStringList({QStringLiteral("a<b>c"), QStringLiteral("b"),
                                QStringLiteral("caf\uFFFD"), QStringLiteral("\uFFFD\uFFFD")}));
  for (const std::string name : {"caf\xe9", "\xff\xfe"}) {
    EXPECT_TRUE(RunModal(chooser, [&] {
      chooser.ShellTreeView1->setCurrentIndex(IndexOf(chooser, tree_.Path(name)));
      QTest::mouseClick(chooser.Button2, Qt::LeftButton);
    }));
    EXPECT_EQ(ToBytes(field_->currentText()), tree_.Path(name) + "/");
  }
  EXPECT_FALSE(IndexOf(chooser, tree_.Path("file")).isValid());
}

// A shown folder has an expander only where a subfolder can be: a link to a folder counts,
// a file does not; a folder found empty tells the view so.
TEST_F(ChooserTest, OnlyFoldersThatMayHaveSubfoldersShowAnExpander) {
  tree_.MakeDir("parent/child");
  tree_.Write("files/a.txt", "x\n");
  tree_.MakeDir("links");
  tree_.Symlink(tree_.Path("parent"), "links/to-parent");
  FolderModel model;
  const QModelIndex top = model.IndexOf(tree_.root());
  model.fetchMore(top);
  QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
  for (const auto& [name, expander] :
       {std::pair{"files", false}, {"links", true}, {"parent", true}}) {
    const QModelIndex row = model.IndexOf(tree_.Path(name));
    EXPECT_TRUE(model.hasChildren(row)) << name;  // not looked at before it is shown
    row.data();
    EXPECT_EQ(model.hasChildren(row), expander) << name;
  }
  QCoreApplication::processEvents();
  ASSERT_EQ(changed.size(), 1);
  EXPECT_EQ(changed[0][0].value<QModelIndex>(), model.IndexOf(tree_.Path("files")));
}

TEST_F(ChooserTest, EscapeDoesNotCloseTheCloseBoxCancelsEnterPressesOk) {
  tree_.MakeDir("a");
  TForm3 chooser;
  EXPECT_TRUE(RunModal(chooser, [&] {
    chooser.ShellTreeView1->setCurrentIndex(IndexOf(chooser, tree_.Path("a")));
    chooser.ShellTreeView1->setFocus();
    QTest::keyClick(chooser.ShellTreeView1, Qt::Key_Escape);
    QTest::keyClick(&chooser, Qt::Key_Escape);
    EXPECT_TRUE(chooser.isVisible());
    chooser.close();  // the close box
  }));
  EXPECT_EQ(field_->currentText(), QStringLiteral("/before/"));

  // Enter on Cancel cancels; Enter anywhere else (the tree, the keypad's Enter) is OK.
  EXPECT_TRUE(RunModal(chooser, [&] {
    chooser.Button3->setFocus();
    QTest::keyClick(chooser.Button3, Qt::Key_Return);
  }));
  EXPECT_EQ(field_->currentText(), QStringLiteral("/before/"));
  EXPECT_TRUE(RunModal(chooser, [&] {
    chooser.ShellTreeView1->setCurrentIndex(IndexOf(chooser, tree_.Path("a")));
    chooser.ShellTreeView1->setFocus();
    QTest::keyClick(chooser.ShellTreeView1, Qt::Key_Enter, Qt::KeypadModifier);
  }));
  EXPECT_EQ(field_->currentText().toStdString(), tree_.Path("a/"));
}

TEST_F(ChooserTest, RightClickSelectsTheFolderUnderThePointer) {
  TForm3 chooser;
  chooser.show();
  const QModelIndex root = IndexOf(chooser, "/");
  const QRect rect = chooser.ShellTreeView1->visualRect(root);
  chooser.ShellTreeView1->clearSelection();
  chooser.ShellTreeView1->setCurrentIndex(QModelIndex());
  QTest::mouseClick(chooser.ShellTreeView1->viewport(), Qt::RightButton, {}, rect.center());
  EXPECT_EQ(chooser.SelectedFolder(), QStringLiteral("/"));
  chooser.hide();
}

TEST_F(ChooserTest, ALineEditFieldAndChooseDirectoryCreateTheChooserOnce) {
  QWidget main;
  QComboBox field;
  field.setEditable(true);
  ASSERT_EQ(Form3, nullptr);
  QTimer::singleShot(0, &main, [] { Form3->Button2->click(); });
  ChooseDirectory(&main, &field);
  TForm3* first = Form3;
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(field.currentText(), QStringLiteral("/"));
  QTimer::singleShot(0, &main, [] { Form3->Button3->click(); });
  ChooseDirectory(&main, &field);
  EXPECT_EQ(Form3, first);
  Form3 = nullptr;  // owned by main

  QLineEdit edit;
  TForm3 chooser;
  tree_.MakeDir("e");
  QTimer::singleShot(0, &chooser, [&] {
    chooser.ShellTreeView1->setCurrentIndex(IndexOf(chooser, tree_.Path("e")));
    chooser.Button2->click();
  });
  chooser.ShowFor(&edit);
  EXPECT_EQ(edit.text().toStdString(), tree_.Path("e/"));
}

// Centred the first time, it opens where it was left on every later opening, also after
// the user moved it or the main window.
TEST_F(ChooserTest, OpensWhereItWasLeft) {
  QWidget main;
  main.setGeometry(100, 100, 760, 460);
  main.show();
  TForm3 chooser(&main);
  QPoint first;
  RunModal(chooser, [&] { first = chooser.frameGeometry().topLeft(); });
  EXPECT_NEAR(chooser.geometry().center().x(), main.geometry().center().x(), 2);
  main.move(main.pos() + QPoint(50, 30));  // it is not centred again
  QPoint second;
  RunModal(chooser, [&] {
    second = chooser.frameGeometry().topLeft();
    chooser.move(first + QPoint(37, -11));
  });
  EXPECT_EQ(second, first);
  QPoint third;
  RunModal(chooser, [&] { third = chooser.frameGeometry().topLeft(); });
  EXPECT_EQ(third, first + QPoint(37, -11));
}

}  // namespace
}  // namespace vorn
