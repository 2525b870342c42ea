#include "SearchRun.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>

#include "LineBreaks.h"
#include "txthandling.h"

namespace vorn {

namespace {

// Between two pump questions the fast scan covers at most this much of a block.
constexpr size_t kScanChunk = size_t{64} << 10;

// The start of the line that holds p; p inside a CR LF pair belongs to the line after it.
const char* LineStartAt(const char* lineFloor, const char* p, const char* end) {
  if (p > lineFloor && p < end && p[-1] == '\r' && *p == '\n') ++p;
  const char* last = FindLastBreak(lineFloor, p);
  return last ? last + 1 : lineFloor;
}

void AppendNumber(std::string& out, size_t value) {
  char digits[24];
  const auto r = std::to_chars(digits, digits + sizeof digits, value);
  out.append(digits, r.ptr);
}

}  // namespace

SearchRun::SearchRun(std::string directory, std::string mask, bool includeSubdirectories,
                     SearchListener& listener)
    : directory_(std::move(directory)),
      mask_(std::move(mask)),
      recursive_(includeSubdirectories),
      listener_(listener) {}

SearchEnd SearchRun::Run() {
  bool abandoned = false;
  FileList files;
  if (recursive_) {
    files = ListFilesRecursive(directory_, mask_, [this, &abandoned] {
      if (listener_.PumpDue()) listener_.Pump();
      abandoned = !listener_.ListingGoesOn();
      return !abandoned;
    });
  } else {
    files = ListFiles(directory_, mask_);
  }
  reader_.SetBlockSize(blockSize_);
  spare_.SetBlockSize(blockSize_);
  matcher_.emplace(listener_.Options());
  entry_ = nullptr;
  if (!abandoned) {
    for (const std::string& entry : files) {
      if (PumpPoint() == Step::Stop) {
        abandoned = true;
        break;
      }
      SwitchOptionsIfChanged();
      path_ = recursive_ ? entry : directory_ + entry;
      if (!OpenNext(spare_)) continue;  // in use, gone, or not a regular file: skipped silently
      std::swap(reader_, spare_);
      spare_.Close();
      entry_ = &entry;
      fileDone_ = false;
      fileLines_.reset();
      currentLine_ = lineBase_ = 0;
      bool first = true;
      std::string_view block;
      Step step = Step::Go;
      while (step == Step::Go && reader_.NextBlock(block)) {
        if (first && lineByLine_) listener_.Status("Searching : " + entry);
        first = false;
        step = lineByLine_ ? SearchBlockLineByLine(block) : SearchBlockFast(block);
      }
      if (step == Step::Stop) {
        abandoned = true;
        break;
      }
      if (first && lineByLine_ && !reader_.Failed()) listener_.Status("Searching : " + entry);
      fileDone_ = true;
    }
  }
  reader_.Close();
  folder_.reset();
  if (abandoned) {
    listener_.Status("User aborted Search");
    return SearchEnd::Aborted;
  }
  listener_.Status("Finished Searching");
  return SearchEnd::Finished;
}

// Files of one folder stand together in the list: opening each by its name within the
// open folder spares the kernel walking the whole path again for every file.
bool SearchRun::OpenNext(FileReader& reader) {
  const size_t slash = path_.rfind('/');
  if (slash == std::string::npos) return reader.Open(path_);
  const std::string_view folder(path_.data(), slash + 1);
  if (!folder_ || folder_->path != folder) {
    folder_.reset();
    const int fd = open(std::string(folder).c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return false;
    folder_.emplace(std::string(folder), fd);
  }
  return reader.OpenAt(folder_->fd, path_.c_str() + slash + 1);
}

SearchRun::Folder::~Folder() {
  if (fd >= 0) close(fd);
}

// The stop flag is read even when no pump is due: a pump during the listing may have set it.
SearchRun::Step SearchRun::PumpPoint(bool checkStop) {
  if (listener_.PumpDue()) return PumpNow(checkStop);
  return checkStop && listener_.StopRequested() ? Step::Stop : Step::Go;
}

SearchRun::Step SearchRun::PumpNow(bool checkStop) {
  if (!lineByLine_) ReportStatus();
  listener_.Pump();
  if (checkStop && listener_.StopRequested()) return Step::Stop;
  SearchOptions now = listener_.Options();
  if (!(now == matcher_->Options())) pendingOptions_ = std::move(now);
  return Step::Go;
}

void SearchRun::SwitchOptionsIfChanged() {
  if (!pendingOptions_) return;
  matcher_.emplace(*pendingOptions_);
  pendingOptions_.reset();
}

size_t SearchRun::FileLines() {
  if (!fileLines_) fileLines_ = reader_.CountLines();
  return *fileLines_;
}

// The status a naive run would show at this point: the file's name, then its line position
// at every 50th line.
void SearchRun::ReportStatus() {
  if (!entry_) return;
  const size_t n = FileLines();
  std::string text = "Searching : " + *entry_;
  if (n > 0) {
    const size_t line = fileDone_ ? n - 1 : std::min(currentLine_, n - 1);
    text += ".....in Line : ";
    AppendNumber(text, line / 50 * 50);
    text += '/';
    AppendNumber(text, n);
  }
  listener_.Status(text);
}

void SearchRun::Report(std::string_view line, size_t index) {
  const std::string_view shown = line.substr(0, kShownLineBytes);
  resultLine_.assign(path_);
  resultLine_ += " (";
  AppendNumber(resultLine_, index);
  resultLine_ += ")  :  ";
  resultLine_ += shown;
  listener_.Result(SearchHit{path_, index, shown, resultLine_});
}

// Decides the line that starts at lineStart and returns the start of the next line.
const char* SearchRun::FinishLine(const char* lineStart, const char* end, size_t index) {
  const char* lineEnd = FindNextBreak(lineStart, end);
  const std::string_view line(lineStart, static_cast<size_t>(lineEnd - lineStart));
  if (matcher_->IsHit(line)) Report(line, index);
  return lineEnd < end ? SkipBreak(lineEnd, end) : end;
}

SearchRun::Step SearchRun::SearchBlockFast(std::string_view block) {
  const char* const b = block.data();
  const char* const e = b + block.size();
  const char* cursor = b;  // a line start; every line before it is decided
  size_t line = lineBase_;  // the index of the line at cursor
  size_t scan = 0;
  while (cursor < e) {
    const PatternScanner& scanner = matcher_->Scanner();
    const size_t windowEnd = std::min(block.size(), scan + kScanChunk);
    size_t found = PatternScanner::npos;
    if (!matcher_->NeverHits()) {
      const size_t hayEnd = std::min(block.size(), windowEnd + scanner.size() - 1);
      found = scanner.Find(block.substr(0, hayEnd), scan);
      if (found >= windowEnd) found = PatternScanner::npos;
    }
    if (found == PatternScanner::npos) {
      if (windowEnd == block.size()) break;
      scan = windowEnd;
      if (!listener_.PumpDue()) continue;
      // Lines are counted only when a pump needs the position for the status.
      const char* lineStart = LineStartAt(cursor, b + scan, e);
      line += CountBreaks(cursor, lineStart);
      cursor = lineStart;
      currentLine_ = line;
      if (PumpNow() == Step::Stop) return Step::Stop;
      if (pendingOptions_) {
        // The line under way is decided with the options it began with.
        cursor = FinishLine(cursor, e, line);
        if (cursor <= e && cursor > lineStart && IsBreakByte(cursor[-1])) ++line;
        SwitchOptionsIfChanged();
        scan = static_cast<size_t>(cursor - b);
      }
      continue;
    }
    const char* lineStart = LineStartAt(cursor, b + found, e);
    line += CountBreaks(cursor, lineStart);
    const char* lineEnd = FindNextBreak(b + found, e);
    const std::string_view text(lineStart, static_cast<size_t>(lineEnd - lineStart));
    const bool hit = matcher_->IsHit(text);
    if (hit) Report(text, line);
    const size_t index = line;
    if (lineEnd < e) {
      cursor = SkipBreak(lineEnd, e);
      ++line;
    } else {
      cursor = e;
    }
    scan = static_cast<size_t>(cursor - b);
    if (hit) {
      currentLine_ = index;
      if (PumpPoint() == Step::Stop) return Step::Stop;
      SwitchOptionsIfChanged();
    }
  }
  // The next block's first index; after the last block nothing needs it.
  if (!reader_.AtEnd()) lineBase_ = line + CountBreaks(cursor, e);
  return Step::Go;
}

SearchRun::Step SearchRun::SearchBlockLineByLine(std::string_view block) {
  const char* p = block.data();
  const char* const e = p + block.size();
  const size_t n = FileLines();
  size_t i = lineBase_;
  while (p < e) {
    SwitchOptionsIfChanged();
    const char* lineEnd = FindNextBreak(p, e);
    const std::string_view line(p, static_cast<size_t>(lineEnd - p));
    if (i % 50 == 0) {
      std::string text = "Searching : " + *entry_ + ".....in Line : ";
      AppendNumber(text, i);
      text += '/';
      AppendNumber(text, n);
      listener_.Status(text);
    }
    currentLine_ = i;
    if (PumpPoint() == Step::Stop) return Step::Stop;
    if (!Trimmed(line).empty()) {
      if (matcher_->IsHit(line)) Report(line, i);
      PumpPoint(false);
    }
    p = lineEnd < e ? SkipBreak(lineEnd, e) : e;
    ++i;
  }
  lineBase_ = i;
  return Step::Go;
}

}  // namespace vorn
