#include "DesignWindow.h"

#include <QWidget>

#include "DesignFont.h"

namespace vorn {

void DressWindow(QWidget* window, const QString& name, const QString& title) {
  window->setObjectName(name);
  window->setWindowTitle(title);
  window->setWindowOpacity(240.0 / 255.0);
  window->setFont(DesignFont(QStringLiteral("MS Sans Serif"), 11));
}

}  // namespace vorn
