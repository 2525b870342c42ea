#include "TempTree.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace fs = std::filesystem;

namespace vorn::test {

TempTree::TempTree() {
  std::string pattern = (fs::temp_directory_path() / "vorn-test-XXXXXX").string();
  if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
  root_ = pattern + "/";
}

TempTree::~TempTree() {
  std::error_code ec;
  // Restore permissions a test took away, so everything can be removed.
  for (auto it = fs::recursive_directory_iterator(
           root_, fs::directory_options::skip_permission_denied, ec);
       !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
    if (!it->is_symlink())
      fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
  }
  chmod(root_.c_str(), 0700);
  fs::remove_all(root_, ec);
}

void TempTree::Write(std::string_view relative, std::string_view bytes) const {
  const fs::path p = Path(relative);
  fs::create_directories(p.parent_path());
  std::ofstream out(p, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + p.string());
}

void TempTree::MakeDir(std::string_view relative) const { fs::create_directories(Path(relative)); }

void TempTree::Symlink(std::string_view target, std::string_view relative) const {
  fs::create_directories(fs::path(Path(relative)).parent_path());
  fs::create_symlink(std::string(target), Path(relative));
}

void TempTree::Fifo(std::string_view relative) const {
  if (mkfifo(Path(relative).c_str(), 0600) != 0) throw std::runtime_error("mkfifo failed");
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

}  // namespace vorn::test
