#include "DesignPalette.h"

#include <QWidget>

namespace vorn {

void PinText(QPalette& palette, QPalette::ColorRole role) {
  // The light desktop's values group by group, so enabled and disabled captions keep their look.
  const QColor text(0x00, 0x00, 0x00), disabledText(0xBE, 0xBE, 0xBE);
  const QColor light(0xFF, 0xFF, 0xFF), dark(0x9F, 0x9F, 0x9F);
  for (const auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
    const bool disabled = group == QPalette::Disabled;
    palette.setColor(group, role, disabled ? disabledText : text);
    palette.setColor(group, QPalette::Light, light);
    palette.setColor(group, QPalette::Dark, disabled ? disabledText : dark);
  }
}

void PinText(QWidget* w, QPalette::ColorRole role) {
  QPalette p = w->palette();
  PinText(p, role);
  w->setPalette(p);
}

void PinFace(QWidget* w, const QColor& background) {
  QPalette p = w->palette();
  p.setColor(QPalette::Window, background);
  PinText(p, QPalette::WindowText);
  w->setPalette(p);
  w->setAutoFillBackground(true);
}

}  // namespace vorn
