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

// How long the run waits for the workers before it asks whether a pump is due.
constexpr std::chrono::milliseconds kWaitStep{4};

}  // namespace

SearchRun::SearchRun(std::string directory, std::string mask, bool includeSubdirectories,
                     SearchOptions options, ResultsSink& sink, RunPacer* pacer)
    : directory_(std::move(directory)),
      mask_(std::move(mask)),
      recursive_(includeSubdirectories),
      options_(std::move(options)),
      calls_(sink, pacer) {}

SearchRun::~SearchRun() = default;

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
  calls_.FileError(path_, error);
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
  // Stop is heard while a large archive is read through: the feed tells of an abandoned run.
  const int error = ListMembers(
      prefix + entry,
      [&](std::string_view name) {
        member.resize(base);
        member += name;
        feed.Add(member);
        any = true;
        return true;
      },
      [&feed] { return feed.Publish(); },
      // What the listing decompressed to reach the next member is searched as it was read.
      [&feed](std::string&& content) { feed.Hold(std::move(content)); });
  if (error == ENOEXEC && !any)
    feed.Add(std::move(entry));
  else if (error != 0)
    feed.Fail(prefix + entry, error);
}

// Lists the tree into the feed, on a thread of its own; a listing that fails for want of
// memory ends where it is, and says so.
void ListInto(FileFeed& feed, const std::string& directory, const std::string& mask,
              const ListingOptions& options, bool packed) {
  try {
    ListFilesRecursive(
        directory, mask, [&feed] { return feed.Publish(); },
        [&feed, packed](std::string&& path) { AddEntry(feed, std::move(path), {}, packed); },
        [&feed](const std::string& path, int error) { feed.Fail(path, error); }, options);
  } catch (const std::bad_alloc&) {
    feed.Fail(directory, ENOMEM);
  }
  feed.Finish();
}

}  // namespace

SearchEnd SearchRun::Run() {
  bool abandoned = false;
  unsearched_ = 0;
  calls_.Reset();
  matcher_ = std::make_shared<const LineMatcher>(options_);
  wants_ = calls_.Wants();
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
    lister = std::thread([this, &files, packed = matcher_->Options().packed] {
      YieldPriority(yieldBy_);
      ListInto(files, directory_, mask_, listing_, packed);
    });
  } else {
    for (std::string& name : ListFiles(directory_, mask_, listing_))
      AddEntry(files, std::move(name), directory_, matcher_->Options().packed);
    files.Finish();
  }
  for (FileReader* r : {reader_, spare_}) {
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
    fileBegun_ = false;
    summary_ = {};
    Step step = Step::Go;
    // A failure on one file (memory, for one) skips that file; the run goes on.
    try {
      if (pool_)
        step = ReplayFile(files, i);
      else if (OpenNext(&files, i))
        step = SearchFile(entry, 0);
    } catch (const std::exception& e) {
      hits_.clear();  // they may view findings the failure dropped
      if (calls_.Threw()) throw;
      ReportError(ErrorOf(e));
      if (parallel) StartPool(files, i + 1);
    }
    if (!calls_.Ended()) EndFile();
    if (step == Step::Stop || calls_.Ended()) {
      abandoned = true;
      break;
    }
  }
  if (!calls_.Ended()) Deliver();
  pool_.reset();
  reader_->Close();
  folders_.Close();
  if (calls_.Ended()) return SearchEnd::Ended;
  return abandoned ? SearchEnd::Aborted : SearchEnd::Finished;
}

void SearchRun::BeginFile() {
  if (fileBegun_) return;
  fileBegun_ = true;
  calls_.FileBegins(path_);
}

// The file's findings are all handed over: the sink hears of its end, if of its beginning.
void SearchRun::EndFile() {
  Deliver();
  if (!fileBegun_ || calls_.Ended()) return;
  fileBegun_ = false;
  calls_.FileEnds(path_, summary_);
}

void SearchRun::StartPool(FileFeed& files, size_t from) {
  pool_.reset();
  if (!files.Finished() || from < files.Listed())
    pool_ =
        std::make_unique<SearchPool>(files, matcher_, from, workers_, blockSize_, wants_, yieldBy_);
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
      calls_.FileError(failure.path, failure.error);
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
    if (calls_.PumpDue()) {
      if (PumpNow() == Step::Stop || !calls_.ListingGoesOn()) {
        abandoned = true;
        return false;
      }
    } else if (calls_.StopRequested()) {
      Deliver();
      abandoned = true;
      return false;
    }
  }
}

// Opens path_ in the spare reader: a file in use, gone, or not a regular file is skipped
// silently, and the status still speaks of the file before.
bool SearchRun::OpenNext(FileFeed* files, size_t index) {
  spare_->SetEncoding(matcher_->Options().encoding);
  std::string held;
  if (files && files->TakeHeld(index, held)) {
    spare_->OpenHeld(std::move(held));
  } else if (!folders_.Open(*spare_, path_)) {
    ReportError(spare_->Error());
    return false;
  }
  std::swap(reader_, spare_);
  spare_->Close();
  return true;
}

