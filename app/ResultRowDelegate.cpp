#include "ResultRowDelegate.h"

#include <QAbstractScrollArea>
#include <QPainter>
#include <QPixmap>
#include <QTextLayout>
#include <algorithm>
#include <charconv>
#include <string_view>

#include "ResultListModel.h"
#include "TextBytes.h"

namespace vorn {

namespace {

constexpr int kPadding = 2;
// Room the row keeps for the hit's text when the folder is elided, in average characters.
constexpr int kTextRoom = 24;
// Folders kept as shown: more than the files of a page.
constexpr size_t kFolders = 64;
// The copies of painted rows take at most this; they hold two pages where that fits.
constexpr double kPaintedBytes = 16.0 * 1024 * 1024;

// Appends bytes [from, to) of the line's text as shown, a tab as blanks to the next stop.
void AppendShown(std::string_view text, size_t from, size_t to, int& column, QString& out) {
  if (to <= from) return;
  const QString piece = ShownBytes(text.substr(from, to - from));
  for (const QChar c : piece) {
    if (c == QLatin1Char('\t')) {
      const int gap = kRowTabColumns - column % kRowTabColumns;
      out.append(QString(gap, QLatin1Char(' ')));
      column += gap;
    } else {
      out.append(c);
      ++column;
    }
  }
}

QWidget* Viewport(const QStyleOptionViewItem& option) {
  const auto* area = qobject_cast<const QAbstractScrollArea*>(option.widget);
  return area ? area->viewport() : nullptr;
}

QPalette::ColorGroup Group(const QStyleOptionViewItem& option) {
  return !(option.state & QStyle::State_Enabled) ? QPalette::Disabled
         : (option.state & QStyle::State_Active) ? QPalette::Active
                                                 : QPalette::Inactive;
}

}  // namespace

PaintedRow PaintRow(const QString& folder, const SearchHit& hit,
                    std::span<const MatchRange> matches) {
  PaintedRow row;
  const size_t slash = hit.path.rfind('/');
  const std::string_view name =
      slash == std::string_view::npos ? hit.path : hit.path.substr(slash + 1);
  char digits[24];
  const auto number = std::to_chars(digits, digits + sizeof digits, hit.lineIndex);
  row.text.reserve(folder.size() + static_cast<qsizetype>(name.size() + hit.text.size()) + 32);
  row.text += folder;
  row.text += ShownBytes(name);
  row.text += QLatin1String(" (");
  row.text += QLatin1String(digits, static_cast<qsizetype>(number.ptr - digits));
  row.text += QLatin1String(")  :  ");
  int column = 0;
  size_t at = 0;
  for (const MatchRange& m : matches) {
    if (m.begin < at || m.begin >= hit.text.size()) continue;
    AppendShown(hit.text, at, m.begin, column, row.text);
    const qsizetype begin = row.text.size();
    at = std::min(std::max(m.end, m.begin), hit.text.size());
    AppendShown(hit.text, m.begin, at, column, row.text);
    if (row.text.size() > begin) row.marks.emplace_back(begin, row.text.size());
  }
  AppendShown(hit.text, at, hit.text.size(), column, row.text);
  return row;
}

QColor MarkBackground() { return {0xFF, 0xC8, 0x3D}; }
QColor MarkText() { return {0x00, 0x00, 0x00}; }

ResultRowDelegate::ResultRowDelegate(const ResultListModel& model, QObject* parent)
    : QStyledItemDelegate(parent), model_(model) {
  // A new list reuses the row numbers.
  connect(&model, &QAbstractItemModel::modelReset, this, [this] {
    painted_.clear();
    folders_.clear();
    nextFolder_ = 0;
  });
}

PaintedRow ResultRowDelegate::Row(const QStyleOptionViewItem& option,
                                  const QModelIndex& index) const {
  const auto rowNumber = static_cast<size_t>(index.row());
  const SearchHit hit = model_.Hit(rowNumber);
  model_.Matches(rowNumber, matches_);
  const size_t slash = hit.path.rfind('/');
  if (slash == std::string_view::npos) return PaintRow(QString(), hit, matches_);

  const QWidget* viewport = Viewport(option);
  const int shownWidth = viewport ? viewport->width() : option.rect.width();
  char digits[24];
  const auto digitsEnd = std::to_chars(digits, digits + sizeof digits, hit.lineIndex).ptr;
  const auto digitCount = static_cast<int>(digitsEnd - digits);
  for (const Folder& f : folders_)
    if (f.width == shownWidth && f.digits == digitCount && f.path == hit.path &&
        f.font == option.font)
      return PaintRow(f.shown, hit, matches_);

  const QFontMetrics& metrics = option.fontMetrics;
  // The folder gives way first: the name, the line index and the start of the text stay.
  QString folder = ShownBytes(hit.path.substr(0, slash + 1));
  const SearchHit nameOnly{hit.path.substr(slash + 1), hit.lineIndex, {}, false, {}};
  const int rest = metrics.horizontalAdvance(PaintRow(QString(), nameOnly, {}).text);
  const int budget = shownWidth - 2 * kPadding - rest - kTextRoom * metrics.averageCharWidth();
  if (metrics.horizontalAdvance(folder) > budget)
    folder = metrics.elidedText(folder, Qt::ElideMiddle, std::max(budget, 0));
  Folder entry{std::string(hit.path), shownWidth, digitCount, option.font, folder};
  if (folders_.size() < kFolders) {
    folders_.push_back(std::move(entry));
  } else {
    folders_[nextFolder_] = std::move(entry);
    nextFolder_ = (nextFolder_ + 1) % kFolders;
  }
  return PaintRow(folder, hit, matches_);
}

void ResultRowDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                              const QModelIndex& index) const {
  if (!index.isValid()) return;
  const QWidget* viewport = Viewport(option);
  const QBrush base = option.palette.brush(Group(option), QPalette::Base);
  // Rows are copied over the list's own plain background only: the copy carries it.
  if (!viewport || base.style() != Qt::SolidPattern || !base.color().isValid() ||
      base.color().alpha() != 255) {
    PaintNow(painter, option, index);
    return;
  }
  const QRect visible = option.rect.intersected(viewport->rect());
  if (visible.isEmpty()) return;
  const qreal ratio = painter->device() ? painter->device()->devicePixelRatio() : 1.0;
  const double rowBytes = visible.width() * ratio * visible.height() * ratio * 4;
  const int pageRows = viewport->height() / std::max(1, option.rect.height()) + 2;
  const auto capacity =
      static_cast<size_t>(std::min(2.0 * pageRows, kPaintedBytes / std::max(rowBytes, 1.0)));
  // A list too wide or too tall for a page of copies is painted as it is.
  if (capacity < static_cast<size_t>(pageRows)) {
    PaintNow(painter, option, index);
    return;
  }
  const QRect part = visible.translated(-option.rect.topLeft());
  const int state =
      static_cast<int>(option.state & (QStyle::State_Selected | QStyle::State_Enabled |
                                       QStyle::State_Active | QStyle::State_HasFocus));
  const qint64 palette = option.palette.cacheKey();
  ++paints_;
  // A row is copied at its second paint: paging through the list paints each row once.
  Painted* seen = nullptr;
  for (Painted& p : painted_) {
    if (p.row == index.row() && p.part == part && p.state == state && p.palette == palette &&
        p.ratio == ratio && p.font == option.font) {
      p.used = paints_;
      if (!p.pixels.isNull()) {
        painter->drawPixmap(visible.topLeft(), p.pixels);
        return;
      }
      seen = &p;
      break;
    }
  }
  if (!seen) {
    PaintNow(painter, option, index);
    Painted entry{index.row(), part, state, palette, option.font, ratio, QPixmap(), paints_};
    if (painted_.size() > capacity) painted_.resize(capacity);
    if (painted_.size() < capacity) {
      painted_.push_back(std::move(entry));
    } else {
      *std::min_element(painted_.begin(), painted_.end(), [](const Painted& a, const Painted& b) {
        return a.used < b.used;
      }) = std::move(entry);
    }
    return;
  }
  QPixmap pixels((QSizeF(visible.size()) * ratio).toSize());
  pixels.setDevicePixelRatio(ratio);
  pixels.fill(base.color());
  {
    QPainter into(&pixels);
    into.translate(-visible.topLeft());
    PaintNow(&into, option, index);
  }
  painter->drawPixmap(visible.topLeft(), pixels);
  seen->pixels = std::move(pixels);
}

