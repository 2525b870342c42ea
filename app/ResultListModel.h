// The result list's model: one row per hit, kept as the hit's path, line index, shown text
// (bytes) and match ranges, and shown as the result line decoded with the locale's encoding.
// Hits are collected as the search hands them over and published to the view at each pump, so
// a million hits cost one insertion per pump rather than one per line.
#pragma once

#include <QAbstractListModel>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "HitShelf.h"
#include "SearchHit.h"

namespace vorn {

class ResultListModel : public QAbstractListModel {
  Q_OBJECT
 public:
  explicit ResultListModel(QObject* parent = nullptr);

  // Without the base class's checks through the virtual calls: the view asks for every row
  // each time it lays the list out.
  QModelIndex index(int row, int column = 0,
                    const QModelIndex& parent = QModelIndex()) const override;
  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

  // Drops every row, shown or pending, and frees their memory.
  void Clear();
  // A shelf for a run to keep its hits on; the model holds it until it is cleared.
  std::shared_ptr<HitShelf> NewShelf();
  // Keeps the hits (context lines and breaks are not rows) with the ranges of their matches
  // within the kept text: those already on one of the model's shelves where they lie, the
  // others as copies; the view sees them at the next Publish.
  void Add(std::span<const SearchHit> hits);
  // Shows the hits added since the last Publish as one block of new rows.
  void Publish();

  // Rows the view shows; Total also counts the hits not yet published.
  int Shown() const { return shown_; }
  size_t Total() const { return count_; }

  // The hit in row (shown or pending); row must be below Total(). It views the model's bytes
  // and stays valid until the list is cleared; its matches are left empty (see Matches).
  SearchHit Hit(size_t row) const;
  std::string ResultLine(size_t row) const;
  // The ranges of the row's matches, cut to its kept text; out is replaced.
  void Matches(size_t row, std::vector<MatchRange>& out) const;

  // Files with hits, and the longest kept path and text of any row, in bytes.
  size_t Files() const { return paths_.size(); }
  size_t LongestPath() const { return longestPath_; }
  size_t LongestText() const { return longestText_; }
  // The memory the rows take beyond their line texts: entries, ranges, paths, chunk slack.
  size_t BytesBeyondText() const;

 private:
  // A row is a record on a shelf: those of one file that lie next to each other make a
  // segment, so a row costs its record, its text and ranges, and a share of its file's
  // segment, and a run's hits are kept without being copied here.
  struct Segment {
    size_t firstRow;
    const KeptHit* first;
    uint32_t count;
    uint32_t pathId;
  };
  const Segment& SegmentOf(size_t row) const;
  const KeptHit& At(size_t row) const;

  std::vector<std::shared_ptr<HitShelf>> shelves_;
  std::optional<HitShelf::Writer> own_;  // for hits handed over from no shelf
  std::vector<Segment> segments_;
  std::vector<std::string> paths_;  // one per file with hits
  size_t count_ = 0;
  int shown_ = 0;
  size_t longestPath_ = 0;
  size_t longestText_ = 0;
};

}  // namespace vorn
