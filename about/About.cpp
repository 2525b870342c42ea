#include "About.h"

TABoutQuillo* ABoutQuillo = nullptr;

TABoutQuillo::TABoutQuillo(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("ABoutQuillo"));
  setWindowTitle(QStringLiteral("About"));
  setFixedSize(315, 227);
}
