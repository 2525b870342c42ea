// The About window.
#pragma once

#include <QDialog>

class TABoutQuillo : public QDialog {
  Q_OBJECT
 public:
  explicit TABoutQuillo(QWidget* parent = nullptr);
};

extern TABoutQuillo* ABoutQuillo;
