#include "ReplaceSink.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>

namespace vorn {

namespace {
constexpr size_t kFlushAt = size_t{1} << 20;
constexpr unsigned kWriters = 16;
constexpr size_t kJobsAhead = 256;
}  // namespace

ReplaceSink::ReplaceSink(const Substitution& substitution, bool inPlace, WriteRules rules, int out,
                         bool terminal)
    : substitution_(substitution),
      inPlace_(inPlace),
      rules_(std::move(rules)),
      fd_(out),
      terminal_(terminal) {}

ReplaceSink::~ReplaceSink() {
  {
    const std::lock_guard lock(mutex_);
    closing_ = true;
  }
  wake_.notify_all();
  for (std::thread& writer : writers_) writer.join();
}

void ReplaceSink::Write() {
  for (;;) {
    Job job;
    {
      std::unique_lock lock(mutex_);
      wake_.wait(lock, [&] { return closing_ || !jobs_.empty(); });
      if (jobs_.empty()) return;
      job = std::move(jobs_.front());
      jobs_.pop_front();
    }
    room_.notify_one();
    Done done;
    done.path = std::move(job.path);
    try {
      const FilePlan plan = PlanFile(done.path, substitution_, &job.lines);
      done.matched = plan.Matches() > 0 || !plan.refusal.empty();
      if (done.matched) done.outcome = ReplaceInFile(plan, {}, rules_, nullptr);
    } catch (const std::exception& e) {  // no memory for the file: it stays as it was
      done.matched = true;
      done.outcome.reason = e.what();
      done.outcome.error = true;
    }
    {
      const std::lock_guard lock(mutex_);
      done_[job.order] = std::move(done);
    }
    room_.notify_all();
  }
}

// What the writers did, told in the search's order as far as it is complete.
void ReplaceSink::TellDone() {
  for (;;) {
    std::optional<Done> done;
    {
      const std::lock_guard lock(mutex_);
      if (told_ >= done_.size() || !done_[told_]) return;
      done = std::move(done_[told_]);
      done_[told_++].reset();
    }
    if (!done->matched) continue;
    found_ = true;
    if (done->outcome.replaced) {
      replaced_ += done->outcome.matches;
      ++files_;
    } else {
      errors_ = errors_ || done->outcome.error;
      Tell(done->path, "left alone: " + done->outcome.reason);
    }
  }
}
void ReplaceSink::Lines(std::span<const SearchHit> hits) {
  for (const SearchHit& hit : hits)
    if (hit.kind == FoundKind::Hit) Hit(hit);
  if (out_.size() >= kFlushAt || terminal_) Flush();
}

void ReplaceSink::FileEnds(std::string_view path, const FileSummary& summary) {
  (void)path;
  (void)summary;
  if (inPlace_) EndFile();
}

void ReplaceSink::Hit(const SearchHit& hit) {
  if (inPlace_) {
    if (hit.path != file_) {
      EndFile();
      file_ = hit.path;
    }
    lines_[hit.lineIndex].assign(hit.matches.begin(), hit.matches.end());
    return;
  }
  if (hit.binary) {
    if (hit.path != binary_) {
      binary_ = hit.path;
      Tell(hit.path, "binary file matches");
    }
    return;
  }
  PrintLine(hit);
}

// The shown line is the whole line unless it was cut at its shown length; a cut one is read
// from its file as the write would read it.
void ReplaceSink::PrintLine(const SearchHit& hit) {
  std::string whole;
  std::string_view line = hit.text;
  if (line.size() >= SearchRun::kShownLineBytes) {
    HitRanges one{{hit.lineIndex, {}}};
    const FilePlan plan = PlanFile(std::string(hit.path), substitution_, &one);
    if (plan.lines.empty()) return;
    whole = plan.lines[0].before;
    line = whole;
  }
  matches_.assign(hit.matches.begin(), hit.matches.end());
  if (matches_.empty() || line.size() != hit.text.size())
    substitution_.FindMatches(line, (matches_.clear(), matches_));
  if (matches_.empty()) return;
  found_ = true;
  std::string after;
  size_t copied = 0;
  for (const MatchRange& m : matches_) {
    if (m.begin < copied || m.end > line.size() || !substitution_.Expand(line, m, with_)) return;
    after.append(line, copied, m.begin - copied);
    after += with_;
    copied = m.end;
  }
  after.append(line, copied);
  replaced_ += matches_.size();
  const SearchHit shown{hit.path, hit.lineIndex, after, false, {}, FoundKind::Hit};
  if (!terminal_) {
    AppendResultLine(out_, shown);
  } else {
    std::string plain;
    AppendResultLine(plain, shown);
    for (const char c : plain) {
      const auto b = static_cast<unsigned char>(c);
      if (b < 0x20 && c != '\t') {
        char escaped[8];
        std::snprintf(escaped, sizeof escaped, "\\x%02X", b);
        out_ += escaped;
      } else {
        out_ += c;
      }
    }
  }
  out_ += '\n';
}

void ReplaceSink::EndFile() {
  if (file_.empty()) return;
  if (writers_.empty())
    for (unsigned k = 0; k < kWriters; ++k) writers_.emplace_back([this] { Write(); });
  {
    std::unique_lock lock(mutex_);
    room_.wait(lock, [&] { return jobs_.size() < kJobsAhead; });
    jobs_.push_back({jobCount_++, std::move(file_), std::move(lines_)});
    done_.emplace_back();
  }
  wake_.notify_one();
  file_.clear();
  lines_.clear();
  TellDone();
}

void ReplaceSink::FileError(std::string_view path, int error) {
  errors_ = true;
  Tell(path, std::strerror(error));
}

void ReplaceSink::Unsearched(std::string_view path, size_t lineIndex) {
  unsearched_ = true;
  Tell(path, "line " + std::to_string(lineIndex) + " needs too much work, not searched");
}

void ReplaceSink::Tell(std::string_view path, std::string_view what) {
  Flush();
  std::fprintf(stderr, "vorn-find: %.*s: %.*s\n", static_cast<int>(path.size()), path.data(),
               static_cast<int>(what.size()), what.data());
}

void ReplaceSink::Flush() {
  std::string_view rest = out_;
  while (!rest.empty() && !failed_) {
    const ssize_t n = ::write(fd_, rest.data(), rest.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      failed_ = true;
      error_ = n < 0 ? errno : EIO;
      break;
    }
    rest.remove_prefix(static_cast<size_t>(n));
  }
  out_.clear();
}

bool ReplaceSink::Finish() {
  EndFile();
  {
    std::unique_lock lock(mutex_);
    room_.wait(lock, [&] {
      return jobs_.empty() && std::all_of(done_.begin() + static_cast<std::ptrdiff_t>(told_),
                                          done_.end(), [](const auto& d) { return d.has_value(); });
    });
  }
  TellDone();
  Flush();
  if (failed_) errno = error_;
  return !failed_;
}

std::string ReplaceSink::Summary() const {
  return std::to_string(replaced_) + (replaced_ == 1 ? " match" : " matches") + " replaced in " +
         std::to_string(files_) + (files_ == 1 ? " file" : " files");
}

int ReplaceSink::Status() const {
  if (errors_ || failed_) return 2;
  if (replaced_ > 0) return 0;
  return unsearched_ ? 2 : 1;
}

}  // namespace vorn
