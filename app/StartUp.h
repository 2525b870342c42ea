// What the program starts with: its command line, read before the window system is needed (so
// --help and --version work without a display), and the folder the Directory field shows.
#pragma once

#include <string>
#include <vector>

namespace vorn {

struct StartArgs {
  // Handshake: the update's test that this build starts here (the descriptor in message).
  enum class Action { Run, Help, Version, Error, Handshake };
  Action action = Action::Run;
  // The folder named on the command line, absolute and with its trailing "/"; empty when none.
  std::string directory;
  // For Error: the one line that says what is wrong; for Handshake: the descriptor to answer on.
  std::string message;
  // The arguments the GUI library reads (the program's name and its own options), with the
  // terminating null pointer; the folder and "--" are taken out.
  std::vector<char*> guiArgv;
};

extern const char* const kStartUsage;
extern const char* const kStartHelp;

// Reads the command line without touching the window system. DIRECTORY is a path or a
// file:// address; a file stands for its folder. A folder that is not there is an error.
StartArgs ParseStartArgs(int argc, char** argv);

// The folder the Directory field starts with: the program's own folder for a copy that
// updates itself, the user's home folder for one the system's packages install (its program
// folder is /usr/bin/). Both end with "/".
std::string StartFolder(bool selfUpdating);

}  // namespace vorn
