#include "TextEditor.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <fstream>
#include <initializer_list>
#include <sstream>

namespace vorn {

namespace {

std::string Env(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> out;
  std::string piece;
  std::istringstream in(text);
  while (std::getline(in, piece, separator))
    if (!piece.empty()) out.push_back(piece);
  return out;
}

std::string BaseName(std::string_view path) {
  const size_t slash = path.rfind('/');
  return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

// The pieces one after another, in one string.
std::string Cat(std::initializer_list<std::string_view> pieces) {
  std::string out;
  for (const std::string_view p : pieces) out.append(p);
  return out;
}

bool Executable(const std::string& path) { return access(path.c_str(), X_OK) == 0; }

bool OnPath(const std::string& program) {
  if (program.find('/') != std::string::npos) return Executable(program);
  for (const std::string& dir : Split(Env("PATH"), ':'))
    if (Executable(Cat({dir, "/", program}))) return true;
  return false;
}

// How an editor takes a position: the arguments before the file, or the file itself as
// "FILE:LINE:COLUMN".
enum class Form {
  None,
  PlusLineColon,
  LineColumnOptions,
  LineColumnEquals,
  Goto,
  FileSuffix,
  VimCursor,
  PlusLineComma
};

struct KnownEditor {
  const char* program;
  Form form;
  bool graphical;
};

constexpr KnownEditor kEditors[] = {
    {"gedit", Form::PlusLineColon, true},
    {"gnome-text-editor", Form::PlusLineColon, true},
    {"kate", Form::LineColumnOptions, true},
    {"kwrite", Form::LineColumnOptions, true},
    {"mousepad", Form::LineColumnEquals, true},
    {"geany", Form::LineColumnEquals, true},
    {"code", Form::Goto, true},
    {"code-oss", Form::Goto, true},
    {"codium", Form::Goto, true},
    {"vscodium", Form::Goto, true},
    {"subl", Form::FileSuffix, true},
    {"sublime_text", Form::FileSuffix, true},
    {"gvim", Form::VimCursor, true},
    {"vim", Form::VimCursor, false},
    {"vi", Form::VimCursor, false},
    {"vim.basic", Form::VimCursor, false},
    {"vim.tiny", Form::VimCursor, false},
    {"nvim", Form::VimCursor, false},
    {"nano", Form::PlusLineComma, false},
    {"emacs", Form::PlusLineColon, false},
    {"emacsclient", Form::PlusLineColon, false},
    {"micro", Form::PlusLineColon, false},
    {"kak", Form::PlusLineColon, false},
    {"hx", Form::FileSuffix, false},
    {"helix", Form::FileSuffix, false},
};

const KnownEditor* Known(std::string_view argument) {
  std::string program = BaseName(argument);
  if (argument.starts_with("--command=")) program = BaseName(argument.substr(10));
  for (const KnownEditor& e : kEditors)
    if (program == e.program) return &e;
  return nullptr;
}

// The editor among the arguments (an Exec line may start with env or flatpak run).
const KnownEditor* EditorIn(const std::vector<std::string>& arguments) {
  for (const std::string& a : arguments)
    if (const KnownEditor* e = Known(a)) return e;
  return nullptr;
}

// Appends the file with the position in the editor's form.
void AppendTarget(std::vector<std::string>& out, const KnownEditor* editor, const EditorTarget& t) {
  const std::string line = std::to_string(t.line);
  const std::string column = std::to_string(t.column);
  const std::string byteColumn = std::to_string(t.byteColumn);
  switch (editor ? editor->form : Form::None) {
    case Form::None:
      break;
    case Form::PlusLineColon:
      out.push_back("+" + line + ":" + column);
      break;
    case Form::PlusLineComma:
      out.push_back("+" + line + "," + column);
      break;
    case Form::LineColumnOptions:
      out.insert(out.end(), {"--line", line, "--column", column});
      break;
    case Form::LineColumnEquals:
      out.insert(out.end(), {"--line=" + line, "--column=" + column});
      break;
    case Form::VimCursor:
      out.push_back("+call cursor(" + line + "," + byteColumn + ")");
      break;
    case Form::Goto:
      out.emplace_back("--goto");
      [[fallthrough]];
    case Form::FileSuffix:
      out.push_back(t.path + ":" + line + ":" + column);
      return;
  }
  // A file name beginning with "-" or "+" must not be taken for an option.
  out.push_back(!t.path.empty() && (t.path[0] == '-' || t.path[0] == '+') ? "./" + t.path : t.path);
}

std::string FileUrl(const std::string& path) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string url = "file://";
  for (const char ch : path) {
    const auto b = static_cast<unsigned char>(ch);
    if (std::isalnum(b) || std::string_view("-._~/").find(ch) != std::string_view::npos) {
      url += ch;
    } else {
      url += '%';
      url += kHex[b >> 4];
      url += kHex[b & 15];
    }
  }
  return url;
}

// Words of a shell-like command: blanks separate, quotes and backslashes group.
std::vector<std::string> Words(std::string_view text) {
  std::vector<std::string> out;
  std::string word;
  bool inWord = false;
  char quote = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (quote) {
      if (c == quote) {
        quote = 0;
      } else if (c == '\\' && quote == '"' && i + 1 < text.size()) {
        word += text[++i];
      } else {
        word += c;
      }
    } else if (c == '\'' || c == '"') {
      quote = c;
      inWord = true;
    } else if (c == '\\' && i + 1 < text.size()) {
      word += text[++i];
      inWord = true;
    } else if (c == ' ' || c == '\t' || c == '\n') {
      if (inWord) out.push_back(std::move(word));
      word.clear();
      inWord = false;
    } else {
      word += c;
      inWord = true;
    }
  }
  if (inWord) out.push_back(std::move(word));
  return out;
}

struct DesktopEntry {
  std::string exec;
  std::string name;
  bool terminal = false;
};

// The [Desktop Entry] group's Exec, Name and Terminal keys.
bool ReadDesktopEntry(const std::string& file, DesktopEntry* entry) {
  std::ifstream in(file);
  if (!in) return false;
  std::string line;
  bool inGroup = false;
  while (std::getline(in, line)) {
    if (!line.empty() && line[0] == '[') {
      inGroup = line == "[Desktop Entry]";
      continue;
    }
    if (!inGroup) continue;
    if (line.starts_with("Exec=")) entry->exec = line.substr(5);
    if (line.starts_with("Name=")) entry->name = line.substr(5);
    if (line.starts_with("Terminal=")) entry->terminal = line.substr(9) == "true";
  }
  return !entry->exec.empty();
}

std::vector<std::string> DataDirs() {
  std::vector<std::string> dirs;
  const std::string home = Env("HOME");
  const std::string dataHome = Env("XDG_DATA_HOME");
  dirs.push_back(!dataHome.empty() ? dataHome : home + "/.local/share");
  const std::string data = Env("XDG_DATA_DIRS");
  for (const std::string& d : Split(!data.empty() ? data : "/usr/local/share:/usr/share", ':'))
    dirs.push_back(d);
  return dirs;
}

std::string FindDesktopFile(const std::string& id) {
  for (const std::string& dir : DataDirs()) {
    std::string path = Cat({dir, "/applications/", id});
    if (access(path.c_str(), R_OK) == 0) return path;
    // "vendor-name.desktop" may stand in a folder named for its vendor.
    std::string nested = id;
    for (size_t dash = nested.find('-'); dash != std::string::npos;
         dash = nested.find('-', dash + 1)) {
      nested[dash] = '/';
      path = Cat({dir, "/applications/", nested});
      if (access(path.c_str(), R_OK) == 0) return path;
    }
  }
  return {};
}

// The ids a key of a group in an association file lists, in order.
std::vector<std::string> Listed(const std::string& file, const std::string& group,
                                const std::string& key) {
  std::ifstream in(file);
  std::string line;
  bool inGroup = false;
  while (std::getline(in, line)) {
    if (!line.empty() && line[0] == '[') {
      inGroup = line == group;
      continue;
    }
    if (inGroup && line.starts_with(key + "=")) return Split(line.substr(key.size() + 1), ';');
  }
  return {};
}

}  // namespace