void ResultRowDelegate::PaintNow(QPainter* painter, const QStyleOptionViewItem& option,
                                 const QModelIndex& index) const {
  PaintedRow row = Row(option, index);
  const QFontMetrics& metrics = option.fontMetrics;
  const QWidget* viewport = Viewport(option);
  const int shownWidth = viewport ? viewport->width() : option.rect.width();
  // Only what can reach the visible part is laid out: a 4 KB line costs no more than a short
  // one unless the list is scrolled that far across.
  const int right = shownWidth - option.rect.left();
  const int minimumAdvance = std::max(1, metrics.horizontalAdvance(QLatin1Char('.')) / 2);
  const qsizetype reach = right / minimumAdvance + 8;
  if (row.text.size() > reach) row.text.truncate(reach);

  painter->save();
  const bool selected = (option.state & QStyle::State_Selected) != 0;
  const QPalette::ColorGroup group = Group(option);
  if (selected) painter->fillRect(option.rect, option.palette.brush(group, QPalette::Highlight));
  painter->setPen(
      option.palette.color(group, selected ? QPalette::HighlightedText : QPalette::Text));

  // The matches are formats of the one layout, drawn with the text in one pass: given to draw
  // as selections, each would draw the whole line again under a clip path.
  QList<QTextLayout::FormatRange> marks;
  for (const auto& [begin, end] : row.marks) {
    if (begin >= row.text.size()) break;
    QTextLayout::FormatRange range;
    range.start = static_cast<int>(begin);
    range.length = static_cast<int>(std::min(end, row.text.size()) - begin);
    range.format.setBackground(MarkBackground());
    range.format.setForeground(MarkText());
    marks.append(range);
  }
  QTextLayout layout(row.text, option.font, painter->device());
  // Kept from the layout for the draw: a layout otherwise frees its shaped glyphs at its end,
  // and the draw shapes the whole line again.
  layout.setCacheEnabled(true);
  QTextOption textOption(Qt::AlignLeft | Qt::AlignVCenter);
  textOption.setWrapMode(QTextOption::NoWrap);
  layout.setTextOption(textOption);
  layout.setFormats(marks);
  layout.beginLayout();
  QTextLine line = layout.createLine();
  if (line.isValid()) line.setLineWidth(1e6);
  layout.endLayout();
  const qreal top =
      option.rect.top() + (option.rect.height() - (line.isValid() ? line.height() : 0)) / 2;
  layout.draw(painter, QPointF(option.rect.left() + kPadding, top));
  if (option.state & QStyle::State_HasFocus) {
    painter->setPen(
        QPen(option.palette.color(group, selected ? QPalette::HighlightedText : QPalette::Text), 1,
             Qt::DotLine));
    painter->drawRect(option.rect.adjusted(0, 0, -1, -1));
  }
  painter->restore();
}

QSize ResultRowDelegate::sizeHint(const QStyleOptionViewItem& option,
                                  const QModelIndex& index) const {
  const int height = index.data(Qt::SizeHintRole).toSize().height();
  const int average = option.fontMetrics.averageCharWidth();
  const QWidget* viewport = Viewport(option);
  const int shown = viewport ? viewport->width() : option.rect.width();
  // The folder takes at most what it takes when elided; tabs widen a text by up to a quarter.
  const auto prefix = static_cast<int>(std::min<size_t>(model_.LongestPath() + 16, 4096)) * average;
  const auto text = static_cast<int>(model_.LongestText() * 5 / 4) * average;
  return {std::min(prefix, shown) + text + 2 * kPadding, height > 0 ? height : 13};
}

}  // namespace vorn
