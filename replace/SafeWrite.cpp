#include "SafeWrite.h"

#include <fcntl.h>
#include <sodium.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "Fd.h"
#include "UndoStore.h"
#include "io.h"

namespace vorn {

namespace {

int NoFault(WriteStep, const char*) { return 0; }
WriteFault writeFault = NoFault;

// Fails with the seam's error, if it gives one.
bool Faulted(WriteStep step, const std::string& target) {
  const int error = writeFault(step, target.c_str());
  if (error != 0) errno = error;
  return error != 0;
}

// Extended attributes (ACLs among them) of from onto to; those the system or the process's
// rights do not take are passed over.
void CopyAttributes(int from, int to) {
  ssize_t size = flistxattr(from, nullptr, 0);
  if (size <= 0) return;
  std::vector<char> names(static_cast<size_t>(size));
  size = flistxattr(from, names.data(), names.size());
  if (size <= 0) return;
  std::vector<char> value;
  for (const char* name = names.data(); name < names.data() + size; name += std::strlen(name) + 1) {
    const ssize_t length = fgetxattr(from, name, nullptr, 0);
    if (length < 0) continue;
    value.resize(static_cast<size_t>(length) + 1);
    const ssize_t got = fgetxattr(from, name, value.data(), value.size());
    if (got >= 0) (void)fsetxattr(to, name, value.data(), static_cast<size_t>(got), 0);
  }
}

int ReadAll(int fd, std::string& bytes, long long expected) {
  bytes.clear();
  bytes.reserve(static_cast<size_t>(expected > 0 ? expected : 0) + 1);
  char buffer[65536];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return errno;
    if (n == 0) return 0;
    bytes.append(buffer, static_cast<size_t>(n));
  }
}

WriteOutcome Left(std::string reason, bool error = false) {
  WriteOutcome outcome;
  outcome.reason = std::move(reason);
  outcome.error = error;
  return outcome;
}

class KeepInStore : public KeepOriginal {
 public:
  KeepInStore(UndoStore& store, const std::string& target, std::string_view original)
      : store_(store), target_(target), original_(original) {}
  int Keep() override { return store_.Keep(target_, original_); }

 private:
  UndoStore& store_;
  const std::string& target_;
  std::string_view original_;
};

}  // namespace

WriteFault SetWriteFault(WriteFault fault) {
  const WriteFault previous = writeFault;
  writeFault = fault ? fault : NoFault;
  return previous;
}

int ReadTarget(const std::string& path, std::string& target, std::string& bytes, struct stat& st) {
  char* resolved = realpath(path.c_str(), nullptr);
  if (!resolved) return errno;
  target = resolved;
  std::free(resolved);
  const Fd fd(::open(target.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK));
  if (!fd.ok()) return errno;
  if (fstat(fd.fd(), &st) != 0) return errno;
  if (!S_ISREG(st.st_mode)) return EINVAL;
  return ReadAll(fd.fd(), bytes, st.st_size);
}

