// The result list's model: one row per hit, kept as the hit's path, line index and shown
// text (bytes), and shown as the result line decoded with the locale's encoding. Hits are
// collected as the search hands them over and published to the view in batches, so a million
// hits cost one insertion per batch rather than one per line.
#pragma once

#include <QAbstractListModel>
#include <QElapsedTimer>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

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
  // Keeps copies of the hits (context lines and breaks are not rows) with the ranges of their
  // matches within the kept text; the view sees them at the next Publish.
  void Add(std::span<const SearchHit> hits);
  // Shows the hits added since the last Publish as one block of new rows.
  void Publish();
  // Whether a batch is worth showing now. The list view lays out all of its rows again after
  // each insertion, so beyond a short list (shown at every pump) a batch waits 20 us a shown
  // row (at most a second, reached at 50,000 rows) unless it holds three times as many rows as
  // are shown: the list is laid out about one and a third times in all, and a slow run of a
  // long list is not spent relaying it. The rows in sight fill at the first batches.
  bool PublishDue() const;

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
  // The text lies in the text store, followed by its ranges as pairs of 16-bit offsets (a
  // kept text is at most a few kilobytes): a row costs this and its bytes, nothing else.
  struct Entry {
    uint64_t lineIndex;
    uint32_t chunk;
    uint32_t offset;
    uint32_t textSize;
    uint32_t pathId;
    uint32_t ranges;
  };
  static constexpr size_t kMaxKeptText = 0xFFFF;

  std::string_view Text(const Entry& e) const;
  std::string_view Path(const Entry& e) const { return paths_[e.pathId]; }
  const Entry& At(size_t row) const;

  // Line texts and entries live in large blocks that never move, so growing the store copies
  // nothing, and a block's memory comes in a few large pages rather than many small ones.
  struct FreeBlock {
    void operator()(void* block) const;
  };
  using Block = std::unique_ptr<char, FreeBlock>;
  static Block NewBlock(size_t bytes);
  static constexpr size_t kChunkBytes = size_t{2} << 20;
  static constexpr size_t kEntriesPerBlock = kChunkBytes / sizeof(Entry);
  std::vector<Block> chunks_;
  size_t chunkSize_ = 0;
  size_t chunkUsed_ = 0;
  std::vector<std::string> paths_;  // one per file with hits
  std::vector<Block> entries_;
  size_t count_ = 0;
  int shown_ = 0;
  size_t longestPath_ = 0;
  size_t longestText_ = 0;
  QElapsedTimer sincePublish_;
};

}  // namespace vorn
