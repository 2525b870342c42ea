#include "QueryHistory.h"

#include <QAbstractItemModel>
#include <QComboBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QWheelEvent>

namespace vorn {

QueryHistory::QueryHistory(QComboBox* field) : QObject(field), field_(field) {
  field_->installEventFilter(this);
  // Typing leaves the walk: the next Up starts again from the most recent query.
  connect(field_->lineEdit(), &QLineEdit::textEdited, this, [this] { entry_ = -1; });
  auto restart = [this] { entry_ = -1; };
  connect(field_->model(), &QAbstractItemModel::rowsInserted, this, restart);
  connect(field_->model(), &QAbstractItemModel::rowsRemoved, this, restart);
  connect(field_->model(), &QAbstractItemModel::modelReset, this, restart);
}

void QueryHistory::Show(int entry) {
  entry_ = entry;
  const QString text = entry < 0 ? draft_ : field_->itemText(entry);
  if (field_->currentText() != text) field_->setEditText(text);
}

// Entries equal to the text shown are stepped over, so a query kept twice (or the query just
// searched, still in the field) never makes a key press look dead.
void QueryHistory::Older() {
  if (entry_ < 0) draft_ = field_->currentText();
  const QString shown = field_->currentText();
  for (int i = (entry_ < 0 ? field_->count() : entry_) - 1; i >= 0; --i) {
    if (field_->itemText(i) != shown) return Show(i);
  }
}

void QueryHistory::Newer() {
  if (entry_ < 0) return;
  const QString shown = field_->currentText();
  for (int i = entry_ + 1; i < field_->count(); ++i) {
    if (field_->itemText(i) != shown) return Show(i);
  }
  Show(-1);
}

bool QueryHistory::eventFilter(QObject* watched, QEvent* event) {
  if (watched != field_) return QObject::eventFilter(watched, event);
  if (event->type() == QEvent::KeyPress) {
    const auto* key = static_cast<QKeyEvent*>(event);
    // Ctrl+Up/Down are the edit's own; Alt+Down would open the list, which this field has not.
    if (key->modifiers() & Qt::ControlModifier) return false;
    if (key->key() == Qt::Key_Down && (key->modifiers() & Qt::AltModifier)) return false;
    switch (key->key()) {
      case Qt::Key_Up:
      case Qt::Key_PageUp:
        Older();
        return true;
      case Qt::Key_Down:
      case Qt::Key_PageDown:
        Newer();
        return true;
      default:
        return false;
    }
  }
  if (event->type() == QEvent::Wheel) {
    const int dy = static_cast<QWheelEvent*>(event)->angleDelta().y();
    if (dy > 0) Older();
    if (dy < 0) Newer();
    return true;
  }
  return false;
}

}  // namespace vorn
