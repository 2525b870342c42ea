#include "ResultListView.h"

#include <gtest/gtest.h>

#include <QScrollBar>
#include <QTest>
#include <string>
#include <vector>

#include "ResultListModel.h"
#include "ResultRowDelegate.h"

namespace vorn {
namespace {

// A long list is laid out by arithmetic: its scroll range covers every row as soon as they
// come, rows and points map to each other at any scroll position, and the keys and the mouse
// move and select as in any list.
TEST(ResultListView, LaysOutRowsAtOnceAndMovesAndSelectsAsAList) {
  ResultListModel model;
  ResultListView view;
  view.setModel(&model);
  view.setItemDelegate(new ResultRowDelegate(model, &view));
  view.setSelectionMode(QAbstractItemView::SingleSelection);
  view.resize(400, 200);
  view.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
  const int rows = 300000;
  const std::string path = "/t/a.c";
  const std::string text(300, 'x');  // wider than the view
  std::vector<SearchHit> hits(rows, SearchHit{path, 0, text});
  for (int i = 0; i < rows; ++i) hits[static_cast<size_t>(i)].lineIndex = static_cast<size_t>(i);
  model.Add(hits);
  model.Publish();
  QScrollBar* down = view.verticalScrollBar();
  EXPECT_EQ(down->maximum() + down->pageStep(), rows);
  EXPECT_GT(view.horizontalScrollBar()->maximum(), 0);

  down->setValue(123456);
  const QModelIndex shown = model.index(123460, 0);
  const QRect rect = view.visualRect(shown);
  EXPECT_EQ(rect.top(), 4 * rect.height());
  EXPECT_EQ(view.indexAt(rect.center()), shown);
  EXPECT_FALSE(view.indexAt(QPoint(5, -1)).isValid());

  QTest::mouseClick(view.viewport(), Qt::LeftButton, {}, rect.center());
  EXPECT_EQ(view.currentIndex(), shown);
  EXPECT_TRUE(view.selectionModel()->isSelected(shown));
  const int page = down->pageStep();
  QTest::keyClick(&view, Qt::Key_PageDown);
  EXPECT_EQ(view.currentIndex().row(), 123460 + page);
  QTest::keyClick(&view, Qt::Key_Right);  // across is a scroll: the row stays
  EXPECT_EQ(view.currentIndex().row(), 123460 + page);
  EXPECT_GT(view.horizontalScrollBar()->value(), 0);
  QTest::keyClick(&view, Qt::Key_End);
  EXPECT_EQ(view.currentIndex().row(), rows - 1);
  EXPECT_EQ(down->value(), down->maximum());
  EXPECT_TRUE(view.selectionModel()->isSelected(view.currentIndex()));
  QTest::keyClick(&view, Qt::Key_Up);
  EXPECT_EQ(view.currentIndex().row(), rows - 2);
  QTest::keyClick(&view, Qt::Key_Home);
  EXPECT_EQ(view.currentIndex().row(), 0);
  EXPECT_EQ(down->value(), 0);

  // A point below the last row of a short list is no row.
  model.Clear();
  model.Add(std::span(hits).first(3));
  model.Publish();
  EXPECT_EQ(down->maximum(), 0);
  EXPECT_FALSE(view.indexAt(QPoint(5, 150)).isValid());
  EXPECT_EQ(view.indexAt(QPoint(5, 1)), model.index(0, 0));
}

}  // namespace
}  // namespace vorn
