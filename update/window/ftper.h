// The update window.
#pragma once

#include <QWidget>

class TFTPWindow : public QWidget {
  Q_OBJECT
 public:
  explicit TFTPWindow(QWidget* parent = nullptr);
};

extern TFTPWindow* FTPWindow;
