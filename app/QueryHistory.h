// Up and Down in the query field walk its history the way a shell does: from newly typed
// text the first Up gives the most recent query, each further Up an older one, and Down past
// the most recent brings back the text that was being typed. The wheel steps the same way.
#pragma once

#include <QObject>
#include <QString>

class QComboBox;

namespace vorn {

class QueryHistory : public QObject {
  Q_OBJECT
 public:
  // Watches field (an editable combo box whose items are the history, oldest first); owned
  // by the field.
  explicit QueryHistory(QComboBox* field);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void Older();
  void Newer();
  void Show(int entry);

  QComboBox* field_;
  int entry_ = -1;  // the history entry shown, or -1 for the text being typed
  QString draft_;   // the text being typed when the walk began
};

}  // namespace vorn
