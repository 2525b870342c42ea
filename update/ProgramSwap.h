// The file steps that put a downloaded program in the running program's place, and the
// restart from it. At every instant a runnable program stands at the program's path: the old
// file is kept under a second name by a hard link, then the download is renamed over the path
// in one step.
#pragma once

#include <string>

namespace vorn {

enum class SwapStep {
  SyncDownload,  // from: the download, to: the program; takes the program's permission bits,
                 // then its bytes are flushed to disk
  KeepOld,       // hard link from the program to the kept name; fails when that name exists
  Replace,       // renames the download over the program in one step
  SyncFolder,    // from: the program's folder; makes the renames durable
  Fallback,      // renames the download to the fallback name, never replacing a file
};

// Runs one step; false when it failed (errno tells why).
bool RunSwapStep(SwapStep step, const std::string& from, const std::string& to);

// Starts the program file at path, exactly that file with no arguments, detached from this
// process. A file the system will not run (not a program, not executable) is never handed to
// a shell: the start fails. Returns 0, or the errno of the failed start.
int StartProgramFile(const std::string& path);

}  // namespace vorn
