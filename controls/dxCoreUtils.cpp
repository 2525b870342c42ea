#include "dxCoreUtils.h"

#include <QFontMetrics>
#include <QPainter>
#include <QtMath>
#include <algorithm>
#include <cstdint>

namespace vorn {

int RoundHalfEven(long long numerator, long long denominator) {
  if (denominator < 0) {
    numerator = -numerator;
    denominator = -denominator;
  }
  long long q = numerator / denominator;
  long long r = numerator % denominator;
  if (r < 0) {  // floor division
    r += denominator;
    --q;
  }
  const long long twice = 2 * r;
  if (twice > denominator || (twice == denominator && (q % 2 != 0))) ++q;
  return static_cast<int>(q);
}

QColor GradientColor(QColor a, QColor b, int k, int n) {
  if (n <= 1) return a;
  const auto channel = [&](int ca, int cb) {
    return RoundHalfEven(
        static_cast<long long>(ca) * (n - 1) + static_cast<long long>(k) * (cb - ca), n - 1);
  };
  return QColor(channel(a.red(), b.red()), channel(a.green(), b.green()),
                channel(a.blue(), b.blue()));
}

qreal PaintRatio(qreal devicePixelRatio) { return std::max<qreal>(1, devicePixelRatio); }

int BandStart(int height, int k, int n) {
  return RoundHalfEven(static_cast<long long>(height) * k, n);
}

namespace {

// A small fixed pseudo-random sequence, so a gradient is the same on every run.
class Dice {
 public:
  explicit Dice(uint32_t seed) : state_(seed ? seed : 1u) {}
  int Roll(int below) {  // 0 .. below - 1
    state_ ^= state_ << 13;
    state_ ^= state_ >> 17;
    state_ ^= state_ << 5;
    return static_cast<int>(state_ % static_cast<uint32_t>(below));
  }

