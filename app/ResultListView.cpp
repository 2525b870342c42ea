#include "ResultListView.h"

#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>
#include <QStyleOptionViewItem>
#include <algorithm>
#include <limits>

namespace vorn {

ResultListView::ResultListView(QWidget* parent) : QAbstractItemView(parent) {
  setVerticalScrollMode(ScrollPerItem);
  setHorizontalScrollMode(ScrollPerPixel);
}

int ResultListView::Rows() const { return model() ? model()->rowCount(rootIndex()) : 0; }

int ResultListView::PageRows() const {
  return std::max(1, viewport()->height() / itemSize_.height());
}

int ResultListView::FirstRow() const { return verticalScrollBar()->value(); }

QRect ResultListView::RowRect(int row) const {
  return {-horizontalOffset(), (row - FirstRow()) * itemSize_.height(),
          std::max(itemSize_.width(), viewport()->width()), itemSize_.height()};
}

QRect ResultListView::visualRect(const QModelIndex& index) const {
  if (!index.isValid() || index.parent() != rootIndex() || index.row() >= Rows()) return {};
  return RowRect(index.row());
}

void ResultListView::scrollTo(const QModelIndex& index, ScrollHint hint) {
  if (!index.isValid() || index.row() >= Rows()) return;
  const int row = index.row();
  const int page = PageRows();
  QScrollBar* bar = verticalScrollBar();
  switch (hint) {
    case EnsureVisible:
      if (row < FirstRow())
        bar->setValue(row);
      else if (row >= FirstRow() + page)
        bar->setValue(row - page + 1);
      break;
    case PositionAtTop:
      bar->setValue(row);
      break;
    case PositionAtBottom:
      bar->setValue(row - page + 1);
      break;
    case PositionAtCenter:
      bar->setValue(row - page / 2);
      break;
  }
}

QModelIndex ResultListView::indexAt(const QPoint& point) const {
  if (!model() || point.y() < 0 || point.x() < 0) return {};
  const int row = FirstRow() + point.y() / itemSize_.height();
  if (row >= Rows() || point.x() >= RowRect(row).right() + 1) return {};
  return model()->index(row, 0, rootIndex());
}

void ResultListView::reset() {
  QAbstractItemView::reset();
  updateGeometries();
  viewport()->update();
}

QModelIndex ResultListView::moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers) {
  (void)modifiers;
  const int rows = Rows();
  if (rows == 0) return {};
  const QModelIndex current = currentIndex();
  const int at = current.isValid() ? current.row() : -1;
  int row = at;
  switch (action) {
    case MoveUp:
    case MovePrevious:
      row = at < 0 ? 0 : at - 1;
      break;
    case MoveDown:
    case MoveNext:
      row = at + 1;
      break;
    case MovePageUp:
      row = at - PageRows();
      break;
    case MovePageDown:
      row = at < 0 ? PageRows() - 1 : at + PageRows();
      break;
    case MoveHome:
      row = 0;
      break;
    case MoveEnd:
      row = rows - 1;
      break;
    case MoveLeft:
    case MoveRight: {
      // One column: across is a scroll, the current row stays.
      QScrollBar* bar = horizontalScrollBar();
      bar->setValue(bar->value() + (action == MoveLeft ? -1 : 1) * bar->singleStep());
      return current;
    }
  }
  return model()->index(std::clamp(row, 0, rows - 1), 0, rootIndex());
}

int ResultListView::horizontalOffset() const { return horizontalScrollBar()->value(); }

int ResultListView::verticalOffset() const {
  const qint64 offset = static_cast<qint64>(FirstRow()) * itemSize_.height();
  return static_cast<int>(std::min<qint64>(offset, std::numeric_limits<int>::max()));
}

bool ResultListView::isIndexHidden(const QModelIndex& index) const {
  (void)index;
  return false;
}

void ResultListView::setSelection(const QRect& rect, QItemSelectionModel::SelectionFlags flags) {
  const int rows = Rows();
  if (rows == 0 || !selectionModel()) return;
  const QRect r = rect.normalized();
  const int height = itemSize_.height();
  const int top = std::clamp(FirstRow() + std::max(0, r.top()) / height, 0, rows - 1);
  const int bottom = std::clamp(FirstRow() + std::max(0, r.bottom()) / height, 0, rows - 1);
  selectionModel()->select(
      QItemSelection(model()->index(top, 0, rootIndex()), model()->index(bottom, 0, rootIndex())),
      flags);
}

QRegion ResultListView::visualRegionForSelection(const QItemSelection& selection) const {
  QRegion region;
  const int first = FirstRow();
  const int last = first + PageRows();
  for (const QItemSelectionRange& range : selection) {
    if (range.parent() != rootIndex()) continue;
    const int top = std::max(range.top(), first);
    const int bottom = std::min(range.bottom(), last);
    if (top <= bottom) region += RowRect(top).united(RowRect(bottom));
  }
  return region;
}

void ResultListView::paintEvent(QPaintEvent* event) {
  const int rows = Rows();
  if (rows == 0) return;
  QPainter painter(viewport());
  QStyleOptionViewItem option;
  initViewItemOption(&option);
  const QStyle::State state = option.state;
  const QModelIndex current = currentIndex();
  const bool focus = (hasFocus() || viewport()->hasFocus()) && current.isValid();
  const int height = itemSize_.height();
  const QRect dirty = event->rect();
  const int first = FirstRow() + std::max(0, dirty.top()) / height;
  const int last = std::min(rows - 1, FirstRow() + dirty.bottom() / height);
  for (int row = first; row <= last; ++row) {
    const QModelIndex index = model()->index(row, 0, rootIndex());
    option.rect = RowRect(row);
    option.state = state;
    if (selectionModel() && selectionModel()->isSelected(index))
      option.state |= QStyle::State_Selected;
    if (focus && index == current) option.state |= QStyle::State_HasFocus;
    itemDelegateForIndex(index)->paint(&painter, option, index);
  }
}

void ResultListView::updateGeometries() {
  const int rows = Rows();
  if (rows > 0 && itemDelegate()) {
    QStyleOptionViewItem option;
    initViewItemOption(&option);
    itemSize_ = itemDelegate()->sizeHint(option, model()->index(0, 0, rootIndex()));
    itemSize_.setHeight(std::max(1, itemSize_.height()));
  }
  const int page = PageRows();
  QScrollBar* down = verticalScrollBar();
  down->setSingleStep(1);
  down->setPageStep(page);
  down->setRange(0, std::max(0, rows - page));
  const int width = viewport()->width();
  QScrollBar* across = horizontalScrollBar();
  across->setSingleStep(std::max(1, fontMetrics().averageCharWidth() * 2));
  across->setPageStep(width);
  across->setRange(0, rows > 0 ? std::max(0, itemSize_.width() - width) : 0);
  QAbstractItemView::updateGeometries();
}

void ResultListView::rowsInserted(const QModelIndex& parent, int start, int end) {
  QAbstractItemView::rowsInserted(parent, start, end);
  updateGeometries();
  if (start <= FirstRow() + PageRows()) viewport()->update();
}

void ResultListView::scrollContentsBy(int dx, int dy) {
  (void)dx;
  (void)dy;
  // The delegate keeps the rows it painted last: painting a page again costs little.
  viewport()->update();
}

QSize ResultListView::viewportSizeHint() const {
  const qint64 tall = static_cast<qint64>(Rows()) * itemSize_.height();
  return {itemSize_.width(), static_cast<int>(std::min<qint64>(tall, 1 << 20))};
}

}  // namespace vorn
