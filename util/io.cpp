#include "io.h"

#include <dirent.h>
#include <fcntl.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <mutex>
#include <set>
#include <thread>
#include <utility>

#include "Fd.h"
#include "FileMask.h"
#include "IgnoreRules.h"

namespace vorn {

namespace {

// Opens a directory to be read with getdents64, which spares the extra calls a DIR stream
// makes for every directory of a large tree.
Fd OpenDirectory(int parent, const char* name, bool followLink) {
  int fd;
  int tries = 0;
  do fd = openat(parent, name, O_RDONLY | O_DIRECTORY | O_CLOEXEC | (followLink ? 0 : O_NOFOLLOW));
  while (ShortOfDescriptors(fd, tries));
  return Fd(fd);
}

// Dangling: a link that leads nowhere, told of only where links to folders are followed.
enum class Kind { Other, File, Directory, Dangling };

struct Entry {
  std::string name;
  Kind kind;
  int error = 0;  // with Dangling, why the link leads nowhere
};

// What a link is, as the listings treat it: the regular file it names; the folder, only where
// links to folders are followed (a loop is then caught by the folders' identities).
Entry ClassifyLink(int dirfd, const char* name, bool follow) {
  struct stat st;
  if (fstatat(dirfd, name, &st, 0) != 0)
    return {name, follow ? Kind::Dangling : Kind::Other, errno};
  if (S_ISREG(st.st_mode)) return {name, Kind::File};
  return {name, follow && S_ISDIR(st.st_mode) ? Kind::Directory : Kind::Other};
}

Entry Classify(int dirfd, const char* name, unsigned char type, bool follow) {
  struct stat st;
  switch (type) {
    case DT_REG:
      return {name, Kind::File};
    case DT_DIR:
      return {name, Kind::Directory};
    case DT_LNK:
      return ClassifyLink(dirfd, name, follow);
    case DT_UNKNOWN:
      if (fstatat(dirfd, name, &st, AT_SYMLINK_NOFOLLOW) != 0) return {name, Kind::Other};
      if (S_ISDIR(st.st_mode)) return {name, Kind::Directory};
      if (S_ISREG(st.st_mode)) return {name, Kind::File};
      if (S_ISLNK(st.st_mode)) return ClassifyLink(dirfd, name, follow);
      return {name, Kind::Other};
    default:
      return {name, Kind::Other};
  }
}

// The entries of an open directory in byte order of their names, without "." and "..". A
// failed read sets error to its errno; the entries read before it are kept.
std::vector<Entry> ReadEntries(int fd, int* error = nullptr, bool follow = false) {
  std::vector<Entry> entries;
  const int failed = ForEachEntry(fd, [&](const char* name, unsigned char type) {
    entries.push_back(Classify(fd, name, type, follow));
    return true;
  });
  if (failed != 0 && error) *error = failed;
  std::sort(entries.begin(), entries.end(),
            [](const Entry& a, const Entry& b) { return a.name < b.name; });
  return entries;
}

// One folder of the tree being listed: its entries, read at once, and how far they are done.
struct Level {
  std::vector<Entry> entries;
  size_t next = 0;
  size_t prefixLength = 0;
  Fd fd;  // closed once the level is far above the current one
  dev_t device = 0;
  ino_t inode = 0;
};

// The deepest levels keep their folders open; those above are opened again on the way back.
constexpr size_t kOpenLevels = 32;

bool SameFolder(int fd, const Level& level) {
  struct stat st;
  return fstat(fd, &st) == 0 && st.st_dev == level.device && st.st_ino == level.inode;
}

// The rule files among a folder's entries.
unsigned RuleFilesAmong(const std::vector<Entry>& entries) {
  unsigned holds = 0;
  for (const Entry& e : entries)
    if (e.name[0] == '.') holds |= IgnoreStack::HoldsOf(e.name);
  return holds;
}

// Depth first, holding at most kOpenLevels folders open, so a tree of any depth is listed
// within the process's descriptor limit. Going back up to a closed level takes "..", checked
// against the folder left; if it was moved meanwhile the names from the top lead back to it.
void ListTree(int top, std::string& prefix, const FileMask& mask, const DirectoryVisit& visit,
              const FileSink& found, const ListingError& failed, const ListingOptions& options,
              IgnoreStack* ignore) {
  const bool follow = options.followLinks;
  // Following links, every folder entered, so none is listed twice and no loop is followed.
  std::set<std::pair<dev_t, ino_t>> entered;
  const auto firstVisit = [&entered](int fd) {
    struct stat st {};
    return fstat(fd, &st) != 0 || entered.emplace(st.st_dev, st.st_ino).second;
  };
  std::vector<Level> stack;
  std::vector<std::string> names;  // the folders below top that lead to the deepest level
  const auto close = [](Level& far) {
    struct stat st {};
    if (fstat(far.fd.fd(), &st) == 0) {
      far.device = st.st_dev;
      far.inode = st.st_ino;
    }
    far.fd.Reset();
  };
  const auto enter = [&](Fd dir, std::string_view name) {
    Level level;
    int error = 0;
    level.entries = ReadEntries(dir.fd(), &error, follow);
    if (error != 0 && failed) failed(prefix.substr(0, prefix.size() - 1), error);
    if (ignore) ignore->Enter(dir.fd(), name, RuleFilesAmong(level.entries));
    level.prefixLength = prefix.size();
    level.fd = std::move(dir);
    stack.push_back(std::move(level));
    if (stack.size() > kOpenLevels) close(stack[stack.size() - kOpenLevels - 1]);
  };
  // Short of descriptors, the listing first gives back the folders it holds open above the
  // current one (they are opened again on the way back), then waits for others to close theirs.
  const auto openSub = [&](int parent, const char* name) {
    for (Level& far : stack) {
      Fd sub(openat(parent, name, O_RDONLY | O_DIRECTORY | O_CLOEXEC | (follow ? 0 : O_NOFOLLOW)));
      if (sub.ok() || (errno != EMFILE && errno != ENFILE)) return sub;
      if (&far != &stack.back() && far.fd.ok()) close(far);
    }
    return OpenDirectory(parent, name, follow);
  };
  if (visit && !visit()) return;
  Fd first = OpenDirectory(top, ".", true);
  if (!first.ok()) return;
  if (follow) firstVisit(first.fd());
  enter(std::move(first), {});
  while (!stack.empty()) {
    Level& level = stack.back();
    if (level.next == level.entries.size()) {
      const Fd child = std::move(level.fd);
      stack.pop_back();
      if (ignore) ignore->Leave();
      if (stack.empty()) break;
      names.pop_back();
      prefix.resize(stack.back().prefixLength);
      Level& parent = stack.back();
      if (parent.fd.ok()) continue;
      if (child.ok()) parent.fd = OpenDirectory(child.fd(), "..", false);
      if (!parent.fd.ok() || !SameFolder(parent.fd.fd(), parent)) {
        parent.fd = OpenDirectory(top, ".", true);
        for (const std::string& name : names)
          if (parent.fd.ok()) parent.fd = OpenDirectory(parent.fd.fd(), name.c_str(), follow);
        // The folder is gone or replaced: what is left of it is not listed.
        if (!parent.fd.ok() || !SameFolder(parent.fd.fd(), parent)) {
          parent.fd.Reset();
          parent.next = parent.entries.size();
        }
      }
      continue;
    }
    const Entry& e = level.entries[level.next++];
    if (e.name[0] == '.' && !options.hidden) continue;
    if (e.kind == Kind::File) {
      if (mask.TakesFile(e.name) && !(ignore && ignore->Ignored(e.name, false)))
        found(prefix + e.name);
      continue;
    }
    if (e.kind == Kind::Dangling) {
      if (failed) failed(prefix + e.name, e.error);
      continue;
    }
    if (e.kind != Kind::Directory || !mask.TakesFolder(e.name) ||
        (ignore && ignore->Ignored(e.name, true)))
      continue;
    Fd sub = openSub(level.fd.fd(), e.name.c_str());
    if (!sub.ok()) {
      // A link to a folder is not followed, and says nothing.
      if (errno != ELOOP && errno != ENOTDIR && failed) failed(prefix + e.name, errno);
      continue;
    }
    if (follow && !firstVisit(sub.fd())) continue;
    if (visit && !visit()) return;
    names.push_back(e.name);
    prefix += e.name;
    prefix += '/';
    enter(std::move(sub), e.name);
  }
}

}  // namespace

bool MaskMatches(std::string_view name, std::string_view mask) {
  return FileMask(mask).TakesFile(name);
}

int OpenFolder(const std::string& path, int flags) {
  flags |= O_DIRECTORY | O_CLOEXEC;
  // An empty directory text names the current directory.
  const int fd = open(path.empty() ? "." : path.c_str(), flags);
  if (fd >= 0 || errno != ENAMETOOLONG) return fd;
  // Too long for one call: open it piece by piece, each piece relative to the one before.
  constexpr size_t kPiece = 3072;
  size_t end = path.size();
  while (end > 1 && path[end - 1] == '/') --end;
  Fd dir(path[0] == '/' ? open("/", O_PATH | O_DIRECTORY | O_CLOEXEC) : AT_FDCWD);
  size_t pos = path[0] == '/' ? 1 : 0;
  for (;;) {
    while (pos < end && path[pos] == '/') ++pos;  // "a//b": never a piece that looks absolute
    if (pos >= end) break;
    size_t cut = end;
    if (end - pos > kPiece) {
      cut = path.rfind('/', pos + kPiece);
      if (cut == std::string::npos || cut <= pos) {
        errno = ENAMETOOLONG;
        return -1;
      }
    }
    const std::string piece = path.substr(pos, cut - pos);
    Fd next(
        openat(dir.fd(), piece.c_str(), cut == end ? flags : (O_PATH | O_DIRECTORY | O_CLOEXEC)));
    if (!next.ok()) return -1;
    dir = std::move(next);
    pos = cut + 1;
  }
  return dir.release();
}

FileList ListFiles(std::string_view directory, std::string_view mask,
                   const ListingOptions& options) {
  const std::string dir = AddTrailingBackslash(directory);
  FileList out;
  const Fd handle(OpenFolder(dir, O_RDONLY));
  if (!handle.ok()) return out;
  const FileMask files(mask);
  std::vector<Entry> entries = ReadEntries(handle.fd());
  std::unique_ptr<IgnoreStack> ignore;
  if (options.ignoreFiles) {
    ignore = std::make_unique<IgnoreStack>(dir);
    ignore->Enter(handle.fd(), {}, RuleFilesAmong(entries));
  }
  for (Entry& e : entries)
    if (e.kind == Kind::File && files.TakesFile(e.name) &&
        !(ignore && ignore->Ignored(e.name, false)))
      out.push_back(std::move(e.name));
  return out;
}

FileList ListFilesRecursive(std::string_view directory, std::string_view mask,
                            const DirectoryVisit& visit, const ListingOptions& options) {
  FileList out;
  ListFilesRecursive(
      directory, mask, visit, [&out](std::string&& path) { out.push_back(std::move(path)); }, {},
      options);
  return out;
}

void ListFilesRecursive(std::string_view directory, std::string_view mask,
                        const DirectoryVisit& visit, const FileSink& found,
                        const ListingError& failed, const ListingOptions& options) {
  std::string prefix = AddTrailingBackslash(directory);
  // The top directory itself may be reached through a link; only links below it are not followed.
  int fd;
  int tries = 0;
  do fd = OpenFolder(prefix, O_PATH);
  while (ShortOfDescriptors(fd, tries));
  const Fd top(fd);
  std::unique_ptr<IgnoreStack> ignore;
  if (top.ok() && options.ignoreFiles) ignore = std::make_unique<IgnoreStack>(prefix);
  if (top.ok())
    ListTree(top.fd(), prefix, FileMask(mask), visit, found, failed, options, ignore.get());
  else if (failed)
    failed(std::string(directory), errno);
}

namespace {

// Read while the program loads, before anything can raise it.
rlimit ReadDescriptorLimit() {
  rlimit limit{};
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0) limit.rlim_cur = limit.rlim_max = RLIM_INFINITY;
  return limit;
}
const rlimit kStartingLimit = ReadDescriptorLimit();

}  // namespace

