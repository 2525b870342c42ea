// The result list's view: one column of rows of one height, laid out by arithmetic (row r
// stands r rows below the first), so new rows cost nothing however long the list grows,
// where a general list view lays every row out again after each insertion. Rows are as
// wide as the widest the delegate asks for, or the viewport; the list scrolls a row at a time
// down and a pixel at a time across. Typing in it does not search the rows for a prefix:
// every row begins with the same folder, and a miss would read all of a million rows.
#pragma once

#include <QAbstractItemView>

namespace vorn {

class ResultListView : public QAbstractItemView {
  Q_OBJECT
 public:
  explicit ResultListView(QWidget* parent = nullptr);

  QRect visualRect(const QModelIndex& index) const override;
  void scrollTo(const QModelIndex& index, ScrollHint hint = EnsureVisible) override;
  QModelIndex indexAt(const QPoint& point) const override;
  void keyboardSearch(const QString& search) override { (void)search; }
  void reset() override;

 protected:
  QModelIndex moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers) override;
  int horizontalOffset() const override;
  int verticalOffset() const override;
  bool isIndexHidden(const QModelIndex& index) const override;
  void setSelection(const QRect& rect, QItemSelectionModel::SelectionFlags flags) override;
  QRegion visualRegionForSelection(const QItemSelection& selection) const override;
  void paintEvent(QPaintEvent* event) override;
  void updateGeometries() override;
  void rowsInserted(const QModelIndex& parent, int start, int end) override;
  void scrollContentsBy(int dx, int dy) override;
  QSize viewportSizeHint() const override;

 private:
  int Rows() const;
  // Whole rows the viewport shows, at least one.
  int PageRows() const;
  int FirstRow() const;
  QRect RowRect(int row) const;

  // The rows' size as the delegate gives it (the first row's: all are alike) at the last
  // layout; never less than a pixel high.
  QSize itemSize_{1, 13};
};

}  // namespace vorn