int WriteOver(const std::string& target, int original, const struct stat& st,
              std::string_view content, FileIdentity* written, KeepOriginal* keep) {
  const size_t slash = target.rfind('/');
  const std::string folder = slash == 0 ? "/" : target.substr(0, slash);
  const std::string name = target.substr(slash + 1);
  const Fd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!dir.ok()) return errno;

  // ".NAME.vorn-XXXXXX", the name cut short to fit the system's limit.
  static constexpr char kLetters[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  // Appended piece by piece: "literal" + std::string draws a false -Wrestrict from GCC 12's
  // optimiser.
  std::string stem = ".";
  stem.append(name, 0, NAME_MAX - 13);
  stem += ".vorn-";
  std::string temp;
  Fd out;
  for (int tries = 0; tries < 100 && !out.ok(); ++tries) {
    temp = stem;
    for (int k = 0; k < 6; ++k) temp += kLetters[randombytes_uniform(sizeof kLetters - 1)];
    if (Faulted(WriteStep::Create, target)) return errno;
    out.Reset(::openat(dir.fd(), temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                       0600));
    if (!out.ok() && errno != EEXIST) return errno;
  }
  if (!out.ok()) return EEXIST;

  const auto fail = [&] {
    const int error = errno;
    out.Reset();
    ::unlinkat(dir.fd(), temp.c_str(), 0);
    return error;
  };
  if (Faulted(WriteStep::Write, target) || !WriteAll(out.fd(), content)) return fail();
  // The owner first: changing it clears the set-user and set-group bits the mode then sets.
  if (Faulted(WriteStep::Owner, target)) return fail();
  // Where the owner cannot be given the group may still be; failing both, the file is ours.
  const bool owned = fchown(out.fd(), st.st_uid, st.st_gid) == 0 ||
                     fchown(out.fd(), static_cast<uid_t>(-1), st.st_gid) == 0;
  (void)owned;
  if (Faulted(WriteStep::Mode, target) || fchmod(out.fd(), st.st_mode & 07777) != 0) return fail();
  if (Faulted(WriteStep::Attributes, target)) return fail();
  CopyAttributes(original, out.fd());
  if (Faulted(WriteStep::Flush, target) || fsync(out.fd()) != 0) return fail();
  struct stat now {};
  if (fstat(out.fd(), &now) != 0) return fail();
  if (Faulted(WriteStep::Keep, target)) return fail();
  if (keep) {
    if (const int error = keep->Keep(); error != 0) {
      errno = error;
      return fail();
    }
  }
  if (Faulted(WriteStep::Rename, target) ||
      ::renameat(dir.fd(), temp.c_str(), dir.fd(), name.c_str()) != 0)
    return fail();
  // The new content stands from here on; a folder that cannot be flushed leaves it so.
  if (!Faulted(WriteStep::FlushFolder, target)) (void)fsync(dir.fd());
  if (written) *written = FileIdentity::Of(now, content);
  return 0;
}

bool Outside(const std::string& target, const std::string& folder) {
  if (folder.empty()) return false;
  std::string base = folder;
  if (base.size() > 1 && base.back() == '/') base.pop_back();
  if (base == "/") return false;
  return target.compare(0, base.size(), base) != 0 ||
         (target.size() > base.size() && target[base.size()] != '/');
}

WriteOutcome ReplaceInFile(const FilePlan& plan, const MatchChoice& chosen, const WriteRules& rules,
                           UndoStore* undo) {
  if (!plan.refusal.empty()) return Left(plan.refusal);
  char* resolved = realpath(plan.path.c_str(), nullptr);
  if (!resolved) return Left(std::strerror(errno), true);
  const std::string target = resolved;
  std::free(resolved);
  if (target != plan.target) return Left("changed since the preview");
  if (!rules.outsideAllowed && Outside(target, rules.folder))
    return Left("outside the searched folder");

  const Fd fd(::open(target.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK));
  if (!fd.ok()) return Left(std::strerror(errno), true);
  struct stat st {};
  if (fstat(fd.fd(), &st) != 0) return Left(std::strerror(errno), true);
  if (!S_ISREG(st.st_mode) || !plan.seen.SameFile(st)) return Left("changed since the preview");
  if (st.st_nlink > 1) return Left("has other hard links");
  if ((st.st_mode & 0222) == 0 || faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) != 0)
    return Left("read-only");
  std::string bytes;
  if (const int error = ReadAll(fd.fd(), bytes, st.st_size); error != 0)
    return Left(std::strerror(error), true);
  if (FileIdentity::Of(st, bytes) != plan.seen) return Left("changed since the preview");

  const FileText text(std::move(bytes));
  const std::optional<std::string> content = ApplyPlan(text, plan, chosen);
  if (!content) return Left("changed since the preview");
  WriteOutcome outcome;
  outcome.replaced = true;
  outcome.matches = plan.Matches();
  if (!chosen.empty()) {
    outcome.matches = 0;
    for (size_t k = 0; k < chosen.size() && k < plan.Matches(); ++k) outcome.matches += chosen[k];
  }
  if (*content == text.Bytes()) return outcome;
  std::optional<KeepInStore> keep;
  if (undo) keep.emplace(*undo, target, text.Bytes());
  FileIdentity written;
  if (const int error = WriteOver(target, fd.fd(), st, *content, &written, keep ? &*keep : nullptr);
      error != 0) {
    if (undo) undo->Forget(target);
    return Left(std::strerror(error), true);
  }
  if (undo) undo->Written(target, written);
  return outcome;
}

}  // namespace vorn
