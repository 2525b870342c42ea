// Scroll bars painted by the program's style: the base style's pixels, whether the parts come
// from the cache or not, in every direction, ratio, slider length and state. Where a band's
// edge cuts an outline's corner, the line may end a shade apart: a few pixels, faintly.
#include "ScrollBarStyle.h"

#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>
#include <QScrollBar>
#include <QStyleFactory>
#include <QStyleOption>
#include <algorithm>
#include <cstdlib>
#include <memory>
#include <utility>

namespace vorn {
namespace {

class OpenBar : public QScrollBar {
 public:
  using QScrollBar::initStyleOption;
  using QScrollBar::QScrollBar;
};

// look 3 and 4: the slider pressed and under the mouse.
QImage Paint(const QStyle& style, const OpenBar& bar, double ratio, int look) {
  QStyleOptionSlider option;
  bar.initStyleOption(&option);
  option.subControls = QStyle::SC_All;  // as the bar's own paint event asks
  if (look >= 3) {
    option.activeSubControls = QStyle::SC_ScrollBarSlider;
    option.state |= look == 3 ? QStyle::State_Sunken : QStyle::State_MouseOver;
  }
  QImage image((QSizeF(bar.size()) * ratio).toSize(), QImage::Format_ARGB32_Premultiplied);
  image.setDevicePixelRatio(ratio);
  image.fill(Qt::white);
  QPainter painter(&image);
  style.drawComplexControl(QStyle::CC_ScrollBar, &option, &painter, &bar);
  return image;
}

// How many pixels differ from the expected ones, and by how much at most in a channel.
std::pair<int, int> Differences(const QImage& got, const QImage& expected) {
  std::pair<int, int> found{0, 0};
  for (int y = 0; y < expected.height(); ++y)
    for (int x = 0; x < expected.width(); ++x) {
      const QRgb a = got.pixel(x, y), b = expected.pixel(x, y);
      const int d = std::max({std::abs(qRed(a) - qRed(b)), std::abs(qGreen(a) - qGreen(b)),
                              std::abs(qBlue(a) - qBlue(b)), std::abs(qAlpha(a) - qAlpha(b))});
      if (d == 0) continue;
      ++found.first;
      found.second = std::max(found.second, d);
    }
  return found;
}

TEST(ScrollBarStyle, PaintsTheBaseStylesPixels) {
  const std::unique_ptr<QStyle> base(QStyleFactory::create(QStringLiteral("fusion")));
  const ScrollBarStyle ours(QStyleFactory::create(QStringLiteral("fusion")));
  for (const Qt::Orientation orientation : {Qt::Vertical, Qt::Horizontal}) {
    OpenBar bar(orientation);
    bar.resize(orientation == Qt::Vertical ? QSize(15, 301) : QSize(437, 15));
    for (const double ratio : {1.0, 1.5, 2.0}) {
      // A slider longer than a band and one at its least length, in places that start at
      // different fractions of a device pixel; enabled, disabled, in other colours, pressed
      // and under the mouse; each painted twice, the second time from the cache.
      for (const int maximum : {4, 100000}) {
        bar.setRange(0, maximum);
        for (const int value : {0, 1, maximum / 2, maximum}) {
          bar.setValue(value);
          for (int look = 0; look < 5; ++look) {
            bar.setEnabled(look != 1);
            QPalette palette = bar.style()->standardPalette();
            if (look == 2) palette.setColor(QPalette::Button, QColor(0x40, 0x20, 0x90));
            bar.setPalette(palette);
            const QImage expected = Paint(*base, bar, ratio, look);
            for (int again = 0; again < 2; ++again) {
              const QImage got = Paint(ours, bar, ratio, look);
              ASSERT_EQ(got.size(), expected.size());
              const auto [pixels, most] = Differences(got, expected);
              // A row left out or a part from another state differs in scores of pixels; a
              // ratio of 1.5 puts some edges between device pixels.
              ASSERT_LE(pixels, ratio == 1.5 ? 30 : 4)
                  << "orientation " << orientation << ", ratio " << ratio << ", range " << maximum
                  << ", value " << value << ", look " << look << ", time " << again;
              ASSERT_LE(most, 24);
            }
          }
        }
      }
    }
  }
}

}  // namespace
}  // namespace vorn