void RestoreDescriptorLimit() {
  rlimit limit{};
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == kStartingLimit.rlim_cur) return;
  // Lowering the soft limit is always allowed; it never goes above the current hard one.
  limit.rlim_cur = std::min(kStartingLimit.rlim_cur, limit.rlim_max);
  setrlimit(RLIMIT_NOFILE, &limit);
}

unsigned long StartingDescriptorLimit() { return kStartingLimit.rlim_cur; }

void RaiseDescriptorLimit() {
  static std::once_flag once;
  std::call_once(once, [] {
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
      limit.rlim_cur = limit.rlim_max;
      setrlimit(RLIMIT_NOFILE, &limit);
    }
  });
}

long DescriptorsFree() {
  rlimit limit{};
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0) return 0;
  if (limit.rlim_cur == RLIM_INFINITY) return 1L << 20;
  // Counted, not looked at: each entry is a link to an open file.
  long open = 0;
  const Fd dir(::open("/proc/self/fd", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.ok()) {
    ForEachEntry(dir.fd(), [&open](const char*, unsigned char) {
      ++open;
      return true;
    });
  } else {
    open = 3;
  }
  return std::max(0L, static_cast<long>(limit.rlim_cur) - open);
}

bool ShortOfDescriptors(int fd, int& tries) {
  if (fd >= 0 || (errno != EMFILE && errno != ENFILE)) return false;
  // 1, 2, 4 ... 16 ms, then 16 ms at a time: about five seconds in all.
  constexpr int kTries = 320;
  if (++tries > kTries) return false;
  std::this_thread::sleep_for(std::chrono::milliseconds(1 << std::min(tries - 1, 4)));
  return true;
}

