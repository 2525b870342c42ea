#include "FolderModel.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <QApplication>
#include <QStyle>
#include <algorithm>
#include <cerrno>

#include "DesktopHabits.h"
#include "Fd.h"
#include "TextBytes.h"
#include "io.h"

namespace vorn {

struct FolderModel::Node {
  std::string name;  // "/" for the root
  std::string path;
  Node* parent = nullptr;
  int row = 0;
  bool read = false;  // subfolders read
  // Before they are read, whether there may be any: looked at when the row is first shown.
  enum class Look { NotYet, Maybe, None };
  Look look = Look::NotYet;
  std::vector<std::unique_ptr<Node>> children;
};

namespace {

// Hands each subfolder's name of a folder to take, in the order listed, until take says
// stop; a link to a folder counts as one. A folder that cannot be read has none.
template <typename Take>
void ForEachSubfolder(const std::string& path, const Take& take) {
  const Fd dir(OpenFolder(path, O_RDONLY));
  if (!dir.ok()) return;
  ForEachEntry(dir.fd(), [&](const char* name, unsigned char type) {
    if (name[0] == '.') return true;  // hidden folders
    struct stat st;
    const bool folder =
        type == DT_DIR || ((type == DT_LNK || type == DT_UNKNOWN) &&
                           fstatat(dir.fd(), name, &st, 0) == 0 && S_ISDIR(st.st_mode));
    return !folder || take(name);
  });
}

// The subfolders of a folder in byte order of their names.
std::vector<std::string> ReadSubfolders(const std::string& path) {
  std::vector<std::string> names;
  ForEachSubfolder(path, [&names](const char* name) {
    names.emplace_back(name);
    return true;
  });
  std::sort(names.begin(), names.end());
  return names;
}

// Whether a folder may have subfolders to show, without reading them all. Where the file
// system keeps it so, a folder's link count is 2 plus its subfolders (1 where it does not):
// above 2 there are some, maybe hidden only; at 2 only links to folders can be there, and at
// 1 anything, so the folder is looked through up to the first one.
bool MayHaveSubfolders(const std::string& path) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return true;  // left to the reading
  if (st.st_nlink > 2) return true;
  bool any = false;
  ForEachSubfolder(path, [&any](const char*) { return !(any = true); });
  return any;
}

}  // namespace

FolderModel::FolderModel(QObject* parent)
    : QAbstractItemModel(parent),
      top_(new Node),
      folderIcon_(QApplication::style()->standardIcon(QStyle::SP_DirIcon)) {
  top_->read = true;
  auto root = std::make_unique<Node>();
  root->path.assign(1, '/');
  root->name = root->path;
  root->parent = top_.get();
  top_->children.push_back(std::move(root));
}

FolderModel::~FolderModel() = default;

FolderModel::Node* FolderModel::NodeOf(const QModelIndex& index) const {
  return index.isValid() ? static_cast<Node*>(index.internalPointer()) : top_.get();
}

QModelIndex FolderModel::IndexOfNode(const Node* node) const {
  return node == top_.get() ? QModelIndex() : createIndex(node->row, 0, node);
}

QModelIndex FolderModel::Root() const { return IndexOfNode(top_->children.front().get()); }

std::string FolderModel::Path(const QModelIndex& index) const {
  return index.isValid() ? NodeOf(index)->path : std::string();
}

QModelIndex FolderModel::IndexOf(std::string_view path) {
  if (path.empty() || path.front() != '/') return {};
  Node* node = top_->children.front().get();
  size_t at = 0;
  while (at < path.size()) {
    while (at < path.size() && path[at] == '/') ++at;
    if (at == path.size()) break;
    const size_t end = std::min(path.find('/', at), path.size());
    const std::string_view name = path.substr(at, end - at);
    at = end;
    if (!node->read) fetchMore(IndexOfNode(node));
    const auto found = std::lower_bound(
        node->children.begin(), node->children.end(), name,
        [](const std::unique_ptr<Node>& child, std::string_view n) { return child->name < n; });
    if (found == node->children.end() || (*found)->name != name) return {};
    node = found->get();
  }
  return IndexOfNode(node);
}

QModelIndex FolderModel::index(int row, int column, const QModelIndex& parent) const {
  const Node* node = NodeOf(parent);
  if (column != 0 || row < 0 || row >= static_cast<int>(node->children.size())) return {};
  return createIndex(row, 0, node->children[row].get());
}

QModelIndex FolderModel::parent(const QModelIndex& child) const {
  return child.isValid() ? IndexOfNode(NodeOf(child)->parent) : QModelIndex();
}

int FolderModel::rowCount(const QModelIndex& parent) const {
  if (parent.column() > 0) return 0;
  return static_cast<int>(NodeOf(parent)->children.size());
}

int FolderModel::columnCount(const QModelIndex&) const { return 1; }

bool FolderModel::hasChildren(const QModelIndex& parent) const {
  const Node* node = NodeOf(parent);
  return node->read ? !node->children.empty() : node->look != Node::Look::None;
}

bool FolderModel::canFetchMore(const QModelIndex& parent) const { return !NodeOf(parent)->read; }

void FolderModel::fetchMore(const QModelIndex& parent) {
  Node* node = NodeOf(parent);
  if (node->read) return;
  node->read = true;
  std::vector<std::string> names = ReadSubfolders(node->path);
  if (names.empty()) {
    // The expander goes: the folder has nothing to show.
    emit dataChanged(parent, parent);
    return;
  }
  beginInsertRows(parent, 0, static_cast<int>(names.size()) - 1);
  for (std::string& name : names) {
    auto child = std::make_unique<Node>();
    child->path = node->path == "/" ? "/" + name : node->path + "/" + name;
    child->name = std::move(name);
    child->parent = node;
    child->row = static_cast<int>(node->children.size());
    node->children.push_back(std::move(child));
  }
  endInsertRows();
}

QVariant FolderModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid()) return {};
  Node* node = NodeOf(index);
  // A view asks for the text of the rows it shows: only those are looked at, so listing a
  // large folder costs nothing more. One found empty loses its expander right after.
  if (role == Qt::DisplayRole && !node->read && node->look == Node::Look::NotYet) {
    node->look = MayHaveSubfolders(node->path) ? Node::Look::Maybe : Node::Look::None;
    if (node->look == Node::Look::None) {
      QMetaObject::invokeMethod(
          const_cast<FolderModel*>(this),
          [this, row = QPersistentModelIndex(index)] {
            if (row.isValid()) emit const_cast<FolderModel*>(this)->dataChanged(row, row);
          },
          Qt::QueuedConnection);
    }
  }
  switch (role) {
    case Qt::DisplayRole:
      return ShownBytes(node->name);
    case Qt::ToolTipRole:
      return PlainToolTip(FromBytes(node->path));
    case Qt::DecorationRole:
      return folderIcon_;
    default:
      return {};
  }
}

}  // namespace vorn
