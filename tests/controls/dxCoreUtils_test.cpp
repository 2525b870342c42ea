// Gradient images: band colours, band bounds, dithering and the replicated strip.
#include "dxCoreUtils.h"

#include <gtest/gtest.h>

#include <QPainter>

namespace vorn {

namespace {

QRgb Rgb(int r, int g, int b) { return qRgb(r, g, b); }

TEST(Gradient, RoundsHalvesToEven) {
  EXPECT_EQ(RoundHalfEven(5, 2), 2);
  EXPECT_EQ(RoundHalfEven(7, 2), 4);
  EXPECT_EQ(RoundHalfEven(-5, 2), -2);
  EXPECT_EQ(RoundHalfEven(-7, 2), -4);
  EXPECT_EQ(RoundHalfEven(3, 4), 1);
  EXPECT_EQ(RoundHalfEven(-3, 4), -1);
  // Band bounds: 19 rows in 64 bands puts band 32 at 9.5, which rounds to 10.
  EXPECT_EQ(BandStart(19, 32, 64), 10);
  EXPECT_EQ(BandStart(5, 1, 2), 2);
  EXPECT_EQ(BandStart(3, 1, 2), 2);
}

TEST(Gradient, BandColoursRunFromTopToBottomColour) {
  const QColor a(0xFF, 0xFF, 0xFF), b(0xEF, 0xEB, 0xE7);
  EXPECT_EQ(GradientColor(a, b, 0, 64).rgb(), a.rgb());
  EXPECT_EQ(GradientColor(a, b, 63, 64).rgb(), b.rgb());
  EXPECT_EQ(GradientColor(a, b, 32, 64).rgb(), Rgb(247, 245, 243));
  // Rising channels too: #CEE7FF to #6D84EF, band 1 of 64.
  EXPECT_EQ(GradientColor(QColor(0xCE, 0xE7, 0xFF), QColor(0x6D, 0x84, 0xEF), 1, 64).rgb(),
            Rgb(0xCE - 2, 0xE7 - 2, 0xFF));
}

TEST(Gradient, RowsTakeTheirBandsColourAndEmptyBandsAreSkipped) {
  const QColor a(0, 0, 0), b(90, 90, 90);
  const QImage four = MakeGradient(3, 4, a, b, 4, false);
  ASSERT_EQ(four.size(), QSize(3, 4));
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 3; ++x) EXPECT_EQ(four.pixel(x, y), Rgb(30 * y, 30 * y, 30 * y));
  // Two rows, four bands: bounds 0, 0.5->0, 1, 1.5->2, 2, so bands 0 and 3 are empty.
  const QImage two = MakeGradient(1, 2, a, b, 4, false);
  EXPECT_EQ(two.pixel(0, 0), Rgb(30, 30, 30));
  EXPECT_EQ(two.pixel(0, 1), Rgb(60, 60, 60));
}

TEST(Gradient, DitherStaysInTheFirstRowsAndTheStripRepeatsAcrossTheWidth) {
  const QColor a(0, 0, 0), b(255, 0, 0);
  const int h = 200, n = 4;  // up to 200 / 3 = 66 rows of each band take the colour above
  const QImage g = MakeGradient(53, h, a, b, n, true);
  ASSERT_EQ(g.size(), QSize(53, h));
  bool dithered = false;
  for (int k = 0; k < n; ++k) {
    const int top = BandStart(h, k, n), bottom = BandStart(h, k + 1, n);
    const QRgb own = GradientColor(a, b, k, n).rgb();
    const QRgb above = k ? GradientColor(a, b, k - 1, n).rgb() : own;
    for (int x = 0; x < 16; ++x) {
      bool inDither = true;  // within a column the colour above comes first, then the band's own
      for (int y = top; y < bottom; ++y) {
        const QRgb c = g.pixel(x, y);
        if (c == own)
          inDither = false;
        else
          EXPECT_TRUE(inDither && c == above && y < top + h / (n - 1)) << x << "," << y;
        dithered |= c != own;
      }
    }
  }
  EXPECT_TRUE(dithered);
  for (int y = 0; y < h; ++y)
    for (int x = 16; x < g.width(); ++x) ASSERT_EQ(g.pixel(x, y), g.pixel(x % 16, y));
  // The same arguments give the same picture; no size gives no picture.
  EXPECT_EQ(g, MakeGradient(53, h, a, b, n, true));
  EXPECT_TRUE(MakeGradient(0, 5, a, b, n, true).isNull());
  EXPECT_TRUE(MakeGradient(-4, 5, a, b, n, true).isNull());
}

TEST(Edges, BoundLinesAndFocusRectangle) {
  QImage image(6, 4, QImage::Format_RGB32);
  image.fill(Qt::black);
  {
    QPainter p(&image);
    DrawBoundLines(p, image.rect(), blLeft | blBottom, Qt::white);
  }
  // Left edge from the top down to the row above the bottom; bottom edge across the width.
  const char* expected[] = {"W.....", "W.....", "W.....", "WWWWWW"};
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 6; ++x)
      EXPECT_EQ(image.pixel(x, y) == qRgb(255, 255, 255), expected[y][x] == 'W') << x << "," << y;