bool IsFileInUse(const std::string& path) {
  return !Fd(open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY)).ok();
}

std::string AddTrailingBackslash(std::string_view path) {
  std::string out(path);
  if (!out.empty() && out.back() != '/') out += '/';
  return out;
}

std::string ProgramPath() {
  std::string path(4096, '\0');
  const ssize_t n = readlink("/proc/self/exe", path.data(), path.size());
  if (n <= 0) return {};
  path.resize(static_cast<size_t>(n));
  return path;
}

std::string ProgramDirectory() {
  const std::string path = ProgramPath();
  return path.substr(0, path.rfind('/') + 1);
}

// Double fork: the grandchild runs the program and is adopted by init, so nothing waits for
// it and it never lingers as a zombie; the child exits at once and is reaped here.
int StartDetached(const std::vector<std::string>& arguments, bool onPath) {
  if (arguments.empty()) return ENOENT;
  std::vector<char*> argv;
  argv.reserve(arguments.size() + 1);
  for (const std::string& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  // The grandchild reports a failed exec through this pipe; a successful one closes it.
  int ends[2];
  if (::pipe2(ends, O_CLOEXEC) != 0) return errno;
  const Fd reader(ends[0]);
  Fd writer(ends[1]);
  const int report = writer.fd();
  const pid_t child = ::fork();
  if (child < 0) return errno;
  if (child == 0) {
    // Only async-signal-safe calls from here on.
    ::setsid();
    const pid_t grandchild = ::fork();
    if (grandchild == 0) {
      RestoreDescriptorLimit();
      // execv, unlike execvp, never retries a file that is no program through /bin/sh.
      if (onPath)
        ::execvp(argv[0], argv.data());
      else
        ::execv(argv[0], argv.data());
      const int error = errno;
      (void)!::write(report, &error, sizeof error);
      ::_exit(127);
    }
    if (grandchild < 0) {
      const int error = errno;
      (void)!::write(report, &error, sizeof error);
    }
    ::_exit(0);
  }
  writer.Reset();
  int status = 0;
  while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  int error = 0;
  for (;;) {
    const ssize_t n = ::read(reader.fd(), &error, sizeof error);
    if (n < 0 && errno == EINTR) continue;
    return n == static_cast<ssize_t>(sizeof error) ? error : 0;
  }
}

namespace {

ProgramStarter& Starter() {
  static ProgramStarter starter;
  return starter;
}

}  // namespace

void StartProgram(const std::vector<std::string>& arguments) {
  if (Starter())
    Starter()(arguments);
  else
    StartDetached(arguments, true);
}

int StartProgramReporting(const std::vector<std::string>& arguments) {
  if (!Starter()) return StartDetached(arguments, true);
  Starter()(arguments);
  return 0;
}

ProgramStarter SetProgramStarter(ProgramStarter starter) {
  return std::exchange(Starter(), std::move(starter));
}

namespace {

// What the system says of the entry at path, links followed; false when nothing is there.
bool StatPath(const std::string& path, struct stat& info) {
  return !path.empty() && ::stat(path.c_str(), &info) == 0;
}

}  // namespace

std::int32_t LocalFileSize(const std::string& path) {
  struct stat info {};
  if (!StatPath(path, info)) return -1;
  if (!S_ISREG(info.st_mode)) return 0;
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(info.st_size));
}

