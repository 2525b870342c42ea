// The looks every secondary window of the design shares: its name, its title, a slight
// translucency and the design's window font.
#pragma once

#include <QString>

class QWidget;

namespace vorn {

void DressWindow(QWidget* window, const QString& name, const QString& title);

}  // namespace vorn
