// The user's text editor, as an argument vector that opens a file at a line and column: the
// desktop's default application for text/plain (its desktop entry's Exec line), else the
// terminal editor of $VISUAL or $EDITOR in a terminal emulator. Editors whose command line
// takes a position get it; any other gets the file alone.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace vorn {

// Where to open: a file and its 1-based line and column.
struct EditorTarget {
  std::string path;
  size_t line = 1;
  size_t column = 1;      // in characters
  size_t byteColumn = 1;  // in bytes, for the editors that count so
};

// The arguments of a desktop entry's Exec value (its escapes and quoting undone, field codes
// not yet expanded); empty when the value is malformed.
std::vector<std::string> DesktopExecArguments(std::string_view exec);

// The Exec line's arguments with the file (and the position, for the editors known to take
// one) put in for its field codes; the file is appended when the line has no code for it.
// name is the entry's Name, for %c.
std::vector<std::string> DesktopEntryCommand(const std::vector<std::string>& exec,
                                             const EditorTarget& target,
                                             const std::string& name = {});

// A command named by $VISUAL or $EDITOR (words, quotes allowed) with the file and position
// added; a terminal editor (any but the graphical editors known) is run in terminal, the
// emulator's argument vector up to the command (empty: no emulator found).
std::vector<std::string> EditorVariableCommand(std::string_view variable,
                                               const EditorTarget& target,
                                               const std::vector<std::string>& terminal);

// A terminal emulator to run a command in: $TERMINAL, x-terminal-emulator or a known one
// on PATH, with the option after which the command follows; empty when there is none.
std::vector<std::string> TerminalEmulator();

// The desktop entry file of the default application for text/plain, by the mimeapps.list
// files and the mimeinfo.cache of the XDG folders; empty when none is set.
std::string DefaultTextEditorEntry();

// The whole choice: the argument vector to start, or empty with *why saying what is missing.
std::vector<std::string> TextEditorCommand(const EditorTarget& target, std::string* why);

}  // namespace vorn
