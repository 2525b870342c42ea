// File listing and path helpers. Paths are byte strings; the separator is "/".
#pragma once

#include <dirent.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace vorn {

using FileList = std::vector<std::string>;

// Called once per directory visited while a tree is listed (the GUI pumps its events there).
// Returning false abandons the listing; what was collected so far is returned.
using DirectoryVisit = std::function<bool()>;

// Whether mask takes the file name: wildcards, parts separated by ";" and exclusions as
// FileMask (FileMask.h) reads them.
bool MaskMatches(std::string_view name, std::string_view mask);

// Opens the folder at path with the given open flags (O_DIRECTORY is added), also when the
// path is longer than one system call takes; an empty path is the current folder. Returns the
// descriptor, or -1 with errno set.
int OpenFolder(const std::string& path, int flags);

// The CPUs the process may use: those of its affinity mask, fewer when its control group's
// quota allows less (a quota of 1.5 CPUs counts as 2).
unsigned CpusAvailable();

// Hands each entry of an open folder but "." and ".." to visit(name, d_type), in the order
// the system lists them, until visit returns false. Returns the errno of a failed read, else 0.
template <typename Visit>
int ForEachEntry(int fd, const Visit& visit) {
  alignas(8) char buffer[32768];
  for (;;) {
    const ssize_t n = getdents64(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return n < 0 ? errno : 0;
    for (ssize_t offset = 0; offset < n;) {
      const auto* e = reinterpret_cast<const dirent64*>(buffer + offset);
      offset += e->d_reclen;
      const char* name = e->d_name;
      if (name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0))) continue;
      if (!visit(name, e->d_type)) return 0;
    }
  }
}

// What a listing takes beyond the plain listing; all off by default.
struct ListingOptions {
  // Leaves out what the ignore files leave out (IgnoreRules.h): git's rules inside a git work
  // tree, ".ignore" files everywhere; the folders .git, .hg and .svn are not entered.
  bool ignoreFiles = false;
  // Lists and enters names beginning with "." (the plain tree listing skips them).
  bool hidden = false;
  // Enters links to folders; a folder reached twice (the same device and inode) is listed
  // once, so a loop is never followed; a link that leads nowhere goes to the listing's
  // failures.
  bool followLinks = false;
};

// Bare names of the regular files (or links to regular files) in directory that match mask,
// in byte order of their names. A missing or unreadable directory gives an empty list.
FileList ListFiles(std::string_view directory, std::string_view mask,
                   const ListingOptions& options = {});

// Full paths of the regular files below directory whose bare names match mask, depth first,
// each directory's entries in byte order; folders the mask leaves out are not entered. Names
// beginning with "." are skipped, files and directories alike; links to directories are not
// followed; unreadable parts are skipped. A tree of any depth is listed with a bounded number of
// descriptors open.
FileList ListFilesRecursive(std::string_view directory, std::string_view mask,
                            const DirectoryVisit& visit = {}, const ListingOptions& options = {});
// The same, handing each path to found as soon as it is listed, so a search may begin on the
// first files while the rest of the tree is still being listed; a folder below directory that
// cannot be opened or read goes to failed with its path and the system's error number.
using FileSink = std::function<void(std::string&&)>;
using ListingError = std::function<void(const std::string& path, int error)>;
void ListFilesRecursive(std::string_view directory, std::string_view mask,
                        const DirectoryVisit& visit, const FileSink& found,
                        const ListingError& failed = {}, const ListingOptions& options = {});

// Running short of descriptors must never skip a file or a folder. Raises the process's soft
// limit of open descriptors to its hard one (once; later calls do nothing).
void RaiseDescriptorLimit();
// Puts back the soft limit the process started with, so a program it starts does not inherit
// the raised one (old programs that use select() fail with descriptors above 1024). Only
// system calls: it is called in a child between fork and exec.
void RestoreDescriptorLimit();
// The soft limit of open descriptors the process started with.
unsigned long StartingDescriptorLimit();
// How many more descriptors the process may open now.
long DescriptorsFree();
// After an open that gave fd: true when it failed for want of descriptors and the caller
// should try again, after a short wait for other threads to close theirs; false once it
// succeeded, failed otherwise, or has waited a few seconds in all (errno then stays EMFILE).
// tries counts the attempts; start it at 0.
//   do fd = open(...); while (ShortOfDescriptors(fd, tries));
bool ShortOfDescriptors(int fd, int& tries);

// Kept for the design's interface (and its tests); the program itself does not call it.
// Linux has no exclusive opening: a file is "in use" when it cannot be opened for reading.
bool IsFileInUse(const std::string& path);

// The path with the platform separator appended, unless it is empty or already ends in one.
std::string AddTrailingBackslash(std::string_view path);

// The folder a path names, absolute, normalised and ending in "/": the path itself when it
// is a folder (a link to one counts, under the name given), else the folder that holds it.
// Returns 0, or the errno when nothing is there.
int FolderNamedBy(const std::string& path, std::string& folder);

// The running program file's full path ("" when the system does not tell it).
std::string ProgramPath();
// The directory of the running program file, ending in the separator.
std::string ProgramDirectory();

// Starts a program from an argument vector (the program is looked up on PATH when it has no
// "/"), detached: never through a shell, not waited for, nothing reported, no zombie left.
void StartProgram(const std::vector<std::string>& arguments);

// As StartProgram, through the same seam (a replaced starter counts as started), and returns
// 0 or the errno of a failed start, so the caller can say what could not be started.
int StartProgramReporting(const std::vector<std::string>& arguments);

// Starts a program from an argument vector, detached from this process (its own session, no
// zombie left), with the descriptor limit the process started with. onPath: a name without
// "/" is looked up on PATH; else the file named is run as it is. Never through a shell.
// Returns 0 once the program runs, or the errno of the failed start.
int StartDetached(const std::vector<std::string>& arguments, bool onPath);

// Tests replace how programs are started, to see what the program asked for. Passing an
// empty function restores the real start. Returns the starter that was in place.
using ProgramStarter = std::function<void(const std::vector<std::string>&)>;
ProgramStarter SetProgramStarter(ProgramStarter starter);

// The size of the file at path (a relative path counts from the working directory; links are
// followed), its low 32 bits read as a signed value; 0 for a directory or another entry that
// is not a regular file; -1 when nothing is there.
std::int32_t LocalFileSize(const std::string& path);
// The full size of the regular file at path (links followed); -1 when nothing is there or it
// is not a regular file.
std::int64_t FileSize(const std::string& path);

// Writes all of data to fd, going on after partial writes and interrupts; false with errno
// set (EIO for a write that took nothing) on failure.
bool WriteAll(int fd, std::string_view data);

}  // namespace vorn
