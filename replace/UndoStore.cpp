#include "UndoStore.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

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
  if (const int error = MakeFolder(); error != 0) return error;
  std::string kept = folder_ + "/" + std::to_string(made_++);
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
  entries_.push_back({target, std::move(kept), {}, false});
  return 0;
}

void UndoStore::Written(const std::string& target, const FileIdentity& now) {
  if (!entries_.empty() && entries_.back().target == target) {
    entries_.back().after = now;
    entries_.back().written = true;
  }
}

void UndoStore::Forget(const std::string& target) {
  if (!entries_.empty() && entries_.back().target == target && !entries_.back().written) {
    ::unlink(entries_.back().kept.c_str());
    entries_.pop_back();
  }
}

std::vector<UndoStore::Outcome> UndoStore::Undo() {
  std::vector<Outcome> outcomes;
  for (const Entry& entry : entries_) {
    Outcome outcome;
    outcome.path = entry.target;
    std::string target, now, original;
    struct stat st {
    }, keptSt{};
    const int error = ReadTarget(entry.target, target, now, st);
    if (error != 0) {
      outcome.reason = std::strerror(error);
    } else if (target != entry.target || !entry.written ||
               FileIdentity::Of(st, now) != entry.after) {
      outcome.reason = "changed since the replace";
    } else if (ReadTarget(entry.kept, target, original, keptSt) != 0) {
      outcome.reason = "its original is lost";
    } else {
      const Fd fd(::open(entry.target.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK));
      const int written = fd.ok() ? WriteOver(entry.target, fd.fd(), st, original, nullptr) : errno;
      outcome.restored = written == 0;
      if (written != 0) outcome.reason = std::strerror(written);
    }
    outcomes.push_back(std::move(outcome));
  }
  Clear();
  return outcomes;
}

void UndoStore::Clear() {
  for (const Entry& entry : entries_) ::unlink(entry.kept.c_str());
  entries_.clear();
  if (!folder_.empty()) ::rmdir(folder_.c_str());
  folder_.clear();
  made_ = 0;
}

}  // namespace vorn
