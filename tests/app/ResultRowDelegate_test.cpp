// A result row as painted: the highlight lies over the match's glyphs after tabs, stand-ins
// and an elided folder.
#include "ResultRowDelegate.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QListView>
#include <algorithm>
#include <string>

#include "ResultListModel.h"

namespace vorn {
namespace {

TEST(ResultRow, TheHighlightCoversTheMatchAfterTabsStandInsAndElision) {
  const std::string path = "/" + std::string(300, 'd') + "/deep/name.c";
  const std::string text = "\tx\x01y\tMATCH end";
  const MatchRange match{5, 10};
  const SearchHit hit{path, 41, text, false, std::span(&match, 1)};
  ResultListModel model;
  model.Add(std::span(&hit, 1));
  model.Publish();
  QListView view;
  view.setModel(&model);
  auto* delegate = new ResultRowDelegate(model, &view);
  view.setItemDelegate(delegate);
  view.resize(500, 60);
  view.show();
  QApplication::processEvents();

  QStyleOptionViewItem option;
  option.initFrom(view.viewport());
  option.widget = &view;
  option.rect = view.visualRect(model.index(0));
  const PaintedRow row = delegate->Row(option, model.index(0));
  // The name, the line index and the text stay; the folder gives way in its middle; a tab
  // reaches the next multiple of four; the control byte shows as its picture.
  const QString tail = QStringLiteral("name.c (41)  :      x\u2401y MATCH end");
  ASSERT_TRUE(row.text.endsWith(tail)) << row.text.toStdString();
  EXPECT_TRUE(row.text.startsWith(QStringLiteral("/ddd")));
  EXPECT_TRUE(row.text.contains(QChar(0x2026)));
  ASSERT_EQ(row.marks.size(), 1u);
  EXPECT_EQ(row.text.mid(row.marks[0].first, row.marks[0].second - row.marks[0].first),
            QStringLiteral("MATCH"));

  // The highlight's pixels span the match's glyphs as the font places them.
  const QImage image = view.viewport()->grab().toImage();
  const int y = option.rect.center().y();
  int left = -1, right = -1;
  for (int x = 0; x < image.width(); ++x) {
    if (QColor(image.pixel(x, y)) != MarkBackground()) continue;
    if (left < 0) left = x;
    right = x;
  }
  const QFontMetrics metrics(view.font());
  const int start =
      option.rect.left() + 2 + metrics.horizontalAdvance(row.text.left(row.marks[0].first));
  const int width = metrics.horizontalAdvance(QStringLiteral("MATCH"));
  EXPECT_NEAR(left, start, 2);
  EXPECT_NEAR(right - left + 1, width, 2);
}

// Rows painted once are copied at the next repaint; a new list in the same rows, and a row
// selected, are painted afresh.
TEST(ResultRow, ARepaintShowsANewListAndTheSelection) {
  ResultListModel model;
  QListView view;
  view.setModel(&model);
  view.setItemDelegate(new ResultRowDelegate(model, &view));
  view.resize(400, 60);
  view.show();
  const auto markLeft = [&](const std::string& text, size_t at) {
    const MatchRange match{at, at + 3};
    const SearchHit hit{"/d/f.c", 1, text, false, std::span(&match, 1)};
    model.Clear();
    model.Add(std::span(&hit, 1));
    model.Publish();
    QApplication::processEvents();
    view.viewport()->grab();  // the second paint is a copy's
    const QImage image = view.viewport()->grab().toImage();
    const int y = view.visualRect(model.index(0)).center().y();
    for (int x = 0; x < image.width(); ++x)
      if (QColor(image.pixel(x, y)) == MarkBackground()) return x;
    return -1;
  };
  const int early = markLeft("abc and more", 0);
  const int late = markLeft("more and abc", 9);
  EXPECT_GT(early, 0);
  EXPECT_GT(late, early);
  EXPECT_EQ(markLeft("abc and more", 0), early);

  view.setCurrentIndex(model.index(0));
  const QImage image = view.viewport()->grab().toImage();
  const QRect rect = view.visualRect(model.index(0));
  const QPalette::ColorGroup group = view.isActiveWindow() ? QPalette::Active : QPalette::Inactive;
  EXPECT_EQ(QColor(image.pixel(std::min(rect.right(), image.width() - 1) - 20, rect.center().y())),
            view.palette().color(group, QPalette::Highlight));
}

}  // namespace
}  // namespace vorn
