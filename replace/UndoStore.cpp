#include "UndoStore.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <future>

#include "Fd.h"
#include "SafeWrite.h"

namespace vorn {

UndoStore::~UndoStore() { Clear(); }

int UndoStore::MakeFolder() {
  if (!folder_.empty()) return 0;
  const char* base = std::getenv("XDG_RUNTIME_DIR");
  struct stat st {};
  if (!base || *base != '/' || stat(base, &st) != 0 || !S_ISDIR(st.st_mode) ||
      access(base, W_OK | X_OK) != 0) {
    base = std::getenv("TMPDIR");
    if (!base || *base != '/' || access(base, W_OK | X_OK) != 0) base = "/tmp";
  }
  std::string path = std::string(base) + "/vorn-undo-XXXXXX";
  if (!mkdtemp(path.data())) return errno;  // mode 0700
  folder_ = std::move(path);
  return 0;
}

int UndoStore::Keep(const std::string& target, std::string_view original) {
  std::string kept;
  {
    const std::lock_guard lock(mutex_);
    if (const int error = MakeFolder(); error != 0) return error;
    kept = folder_ + "/" + std::to_string(made_++);
  }
  const Fd out(::open(kept.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
  if (!out.ok()) return errno;
  for (std::string_view rest = original; !rest.empty();) {
    const ssize_t n = ::write(out.fd(), rest.data(), rest.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      const int error = n < 0 ? errno : EIO;
      ::unlink(kept.c_str());
      return error;
    }
    rest.remove_prefix(static_cast<size_t>(n));
  }
  const std::lock_guard lock(mutex_);
  entries_.push_back({target, std::move(kept), {}, false});
  return 0;
}

UndoStore::Entry* UndoStore::Find(const std::string& target) {
  for (auto entry = entries_.rbegin(); entry != entries_.rend(); ++entry)
    if (entry->target == target && !entry->written) return &*entry;
  return nullptr;
}

void UndoStore::Written(const std::string& target, const FileIdentity& now) {
  const std::lock_guard lock(mutex_);
  if (Entry* entry = Find(target)) {
    entry->after = now;
    entry->written = true;
  }
}

void UndoStore::Forget(const std::string& target) {
  const std::lock_guard lock(mutex_);
  if (Entry* entry = Find(target)) {
    ::unlink(entry->kept.c_str());
    entries_.erase(entries_.begin() + (entry - entries_.data()));
  }
}

std::vector<UndoStore::Outcome> UndoStore::Undo(const std::function<void()>& waiting) {
  // Most of a write waits for the disk: several files are put back at once.
  constexpr size_t kAtOnce = 8;
  std::vector<Outcome> outcomes;
  std::deque<std::future<Outcome>> running;
  const auto finish = [&] {
    while (running.front().wait_for(std::chrono::milliseconds(10)) != std::future_status::ready)
      if (waiting) waiting();
    outcomes.push_back(running.front().get());
    running.pop_front();
  };
  for (const Entry& entry : entries_) {
    if (running.size() >= kAtOnce) finish();
    running.push_back(std::async(std::launch::async, [&entry] { return Restore(entry); }));
    if (waiting) waiting();
  }
  while (!running.empty()) finish();
  Clear();
  return outcomes;
}

UndoStore::Outcome UndoStore::Restore(const Entry& entry) {
  Outcome outcome;
  outcome.path = entry.target;
  std::string target, now, original;
  struct stat st {};
  struct stat keptSt {};
  const int error = ReadTarget(entry.target, target, now, st);
  if (error != 0) {
    outcome.reason = std::strerror(error);
  } else if (target != entry.target || !entry.written || FileIdentity::Of(st, now) != entry.after) {
    outcome.reason = "changed since the replace";
  } else if (ReadTarget(entry.kept, target, original, keptSt) != 0) {
    outcome.reason = "its original is lost";
  } else {
    const Fd fd(::open(entry.target.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK));
    const int written = fd.ok() ? WriteOver(entry.target, fd.fd(), st, original, nullptr) : errno;
    outcome.restored = written == 0;
    if (written != 0) outcome.reason = std::strerror(written);
  }
  return outcome;
}

void UndoStore::Clear() {
  for (const Entry& entry : entries_) ::unlink(entry.kept.c_str());
  entries_.clear();
  if (!folder_.empty()) ::rmdir(folder_.c_str());
  folder_.clear();
  made_ = 0;
}

}  // namespace vorn
