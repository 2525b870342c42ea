#include "HitShelf.h"

#include <sys/mman.h>

#include <algorithm>
#include <cstdlib>
#include <new>

namespace vorn {

namespace {

// Blocks grow from 64 KB to whole large pages: a short list costs little, and a list of a
// million rows takes its memory in a few large pages rather than many small ones.
constexpr size_t kLargePage = size_t{2} << 20;

}  // namespace

void HitShelf::FreeBlock::operator()(char* block) const { std::free(block); }

char* HitShelf::NewBlock(size_t bytes) {
  const size_t align = bytes >= kLargePage ? kLargePage : alignof(KeptHit);
  bytes = (bytes + align - 1) / align * align;
  void* block = std::aligned_alloc(align, bytes);
  if (!block) throw std::bad_alloc();
  if (align == kLargePage) madvise(block, bytes, MADV_HUGEPAGE);
  const std::lock_guard lock(mutex_);
  blocks_.emplace_back(static_cast<char*>(block));
  bytes_ += bytes;
  return static_cast<char*>(block);
}

size_t HitShelf::Bytes() const {
  const std::lock_guard lock(mutex_);
  return bytes_;
}

const KeptHit* HitShelf::Writer::Put(size_t lineIndex, std::string_view shown, bool binary,
                                     std::span<const MatchRange> matches) {
  const size_t size = std::min(shown.size(), kMaxText);
  size_t ranges = 0;
  for (const MatchRange& m : matches) ranges += m.begin < size ? 1 : 0;
  const size_t need = sizeof(KeptHit) + size + ranges * 4;
  if (!low_ || static_cast<size_t>(high_ - low_) < need) {
    const size_t bytes = std::max(nextBlock_, need);
    low_ = shelf_.NewBlock(bytes);
    high_ = low_ + bytes;
    nextBlock_ = std::min(nextBlock_ * 2, kLargePage);
  }
  high_ -= size + ranges * 4;
  char* at = high_;
  if (size > 0) std::memcpy(at, shown.data(), size);
  at += size;
  for (const MatchRange& m : matches) {
    if (m.begin >= size) continue;
    const uint16_t pair[2] = {static_cast<uint16_t>(m.begin),
                              static_cast<uint16_t>(std::min(m.end, size))};
    std::memcpy(at, pair, sizeof pair);
    at += sizeof pair;
  }
  auto* record = new (low_)
      KeptHit{lineIndex, high_, static_cast<uint32_t>(size), static_cast<uint16_t>(ranges), binary};
  low_ += sizeof(KeptHit);
  return record;
}

}  // namespace vorn
