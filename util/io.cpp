#include "io.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <utility>

namespace vorn {

namespace {

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }

// Length of the character that starts at text[i]: "?" stands for one character, and a
// UTF-8 name's character may span several bytes.
size_t CharLength(std::string_view text, size_t i) {
  size_t n = 1;
  if (static_cast<unsigned char>(text[i]) >= 0xC0)
    while (i + n < text.size() && (static_cast<unsigned char>(text[i + n]) & 0xC0) == 0x80) ++n;
  return n;
}

bool WildcardMatches(std::string_view name, std::string_view mask) {
  size_t n = 0, m = 0;
  size_t starMask = std::string_view::npos, starName = 0;
  while (n < name.size()) {
    if (m < mask.size() && mask[m] == '*') {
      starMask = m++;
      starName = n;
    } else if (m < mask.size() && mask[m] == '?') {
      n += CharLength(name, n);
      ++m;
    } else if (m < mask.size() && LowerAscii(mask[m]) == LowerAscii(name[n])) {
      ++n;
      ++m;
    } else if (starMask != std::string_view::npos) {
      m = starMask + 1;
      n = ++starName;
    } else {
      return false;
    }
  }
  while (m < mask.size() && mask[m] == '*') ++m;
  return m == mask.size();
}

// An open directory: a descriptor read with getdents64, which spares the extra calls a
// DIR stream makes for every directory of a large tree.
class Directory {
 public:
  Directory(int parent, const char* name, bool followLink)
      : fd_(openat(parent, name,
                   O_RDONLY | O_DIRECTORY | O_CLOEXEC | (followLink ? 0 : O_NOFOLLOW))) {}
  ~Directory() {
    if (fd_ >= 0) close(fd_);
  }
  Directory(const Directory&) = delete;
  Directory& operator=(const Directory&) = delete;
  bool ok() const { return fd_ >= 0; }
  int fd() const { return fd_; }

 private:
  int fd_;
};

enum class Kind { Other, File, Directory };

struct Entry {
  std::string name;
  Kind kind;
};

// What an entry is, as the listings treat it: a link counts as the regular file it names,
// never as a directory, so a link loop cannot make the listing recurse.
Kind Classify(int dirfd, const char* name, unsigned char type) {
  struct stat st;
  switch (type) {
    case DT_REG:
      return Kind::File;
    case DT_DIR:
      return Kind::Directory;
    case DT_LNK:
      return (fstatat(dirfd, name, &st, 0) == 0 && S_ISREG(st.st_mode)) ? Kind::File : Kind::Other;
    case DT_UNKNOWN:
      if (fstatat(dirfd, name, &st, AT_SYMLINK_NOFOLLOW) != 0) return Kind::Other;
      if (S_ISDIR(st.st_mode)) return Kind::Directory;
      if (S_ISREG(st.st_mode)) return Kind::File;
      if (S_ISLNK(st.st_mode))
        return (fstatat(dirfd, name, &st, 0) == 0 && S_ISREG(st.st_mode)) ? Kind::File : Kind::Other;
      return Kind::Other;
    default:
      return Kind::Other;
  }
}

// The entries of an open directory in byte order of their names, without "." and "..".
std::vector<Entry> ReadEntries(const Directory& dir) {
  std::vector<Entry> entries;
  alignas(8) char buffer[32768];
  for (;;) {
    const ssize_t n = getdents64(dir.fd(), buffer, sizeof buffer);
    if (n <= 0) break;
    for (ssize_t offset = 0; offset < n;) {
      const auto* e = reinterpret_cast<const dirent64*>(buffer + offset);
      offset += e->d_reclen;
      const char* name = e->d_name;
      if (name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0))) continue;
      entries.push_back({name, Classify(dir.fd(), name, e->d_type)});
    }
  }
  std::sort(entries.begin(), entries.end(),
            [](const Entry& a, const Entry& b) { return a.name < b.name; });
  return entries;
}

// An empty directory text names the current directory, as the wildcard enumeration did.
const char* DirectoryName(const std::string& directory) {
  return directory.empty() ? "." : directory.c_str();
}

