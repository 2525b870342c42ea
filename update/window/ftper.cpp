#include "ftper.h"

TFTPWindow* FTPWindow = nullptr;

TFTPWindow::TFTPWindow(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint) {
  setObjectName(QStringLiteral("FTPWindow"));
  setWindowTitle(QStringLiteral("Looking for updates...."));
  setFixedSize(345, 551);
}
