// How a row of the result list is painted: the folder part of the path elided in its middle
// when the row would otherwise not show the file name, the line index and the start of the
// hit's text; a tab as a small fixed gap; and every match in the line highlighted over its
// characters. The row's data (its result line, its tooltip, what the actions take) is not
// changed by any of it.
#pragma once

#include <QColor>
#include <QStyledItemDelegate>
#include <span>
#include <utility>
#include <vector>

#include "SearchHit.h"

namespace vorn {

class ResultListModel;

// A tab in a row reaches to the next multiple of this many characters of the line's text.
inline constexpr int kRowTabColumns = 4;

// A row's text as painted and where each match lies in it, [begin, end) in characters.
struct PaintedRow {
  QString text;
  std::vector<std::pair<qsizetype, qsizetype>> marks;
};

// folder (as shown, elided or not), then the file name, " (" index ")  :  " and the text with
// its stand-ins and tabs as gaps. Matches are byte ranges of hit.text, in order.
PaintedRow PaintRow(const QString& folder, const SearchHit& hit,
                    std::span<const MatchRange> matches);

// The highlight's colours: dark text on amber, legible on light and dark rows and on the
// selection alike.
QColor MarkBackground();
QColor MarkText();

class ResultRowDelegate : public QStyledItemDelegate {
 public:
  ResultRowDelegate(const ResultListModel& model, QObject* parent);

  void paint(QPainter* painter, const QStyleOptionViewItem& option,
             const QModelIndex& index) const override;
  // One size for all rows: wide enough for the longest text found, so the list scrolls
  // across for lines wider than it.
  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
  // The row as paint draws it, its folder elided for the list's width.
  PaintedRow Row(const QStyleOptionViewItem& option, const QModelIndex& index) const;

 private:
  const ResultListModel& model_;
  mutable std::vector<MatchRange> matches_;
};

}  // namespace vorn
