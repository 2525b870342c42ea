// The chooser's folder tree: every folder under "/" as the file system names it, in bytes.
// A name that is not UTF-8 is listed with its visible stand-in and gives back its own bytes,
// so any folder can be picked. A folder's subfolders are read when it is first expanded
// and not refreshed afterwards; hidden folders (a name starting with ".") are left out. A
// shown folder has an expander only where it may have subfolders.
#pragma once

#include <QAbstractItemModel>
#include <QIcon>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace vorn {

class FolderModel : public QAbstractItemModel {
  Q_OBJECT
 public:
  explicit FolderModel(QObject* parent = nullptr);
  ~FolderModel() override;

  // The one top row, "/".
  QModelIndex Root() const;
  // The folder's absolute path in bytes, without a trailing "/" ("/" for the root); empty
  // for an invalid index.
  std::string Path(const QModelIndex& index) const;
  // The row of an absolute path, reading the folders on the way; invalid when a part of it
  // is not a listed folder.
  QModelIndex IndexOf(std::string_view path);

  QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
  QModelIndex parent(const QModelIndex& child) const override;
  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  bool hasChildren(const QModelIndex& parent = {}) const override;
  bool canFetchMore(const QModelIndex& parent) const override;
  void fetchMore(const QModelIndex& parent) override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

 private:
  struct Node;
  Node* NodeOf(const QModelIndex& index) const;
  QModelIndex IndexOfNode(const Node* node) const;

  std::unique_ptr<Node> top_;  // the invisible parent of "/"
  QIcon folderIcon_;           // every row's, asked for at each paint
};

}  // namespace vorn
