#include "ResultListModel.h"

#include <sys/mman.h>

#include <QSize>
#include <QString>
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>
#include <stdexcept>

#include "DesktopHabits.h"
#include "TextBytes.h"

namespace vorn {

ResultListModel::ResultListModel(QObject* parent) : QAbstractListModel(parent) {}

void ResultListModel::FreeBlock::operator()(void* block) const { std::free(block); }

// A block of whole large pages where the system gives them: a list of a million rows would
// otherwise take its memory in some ten thousand page faults on the thread that shows it.
ResultListModel::Block ResultListModel::NewBlock(size_t bytes) {
  constexpr size_t kLargePage = size_t{2} << 20;
  const size_t rounded = (bytes + kLargePage - 1) / kLargePage * kLargePage;
  void* block = std::aligned_alloc(kLargePage, rounded);
  if (!block) throw std::bad_alloc();
  madvise(block, rounded, MADV_HUGEPAGE);
  return Block(static_cast<char*>(block));
}

const ResultListModel::Entry& ResultListModel::At(size_t row) const {
  if (row >= count_) throw std::out_of_range("ResultListModel: no such row");
  return reinterpret_cast<const Entry*>(
      entries_[row / kEntriesPerBlock].get())[row % kEntriesPerBlock];
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
  entries_.clear();
  entries_.shrink_to_fit();
  count_ = 0;
  chunks_.clear();
  chunks_.shrink_to_fit();
  chunkUsed_ = chunkSize_ = 0;
  paths_.clear();
  paths_.shrink_to_fit();
  shown_ = 0;
  longestPath_ = longestText_ = 0;
  sincePublish_.invalidate();
  endResetModel();
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
    const size_t size = std::min(hit.text.size(), kMaxKeptText);
    size_t ranges = 0;
    for (const MatchRange& m : hit.matches) ranges += m.begin < size ? 1 : 0;
    const size_t need = size + ranges * 4;
    if (chunks_.empty() || need > chunkSize_ - chunkUsed_) {
      chunkSize_ = std::max(kChunkBytes, need);
      // Not value-initialised: the bytes are written before they are read.
      chunks_.push_back(NewBlock(chunkSize_));
      chunkUsed_ = 0;
    }
    char* at = chunks_.back().get() + chunkUsed_;
    if (size > 0) std::memcpy(at, hit.text.data(), size);
    at += size;
    for (const MatchRange& m : hit.matches) {
      if (m.begin >= size) continue;
      const uint16_t pair[2] = {static_cast<uint16_t>(m.begin),
                                static_cast<uint16_t>(std::min(m.end, size))};
      std::memcpy(at, pair, sizeof pair);
      at += sizeof pair;
    }
    if (count_ == entries_.size() * kEntriesPerBlock) entries_.push_back(NewBlock(kChunkBytes));
    new (entries_.back().get() + count_ % kEntriesPerBlock * sizeof(Entry))
        Entry{hit.lineIndex,
              static_cast<uint32_t>(chunks_.size() - 1),
              static_cast<uint32_t>(chunkUsed_),
              static_cast<uint32_t>(size),
              static_cast<uint32_t>(paths_.size() - 1),
              static_cast<uint32_t>(ranges)};
    ++count_;
    chunkUsed_ += need;
    longestText_ = std::max(longestText_, size);
  }
}

size_t ResultListModel::BytesBeyondText() const {
  size_t text = 0;
  for (size_t row = 0; row < count_; ++row) text += At(row).textSize;
  size_t paths = 0;
  for (const std::string& p : paths_) paths += sizeof p + p.capacity();
  // Chunks hold the texts and the ranges; the entries fill blocks of their own.
  const size_t chunks = chunks_.size() * kChunkBytes;
  return entries_.size() * kChunkBytes + entries_.capacity() * sizeof(Block) + paths +
         chunks_.capacity() * sizeof(Block) + (chunks > text ? chunks - text : 0);
}

void ResultListModel::Matches(size_t row, std::vector<MatchRange>& out) const {
  const Entry& e = At(row);
  out.clear();
  const char* at = chunks_[e.chunk].get() + e.offset + e.textSize;
  for (uint32_t i = 0; i < e.ranges; ++i, at += 4) {
    uint16_t pair[2];
    std::memcpy(pair, at, sizeof pair);
    out.push_back(MatchRange{pair[0], pair[1]});
  }
}

void ResultListModel::Publish() {
  // A list view counts its rows in an int; hits beyond that are kept but not shown.
  const size_t limit = static_cast<size_t>(std::numeric_limits<int>::max());
  const int total = static_cast<int>(std::min(count_, limit));
  if (total == shown_) return;
  beginInsertRows(QModelIndex(), shown_, total - 1);
  shown_ = total;
  endInsertRows();
  sincePublish_.start();
}

bool ResultListModel::PublishDue() const {
  constexpr int kShortList = 2000;
  // A relayout costs some 20-80 ns a row: waiting 20 us a shown row between them keeps the
  // relayouts to a small share of the run, however slowly it goes.
  constexpr int kRowsPerWaitMs = 50;
  constexpr qint64 kLongestWaitMs = 1000;
  const size_t pending = count_ - static_cast<size_t>(shown_);
  if (pending == 0) return false;
  constexpr size_t kGrowth = 3;
  if (shown_ < kShortList || pending >= kGrowth * static_cast<size_t>(shown_) ||
      !sincePublish_.isValid())
    return true;
  return sincePublish_.elapsed() >= std::min<qint64>(kLongestWaitMs, shown_ / kRowsPerWaitMs);
}

std::string_view ResultListModel::Text(const Entry& e) const {
  return {chunks_[e.chunk].get() + e.offset, e.textSize};
}

SearchHit ResultListModel::Hit(size_t row) const {
  const Entry& e = At(row);
  return SearchHit{Path(e), e.lineIndex, Text(e)};
}

std::string ResultListModel::ResultLine(size_t row) const {
  const SearchHit hit = Hit(row);
  std::string line;
  line.reserve(hit.path.size() + hit.text.size() + 32);
  AppendResultLine(line, hit);
  return line;
}

}  // namespace vorn