// Returns false when the listing was abandoned.
bool ListTree(const Directory& dir, std::string& prefix, std::string_view mask,
              const DirectoryVisit& visit, FileList& out) {
  if (visit && !visit()) return false;
  for (const Entry& e : ReadEntries(dir)) {
    if (e.name[0] == '.') continue;
    if (e.kind == Kind::Directory) {
      const Directory sub(dir.fd(), e.name.c_str(), false);
      if (!sub.ok()) continue;
      const size_t keep = prefix.size();
      prefix += e.name;
      prefix += '/';
      const bool goOn = ListTree(sub, prefix, mask, visit, out);
      prefix.resize(keep);
      if (!goOn) return false;
    } else if (e.kind == Kind::File && MaskMatches(e.name, mask)) {
      out.push_back(prefix + e.name);
    }
  }
  return true;
}

bool OneMaskMatches(std::string_view name, std::string_view mask) {
  if (WildcardMatches(name, mask)) return true;
  return mask.size() >= 2 && mask.substr(mask.size() - 2) == ".*" &&
         WildcardMatches(name, mask.substr(0, mask.size() - 2));
}

}  // namespace

bool MaskMatches(std::string_view name, std::string_view mask) {
  if (mask.find(';') == std::string_view::npos) return OneMaskMatches(name, mask);
  while (!mask.empty()) {
    const size_t end = std::min(mask.find(';'), mask.size());
    const std::string_view part = mask.substr(0, end);
    if (!part.empty() && OneMaskMatches(name, part)) return true;
    mask.remove_prefix(std::min(end + 1, mask.size()));
  }
  return false;
}

FileList ListFiles(std::string_view directory, std::string_view mask) {
  const std::string dir = AddTrailingBackslash(directory);
  FileList out;
  const Directory handle(AT_FDCWD, DirectoryName(dir), true);
  if (!handle.ok()) return out;
  for (Entry& e : ReadEntries(handle))
    if (e.kind == Kind::File && MaskMatches(e.name, mask)) out.push_back(std::move(e.name));
  return out;
}

FileList ListFilesRecursive(std::string_view directory, std::string_view mask,
                            const DirectoryVisit& visit) {
  std::string prefix = AddTrailingBackslash(directory);
  FileList out;
  // The top directory itself may be reached through a link; only links below it are not followed.
  const Directory handle(AT_FDCWD, DirectoryName(prefix), true);
  if (handle.ok()) ListTree(handle, prefix, mask, visit, out);
  return out;
}

bool IsFileInUse(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return true;
  close(fd);
  return false;
}

std::string AddTrailingBackslash(std::string_view path) {
  std::string out(path);
  if (!out.empty() && out.back() != '/') out += '/';
  return out;
}

std::string ProgramDirectory() {
  std::string path(4096, '\0');
  const ssize_t n = readlink("/proc/self/exe", path.data(), path.size());
  if (n <= 0) return {};
  path.resize(static_cast<size_t>(n));
  return path.substr(0, path.rfind('/') + 1);
}

namespace {

// Double fork: the grandchild runs the program and is adopted by init, so nothing waits for
// it and it never lingers as a zombie; the child exits at once and is reaped here.
void StartDetached(const std::vector<std::string>& arguments) {
  if (arguments.empty()) return;
  std::vector<char*> argv;
  for (const std::string& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  const pid_t child = fork();
  if (child < 0) return;
  if (child == 0) {
    setsid();
    if (fork() == 0) {
      execvp(argv[0], argv.data());
      _exit(127);
    }
    _exit(0);
  }
  int status;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
}

ProgramStarter& Starter() {
  static ProgramStarter starter;
  return starter;
}

}  // namespace

void StartProgram(const std::vector<std::string>& arguments) {
  if (Starter()) Starter()(arguments);
  else StartDetached(arguments);
}

ProgramStarter SetProgramStarter(ProgramStarter starter) {
  return std::exchange(Starter(), std::move(starter));
}

std::int32_t LocalFileSize(const std::string& path) {
  struct stat info{};
  if (path.empty() || ::stat(path.c_str(), &info) != 0) return -1;
  if (!S_ISREG(info.st_mode)) return 0;
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(info.st_size));
}

}  // namespace vorn
