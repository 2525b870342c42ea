#include "ErrorBox.h"

#include <QMessageBox>
#include <exception>
#include <utility>

#include "TextBytes.h"

namespace vorn {

namespace {
ErrorBoxShower& Shower() {
  static ErrorBoxShower shower;
  return shower;
}
}  // namespace

QString ErrorBoxText(const QString& message) {
  if (!message.isEmpty() && message.back() > QLatin1Char('.')) return message + QLatin1Char('.');
  return message;
}

void ShowErrorBox(QWidget* parent, const QString& message) {
  const QString text = ErrorBoxText(message);
  if (Shower()) {
    Shower()(parent, text);
    return;
  }
  // Plain text: a name in the message shows as the characters it is made of, never as markup.
  QMessageBox box(QMessageBox::Critical, QStringLiteral("Tessaly"), text, QMessageBox::Ok, parent);
  box.setTextFormat(Qt::PlainText);
  box.exec();
}

ErrorBoxShower SetErrorBoxShower(ErrorBoxShower shower) {
  return std::exchange(Shower(), std::move(shower));
}

void Guarded(QWidget* parent, const std::function<void()>& work) {
  try {
    work();
  } catch (const std::exception& e) {
    ShowErrorBox(parent, FromBytes(e.what()));
  }
}

}  // namespace vorn
