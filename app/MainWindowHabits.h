// Desktop habits of the main window that its layout does not show: Escape stops a running
// search, Alt with a letter never types into a field, and a folder or file dropped from the
// file manager names the Directory (a file: its folder), never landing in a field as text.
#pragma once

#include <QList>
#include <QObject>
#include <QString>
#include <functional>

class QComboBox;
class QDropEvent;
class QMimeData;

namespace vorn {

class MainWindowHabits : public QObject {
  Q_OBJECT
 public:
  // Owned by window. fields are its editable fields, directory the one a drop writes, and
  // stop is what Escape does.
  MainWindowHabits(QWidget* window, QList<QComboBox*> fields, QComboBox* directory,
                   std::function<void()> stop);

  // The folder a drop names, with its trailing "/": the first local path in it that exists,
  // itself when it is a folder, else its folder. Empty when it names none.
  static QString DroppedFolder(const QMimeData* data);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  bool DragEvent(QObject* watched, QEvent* event);

  QWidget* window_;
  QList<QComboBox*> fields_;
  QComboBox* directory_;
  QString dragFolder_;  // what the drag under way would put into the Directory field
};

}  // namespace vorn
