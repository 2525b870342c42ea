// Drawing routines shared by the styled controls: gradients, edges, focus marks and captions.
// Everything here draws into images or onto a given painter and keeps no state, so tests can
// compare the results pixel by pixel.
#pragma once

#include <QColor>
#include <QFlags>
#include <QFont>
#include <QImage>
#include <QRect>
#include <QString>
#include <QStringList>

class QPainter;

namespace vorn {

// The edges of a control on which a one-pixel line is drawn.
enum TdxBoundLine { blLeft = 0x1, blTop = 0x2, blRight = 0x4, blBottom = 0x8 };
Q_DECLARE_FLAGS(TdxBoundLines, TdxBoundLine)
Q_DECLARE_OPERATORS_FOR_FLAGS(TdxBoundLines)

// A property setter's first step: stores value and answers whether it changed, so the caller
// repaints or lays out again only then.
template <typename T, typename V>
bool Change(T& field, const V& value) {
  if (field == value) return false;
  field = value;
  return true;
}

// Divides and rounds to the nearest integer, halves to the even neighbour.
int RoundHalfEven(long long numerator, long long denominator);

// Colour k of n steps from a to b, each channel rounded halves to even.
QColor GradientColor(QColor a, QColor b, int k, int n);

// The first row of band k of n bands over the given height; band k ends where band k + 1 starts.
int BandStart(int height, int k, int n);

// A vertical gradient from top colour a to bottom colour b in n bands. It is computed on a
// 16-pixel strip (with dithering: the first rows of each band take, column by column, the colour
// of the band above for a pseudo-random depth) and the strip is repeated across the width. The
// dither pattern depends only on the arguments. An empty size gives a null image. At a ratio
// above 1 the gradient is computed over the physical pixels of a width x height image.
QImage MakeGradient(int width, int height, QColor a, QColor b, int n, bool dither, qreal ratio = 1);

// Images for a screen of the given device pixel ratio: physical pixels, drawn at logical size.
// Ratios below 1 paint as 1. The logical size of such an image is its physical size divided by
// its ratio, rounded down.
qreal PaintRatio(qreal devicePixelRatio);
QImage RatioImage(QSize logical, qreal ratio, QImage::Format format = QImage::Format_RGB32);
QSize LogicalSize(const QImage& image);
// Sets logical pixel (x, y), that is all its physical pixels; outside the image, nothing.
void PutPixel(QImage& image, int x, int y, QRgb c);

// The chosen edges as one-pixel lines just inside r.
void DrawBoundLines(QPainter& p, const QRect& r, TdxBoundLines lines, QColor color);

// A dotted focus rectangle on the outline of r (logical pixels): every other one is inverted.
void DrawFocusRect(QImage& image, const QRect& r);

// How a caption is laid out in a rectangle.
struct CaptionFormat {
  bool wordWrap = true;
  bool showAccelChar = true;  // '&' marks the accelerator; "&&" is a literal ampersand
};

// The lines of a caption within width x height: word-wrapped if asked, as many lines as fit
// (at least one), the last kept line and any line wider than width cut with an end ellipsis.
// Lines keep their accelerator marks.
QStringList LayoutCaption(const QFont& font, const QString& caption, int width, int height,
                          const CaptionFormat& format);

// The font a caption is drawn in within width x height: font itself when the caption fits;
// otherwise the same face narrowed step by step (to 70 % of its width), then made smaller (to
// 80 % of its size), until no line needs an ellipsis. A wider face than the layout's (a system
// without its fonts) so never cuts a caption; only one that fits at neither limit is cut.
// Given lines, they get the caption's lines in that font (LayoutCaption's), laid out once.
QFont FitCaptionFont(const QFont& font, const QString& caption, int width, int height,
                     const CaptionFormat& format, QStringList* lines = nullptr);

// The size of laid-out lines: the widest line by the number of lines times the line spacing.
QSize MeasureCaption(const QFont& font, const QStringList& lines, const CaptionFormat& format);

// Draws laid-out lines with a transparent background, each line aligned horizontally in r by
// align, starting at r's top.
void DrawCaptionLines(QPainter& p, const QFont& font, const QRect& r, const QStringList& lines,
                      Qt::Alignment align, const CaptionFormat& format, QColor color);

// Draws the lines enabled (in color) or engraved (light one pixel right and down, then shadow in
// place) when disabled.
void DrawCaption(QPainter& p, const QFont& font, const QRect& r, const QStringList& lines,
                 Qt::Alignment align, const CaptionFormat& format, bool enabled, QColor color,
                 QColor light, QColor shadow);

// What the face of every styled control depends on; each kind of control adds its own.
struct StyledLook {
  QSize size;
  bool enabled = true, hot = false, pressed = false, focused = false;
  QString caption;
  QFont font;
  QColor color;      // the parent's colour, behind the control
  QColor fontColor;  // the caption when enabled
  QColor light;      // engraved caption, lower-right copy
  QColor shadow;     // engraved caption, in place
  qreal ratio = 1;   // the screen's device pixel ratio
};

// The accelerator character of a caption (upper-cased), or a null QChar.
QChar AcceleratorOf(const QString& caption);

}  // namespace vorn
