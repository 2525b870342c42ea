// The file steps that put a downloaded program in the running program's place, and the
// restart from it. At every instant a runnable program stands at the program's path: the old
// file is kept under a second name by a hard link, then the download is renamed over the path
// in one step. The download is known by its open descriptor: the steps change that file and
// make sure that file is the one renamed, never whatever a name points at by then.
#pragma once

#include <functional>
#include <string>

#include "Fd.h"

namespace vorn {

enum class SwapStep {
  SyncDownload,  // from: the download, to: the program; the download (its descriptor) takes
                 // the program's permission bits, then its bytes are flushed to disk
  KeepOld,       // hard link from the program to the kept name; fails when that name exists
  Replace,       // renames the download over the program in one step; fails when what was
                 // renamed is not the download's file
  SyncFolder,    // from: the program's folder; makes the renames durable
  Restore,       // from: the kept name, to: the program; puts the old program back in place
  Fallback,      // renames the download to the fallback name, never replacing a file
};

// Runs one step; download is the download's open descriptor. False when it failed (errno
// tells why).
bool RunSwapStep(SwapStep step, const std::string& from, const std::string& to, int download);

// Whether the name is the file open at fd (same device and inode; a link is never followed).
bool IsSameFile(const std::string& path, int fd);
// Removes name when it is a second hard link to the file at path (same device and inode): a
// kept name left behind by a swap that never got further. True when it was removed.
bool RemoveSecondLink(const std::string& name, const std::string& path);

// The option the new program answers the handshake under: "--update-handshake FD".
inline constexpr const char* kHandshakeOption = "--update-handshake";
// How long the new program has to answer it.
inline constexpr int kHandshakeTimeLimitMs = 10000;

// Whether the program installed at path runs on this system: starts it with
// "--update-handshake 3", its answer descriptor 3, and waits at most timeLimitMs for it to
// write "ready VERSION" and end with status 0. Between slices of kHandshakeSliceMs the tick
// runs; false from it gives the handshake up. A program that does not answer in time is
// killed. Returns an empty text on the right answer, else why not, as a phrase: the loader's
// or the program's last line of errors, the signal that ended it, its wrong answer.
inline constexpr int kHandshakeSliceMs = 50;
std::string RunUpdateHandshake(const std::string& path, const std::string& version, int timeLimitMs,
                               const std::function<bool()>& tick);

// Removes a Prog.old (name) left beside the program (path) by an update that did not get to
// the end: kept only while it is the running program's own file moved aside, or while an
// update holds it (HoldForSwap). True when one was removed.
bool RemoveStrandedOldProgram(const std::string& name, const std::string& path);
// Held by an update from before the running program is kept under its second name until the
// swap is over: another copy of the program leaves that name alone meanwhile.
Fd HoldForSwap(const std::string& path);

// Starts the program file at path, exactly that file with no arguments, detached from this
// process. A file the system will not run (not a program, not executable) is never handed to
// a shell: the start fails. Returns 0, or the errno of the failed start.
int StartProgramFile(const std::string& path);

}  // namespace vorn
