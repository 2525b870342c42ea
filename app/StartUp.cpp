#include "StartUp.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string_view>

#include "DesktopHabits.h"
#include "io.h"

namespace vorn {

const char* const kStartUsage = "usage: vorn [OPTION...] [DIRECTORY]\n";

const char* const kStartHelp =
    "Opens the Tessaly window, which finds every line that holds a text in the files of a\n"
    "folder. DIRECTORY (a path or a file:// address) starts it in that folder.\n"
    "\n"
    "  --help              print this help and exit\n"
    "  --version           print the version and exit\n"
    "  -platform NAME      the window system to use (xcb, wayland, offscreen)\n"
    "  -display DISPLAY    the X display to open the window on\n"
    "  -style STYLE        the widget style (Fusion, Windows)\n"
    "  -stylesheet FILE    a Qt style sheet for every window\n"
    "  -reverse            lay the windows out from right to left\n"
    "\n"
    "Exit status: 0 when the window was closed, 2 on bad arguments.\n";

namespace {

// The GUI library's own options: those that take a value and those that do not. They are
// passed on untouched, with one dash or two.
constexpr std::string_view kGuiValueOptions[] = {
    "platform",        "platformpluginpath", "platformtheme", "plugin", "display", "geometry",
    "qwindowgeometry", "qwindowtitle",       "qwindowicon",   "title",  "name",    "session",
    "style",           "stylesheet"};
constexpr std::string_view kGuiFlags[] = {"reverse", "sync", "nograb", "dograb", "widgetcount"};

template <size_t N>
bool Contains(const std::string_view (&names)[N], std::string_view name) {
  for (const std::string_view n : names)
    if (n == name) return true;
  return false;
}

StartArgs Only(StartArgs::Action action, std::string message = {}) {
  StartArgs args;
  args.action = action;
  args.message = std::move(message);
  return args;
}

StartArgs Error(std::string message) { return Only(StartArgs::Action::Error, std::move(message)); }

// The folder an argument names, absolute and with its trailing "/", or an error line.
bool FolderOf(const std::string& argument, std::string& folder, std::string& message) {
  std::string path = argument;
  if (argument.starts_with("file:")) {
    if (!LocalPathOfAddress(argument, &path)) {
      message = argument + ": not a local file address";
      return false;
    }
  } else if (argument.find("://") != std::string::npos) {
    message = argument + ": not a local file address";
    return false;
  }
  // A file stands for its folder, as when it is dropped on the window.
  if (const int error = FolderNamedBy(path, folder)) {
    message = argument + ": " + std::strerror(error);
    return false;
  }
  return true;
}

// The user's home: HOME when it is an absolute path, else the password database's entry.
std::string HomeFolder() {
  if (const char* env = std::getenv("HOME"); env && env[0] == '/') return env;
  std::vector<char> buffer(16384);
  passwd entry{};
  passwd* found = nullptr;
  if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found &&
      found->pw_dir && found->pw_dir[0] == '/')
    return found->pw_dir;
  return std::string(1, '/');
}

}  // namespace

StartArgs ParseStartArgs(int argc, char** argv) {
  StartArgs args;
  std::vector<std::string> operands;
  args.guiArgv.push_back(argc > 0 ? argv[0] : const_cast<char*>("vorn"));
  bool options = true;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (!options || arg == "-" || !arg.starts_with('-')) {
      operands.emplace_back(arg);
      continue;
    }
    if (arg == "--") {
      options = false;
      continue;
    }
    if (arg == "--help") return Only(StartArgs::Action::Help);
    if (arg == "--version") return Only(StartArgs::Action::Version);
    // Used only by the program's own update, so it is not in the help.
    if (arg == "--update-handshake") {
      if (i + 1 >= argc) return Error("option '--update-handshake' requires a value");
      return Only(StartArgs::Action::Handshake, argv[i + 1]);
    }
    std::string_view name = arg.substr(arg.starts_with("--") ? 2 : 1);
    const size_t equals = name.find('=');
    const bool joined = equals != std::string_view::npos;
    if (joined) name = name.substr(0, equals);
    if (!joined && Contains(kGuiFlags, name)) {
      args.guiArgv.push_back(argv[i]);
    } else if (Contains(kGuiValueOptions, name)) {
      args.guiArgv.push_back(argv[i]);
      if (joined) continue;
      if (i + 1 >= argc) return Error("option '" + std::string(arg) + "' requires a value");
      args.guiArgv.push_back(argv[++i]);
    } else {
      return Error("unknown option '" + std::string(arg) + "'");
    }
  }
  if (operands.size() > 1) return Error("more than one DIRECTORY given");
  if (!operands.empty() && !FolderOf(operands.front(), args.directory, args.message)) {
    args.action = StartArgs::Action::Error;
    return args;
  }
  args.guiArgv.push_back(nullptr);
  return args;
}

std::string StartFolder(bool selfUpdating) {
  if (selfUpdating) return ProgramDirectory();
  return AddTrailingBackslash(HomeFolder());
}

}  // namespace vorn