void SearchRun::StartFile(std::string_view entry, long long size) {
  entry_ = entry;
  fileDone_ = false;
  fileSize_ = size;
  fileLines_.reset();
  currentLine_ = lineBase_ = 0;
  naive_ = {};
  if (wants_.everyFile) BeginFile();
}

SearchRun::Step SearchRun::SearchFile(std::string_view entry, size_t firstLine) {
  StartFile(entry, reader_->Size());
  currentLine_ = firstLine;
  if (lineByLine_) {
    bool first = true;
    std::string_view block;
    while (reader_->NextBlock(block)) {
      if (first) calls_.Progress(Where(true));
      first = false;
      const Step step = SearchBlockLineByLine(block);
      if (step == Step::Stop) return Step::Stop;
      if (step == Step::Enough) break;
    }
    if (first && !reader_->Failed()) calls_.Progress(Where(true));
    if (reader_->Failed()) ReportError(reader_->Error());
    fileDone_ = true;
    return Step::Go;
  }
  FileScan scan(*this);
  scan.SetWants(wants_);
  // The hooks reach the scan only while it runs, whether it returns or throws.
  scan_ = &scan;
  const ScopeExit leave([this] { scan_ = nullptr; });
  const FileScan::End end = scan.Run(*reader_, matcher_, firstLine);
  if (end == FileScan::End::Stopped) return Step::Stop;
  if (end == FileScan::End::Done) fileLines_ = scan.Lines();
  if (end == FileScan::End::Failed) ReportError(reader_->Error());
  fileDone_ = true;
  return Step::Go;
}