 private:
  uint32_t state_;
};

constexpr int kStrip = 16;

}  // namespace

QImage MakeGradient(int width, int height, QColor a, QColor b, int n, bool dither, qreal ratio) {
  if (width <= 0 || height <= 0 || n <= 0) return {};
  ratio = PaintRatio(ratio);
  if (ratio != 1) {
    QImage image = MakeGradient(qCeil(width * ratio), qCeil(height * ratio), a, b, n, dither);
    image.setDevicePixelRatio(ratio);
    return image;
  }
  QImage image(width, height, QImage::Format_RGB32);
  image.fill(a);
  const int strip = std::min(width, kStrip);
  const int maxDepth = n > 1 ? height / (n - 1) : 0;
  Dice dice(static_cast<uint32_t>(width) * 2654435761u ^ static_cast<uint32_t>(height));
  for (int k = 0; k < n; ++k) {
    const int top = BandStart(height, k, n);
    const int bottom = BandStart(height, k + 1, n);
    if (bottom <= top) continue;
    const QRgb colour = GradientColor(a, b, k, n).rgb();
    const QRgb above = k > 0 ? GradientColor(a, b, k - 1, n).rgb() : colour;
    for (int y = top; y < bottom; ++y) {
      auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
      std::fill(row, row + strip, colour);
    }
    if (!dither || k == 0 || maxDepth == 0) continue;
    for (int x = 0; x < strip; ++x) {
      const int depth = std::min(dice.Roll(maxDepth + 1), bottom - top);
      for (int y = top; y < top + depth; ++y) reinterpret_cast<QRgb*>(image.scanLine(y))[x] = above;
    }
  }
  for (int y = 0; y < height; ++y) {
    auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
    for (int x = strip; x < width; ++x) row[x] = row[x % kStrip];
  }
  return image;
}

void DrawBoundLines(QPainter& p, const QRect& r, TdxBoundLines lines, QColor color) {
  if (!lines || r.isEmpty()) return;
  p.save();
  p.setRenderHint(QPainter::Antialiasing, false);
  // Filled one-pixel rectangles, so the pixels do not depend on the pen's end-point rules.
  const int left = r.left(), top = r.top(), right = r.left() + r.width(),
            bottom = r.top() + r.height();
  if (lines & blLeft) p.fillRect(QRect(left, top, 1, bottom - 1 - top), color);
  if (lines & blTop) p.fillRect(QRect(left, top, right - left, 1), color);
  if (lines & blRight) p.fillRect(QRect(right - 1, top, 1, bottom - 1 - top), color);
  if (lines & blBottom) p.fillRect(QRect(left, bottom - 1, right - left, 1), color);
  p.restore();
}

QImage RatioImage(QSize logical, qreal ratio, QImage::Format format) {
  if (logical.isEmpty()) return {};
  ratio = PaintRatio(ratio);
  if (ratio == 1) return QImage(logical, format);
  QImage image(qCeil(logical.width() * ratio), qCeil(logical.height() * ratio), format);
  image.setDevicePixelRatio(ratio);
  return image;
}

QSize LogicalSize(const QImage& image) {
  const qreal r = image.devicePixelRatio();
  if (r == 1) return image.size();
  // A little slack, so a size that was exactly a multiple does not lose a pixel to rounding.
  return QSize(qFloor(image.width() / r + 1e-6), qFloor(image.height() / r + 1e-6));
}

namespace {

// Calls paint(px, py) for each physical pixel of logical pixel (x, y); outside the image, for none.
template <typename Paint>
void ForPhysicalPixels(const QImage& image, int x, int y, Paint paint) {
  if (!QRect(QPoint(0, 0), LogicalSize(image)).contains(x, y)) return;
  const qreal r = image.devicePixelRatio();
  QRect block(x, y, 1, 1);
  if (r != 1) {
    const int left = qFloor(x * r), top = qFloor(y * r);
    const int right = std::max(left + 1, qFloor((x + 1) * r));
    const int bottom = std::max(top + 1, qFloor((y + 1) * r));
    block = QRect(left, top, right - left, bottom - top) & image.rect();
  }
  for (int py = block.top(); py <= block.bottom(); ++py)
    for (int px = block.left(); px <= block.right(); ++px) paint(px, py);
}

}  // namespace

void PutPixel(QImage& image, int x, int y, QRgb c) {
  ForPhysicalPixels(image, x, y, [&](int px, int py) { image.setPixel(px, py, c); });
}

void DrawFocusRect(QImage& image, const QRect& r) {
  const QRect clip = r & QRect(QPoint(0, 0), LogicalSize(image));
  if (clip.isEmpty()) return;
  const auto invert = [&](int x, int y) {
    if ((x + y) & 1) return;
    ForPhysicalPixels(image, x, y, [&](int px, int py) {
      const QRgb c = image.pixel(px, py);
      image.setPixel(px, py, qRgb(255 - qRed(c), 255 - qGreen(c), 255 - qBlue(c)));
    });
  };
  for (int x = r.left(); x <= r.right(); ++x) {
    invert(x, r.top());
    if (r.bottom() != r.top()) invert(x, r.bottom());
  }
  for (int y = r.top() + 1; y < r.bottom(); ++y) {
    invert(r.left(), y);
    if (r.right() != r.left()) invert(r.right(), y);
  }
}

namespace {

int TextFlags(const CaptionFormat& format) {
  return format.showAccelChar ? int(Qt::TextShowMnemonic) : 0;
}

int LineWidth(const QFontMetrics& fm, const QString& line, const CaptionFormat& format) {
  return fm.size(Qt::TextSingleLine | TextFlags(format), line).width();
}

QString Elide(const QFontMetrics& fm, const QString& line, int width, const CaptionFormat& format) {
  if (LineWidth(fm, line, format) <= width) return line;
  return fm.elidedText(line, Qt::ElideRight, std::max(width, 0), TextFlags(format));
}

}  // namespace

QStringList LayoutCaption(const QFont& font, const QString& caption, int width, int height,
                          const CaptionFormat& format) {
  const QFontMetrics fm(font);
  QStringList lines;
  if (!format.wordWrap) {
    lines << caption;
  } else {
    const QStringList words = caption.split(QLatin1Char(' '));
    QString current;
    for (const QString& word : words) {
      const QString trial = current.isEmpty() ? word : current + QLatin1Char(' ') + word;
      if (!current.isEmpty() && LineWidth(fm, trial, format) > width) {
        lines << current;
        current = word;
      } else {
        current = trial;
      }
    }
    lines << current;
  }
  const int fitting = std::max(1, fm.lineSpacing() > 0 ? height / fm.lineSpacing() : 1);
  if (lines.size() > fitting) {
    // Greedy wrapping makes the joined rest wider than the width, so it is cut with an ellipsis.
    QString rest = lines.mid(fitting - 1).join(QLatin1Char(' '));
    lines = lines.mid(0, fitting - 1);
    lines << rest;
  }
  for (QString& line : lines) line = Elide(fm, line, width, format);
  return lines;
}

QFont FitCaptionFont(const QFont& font, const QString& caption, int width, int height,
                     const CaptionFormat& format, QStringList* lines) {
  QStringList laid;
  if (!lines) lines = &laid;
  // Laying out only ever takes out spaces and adds ellipses.
  const auto fits = [&](const QFont& f) {
    *lines = LayoutCaption(f, caption, width, height, format);
    return lines->join(QLatin1Char(' ')) == caption;
  };
  if (fits(font)) return font;
  QFont fitted = font;
  const int stretch = font.stretch() > 0 ? font.stretch() : int(QFont::Unstretched);
  for (int percent = 95; percent >= 70; percent -= 5) {
    fitted.setStretch(stretch * percent / 100);
    if (fits(fitted)) return fitted;
  }
  const bool pixels = font.pixelSize() > 0;
  const qreal size = pixels ? font.pixelSize() : font.pointSizeF();
  for (qreal scale = 0.95; scale >= 0.79; scale -= 0.05) {
    if (pixels)
      fitted.setPixelSize(std::max(1, qRound(size * scale)));
    else
      fitted.setPointSizeF(size * scale);
    if (fits(fitted)) return fitted;
  }
  *lines = LayoutCaption(font, caption, width, height, format);
  return font;  // cut, in the control's own font
}

QSize MeasureCaption(const QFont& font, const QStringList& lines, const CaptionFormat& format) {
  const QFontMetrics fm(font);
  int w = 0;
  for (const QString& line : lines) w = std::max(w, LineWidth(fm, line, format));
  return QSize(w, static_cast<int>(lines.size()) * fm.lineSpacing());
}

void DrawCaptionLines(QPainter& p, const QFont& font, const QRect& r, const QStringList& lines,
                      Qt::Alignment align, const CaptionFormat& format, QColor color) {
  const QFontMetrics fm(font);
  p.save();
  p.setFont(font);
  p.setPen(color);
  int y = r.top();
  for (const QString& line : lines) {
    const QRect lineRect(r.left(), y, r.width(), fm.lineSpacing());
    p.drawText(lineRect,
               int(align & Qt::AlignHorizontal_Mask) | int(Qt::AlignTop) | Qt::TextSingleLine |
                   TextFlags(format),
               line);
    y += fm.lineSpacing();
  }
  p.restore();
}

void DrawCaption(QPainter& p, const QFont& font, const QRect& r, const QStringList& lines,
                 Qt::Alignment align, const CaptionFormat& format, bool enabled, QColor color,
                 QColor light, QColor shadow) {
  if (enabled) {
    DrawCaptionLines(p, font, r, lines, align, format, color);
    return;
  }
  DrawCaptionLines(p, font, r.translated(1, 1), lines, align, format, light);
  DrawCaptionLines(p, font, r, lines, align, format, shadow);
}

QChar AcceleratorOf(const QString& caption) {
  for (qsizetype i = 0; i + 1 < caption.size(); ++i) {
    if (caption[i] != QLatin1Char('&')) continue;
    if (caption[i + 1] == QLatin1Char('&')) {
      ++i;
      continue;
    }
    return caption[i + 1].toUpper();
  }
  return {};
}

}  // namespace vorn
