// File listing and path helpers. Paths are byte strings; the separator is "/".
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace vorn {

using FileList = std::vector<std::string>;

// Called once per directory visited while a tree is listed (the GUI pumps its events there).
// Returning false abandons the listing; what was collected so far is returned.
using DirectoryVisit = std::function<bool()>;

// The platform's file-name wildcard: "*" any run, "?" any one character, letters compared
// without regard to ASCII case. A mask ending in ".*" also matches names without that
// extension, so "*.*" matches every name.
bool MaskMatches(std::string_view name, std::string_view mask);

// Bare names of the regular files (or links to regular files) in directory that match mask,
// in byte order of their names. A missing or unreadable directory gives an empty list.
FileList ListFiles(std::string_view directory, std::string_view mask);

// Full paths of the regular files below directory whose bare names match mask, depth first,
// each directory's entries in byte order. Names beginning with "." are skipped, files and
// directories alike; links to directories are not followed; unreadable parts are skipped.
FileList ListFilesRecursive(std::string_view directory, std::string_view mask,
                            const DirectoryVisit& visit = {});

// Linux has no exclusive opening: a file is "in use" when it cannot be opened for reading.
bool IsFileInUse(const std::string& path);

// The path with the platform separator appended, unless it is empty or already ends in one.
std::string AddTrailingBackslash(std::string_view path);

// The directory of the running program file, ending in the separator.
std::string ProgramDirectory();

}  // namespace vorn
