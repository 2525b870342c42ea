// The update check behind "Look for update": logs in through the update window's connection,
// probes the server host, compares the size of the program file on the server with the
// running one, and on a difference and the user's Yes downloads the new file, puts it in the
// program's place and restarts the program from it: only a file signed by the maker, newer
// than this build and runnable here. All on the GUI thread; only the transfers (the download
// and its signature) pump events. The check shows and asks through an UpdateView, which the
// window implements; it knows nothing of the window itself.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "ProgramSwap.h"
#include "UpdateView.h"

namespace vorn {

// The program's file name on the server and the server folder that holds it.
inline const std::string RemoteFileName = "Vorn10.exe";
inline const std::string RemoteDir = "/docs/Quillo/Programs/";
// Names in the program directory: the download, and the running program moved aside.
inline const std::string DownloadName = "Temp.upd";
inline const std::string OldProgramName = "Prog.old";
// The maker's signature of the program file, beside it on the server.
inline const std::string SignatureName = RemoteFileName + ".sig";

// The program file the check compares and replaces, and its directory (ending in "/").
struct ProgramFile {
  std::string Path;
  std::string Directory;
};
// The running program's file (/proc/self/exe), unless a test has put another in place.
ProgramFile UpdateProgramFile();
// Tests point the check at a copy in a temporary folder; nullopt restores the running one.
// Returns the one that was in place.
std::optional<ProgramFile> SetUpdateProgramFile(std::optional<ProgramFile> file);

// How the program ends after a successful swap (by default the application quits once the
// running handler returns). Returns the one that was in place; an empty function restores it.
using Terminator = std::function<void()>;
Terminator SetTerminator(Terminator terminator);

// The file steps of the swap (RunSwapStep by default). Tests put another in place to make a
// chosen step fail; an empty function restores the real one. Returns the one that was in place.
using Renamer = std::function<bool(SwapStep step, const std::string& from, const std::string& to,
                                   int download)>;
Renamer SetRenamer(Renamer renamer);

// How the new program is started after the swap (StartProgramFile by default; it returns 0 or
// an errno). Returns the one that was in place; an empty function restores it.
using Restarter = std::function<int(const std::string& path)>;
Restarter SetRestarter(Restarter restarter);

// The texts of the error box for an update that does not carry the maker's signature, that is
// no newer build of this program, that this machine cannot run, or that is too large.
inline constexpr const char* kNotSignedText = "The update is not signed by the maker.";
inline constexpr const char* kNotNewerText = "The update is not newer than this version.";
inline constexpr const char* kNotForThisMachineText =
    "The update is not a program for this computer.";
inline constexpr const char* kTooLargeText = "The update is too large.";
inline constexpr const char* kProgramChangedText =
    "The program file was changed while the update was downloading.";
// The start of the error for a new program that does not pass the handshake; the reason
// follows.
inline constexpr const char* kCannotStartText = "The new version could not start on this system";
inline constexpr const char* kUnusableKeyText =
    "The update key built into this program verifies no signature: it cannot update itself.";
// The largest update downloaded: the viewer's ceiling for a file.
inline constexpr std::int64_t kUpdateSizeLimit = std::int64_t{256} << 20;

// Removes a Prog.old beside the program that an update left when it did not get to its end
// (a crash in the swap): unless it is the running program's own file moved aside, or another
// copy's update holds it. Run at start and before each update.
void RemoveStaleOldProgram();

// How long the new program has to answer the handshake (kHandshakeTimeLimitMs by default);
// returns the limit that was in place.
int SetHandshakeTimeLimit(int ms);

// The user quits: a running transfer stops (the server is told once), the connection closes,
// and nothing is installed or started after it.
void AbortUpdateForQuit();

// True while a check runs, download included.
bool UpdateCheckRunning();

// Opens the view's connection with login when it is not open. False when it could not be
// opened; the error is swallowed: the connection's status lines stay in the message area and
// a last line says why it failed (unless the user stopped it).
bool EnsureConnected(UpdateView& view);

// The view's activation: opens the connection as EnsureConnected does, within the check's
// deadline, unless a check or an attempt runs, or an attempt failed since the view was last
// shown (NewUpdateShowing).
void ConnectOnActivation(UpdateView& view);
void NewUpdateShowing();

// The size the server reports for name in dir (after changing to dir), 64-bit; -1
// without a connection or a size. clearLog clears the message area first. Errors of the change
// of directory are raised.
std::int64_t RemoteFileSize(UpdateView& view, const std::string& name, const std::string& dir,
                            bool clearLog);

// The check proper, after the connection and the probe: compare, ask, download, swap, restart.
void LookForUpdate(UpdateView& view);

// Everything "Look for update" does: shows the view, makes sure the connection is open,
// probes the server host, runs LookForUpdate. Does nothing while a check runs. Never raises:
// an error that ends the check is shown in the error box.
void CheckForUpdate(UpdateView& view);

}  // namespace vorn
