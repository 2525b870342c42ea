// The styled controls and the gauge on a screen of device pixel ratio 2: the picture of ratio 1
// in twice the pixels, with the captions set in the finer resolution rather than blown up.
#include <gtest/gtest.h>

#include <QApplication>

#include "Gauges.h"
#include "StyledTestKit.h"
#include "dxButtons.h"
#include "dxCheckCtrls.h"

namespace vorn {
using namespace vorn::test;

namespace {

int Distance(QRgb a, QRgb b) {
  return std::max({std::abs(qRed(a) - qRed(b)), std::abs(qGreen(a) - qGreen(b)),
                   std::abs(qBlue(a) - qBlue(b))});
}

// one and two: the same look at ratios 1 and 2; bare1 and bare2: the same without a caption.
void ExpectFinerPicture(const QImage& one, const QImage& two, const QImage& bare1,
                        const QImage& bare2) {
  ASSERT_EQ(two.size(), one.size() * 2);
  EXPECT_EQ(two.devicePixelRatio(), 2.0);
  const QRect caption1 = DiffBox(one, bare1), caption2 = DiffBox(two, bare2);
  ASSERT_FALSE(caption1.isEmpty());
  ASSERT_FALSE(caption2.isEmpty());
  // The caption sits where it sat, give or take a logical pixel of finer glyph edges.
  EXPECT_LE((caption2.topLeft() / 2 - caption1.topLeft()).manhattanLength(), 2);
  EXPECT_LE((caption2.bottomRight() / 2 - caption1.bottomRight()).manhattanLength(), 2);
  // Everything else keeps its place and colour: borders, corners, marks, gradients (computed
  // anew over the finer rows, so a band step apart at most).
  const QRect around = caption1.adjusted(-1, -1, 1, 1);
  int moved = 0, fine = 0;
  for (int y = 0; y < one.height(); ++y) {
    for (int x = 0; x < one.width(); ++x) {
      const QRgb block[4] = {two.pixel(2 * x, 2 * y), two.pixel(2 * x + 1, 2 * y),
                             two.pixel(2 * x, 2 * y + 1), two.pixel(2 * x + 1, 2 * y + 1)};
      if (around.contains(x, y)) {
        if (block[0] != block[1] || block[0] != block[2] || block[0] != block[3]) ++fine;
      } else if (Distance(block[0], one.pixel(x, y)) > 16) {
        ++moved;
      }
    }
  }
  EXPECT_EQ(moved, 0);
  // A caption blown up from ratio 1 would be made of whole 2 x 2 blocks.
  EXPECT_GT(fine, caption1.width());
}

// A look given a caption in the application font and painted by paint at ratios 1 and 2, with
// and without the caption.
template <class Look, class Paint>
void ExpectFinerLook(Look look, QSize size, const QString& caption, QColor color, Paint paint) {
  look.size = size;
  look.font = QApplication::font();
  look.color = color;
  look.fontColor = Qt::black;
  auto at = [&](qreal ratio, const QString& text) {
    look.ratio = ratio;
    look.caption = text;
    return paint(look);
  };
  ExpectFinerPicture(at(1, caption), at(2, caption), at(1, {}), at(2, {}));
}

TEST(PaintRatio, ButtonCheckboxAndGaugeAreFinerAtRatioTwo) {
  for (bool hot : {false, true}) {
    SCOPED_TRACE(hot ? "hot" : "resting");
    ButtonLook button;
    button.hot = button.highlight = hot;
    ExpectFinerLook(button, QSize(73, 21), QStringLiteral("Search"), QColor(0x9D, 0xB9, 0xEB),
                    [](const ButtonLook& look) {
                      return PaintButton(look,
                                         MakeButtonImages(look.size, look.highlight, look.ratio));
                    });
  }

  CheckLook check;
  check.checked = check.focused = true;
  ExpectFinerLook(
      check, QSize(152, 17), QStringLiteral("Whole Word"), QColor(0xD8, 0xE4, 0xF8),
      [](const CheckLook& look) { return PaintCheckbox(look, MakeCheckImages(look.ratio)); });

  TGauge gauge;
  gauge.resize(321, 25);
  gauge.SetBackColor(QColor(0, 0, 255));
  gauge.SetBorderStyle(TGaugeBorderStyle::bsNone);
  gauge.SetProgress(50);
  const QImage one = gauge.Picture(1), two = gauge.Picture(2);
  gauge.SetShowText(false);
  ExpectFinerPicture(one, two, gauge.Picture(1), gauge.Picture(2));
}

}  // namespace
}  // namespace vorn
