// The application's style with one change in how scroll bars are painted. The raster engine
// hands a gradient fill or a line of more than about a hundred spans to its thread pool and
// waits for it, so every repaint of a groove slept until a pool thread got a processor: on a
// machine busy with the search's own threads, for tens of milliseconds. Here the groove and
// the slider are painted once for their size, state and colours, a short band at a time, and
// then drawn from a pixmap in bands of rows: each fill stays on the painting thread. The
// pixels are the base style's, but for a shade where a band's edge cuts an outline's corner.
#pragma once

#include <QProxyStyle>

class QStyleOptionSlider;

namespace vorn {

class ScrollBarStyle : public QProxyStyle {
 public:
  // Takes style (the base) over; without one, the application's default style.
  explicit ScrollBarStyle(QStyle* style = nullptr);

  // Puts the application's current style under a ScrollBarStyle, once.
  static void Install();

  void drawComplexControl(ComplexControl control, const QStyleOptionComplex* option,
                          QPainter* painter, const QWidget* widget = nullptr) const override;

 private:
  QPixmap Picture(const QStyleOptionSlider& bar, SubControl part, const QRect& at, double ratio,
                  const QPointF& phase, const QWidget* widget) const;
};

}  // namespace vorn
