#include "MainWindowHabits.h"

#include <QComboBox>
#include <QDropEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMimeData>
#include <QShortcut>
#include <string>

#include "DesktopHabits.h"
#include "TextBytes.h"
#include "io.h"

namespace vorn {

MainWindowHabits::MainWindowHabits(QWidget* window, QList<QComboBox*> fields, QComboBox* directory,
                                   std::function<void()> stop)
    : QObject(window), window_(window), fields_(std::move(fields)), directory_(directory) {
  // A window shortcut: it works whichever control has the focus, also while the search
  // pumps events.
  auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), window);
  connect(escape, &QShortcut::activated, this, [stop = std::move(stop)] { stop(); });

  window_->setAcceptDrops(true);
  window_->installEventFilter(this);
  for (QComboBox* field : fields_) {
    field->installEventFilter(this);
    // The edit takes drops itself (dragged text still goes in); a dropped path is ours.
    if (field->lineEdit()) field->lineEdit()->installEventFilter(this);
  }
}

QString MainWindowHabits::DroppedFolder(const QMimeData* data) {
  // Byte for byte: a name that is not UTF-8 still names its folder.
  std::string folder;
  for (const std::string& dropped : DroppedPaths(data))
    if (FolderNamedBy(dropped, folder) == 0) return FromBytes(folder);
  return {};
}

bool MainWindowHabits::DragEvent(QObject* watched, QEvent* event) {
  auto* drop = static_cast<QDropEvent*>(event);  // enter and move events are drop events too
  // Dragged text without addresses goes into an edit as usual; the window takes no text.
  if (watched != window_ && !drop->mimeData()->hasUrls()) return false;
  // The path is looked at once per drag, not at every move of the pointer.
  if (event->type() == QEvent::DragEnter) dragFolder_ = DroppedFolder(drop->mimeData());
  const QString folder = dragFolder_;
  if (folder.isEmpty()) {
    drop->ignore();  // a web address or a path that is gone: refused, nothing inserted
    return true;
  }
  // Only the path is read.
  if (AcceptWithoutMove(drop) && event->type() == QEvent::Drop) directory_->setEditText(folder);
  return true;
}

bool MainWindowHabits::eventFilter(QObject* watched, QEvent* event) {
  switch (event->type()) {
    case QEvent::DragEnter:
    case QEvent::DragMove:
    case QEvent::Drop:
      return DragEvent(watched, event);
    case QEvent::KeyPress: {
      if (!fields_.contains(qobject_cast<QComboBox*>(watched))) return false;
      // Alt with a letter is a command chord, never text. Ctrl+Alt is left alone: some
      // keyboards type characters with it (AltGr).
      return IsAltChord(static_cast<QKeyEvent*>(event));
    }
    default:
      return false;
  }
}

}  // namespace vorn
