// Writing a file's new content so that it is, at every instant, either wholly old or wholly
// new: the bytes go to a temporary file ".NAME.vorn-XXXXXX" beside it (created exclusively,
// never through a link), which takes the original's permission bits, owner, group and
// extended attributes where the process may set them, is flushed to disk and renamed over the
// original; then the folder is flushed. Any failure before the rename removes the temporary
// file and leaves the original as it was.
#pragma once

#include <sys/stat.h>

#include <string>
#include <string_view>

#include "FilePlan.h"

namespace vorn {

class UndoStore;

// The steps of a write, each a place where it may fail (or the process be killed).
enum class WriteStep { Create, Write, Owner, Mode, Attributes, Flush, Keep, Rename, FlushFolder };

// Before each step the write asks this seam for an error number to fail the step with (0:
// none). Tests put faults there; the default never fails. Returns the seam it replaced.
using WriteFault = int (*)(WriteStep step, const char* target);
WriteFault SetWriteFault(WriteFault fault);

// Resolves path's links to the file itself and reads it whole, never through a link the
// resolved path may meanwhile have become. Returns 0, or the system's error number.
int ReadTarget(const std::string& path, std::string& target, std::string& bytes, struct stat& st);

// Writes content over the regular file target (open as original, whose status is st), as the
// file's comment says. Returns 0 with *written set to what now stands at target, or the error
// number of the step that failed (the original then untouched, no temporary file left).
// keep, when given, is called after the flush and before the rename; its error fails the write.
struct KeepOriginal {
  virtual ~KeepOriginal() = default;
  virtual int Keep() = 0;
};
int WriteOver(const std::string& target, int original, const struct stat& st,
              std::string_view content, FileIdentity* written, KeepOriginal* keep = nullptr);

// What the replace may touch.
struct WriteRules {
  std::string folder;           // the searched folder, links resolved
  bool outsideAllowed = false;  // a link's target outside folder may be replaced
};

// Whether target lies outside folder (both with links resolved).
bool Outside(const std::string& target, const std::string& folder);

struct WriteOutcome {
  bool replaced = false;
  size_t matches = 0;  // replaced
  std::string reason;  // why the file was left alone
  bool error = false;  // left alone for an error (not a refusal by the rules)
};

// Replaces the chosen matches of plan in its file, if the file is still as the preview saw it
// and the rules allow; the original goes to undo first, when given.
WriteOutcome ReplaceInFile(const FilePlan& plan, const MatchChoice& chosen, const WriteRules& rules,
                           UndoStore* undo);

}  // namespace vorn
