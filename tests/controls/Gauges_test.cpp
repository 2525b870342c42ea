// The gauge as the update window shows it, grabbed from the screen and checked pixel by pixel.
#include "Gauges.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QFontMetrics>
#include <QTest>

namespace vorn {
namespace {

const QRgb kBlack = qRgb(0, 0, 0);
const QRgb kBlue = qRgb(0, 0, 255);
const QRgb kWhite = qRgb(255, 255, 255);
const QRgb kYellow = qRgb(255, 255, 0);
const QRgb kRed = qRgb(255, 0, 0);
const QRgb kCyan = qRgb(0, 255, 255);

QImage Grab(TGauge& g) { return g.grab().toImage().convertToFormat(QImage::Format_RGB32); }

// Counts the paints that reach the screen.
class CountingGauge : public TGauge {
 public:
  int paints = 0;

 protected:
  void paintEvent(QPaintEvent* e) override {
    ++paints;
    TGauge::paintEvent(e);
  }
};

TEST(Gauge, UpdateWindowGaugeAtHalf) {
  TGauge g;
  g.resize(321, 25);
  g.SetBackColor(QColor(0, 0, 255));
  g.SetBorderStyle(TGaugeBorderStyle::bsNone);
  g.SetMaxValue(4000);
  g.SetProgress(2000);
  ASSERT_EQ(g.PercentDone(), 50);
  const QImage image = Grab(g);
  ASSERT_EQ(image.size(), QSize(321, 25));

  // The text's cell, centred on Right - Left + 1 = 322 by 26.
  QFont font = g.font();
  font.setStyleStrategy(QFont::NoAntialias);
  const QFontMetrics metrics(font);
  const QRect cell((322 - metrics.horizontalAdvance(QStringLiteral("50%"))) / 2,
                   (26 - metrics.height()) / 2, metrics.horizontalAdvance(QStringLiteral("50%")),
                   metrics.height());
  int white = 0, yellow = 0;
  QRect inked;
  for (int y = 0; y < 25; ++y) {
    for (int x = 0; x < 321; ++x) {
      const QRgb bar = x < 161 ? kBlack : kBlue;
      const QRgb pixel = image.pixel(x, y);
      if (pixel == bar) continue;
      // Anything else is the text, the inverse of the bar under it, inside its cell.
      ASSERT_EQ(pixel, bar == kBlack ? kWhite : kYellow) << x << "," << y;
      ASSERT_TRUE(cell.contains(x, y)) << x << "," << y;
      (bar == kBlack ? white : yellow)++;
      inked |= QRect(x, y, 1, 1);
    }
  }
  // "50%" straddles the edge of the fill: white digits on black, yellow on blue.
  EXPECT_GT(white, 0);
  EXPECT_GT(yellow, 0);
  EXPECT_LT(std::abs((inked.left() + inked.right()) - 321), 8) << "text not centred";
}

TEST(Gauge, SingleFrameFullBarAndClippedText) {
  TGauge g;
  g.resize(50, 20);
  g.SetForeColor(QColor(255, 0, 0));
  g.SetProgress(150);  // clamped to the maximum
  EXPECT_EQ(g.Progress(), 100);
  EXPECT_EQ(g.PercentDone(), 100);
  QImage image = Grab(g);
  int text = 0;
  for (int y = 0; y < 20; ++y) {
    for (int x = 0; x < 50; ++x) {
      const bool frame = x == 0 || y == 0 || x == 49 || y == 19;
      const QRgb pixel = image.pixel(x, y);
      if (frame) {
        ASSERT_EQ(pixel, kBlack) << x << "," << y;
      } else {
        ASSERT_TRUE(pixel == kRed || pixel == kCyan) << x << "," << y;
        text += pixel == kCyan;
      }
    }
  }
  EXPECT_GT(text, 0);

  // Half way the bar ends at column F = 48 * 0.5 = 24, measured from the control's edge.
  g.SetShowText(false);
  g.SetProgress(50);
  image = Grab(g);
  EXPECT_EQ(image.pixel(1, 1), kRed);
  EXPECT_EQ(image.pixel(23, 18), kRed);
  EXPECT_EQ(image.pixel(24, 1), kWhite);
  EXPECT_EQ(image.pixel(48, 18), kWhite);

  // A gauge narrower than its text: the text stays inside the frame.
  g.SetShowText(true);
  g.resize(12, 20);
  g.SetProgress(100);
  image = Grab(g);
  for (int y = 0; y < 20; ++y) {
    EXPECT_EQ(image.pixel(0, y), kBlack);
    EXPECT_EQ(image.pixel(11, y), kBlack);
  }
}

TEST(Gauge, RangeRulesAndClamping) {
  TGauge g;
  try {
    g.SetMaxValue(-1);
    FAIL();
  } catch (const EInvalidOperation& e) {
    EXPECT_STREQ(e.what(), "Value must be between 1 and 2147483647");
  }
  EXPECT_EQ(g.MaxValue(), 100);
  try {
    g.SetMinValue(101);
    FAIL();
  } catch (const EInvalidOperation& e) {
    EXPECT_STREQ(e.what(), "Value must be between -2147483647 and 99");
  }
  EXPECT_EQ(g.MinValue(), 0);

  g.SetProgress(80);
  g.SetMaxValue(60);  // drags Progress down with it
  EXPECT_EQ(g.Progress(), 60);
  g.SetMinValue(10);
  g.SetProgress(-5);
  EXPECT_EQ(g.Progress(), 10);
  g.SetProgress(30);
  EXPECT_EQ(g.PercentDone(), 40);
  g.SetMinValue(35);  // raises Progress
  EXPECT_EQ(g.Progress(), 35);

  // An empty range: 0 % and no fill at all.
  g.SetMaxValue(35);
  EXPECT_EQ(g.PercentDone(), 0);
  g.SetShowText(false);
  g.SetBorderStyle(TGaugeBorderStyle::bsNone);
  g.resize(20, 10);
  const QImage image = Grab(g);
  for (int x = 0; x < 20; ++x) EXPECT_EQ(image.pixel(x, 5), kWhite);

  // Truncation, and the widest range without overflow.
  g.SetMinValue(0);
  g.SetMaxValue(3);
  g.SetProgress(2);
  EXPECT_EQ(g.PercentDone(), 66);
  g.SetMinValue(-2147483647 - 1);
  g.SetMaxValue(2147483647);
  g.SetProgress(2147483647);
  EXPECT_EQ(g.PercentDone(), 100);

  // Stored values load in any order.
  TGauge loaded;
  loaded.SetLoading(true);
  loaded.SetMinValue(500);
  loaded.SetMaxValue(1000);
  loaded.SetLoading(false);
  EXPECT_EQ(loaded.MinValue(), 500);
  EXPECT_EQ(loaded.MaxValue(), 1000);
  EXPECT_THROW(loaded.SetMaxValue(400), EInvalidOperation);
}

TEST(Gauge, RepaintsAtOnceAndOnlyWhenThePercentageMoves) {
  CountingGauge g;
  g.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&g));
  QApplication::processEvents();
  g.SetMaxValue(1000000);
  g.SetProgress(1000);
  const int before = g.paints;
  g.SetProgress(1001);  // still 0 %
  EXPECT_EQ(g.paints, before);
  g.SetProgress(10000);  // 1 %: painted before the write returns
  EXPECT_EQ(g.paints, before + 1);
  g.SetProgress(10000);
  g.SetBackColor(QColor(255, 255, 255));  // unchanged
  g.SetKind(TGaugeKind::gkHorizontalBar);
  EXPECT_EQ(g.paints, before + 1);
  g.SetBackColor(QColor(0, 0, 255));
  g.SetBorderStyle(TGaugeBorderStyle::bsNone);
  g.SetMaxValue(20000);
  EXPECT_EQ(g.paints, before + 4);
}

TEST(Gauge, OtherKindsDrawInsideTheirBounds) {
  TGauge g;
  g.resize(40, 40);
  g.SetShowText(false);
  g.SetForeColor(QColor(255, 0, 0));
  g.SetProgress(50);
  g.SetKind(TGaugeKind::gkVerticalBar);
  QImage image = Grab(g);
  EXPECT_EQ(image.pixel(20, 37), kRed);  // fills from the bottom
  EXPECT_EQ(image.pixel(20, 2), kWhite);
  EXPECT_EQ(image.pixel(0, 20), kBlack);
  g.SetKind(TGaugeKind::gkText);
  image = Grab(g);
  EXPECT_EQ(image.pixel(20, 37), kWhite);
  for (const TGaugeKind kind : {TGaugeKind::gkPie, TGaugeKind::gkNeedle}) {
    g.SetKind(kind);
    image = Grab(g);
    EXPECT_EQ(image.pixel(0, 0), kBlack);           // the frame
    EXPECT_EQ(image.pixel(1, 1), g.Color().rgb());  // the surround
  }
}

}  // namespace
}  // namespace vorn