std::int64_t FileSize(const std::string& path) {
  struct stat info {};
  return StatPath(path, info) && S_ISREG(info.st_mode) ? info.st_size : -1;
}

namespace {

// The number in the first line of a cgroup file, or -1 ("max", or no such file).
long CgroupNumber(const std::string& path, long* second = nullptr) {
  FILE* f = std::fopen(path.c_str(), "re");
  if (!f) return -1;
  char word[32] = "";
  long value = -1;
  if (std::fscanf(f, "%31s", word) == 1 && std::strcmp(word, "max") != 0) value = std::atol(word);
  if (second && std::fscanf(f, "%ld", second) != 1) *second = 0;
  std::fclose(f);
  return value;
}

}  // namespace

// The CPUs the process may use: those of its affinity mask, fewer when its control group's
// quota allows less (a quota of 1.5 CPUs counts as 2).
unsigned CpusAvailable() {
  cpu_set_t set;
  long cpus =
      sched_getaffinity(0, sizeof set, &set) == 0 ? CPU_COUNT(&set) : sysconf(_SC_NPROCESSORS_ONLN);
  if (cpus < 1) cpus = 1;
  // The group's path from /proc/self/cgroup: "0::/path" (v2) or "N:cpu,cpuacct:/path" (v1).
  FILE* f = std::fopen("/proc/self/cgroup", "re");
  if (!f) return static_cast<unsigned>(cpus);
  char line[4096];
  while (std::fgets(line, sizeof line, f)) {
    std::string text(line);
    if (!text.empty() && text.back() == '\n') text.pop_back();
    const size_t first = text.find(':'), second = text.find(':', first + 1);
    if (first == std::string::npos || second == std::string::npos) continue;
    const std::string controllers = text.substr(first + 1, second - first - 1);
    const std::string group = text.substr(second + 1);
    long quota = -1, period = 0;
    if (controllers.empty()) {
      quota = CgroupNumber("/sys/fs/cgroup" + group + "/cpu.max", &period);
    } else if (("," + controllers + ",").find(",cpu,") != std::string::npos) {
      for (const char* mount : {"/sys/fs/cgroup/cpu,cpuacct", "/sys/fs/cgroup/cpu"}) {
        quota = CgroupNumber(mount + group + "/cpu.cfs_quota_us");
        period = CgroupNumber(mount + group + "/cpu.cfs_period_us");
        if (quota > 0) break;
      }
    }
    if (quota > 0 && period > 0) cpus = std::min(cpus, std::max(1L, (quota + period - 1) / period));
  }
  std::fclose(f);
  return static_cast<unsigned>(cpus);
}

int FolderNamedBy(const std::string& path, std::string& folder) {
  std::error_code ec;
  std::filesystem::path absolute = std::filesystem::absolute(path, ec);
  if (ec) return ec.value();
  absolute = absolute.lexically_normal();
  struct stat st {};
  if (::stat(absolute.c_str(), &st) != 0) return errno;
  if (!S_ISDIR(st.st_mode)) absolute = absolute.parent_path();
  folder = AddTrailingBackslash(absolute.string());
  return 0;
}

bool WriteAll(int fd, std::string_view data) {
  while (!data.empty()) {
    const ssize_t n = write(fd, data.data(), data.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = EIO;
      return false;
    }
    data.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

}  // namespace vorn
