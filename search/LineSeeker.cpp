#include "LineSeeker.h"

#include "LineBreaks.h"

namespace vorn {

bool LineSeeker::Open(const std::string& path) {
  path_ = path;
  line_ = 0;
  inside_ = false;
  block_ = {};
  cursor_ = regionEnd_ = nullptr;
  reader_.SetOverlap(matcher_.Overlap());
  open_ = reader_.Open(path);
  return open_;
}

// The lines of a block are cut as the search cuts them: the whole lines up to its last break,
// then, in a block that ends inside a line, the first piece of that line.
bool LineSeeker::NextBlock() {
  if (!reader_.NextBlock(block_)) return false;
  const char* const b = block_.data();
  const char* const e = b + block_.size();
  cursor_ = b + reader_.Carried();
  regionEnd_ = e;
  if (reader_.Partial()) {
    const char* last = FindLastBreak(cursor_, e);
    regionEnd_ = last ? last + 1 : cursor_;
  }
  return true;
}

LineMatch LineSeeker::FirstMatch(const std::string& path, size_t index) {
  if (!open_ || path != path_ || index < line_ || (index == line_ && inside_)) {
    if (!Open(path) || !NextBlock()) return {};
  }
  for (;;) {
    const char* const b = block_.data();
    const char* const e = b + block_.size();
    if (inside_) {
      // The block goes on with the long line, its first bytes repeating the piece before.
      const char* const start = b + reader_.Carried();
      const char* brk = FindNextBreak(start, e);
      const bool ends = brk < e || !reader_.Partial();
      if (line_ == index) {
        LineMatch match =
            matcher_.FirstMatch(std::string_view(b, static_cast<size_t>(brk - b)), false, ends);
        if (match.Found()) {
          match.at += at_ - reader_.Carried();
          return match;
        }
      }
      at_ += static_cast<size_t>(brk - start);
      if (!ends) {
        if (!NextBlock()) return {};
        continue;
      }
      // The long line ends here: the lines after it follow in this block.
      inside_ = false;
      const bool asked = line_ == index;
      if (brk == e) {
        cursor_ = regionEnd_ = e;  // the end of the file
      } else {
        ++line_;
        cursor_ = SkipBreak(brk, e);
      }
      if (asked) return {};
    }
    while (cursor_ < regionEnd_) {
      const char* brk = FindNextBreak(cursor_, regionEnd_);
      if (line_ == index)
        return matcher_.FirstMatch(std::string_view(cursor_, static_cast<size_t>(brk - cursor_)));
      if (brk == regionEnd_) break;
      cursor_ = SkipBreak(brk, regionEnd_);
      ++line_;
    }
    if (reader_.Partial()) {
      const std::string_view piece(regionEnd_, static_cast<size_t>(e - regionEnd_));
      if (line_ == index) {
        const LineMatch match = matcher_.FirstMatch(piece, true, false);
        if (match.Found()) return match;
      }
      inside_ = true;
      at_ = piece.size();
    }
    if (!NextBlock()) return {};
  }
}

}  // namespace vorn