std::vector<std::string> DesktopExecArguments(std::string_view exec) {
  // The value's own escapes first, then the quoting of the command line.
  std::string value;
  for (size_t i = 0; i < exec.size(); ++i) {
    if (exec[i] == '\\' && i + 1 < exec.size()) {
      const char next = exec[++i];
      value += next == 's'   ? ' '
               : next == 'n' ? '\n'
               : next == 't' ? '\t'
               : next == 'r' ? '\r'
                             : next;
      if (next != 's' && next != 'n' && next != 't' && next != 'r' && next != '\\') {
        value.back() = '\\';
        value += next;
      }
    } else {
      value += exec[i];
    }
  }
  std::vector<std::string> out;
  std::string word;
  bool inWord = false;
  bool quoted = false;
  for (size_t i = 0; i < value.size(); ++i) {
    const char c = value[i];
    if (quoted) {
      if (c == '"') {
        quoted = false;
      } else if (c == '\\' && i + 1 < value.size() &&
                 std::string_view("\"`$\\").find(value[i + 1]) != std::string_view::npos) {
        word += value[++i];
      } else {
        word += c;
      }
    } else if (c == '"') {
      quoted = inWord = true;
    } else if (c == ' ') {
      if (inWord) out.push_back(std::move(word));
      word.clear();
      inWord = false;
    } else {
      word += c;
      inWord = true;
    }
  }
  if (quoted) return {};
  if (inWord) out.push_back(std::move(word));
  return out;
}