// Hands the findings the workers prepared for file index to the listener, pumping as one
// thread would. When the options change, the lines up to the one under way keep the findings
// made with the options they began with; from the next line on the file is searched again here.
SearchRun::Step SearchRun::ReplayFile(FileFeed& files, size_t index) {
  SearchPool* const pool = pool_.get();
  // A file left before the pool handed it over whole is released, unless the pool was replaced.
  Findings batch;
  ScopeExit release([this, pool, index] {
    if (pool_.get() == pool) pool->Release(index);
  });
  // The last batch's buffers go back to the workers, unless the pool was replaced.
  const ScopeExit giveBack([this, pool, &batch] {
    if (pool_.get() == pool) pool->GiveBack(std::move(batch));
  });
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
        if (calls_.PumpDue()) {
          if (PumpNow() == Step::Stop) return Step::Stop;
          noteChange();
        } else if (calls_.StopRequested()) {
          return Step::Stop;
        }
        break;
      case SearchPool::Got::Skipped:
        release.Dismiss();
        ReportError(facts.error);
        return Step::Go;
      case SearchPool::Got::Whole:
        release.Dismiss();
        StartFile(files[index], facts.size);
        fileLines_ = facts.lines;
        fileDone_ = true;
        ReportError(facts.error);
        return Step::Go;
      case SearchPool::Got::Opened:
        opened = true;
        StartFile(files[index], facts.size);
        fileLines_ = facts.lines;  // known when the workers are done with the file
        break;
      case SearchPool::Got::Findings:
        // Once the workers have read the file to its end, its lines are known to the pumps.
        if (facts.lines) fileLines_ = facts.lines;
        for (const ScanEvent& e : batch.events) {
          if (resumeAt && e.line >= *resumeAt) return ResumeFile(files, index, *resumeAt);
          if (e.kind != ScanEvent::Kind::Break) currentLine_ = lastLine = e.line;
          switch (e.kind) {
            case ScanEvent::Kind::Unsearched:
              Unsearched(e.line);
              continue;
            case ScanEvent::Kind::Context:
              Report(FoundKind::Context, batch.Text(e), e.line);
              continue;
            case ScanEvent::Kind::Break:
              Report(FoundKind::Break, {}, 0);
              continue;
            case ScanEvent::Kind::Hit:
              Report(FoundKind::Hit, batch.Text(e), e.line, e.binary, batch.Ranges(e), e.kept);
              if (PumpPoint() == Step::Stop) return Step::Stop;
              break;
            case ScanEvent::Kind::Passed:
              if (!calls_.PumpDue()) continue;
              if (PumpNow() == Step::Stop) return Step::Stop;
              break;
          }
          noteChange();
        }
        // The lines of a batch go to the sink together, before the batch is reused.
        Deliver();
        if (calls_.Ended()) return Step::Stop;
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

bool SearchRun::Hit(size_t index, std::string_view shown, bool binary,
                    std::span<const MatchRange> matches) {
  Report(FoundKind::Hit, shown, index, binary, matches);
  Deliver();  // shown lies in the scan's buffer, which moves on
  currentLine_ = index;
  if (PumpPoint() == Step::Stop) return false;
  if (SwitchOptionsIfChanged()) scan_->SwitchMatcher(matcher_);
  return true;
}

bool SearchRun::Context(size_t index, std::string_view shown) {
  Report(FoundKind::Context, shown, index);
  Deliver();
  return !calls_.Ended();
}

bool SearchRun::Break() {
  Report(FoundKind::Break, {}, 0);
  return true;
}

bool SearchRun::Unsearched(size_t index) {
  Deliver();
  ++unsearched_;
  calls_.Unsearched(path_, index);
  return !calls_.Ended();
}

bool SearchRun::Passed(size_t index) {
  currentLine_ = index;
  if (!calls_.PumpDue()) return true;
  if (PumpNow() == Step::Stop) return false;
  if (SwitchOptionsIfChanged()) scan_->SwitchMatcher(matcher_);
  return true;
}

// The stop flag is read even when no pump is due: a pump during the listing may have set it.
// The hits found so far are handed over before the run stops.
SearchRun::Step SearchRun::PumpPoint(bool checkStop) {
  if (calls_.Ended()) return Step::Stop;
  if (calls_.PumpDue()) return PumpNow(checkStop);
  if (!checkStop || !calls_.StopRequested()) return Step::Go;
  Deliver();
  return Step::Stop;
}

SearchRun::Step SearchRun::PumpNow(bool checkStop) {
  Deliver();
  if (calls_.Ended()) return Step::Stop;
  calls_.Pump(Where());
  if (checkStop && calls_.StopRequested()) return Step::Stop;
  SearchOptions now = calls_.Options(matcher_->Options());
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

RunProgress SearchRun::Where(bool opened) const {
  RunProgress at;
  if (!entry_) return at;
  at.entry = *entry_;
  at.path = path_;
  at.size = fileSize_;
  at.line = currentLine_;
  at.lines = fileLines_;
  at.fileDone = fileDone_;
  at.opened = opened;
  return at;
}

void SearchRun::Report(FoundKind kind, std::string_view shown, size_t index, bool binary,
                       std::span<const MatchRange> matches, const KeptHit* kept) {
  if (kind == FoundKind::Hit) {
    ++summary_.hitLines;
    summary_.matches += matches.size();
    summary_.binary = summary_.binary || binary;
  }
  hits_.push_back(SearchHit{path_, index, shown, binary, matches, kind, kept});
}

void SearchRun::Deliver() {
  if (hits_.empty()) return;
  const ScopeExit clear([this] { hits_.clear(); });
  BeginFile();
  if (!calls_.Ended()) calls_.Lines(hits_);
}

SearchRun::Step SearchRun::SearchBlockLineByLine(std::string_view block) {
  const char* p = block.data();
  const char* const e = p + block.size();
  size_t i = lineBase_;
  while (p < e) {
    SwitchOptionsIfChanged();
    const char* lineEnd = FindNextBreak(p, e);
    const std::string_view line(p, static_cast<size_t>(lineEnd - p));
    currentLine_ = i;
    if (i % 50 == 0) calls_.Progress(Where());
    if (PumpPoint() == Step::Stop) return Step::Stop;
    const std::string_view shown = line.substr(0, kShownLineBytes);
    bool hit = false;
    if (!Trimmed(line).empty() && !naive_.draining) {
      const RegexVerdict verdict = matcher_->Decide(line);
      hit = verdict == RegexVerdict::Hit;
      if (hit) {
        const bool binary = matcher_->Options().tellBinary && reader_->BinaryAt(line);
        // The context before it: the lines kept, from the last one told on.
        const size_t from = std::max(i > wants_.before ? i - wants_.before : 0, naive_.toldTo);
        if ((wants_.before > 0 || wants_.after > 0) && naive_.told && from > naive_.toldTo)
          Report(FoundKind::Break, {}, 0);
        for (const auto& [index, text] : naive_.recent)
          if (index >= from) Report(FoundKind::Context, text, index);
        naive_.ranges.clear();
        // The matches that begin in the shown bytes, as the scan gives them.
        if (wants_.ranges) matcher_->Matches(line, naive_.ranges, kShownLineBytes);
        Report(FoundKind::Hit, shown, i, binary, naive_.ranges);
        Deliver();
        naive_.told = true;
        naive_.toldTo = i + 1;
        naive_.after = wants_.after;
        if (binary && !wants_.restOfBinaryFile) return Step::Enough;
        if (wants_.maxHitLines != 0 && ++naive_.hits >= wants_.maxHitLines) {
          if (wants_.after == 0) return Step::Enough;
          naive_.draining = true;
        }
      } else if (verdict == RegexVerdict::TooMuchWork) {
        Unsearched(i);
      }
      PumpPoint(false);
    }
    if (!hit && naive_.after > 0) {
      Report(FoundKind::Context, shown, i);
      Deliver();
      naive_.toldTo = i + 1;
      if (--naive_.after == 0 && naive_.draining) return Step::Enough;
    }
    if (wants_.before > 0) {
      if (naive_.recent.size() >= wants_.before) naive_.recent.pop_front();
      naive_.recent.emplace_back(i, shown);
    }
    if (calls_.Ended()) return Step::Stop;
    p = lineEnd < e ? SkipBreak(lineEnd, e) : e;
    ++i;
  }
  lineBase_ = i;
  return Step::Go;
}

}  // namespace vorn
