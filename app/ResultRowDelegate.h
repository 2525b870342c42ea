// How a row of the result list is painted: the folder part of the path elided in its middle
// when the row would otherwise not show the file name, the line index and the start of the
// hit's text; a tab as a small fixed gap; and every match in the line highlighted over its
// characters. The row's data (its result line, its tooltip, what the actions take) is not
// changed by any of it.
#pragma once

#include <QColor>
#include <QFont>
#include <QPixmap>
#include <QStyledItemDelegate>
#include <span>
#include <string>
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
  // A folder as shown for a list width: the rows of one file share it, so it is measured and
  // elided once for them all rather than at every paint of every row.
  struct Folder {
    std::string path;
    int width;
    int digits;  // of the line index, which takes its part of the row
    QFont font;
    QString shown;
  };
  // A row's visible part as last painted. Rows never change once in the list, so a repaint
  // of the same rows (a run shows new rows below them at every pump) copies these.
  struct Painted {
    int row;
    QRect part;  // the visible part, relative to the row's rectangle
    int state;
    qint64 palette;
    QFont font;
    qreal ratio;
    QPixmap pixels;  // none until the row's second paint
    unsigned long long used;
  };
  void PaintNow(QPainter* painter, const QStyleOptionViewItem& option,
                const QModelIndex& index) const;

  const ResultListModel& model_;
  mutable std::vector<MatchRange> matches_;
  mutable std::vector<Folder> folders_;
  mutable size_t nextFolder_ = 0;
  mutable std::vector<Painted> painted_;
  mutable unsigned long long paints_ = 0;
};

}  // namespace vorn
