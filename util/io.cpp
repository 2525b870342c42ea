#include "io.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <utility>
#include <memory>

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

struct DirCloser {
  void operator()(DIR* d) const { closedir(d); }
};
using DirHandle = std::unique_ptr<DIR, DirCloser>;

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
std::vector<Entry> ReadEntries(DIR* dir) {
  std::vector<Entry> entries;
  const int fd = dirfd(dir);
  while (const dirent* e = readdir(dir)) {
    const char* name = e->d_name;
    if (name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0))) continue;
    entries.push_back({name, Classify(fd, name, e->d_type)});
  }
  std::sort(entries.begin(), entries.end(),
            [](const Entry& a, const Entry& b) { return a.name < b.name; });
  return entries;
}

DirHandle OpenDirectoryAt(int parent, const char* name) {
  const int fd = openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return nullptr;
  DIR* dir = fdopendir(fd);
  if (!dir) close(fd);
  return DirHandle(dir);
}

// An empty directory text names the current directory, as the wildcard enumeration did.
const char* DirectoryName(const std::string& directory) {
  return directory.empty() ? "." : directory.c_str();
}

// Returns false when the listing was abandoned.
bool ListTree(DIR* dir, std::string& prefix, std::string_view mask, const DirectoryVisit& visit,
              FileList& out) {
  if (visit && !visit()) return false;
  for (const Entry& e : ReadEntries(dir)) {
    if (e.name[0] == '.') continue;
    if (e.kind == Kind::Directory) {
      DirHandle sub = OpenDirectoryAt(dirfd(dir), e.name.c_str());
      if (!sub) continue;
      const size_t keep = prefix.size();
      prefix += e.name;
      prefix += '/';
      const bool goOn = ListTree(sub.get(), prefix, mask, visit, out);
      prefix.resize(keep);
      if (!goOn) return false;
    } else if (e.kind == Kind::File && MaskMatches(e.name, mask)) {
      out.push_back(prefix + e.name);
    }
  }
  return true;
}

}  // namespace

bool MaskMatches(std::string_view name, std::string_view mask) {
  if (WildcardMatches(name, mask)) return true;
  return mask.size() >= 2 && mask.substr(mask.size() - 2) == ".*" &&
         WildcardMatches(name, mask.substr(0, mask.size() - 2));
}

FileList ListFiles(std::string_view directory, std::string_view mask) {
  const std::string dir = AddTrailingBackslash(directory);
  FileList out;
  DirHandle handle = OpenDirectoryAt(AT_FDCWD, DirectoryName(dir));
  if (!handle) return out;
  for (Entry& e : ReadEntries(handle.get()))
    if (e.kind == Kind::File && MaskMatches(e.name, mask)) out.push_back(std::move(e.name));
  return out;
}

FileList ListFilesRecursive(std::string_view directory, std::string_view mask,
                            const DirectoryVisit& visit) {
  std::string prefix = AddTrailingBackslash(directory);
  FileList out;
  // The top directory itself may be reached through a link; only links below it are not followed.
  const int fd = open(DirectoryName(prefix), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return out;
  DirHandle handle(fdopendir(fd));
  if (!handle) {
    close(fd);
    return out;
  }
  ListTree(handle.get(), prefix, mask, visit, out);
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

}  // namespace vorn
