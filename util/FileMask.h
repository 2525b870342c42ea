// The file mask of the File search field and of vorn-find's MASK.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace vorn {

// Parts separated by ";", each trimmed of the blanks around it; empty parts count for
// nothing. A part is a file-name wildcard: "*" any run, "?" any one character, letters
// compared without regard to case by Unicode's simple case folding, as the text search
// compares them (bytes that are not valid UTF-8 compare exactly); a part ending in ".*" also
// matches names without that extension, so "*.*" matches every name. A part beginning with "!"
// leaves out the files whose names it matches ("!*.min.js"), or, ending in "/", the folders
// ("!build/"), which are then neither listed nor entered. A file is taken when some plain part
// matches its name (or the mask has exclusions only) and no exclusion does.
class FileMask {
 public:
  explicit FileMask(std::string_view mask);

  bool TakesFile(std::string_view name) const;
  bool TakesFolder(std::string_view name) const;

  // Why the mask cannot mean what it says (a plain part naming a folder, a part naming a
  // path, no part at all), for the user; empty when it can.
  const std::string& Fault() const { return fault_; }

 private:
  std::vector<std::u32string> files_, notFiles_, notFolders_;  // folded
  bool everyFile_ = false;
  std::string fault_;
};

}  // namespace vorn
