// A fresh temporary folder per test, with helpers to build file trees in it. Removed, with
// everything in it, when the object goes.
#pragma once

#include <string>
#include <string_view>

namespace vorn::test {

class TempTree {
 public:
  TempTree();
  ~TempTree();
  TempTree(const TempTree&) = delete;
  TempTree& operator=(const TempTree&) = delete;

  // The folder's path, with a trailing "/".
  const std::string& root() const { return root_; }
  std::string Path(std::string_view relative) const { return root_ + std::string(relative); }

  // Writes bytes to root/relative, creating the folders on the way.
  void Write(std::string_view relative, std::string_view bytes) const;
  void MakeDir(std::string_view relative) const;
  void Symlink(std::string_view target, std::string_view relative) const;
  void Fifo(std::string_view relative) const;

 private:
  std::string root_;
};

// The whole content of a file, or of a command's standard output.
std::string ReadFile(const std::string& path);

}  // namespace vorn::test
