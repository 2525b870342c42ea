#include "SearchRun.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdlib>
#include <exception>
#include <functional>
#include <new>
#include <thread>

#include "FileFeed.h"
#include "LineBreaks.h"
#include "Packed.h"
#include "ScopeExit.h"
#include "SearchPool.h"
#include "txthandling.h"

namespace vorn {

namespace {

// Files up to this size are counted at once when the status needs their lines.
constexpr long long kCountAtOnce = 16ll << 20;
// How long the run waits for the workers before it asks whether a pump is due.
constexpr std::chrono::milliseconds kWaitStep{4};

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

SearchRun::~SearchRun() {
  if (countCancel_) countCancel_->store(true);
}

void SearchRun::SetThreads(unsigned count) { threads_ = count; }

unsigned SearchRun::ThreadCount() const { return threads_ > 0 ? threads_ : CpusAvailable(); }

// As many threads as the descriptors free allow: each worker holds a file and its folder
// open, the run's own thread up to six, and the listing its folders. With too few for two
// workers the run searches on its own thread.
unsigned SearchRun::FitThreads(unsigned wanted) const {
  constexpr long kRunOwn = 8 + 34;
  const long room = (DescriptorsFree() - kRunOwn) / 2;
  return static_cast<unsigned>(std::clamp<long>(room, 1, wanted));
}

void SearchRun::ReportError(int error) {
  if (error == 0) return;
  Deliver();
  listener_.FileError(path_, error);
}

namespace {

// With packed files on, an archive stands in the list for its members, each as
// ARCHIVE//MEMBER, read through once here for their names. A file that is no archive after
// all stays an entry of its own; an archive cut short is told of after the members read.
void AddEntry(FileFeed& feed, std::string&& entry, const std::string& prefix, bool packed) {
  if (!packed || !IsArchiveName(entry)) {
    feed.Add(std::move(entry));
    return;
  }
  std::string member = entry;
  member += kMemberMark;
  const size_t base = member.size();
  bool any = false;
  const int error = ListMembers(prefix + entry, [&](std::string_view name) {
    member.resize(base);
    member += name;
    feed.Add(member);
    any = true;
    return true;
  });
  if (error == ENOEXEC && !any)
    feed.Add(std::move(entry));
  else if (error != 0)
    feed.Fail(prefix + entry, error);
}

// Lists the tree into the feed, on a thread of its own; a listing that fails for want of
// memory ends where it is, and says so.
void ListInto(FileFeed& feed, const std::string& directory, const std::string& mask, bool packed) {
  try {
    ListFilesRecursive(
        directory, mask, [&feed] { return feed.Publish(); },
        [&feed, packed](std::string&& path) { AddEntry(feed, std::move(path), {}, packed); },
        [&feed](const std::string& path, int error) { feed.Fail(path, error); });
  } catch (const std::bad_alloc&) {
    feed.Fail(directory, ENOMEM);
  }
  feed.Finish();
}

}  // namespace

SearchEnd SearchRun::Run() {
  bool abandoned = false;
  unsearched_ = 0;
  matcher_ = std::make_shared<const LineMatcher>(listener_.Options());
  leave_ = !listener_.RestOfFileWanted()         ? LeaveAtHit::First
           : !listener_.RestOfBinaryFileWanted() ? LeaveAtHit::FirstBinary
                                                 : LeaveAtHit::Never;
  RaiseDescriptorLimit();
  workers_ = FitThreads(ThreadCount());
  const bool parallel = !lineByLine_ && workers_ > 1;
  // The tree is listed on a thread of its own while the files listed are searched, so the
  // first lines come at once; the listing keeps ahead of the workers' window.
  const size_t ahead =
      listAhead_ > 0 ? listAhead_ : std::max<size_t>(size_t{1} << 16, size_t{2048} * workers_);
  FileFeed files(recursive_ ? ahead : SIZE_MAX, recursive_ ? std::string() : directory_);
  std::thread lister;
  const ScopeExit stopLister([&files, &lister] {
    files.Abandon();
    if (lister.joinable()) lister.join();
  });
  // The workers read the list: every one of them has stopped before the list goes, however
  // the run ends (a listener's error leaves it by an exception).
  const ScopeExit stopWorkers([this] { pool_.reset(); });
  if (recursive_) {
    lister = std::thread(ListInto, std::ref(files), std::cref(directory_), std::cref(mask_),
                         matcher_->Options().packed);
  } else {
    for (std::string& name : ListFiles(directory_, mask_))
      AddEntry(files, std::move(name), directory_, matcher_->Options().packed);
    files.Finish();
  }
  for (FileReader* r : {&reader_, &spare_, &counter_}) {
    r->SetBlockSize(blockSize_);
    r->SetWholeLines(lineByLine_);
    r->SetEncoding(matcher_->Options().encoding);
    r->SetPacked(matcher_->Options().packed);
  }
  entry_.reset();
  forwarded_ = 0;
  if (parallel) StartPool(files, 0);
  for (size_t i = 0;; ++i) {
    if (!AwaitEntry(files, i, abandoned)) break;
    files.DropBefore(i);
    if (PumpPoint() == Step::Stop) {
      abandoned = true;
      break;
    }
    if (SwitchOptionsIfChanged() && pool_) StartPool(files, i);
    const std::string_view entry = files[i];
    files.PathOf(i, path_);
    Step step = Step::Go;
    // A failure on one file (memory, for one) skips that file; the run goes on.
    try {
      if (pool_)
        step = ReplayFile(files, i);
      else if (OpenNext())
        step = SearchFile(entry, 0);
    } catch (const std::exception& e) {
      hits_.clear();  // they may view findings the failure dropped
      if (listener_.Threw()) throw;
      ReportError(ErrorOf(e));
      if (parallel) StartPool(files, i + 1);
    }
    if (step == Step::Stop) {
      abandoned = true;
      break;
    }
  }
  Deliver();
  pool_.reset();
  reader_.Close();
  counter_.Close();
  folders_.Close();
  if (abandoned) {
    listener_.Status("User aborted Search");
    return SearchEnd::Aborted;
  }
  if (unsearched_ == 0) {
    listener_.Status("Finished Searching");
  } else {
    std::string text = "Finished Searching (";
    AppendNumber(text, unsearched_);
    text += unsearched_ == 1 ? " line" : " lines";
    text += " could not be searched: the regular expression needs too much work)";
    listener_.Status(text);
  }
  return SearchEnd::Finished;
}

void SearchRun::StartPool(FileFeed& files, size_t from) {
  pool_.reset();
  if (!files.Finished() || from < files.Listed())
    pool_ = std::make_unique<SearchPool>(files, matcher_, from, workers_, blockSize_, leave_);
}

// Tells the workers of the entries listed since they last heard.
void SearchRun::Forward(FileFeed& files, bool waiting) {
  if (!pool_) return;
  const bool done = files.Finished();
  const size_t listed = files.Listed();
  if (listed == forwarded_ && !done && !waiting) return;
  forwarded_ = listed;
  pool_->Listed(listed, done, waiting);
}

// Waits until entry index is listed, pumping as the run does elsewhere, and tells of the
// folders that could not be read before it. False when the list ends before it, or the run
// stops or is abandoned meanwhile (then abandoned is set).
bool SearchRun::AwaitEntry(FileFeed& files, size_t index, bool& abandoned) {
  const auto failures = [&] {
    FileFeed::Failure failure;
    while (files.TakeFailure(index, failure)) {
      Deliver();
      listener_.FileError(failure.path, failure.error);
    }
  };
  for (;;) {
    failures();
    const bool listed = files.WaitFor(index, kWaitStep);
    Forward(files, !listed);
    if (listed) return true;
    if (files.Finished() && index >= files.Listed()) {
      failures();
      return false;
    }
    if (listener_.PumpDue()) {
      if (PumpNow() == Step::Stop || !listener_.ListingGoesOn()) {
        abandoned = true;
        return false;
      }
    } else if (listener_.StopRequested()) {
      Deliver();
      abandoned = true;
      return false;
    }
  }
}

// Opens path_ in the spare reader: a file in use, gone, or not a regular file is skipped
// silently, and the status still speaks of the file before.
bool SearchRun::OpenNext() {
  spare_.SetEncoding(matcher_->Options().encoding);
  if (!folders_.Open(spare_, path_)) {
    ReportError(spare_.Error());
    return false;
  }
  std::swap(reader_, spare_);
  spare_.Close();
  readerHoldsFile_ = true;
  return true;
}

void SearchRun::StartFile(std::string_view entry, long long size) {
  entry_ = entry;
  fileDone_ = false;
  fileSize_ = size;
  fileLines_.reset();
  if (countCancel_) countCancel_->store(true);
  countCancel_.reset();
  counting_ = {};
  currentLine_ = lineBase_ = 0;
}

SearchRun::Step SearchRun::SearchFile(std::string_view entry, size_t firstLine) {
  StartFile(entry, reader_.Size());
  currentLine_ = firstLine;
  if (lineByLine_) {
    bool first = true;
    std::string_view block;
    while (reader_.NextBlock(block)) {
      if (first) listener_.Status(std::string("Searching : ").append(entry));
      first = false;
      const Step step = SearchBlockLineByLine(block);
      if (step == Step::Stop) return Step::Stop;
      if (step == Step::Enough) break;
    }
    if (first && !reader_.Failed()) listener_.Status(std::string("Searching : ").append(entry));
    if (reader_.Failed()) ReportError(reader_.Error());
    fileDone_ = true;
    return Step::Go;
  }
  FileScan scan(*this);
  scan.SetLeaveAtHit(leave_);
  // The hooks reach the scan only while it runs, whether it returns or throws.
  scan_ = &scan;
  const ScopeExit leave([this] { scan_ = nullptr; });
  const FileScan::End end = scan.Run(reader_, matcher_, firstLine);
  if (end == FileScan::End::Stopped) return Step::Stop;
  if (end == FileScan::End::Done) fileLines_ = scan.Lines();
  if (end == FileScan::End::Failed) ReportError(reader_.Error());
  fileDone_ = true;
  return Step::Go;
}

// Hands the findings the workers prepared for file index to the listener, pumping as one
// thread would. When the options change, the lines up to the one under way keep the findings
// made with the options they began with; from the next line on the file is searched again here.
SearchRun::Step SearchRun::ReplayFile(FileFeed& files, size_t index) {
  SearchPool* const pool = pool_.get();
  // A file left before the pool handed it over whole is released, unless the pool was replaced.
  ScopeExit release([this, pool, index] {
    if (pool_.get() == pool) pool->Release(index);
  });
  Findings batch;
  SearchPool::FileFacts facts;
  bool opened = false;
  size_t lastLine = 0;
  std::optional<size_t> resumeAt;
  const auto noteChange = [&] {
    if (pendingOptions_ && !resumeAt) resumeAt = opened ? lastLine + 1 : 0;
  };
  for (;;) {
    if (resumeAt && *resumeAt == 0) return ResumeFile(files, index, 0);
    switch (pool->Take(index, batch, facts, kWaitStep)) {
      case SearchPool::Got::Nothing:
        Forward(files, true);
        if (listener_.PumpDue()) {
          if (PumpNow() == Step::Stop) return Step::Stop;
          noteChange();
        } else if (listener_.StopRequested()) {
          return Step::Stop;
        }
        break;
      case SearchPool::Got::Skipped:
        release.Dismiss();
        ReportError(facts.error);
        return Step::Go;
      case SearchPool::Got::Whole:
        release.Dismiss();
        readerHoldsFile_ = false;
        StartFile(files[index], facts.size);
        fileLines_ = facts.lines;
        fileDone_ = true;
        ReportError(facts.error);
        return Step::Go;
      case SearchPool::Got::Opened:
        opened = true;
        readerHoldsFile_ = false;
        StartFile(files[index], facts.size);
        fileLines_ = facts.lines;  // known when the workers are done with the file
        break;
      case SearchPool::Got::Findings:
        for (const ScanEvent& e : batch.events) {
          if (resumeAt && e.line >= *resumeAt) return ResumeFile(files, index, *resumeAt);
          currentLine_ = lastLine = e.line;
          if (e.unsearched) {
            Unsearched(e.line);
            continue;
          }
          if (e.hit) {
            Report(batch.Text(e), e.line, e.binary);
            if (PumpPoint() == Step::Stop) return Step::Stop;
          } else if (listener_.PumpDue()) {
            if (PumpNow() == Step::Stop) return Step::Stop;
          } else {
            continue;
          }
          noteChange();
        }
        // The hits of a batch go to the listener together, before the batch is reused.
        Deliver();
        break;
      case SearchPool::Got::Done:
        release.Dismiss();
        // The lines after the change may hit with the new options where the old found none.
        if (resumeAt) return ResumeFile(files, index, *resumeAt);
        fileLines_ = facts.lines;
        fileDone_ = true;
        ReportError(facts.error);
        return Step::Go;
    }
  }
}

SearchRun::Step SearchRun::ResumeFile(FileFeed& files, size_t index, size_t firstLine) {
  Deliver();
  pool_.reset();
  SwitchOptionsIfChanged();
  const Step step = OpenNext() ? SearchFile(files[index], firstLine) : Step::Go;
  if (step == Step::Go) StartPool(files, index + 1);
  return step;
}

bool SearchRun::Hit(size_t index, std::string_view shown, bool binary) {
  Report(shown, index, binary);
  Deliver();  // shown lies in the scan's buffer, which moves on
  currentLine_ = index;
  if (PumpPoint() == Step::Stop) return false;
  if (SwitchOptionsIfChanged()) scan_->SwitchMatcher(matcher_);
  return true;
}

bool SearchRun::Unsearched(size_t index) {
  Deliver();
  ++unsearched_;
  listener_.Unsearched(path_, index);
  return true;
}

bool SearchRun::Passed(size_t index) {
  currentLine_ = index;
  if (!listener_.PumpDue()) return true;
  if (PumpNow() == Step::Stop) return false;
  if (SwitchOptionsIfChanged()) scan_->SwitchMatcher(matcher_);
  return true;
}

// The stop flag is read even when no pump is due: a pump during the listing may have set it.
// The hits found so far are handed over before the run stops.
SearchRun::Step SearchRun::PumpPoint(bool checkStop) {
  if (listener_.PumpDue()) return PumpNow(checkStop);
  if (!checkStop || !listener_.StopRequested()) return Step::Go;
  Deliver();
  return Step::Stop;
}

SearchRun::Step SearchRun::PumpNow(bool checkStop) {
  Deliver();
  if (!lineByLine_) ReportStatus();
  listener_.Pump();
  if (checkStop && listener_.StopRequested()) return Step::Stop;
  SearchOptions now = listener_.Options();
  now.packed = matcher_->Options().packed;  // the list was made with it
  if (!(now == matcher_->Options()))
    pendingOptions_ = std::move(now);
  else
    pendingOptions_.reset();
  return Step::Go;
}

bool SearchRun::SwitchOptionsIfChanged() {
  if (!pendingOptions_) return false;
  matcher_ = std::make_shared<const LineMatcher>(*pendingOptions_);
  pendingOptions_.reset();
  return true;
}

// The number of lines of the file the status speaks of. A large one is counted aside; until
// that is done the status names the file only.
std::optional<size_t> SearchRun::FileLines() {
  if (fileLines_) return fileLines_;
  if (counting_.valid()) {
    if (counting_.wait_for(std::chrono::seconds(0)) != std::future_status::ready)
      return std::nullopt;
    fileLines_ = counting_.get();
    return fileLines_;
  }
  if (fileSize_ <= kCountAtOnce) {
    if (readerHoldsFile_)
      fileLines_ = reader_.CountLines();
    else
      fileLines_ =
          folders_.Open(counter_, path_) ? counter_.CountLines() : std::optional<size_t>(0);
    return fileLines_;
  }
  countCancel_ = std::make_shared<std::atomic<bool>>(false);
  counting_ = std::async(std::launch::async, [path = path_, cancel = countCancel_] {
    FileReader counter;
    FolderCache folders;
    return folders.Open(counter, path) ? counter.CountLines(cancel.get())
                                       : std::optional<size_t>(0);
  });
  return std::nullopt;
}

// The status a naive run would show at this point: the file's name, then its line position
// at every 50th line.
void SearchRun::ReportStatus() {
  if (!entry_) return;
  std::string text = "Searching : " + *entry_;
  const std::optional<size_t> lines = FileLines();
  if (lines && *lines > 0) {
    const size_t n = *lines;
    const size_t line = fileDone_ ? n - 1 : std::min(currentLine_, n - 1);
    text += ".....in Line : ";
    AppendNumber(text, line / 50 * 50);
    text += '/';
    AppendNumber(text, n);
  }
  listener_.Status(text);
}

void SearchRun::Report(std::string_view shown, size_t index, bool binary) {
  hits_.push_back(SearchHit{path_, index, shown, binary});
}

void SearchRun::Deliver() {
  if (hits_.empty()) return;
  const ScopeExit clear([this] { hits_.clear(); });
  listener_.Results(hits_);
}

SearchRun::Step SearchRun::SearchBlockLineByLine(std::string_view block) {
  const char* p = block.data();
  const char* const e = p + block.size();
  const size_t n = FileLines().value_or(0);
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
      const RegexVerdict verdict = matcher_->Decide(line);
      if (verdict == RegexVerdict::Hit) {
        const bool binary = matcher_->Options().tellBinary && reader_.BinaryAt(line);
        Report(line.substr(0, kShownLineBytes), i, binary);
        Deliver();
        if (FileScan::Leaves(leave_, binary)) return Step::Enough;
      } else if (verdict == RegexVerdict::TooMuchWork) {
        Unsearched(i);
      }
      PumpPoint(false);
    }
    p = lineEnd < e ? SkipBreak(lineEnd, e) : e;
    ++i;
  }
  lineBase_ = i;
  return Step::Go;
}

}  // namespace vorn
