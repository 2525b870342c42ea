// Hit lines kept for a sink that holds on to them all (the window's result list). Each is
// written once, by the thread that finds it, as a small record beside its shown text and its
// matches' ranges, into large blocks that never move: the thread that shows the list keeps
// millions of hits without copying any, and holds the shelf for as long as it shows them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
#include <span>
#include <string_view>
#include <vector>

#include "SearchHit.h"

namespace vorn {

struct KeptHit {
  uint64_t lineIndex;
  const char* text;  // the shown bytes, followed by rangeCount pairs of 16-bit offsets
  uint32_t textSize;
  uint16_t rangeCount;
  bool binary;

  std::string_view Text() const { return {text, textSize}; }
  MatchRange Range(size_t i) const {
    uint16_t pair[2];
    std::memcpy(pair, text + textSize + i * sizeof pair, sizeof pair);
    return {pair[0], pair[1]};
  }
};

class HitShelf {
 public:
  // The longest text a record keeps: its ranges are 16-bit offsets.
  static constexpr size_t kMaxText = 0xFFFF;

  HitShelf() = default;
  HitShelf(const HitShelf&) = delete;
  HitShelf& operator=(const HitShelf&) = delete;

  // Fills blocks of its own, so threads never share one; used by one thread at a time. Its
  // blocks stay the shelf's when it is gone.
  class Writer {
   public:
    explicit Writer(HitShelf& shelf) : shelf_(shelf) {}
    // Keeps the hit: its text cut to kMaxText, the ranges that begin in it cut to its end.
    // Records put one after another lie next to each other while a block has room.
    const KeptHit* Put(size_t lineIndex, std::string_view shown, bool binary,
                       std::span<const MatchRange> matches);

   private:
    HitShelf& shelf_;
    char* low_ = nullptr;   // the next record
    char* high_ = nullptr;  // the texts grow down from the block's end to here
    size_t nextBlock_ = size_t{64} << 10;
  };

  // The memory of the blocks.
  size_t Bytes() const;

 private:
  char* NewBlock(size_t bytes);

  struct FreeBlock {
    void operator()(char* block) const;
  };
  mutable std::mutex mutex_;
  std::vector<std::unique_ptr<char, FreeBlock>> blocks_;
  size_t bytes_ = 0;
};

}  // namespace vorn