  QImage focus(5, 4, QImage::Format_RGB32);
  focus.fill(Qt::black);
  DrawFocusRect(focus, focus.rect());
  const char* dots[] = {"W.W.W", ".....", "W...W", ".W.W."};
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 5; ++x)
      EXPECT_EQ(focus.pixel(x, y) == qRgb(255, 255, 255), dots[y][x] == 'W') << x << "," << y;
}

TEST(Captions, AcceleratorsAndEllipsis) {
  EXPECT_EQ(AcceleratorOf(QStringLiteral("&Search")), QLatin1Char('S'));
  EXPECT_EQ(AcceleratorOf(QStringLiteral("Fish && &chips")), QLatin1Char('C'));
  EXPECT_TRUE(AcceleratorOf(QStringLiteral("No && mark&")).isNull());

  QFont font;
  font.setPixelSize(11);
  const QString longText = QStringLiteral("Averyveryverylongcaptionwithoutbreaks");
  const QStringList one = LayoutCaption(font, longText, 60, 14, {});
  ASSERT_EQ(one.size(), 1);
  EXPECT_TRUE(one[0].endsWith(QChar(0x2026)) || one[0].endsWith(QStringLiteral("...")));
  EXPECT_LE(MeasureCaption(font, one, {}).width(), 60);
  // Words wrap onto as many lines as fit; the last one is cut.
  const QStringList wrapped = LayoutCaption(
      font, QStringLiteral("one two three four five six seven eight nine ten"), 50, 200, {});
  EXPECT_GT(wrapped.size(), 2);
  const QStringList cut = LayoutCaption(
      font, QStringLiteral("one two three four five six seven eight nine ten"), 50, 30, {});
  EXPECT_LT(cut.size(), wrapped.size());
  EXPECT_TRUE(cut.last().endsWith(QChar(0x2026)) || cut.last().endsWith(QStringLiteral("...")));
}

TEST(Captions, AWideFaceIsNarrowedUntilTheWindowsCaptionsFit) {
  // DejaVu Sans is wider than the layout's faces: without them the captions were cut.
  QFont wide(QStringLiteral("DejaVu Sans"));
  wide.setPixelSize(11);
  wide.setStretch(QFont::Unstretched);
  struct Case {
    const char* caption;
    int width, height;
    CaptionFormat format;
  };
  const Case cases[] = {
      {"Look for update", 81, 13, {}},
      {"Stop Search", 73, 21, {}},
      {"Match Case(Case sensitiv)", 132, 17, {}},
      {"Include Subdirectory", 132, 17, {}},
      {"File search", 56, 17, {false, false}},
      {"Text to find", 56, 17, {false, false}},
  };
  for (const Case& c : cases) {
    const QString caption = QString::fromUtf8(c.caption);
    const QFont font = FitCaptionFont(wide, caption, c.width, c.height, c.format);
    EXPECT_EQ(LayoutCaption(font, caption, c.width, c.height, c.format), QStringList{caption})
        << c.caption;
    EXPECT_GE(font.pixelSize(), 9) << c.caption;
  }
  // A caption that fits keeps the font; one that fits at no limit is cut in it.
  EXPECT_EQ(FitCaptionFont(wide, QStringLiteral("Search"), 73, 21, {}), wide);
  const QString longText = QStringLiteral("Averyveryverylongcaptionwithoutbreaks");
  EXPECT_EQ(FitCaptionFont(wide, longText, 60, 14, {}), wide);
}

}  // namespace
}  // namespace vorn
