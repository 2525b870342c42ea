#include "ErrorBox.h"

#include <QCoreApplication>
#include <QMessageBox>

#include <exception>

QString ErrorBoxText(const QString& message) {
  if (!message.isEmpty() && message.back() > QLatin1Char('.')) return message + QLatin1Char('.');
  return message;
}

void ShowErrorBox(QWidget* parent, const QString& message) {
  QMessageBox::critical(parent, QCoreApplication::applicationName(), ErrorBoxText(message),
                        QMessageBox::Ok);
}

void Guarded(QWidget* parent, const std::function<void()>& work) {
  try {
    work();
  } catch (const std::exception& e) {
    ShowErrorBox(parent, QString::fromLocal8Bit(e.what()));
  }
}
