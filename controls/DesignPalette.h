// Colours pinned in pairs: where a window fixes the colour of a face, it fixes the text on that
// face too, so a dark desktop palette never puts light text on the light faces of the design.
#pragma once

#include <QColor>
#include <QPalette>

class QWidget;

namespace vorn {

// The face of the light desktop the windows were laid out on.
inline const QColor kLightFace{0xEF, 0xEF, 0xEF};

// Sets role to the light desktop's text colour in every colour group (black, grey when
// disabled), and Light and Dark, which engrave disabled captions, to that desktop's bevels.
void PinText(QPalette& palette, QPalette::ColorRole role = QPalette::WindowText);
void PinText(QWidget* w, QPalette::ColorRole role = QPalette::WindowText);

// Fills w with background and pins the text drawn on it.
void PinFace(QWidget* w, const QColor& background);

}  // namespace vorn
