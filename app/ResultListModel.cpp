#include "ResultListModel.h"

#include <QSize>
#include <QString>
#include <algorithm>
#include <cstring>
#include <limits>
#include <stdexcept>

#include "DesktopHabits.h"
#include "TextBytes.h"

namespace vorn {

ResultListModel::ResultListModel(QObject* parent) : QAbstractListModel(parent) {}

const ResultListModel::Segment& ResultListModel::SegmentOf(size_t row) const {
  if (row >= count_) throw std::out_of_range("ResultListModel: no such row");
  const auto after = std::upper_bound(segments_.begin(), segments_.end(), row,
                                      [](size_t r, const Segment& s) { return r < s.firstRow; });
  return *(after - 1);
}

const KeptHit& ResultListModel::At(size_t row) const {
  const Segment& s = SegmentOf(row);
  return s.first[row - s.firstRow];
}

QModelIndex ResultListModel::index(int row, int column, const QModelIndex& parent) const {
  if (parent.isValid() || column != 0 || row < 0 || row >= shown_) return {};
  return createIndex(row, column);
}

int ResultListModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : shown_;
}

QVariant ResultListModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() < 0 || index.row() >= shown_) return {};
  switch (role) {
    case Qt::DisplayRole:
      // Bytes that are not UTF-8 and control bytes show as stand-ins; the hit keeps them.
      return ShownBytes(ResultLine(static_cast<size_t>(index.row())));
    case Qt::ToolTipRole:
      // The whole line, for rows cut off at the list's edge, wrapped to the screen; markup
      // in a found line (from an HTML file, say) shows as the text it is.
      return PlainToolTip(FromBytes(ResultLine(static_cast<size_t>(index.row()))));
    case Qt::SizeHintRole:
      // Every row is one line of 13 pixels; the width follows the view.
      return QSize(1, 13);
    default:
      return {};
  }
}

void ResultListModel::Clear() {
  beginResetModel();
  own_.reset();
  shelves_.clear();
  shelves_.shrink_to_fit();
  segments_.clear();
  segments_.shrink_to_fit();
  count_ = 0;
  paths_.clear();
  paths_.shrink_to_fit();
  shown_ = 0;
  longestPath_ = longestText_ = 0;
  endResetModel();
}

std::shared_ptr<HitShelf> ResultListModel::NewShelf() {
  return shelves_.emplace_back(std::make_shared<HitShelf>());
}

void ResultListModel::Add(std::span<const SearchHit> hits) {
  std::string_view known;  // the path of the hit before, where its giver keeps it
  for (const SearchHit& hit : hits) {
    if (hit.kind != FoundKind::Hit) continue;
    // The hits of one file share their path's bytes: one comparison per file, not per hit.
    if (hit.path.data() != known.data() || hit.path.size() != known.size()) {
      if (paths_.empty() || paths_.back() != hit.path) {
        paths_.emplace_back(hit.path);
        longestPath_ = std::max(longestPath_, hit.path.size());
      }
      known = hit.path;
    }
    const KeptHit* kept = hit.kept;
    if (!kept) {
      if (!own_) own_.emplace(*NewShelf());
      kept = own_->Put(hit.lineIndex, hit.text, hit.binary, hit.matches);
    }
    const auto pathId = static_cast<uint32_t>(paths_.size() - 1);
    Segment* last = segments_.empty() ? nullptr : &segments_.back();
    if (last && last->pathId == pathId && last->first + last->count == kept) {
      ++last->count;
    } else {
      segments_.push_back(Segment{count_, kept, 1, pathId});
    }
    ++count_;
    longestText_ = std::max<size_t>(longestText_, kept->textSize);
  }
}

size_t ResultListModel::BytesBeyondText() const {
  size_t text = 0;
  for (const Segment& s : segments_)
    for (uint32_t i = 0; i < s.count; ++i) text += s.first[i].textSize;
  size_t paths = 0;
  for (const std::string& p : paths_) paths += sizeof p + p.capacity();
  size_t shelves = 0;
  for (const auto& shelf : shelves_) shelves += shelf->Bytes();
  return (shelves > text ? shelves - text : 0) + segments_.capacity() * sizeof(Segment) +
         shelves_.capacity() * sizeof(shelves_[0]) + paths;
}

void ResultListModel::Matches(size_t row, std::vector<MatchRange>& out) const {
  const KeptHit& k = At(row);
  out.clear();
  for (uint16_t i = 0; i < k.rangeCount; ++i) out.push_back(k.Range(i));
}

void ResultListModel::Publish() {
  // A list view counts its rows in an int; hits beyond that are kept but not shown.
  const size_t limit = static_cast<size_t>(std::numeric_limits<int>::max());
  const int total = static_cast<int>(std::min(count_, limit));
  if (total == shown_) return;
  beginInsertRows(QModelIndex(), shown_, total - 1);
  shown_ = total;
  endInsertRows();
}

SearchHit ResultListModel::Hit(size_t row) const {
  const Segment& s = SegmentOf(row);
  const KeptHit& k = s.first[row - s.firstRow];
  return SearchHit{paths_[s.pathId], k.lineIndex, k.Text()};
}

std::string ResultListModel::ResultLine(size_t row) const {
  const SearchHit hit = Hit(row);
  std::string line;
  line.reserve(hit.path.size() + hit.text.size() + 32);
  AppendResultLine(line, hit);
  return line;
}

}  // namespace vorn