std::vector<std::string> DesktopEntryCommand(const std::vector<std::string>& exec,
                                             const EditorTarget& target, const std::string& name) {
  const KnownEditor* editor = EditorIn(exec);
  std::vector<std::string> out;
  bool placed = false;
  for (const std::string& a : exec) {
    if (a == "%f" || a == "%F" || a == "%u" || a == "%U") {
      if (placed) continue;
      placed = true;
      if (a == "%u" || a == "%U") {
        if (editor) {
          AppendTarget(out, editor, target);
        } else {
          out.push_back(FileUrl(target.path));
        }
      } else {
        AppendTarget(out, editor, target);
      }
      continue;
    }
    if (a == "%i" || a == "%k" || a == "%d" || a == "%D" || a == "%n" || a == "%N" || a == "%v" ||
        a == "%m")
      continue;
    std::string expanded;
    for (size_t i = 0; i < a.size(); ++i) {
      if (a[i] != '%' || i + 1 == a.size()) {
        expanded += a[i];
        continue;
      }
      const char code = a[++i];
      if (code == '%') expanded += '%';
      if (code == 'c') expanded += name;
    }
    out.push_back(std::move(expanded));
  }
  if (!placed) AppendTarget(out, editor, target);
  return out;
}

std::vector<std::string> EditorVariableCommand(std::string_view variable,
                                               const EditorTarget& target,
                                               const std::vector<std::string>& terminal) {
  std::vector<std::string> command = Words(variable);
  if (command.empty()) return {};
  const KnownEditor* editor = Known(command.front());
  AppendTarget(command, editor, target);
  if (editor && editor->graphical) return command;
  if (terminal.empty()) return {};
  std::vector<std::string> out = terminal;
  out.insert(out.end(), command.begin(), command.end());
  return out;
}

std::vector<std::string> TerminalEmulator() {
  std::vector<std::string> chosen = Words(Env("TERMINAL"));
  if (chosen.empty() || !OnPath(chosen.front())) {
    chosen.clear();
    for (const char* name :
         {"x-terminal-emulator", "gnome-terminal", "konsole", "xfce4-terminal", "mate-terminal",
          "lxterminal", "kitty", "alacritty", "foot", "terminator", "tilix", "xterm"}) {
      if (OnPath(name)) {
        chosen.emplace_back(name);
        break;
      }
    }
    if (chosen.empty()) return {};
  }
  const std::string program = BaseName(chosen.front());
  if (program == "gnome-terminal") {
    chosen.emplace_back("--");
  } else if (program == "xfce4-terminal" || program == "mate-terminal" || program == "terminator") {
    chosen.emplace_back("-x");
  } else if (program != "kitty" && program != "foot") {
    chosen.emplace_back("-e");
  }
  return chosen;
}

std::string DefaultTextEditorEntry() {
  const std::string mime = "text/plain";
  const std::string home = Env("HOME");
  std::vector<std::string> folders;
  const std::string configHome = Env("XDG_CONFIG_HOME");
  folders.push_back(!configHome.empty() ? configHome : home + "/.config");
  const std::string config = Env("XDG_CONFIG_DIRS");
  for (const std::string& d : Split(!config.empty() ? config : "/etc/xdg", ':'))
    folders.push_back(d);
  for (const std::string& d : DataDirs()) folders.push_back(d + "/applications");
  std::vector<std::string> lists;
  std::vector<std::string> desktops = Split(Env("XDG_CURRENT_DESKTOP"), ':');
  for (const std::string& folder : folders) {
    for (std::string desktop : desktops) {
      std::transform(desktop.begin(), desktop.end(), desktop.begin(),
                     [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
      lists.push_back(Cat({folder, "/", desktop, "-mimeapps.list"}));
    }
    lists.push_back(folder + "/mimeapps.list");
  }
  for (const char* group : {"[Default Applications]", "[Added Associations]"})
    for (const std::string& list : lists)
      for (const std::string& id : Listed(list, group, mime))
        if (std::string file = FindDesktopFile(id); !file.empty()) return file;
  for (const std::string& d : DataDirs())
    for (const std::string& id : Listed(d + "/applications/mimeinfo.cache", "[MIME Cache]", mime))
      if (std::string file = FindDesktopFile(id); !file.empty()) return file;
  return {};
}

std::vector<std::string> TextEditorCommand(const EditorTarget& target, std::string* why) {
  if (const std::string file = DefaultTextEditorEntry(); !file.empty()) {
    DesktopEntry entry;
    if (ReadDesktopEntry(file, &entry)) {
      std::vector<std::string> command =
          DesktopEntryCommand(DesktopExecArguments(entry.exec), target, entry.name);
      if (!command.empty() && !entry.terminal) return command;
      if (!command.empty()) {
        std::vector<std::string> out = TerminalEmulator();
        if (!out.empty()) {
          out.insert(out.end(), command.begin(), command.end());
          return out;
        }
        *why = "no terminal emulator was found to run " + BaseName(command.front()) + " in";
        return {};
      }
    }
  }
  for (const char* variable : {"VISUAL", "EDITOR"}) {
    const std::string value = Env(variable);
    if (value.empty()) continue;
    std::vector<std::string> command = EditorVariableCommand(value, target, TerminalEmulator());
    if (!command.empty()) return command;
    *why =
        std::string("no terminal emulator was found to run $") + variable + " (" + value + ") in";
    return {};
  }
  *why = "the desktop names no application for text/plain, and neither VISUAL nor EDITOR is set";
  return {};
}

}  // namespace vorn
