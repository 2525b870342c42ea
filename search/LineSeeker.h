// Finds where the first occurrence that counts begins in a given line of a file, however long
// the line, for the hits whose shown bytes stop before it. Lines are asked for in rising order
// within a file, as a run reports them, so the file is read forward once, in bounded memory.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "FileReader.h"
#include "LineMatcher.h"

namespace vorn {

class LineSeeker {
 public:
  explicit LineSeeker(const LineMatcher& matcher) : matcher_(matcher) {}

  // The first counting occurrence in line index of path, its offset counted from the line's
  // start; none when the file cannot be read or no longer holds one there.
  LineMatch FirstMatch(const std::string& path, size_t index);

 private:
  bool Open(const std::string& path);
  // Reads on until line_ is index; false at the end of the file.
  bool NextBlock();

  const LineMatcher& matcher_;
  FileReader reader_;
  std::string path_;
  bool open_ = false;
  std::string_view block_;
  const char* cursor_ = nullptr;     // the start of line line_ in block_, or of the next piece
  const char* regionEnd_ = nullptr;  // the end of the block's whole lines
  size_t line_ = 0;
  bool inside_ = false;  // the block ends inside line_, which goes on in the next one
  size_t at_ = 0;        // with inside_: the bytes of line_ read so far
};

}  // namespace vorn
