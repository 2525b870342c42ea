#include "Gauges.h"

#include <QFontMetrics>
#include <QPaintEvent>
#include <QPainter>
#include <cmath>

#include "dxCoreUtils.h"

namespace vorn {
namespace {

// A rectangle as the drawing rules measure it: Right and Bottom lie just outside.
struct TRect {
  int Left, Top, Right, Bottom;
};

// Fills Left..Right-1 × Top..Bottom-1; an empty or inverted rectangle fills nothing.
void Fill(QPainter& p, int left, int top, int right, int bottom, const QColor& color) {
  if (right > left && bottom > top) p.fillRect(QRect(left, top, right - left, bottom - top), color);
}

// The filled length for a percentage over a length: the fraction first, then times the length.
int FilledLength(int percent, int length) {
  return static_cast<int>(std::trunc(length * (percent * 0.01)));
}

// Pixel-wise exclusive-or of source into target (same size, both RGB32).
void XorInto(QImage& target, const QImage& source) {
  for (int y = 0; y < target.height(); ++y) {
    auto* to = reinterpret_cast<QRgb*>(target.scanLine(y));
    const auto* from = reinterpret_cast<const QRgb*>(source.constScanLine(y));
    for (int x = 0; x < target.width(); ++x) to[x] ^= from[x] & 0x00FFFFFF;
  }
}

// At a ratio above 1 the image has the physical pixels, and painters on it draw in logical ones.
QImage BlackImage(QSize size, qreal ratio) {
  QImage image = RatioImage(size, ratio);
  image.fill(QColor(0, 0, 0));
  return image;
}

}  // namespace

TGauge::TGauge(QWidget* parent) : QWidget(parent), color_(palette().color(QPalette::Base)) {
  setAttribute(Qt::WA_OpaquePaintEvent);  // every pixel is painted
  resize(100, 100);
}

void TGauge::SetMinValue(int value) {
  if (value == minValue_) return;
  if (value > maxValue_ && !loading_) {
    throw EInvalidOperation("Value must be between " + std::to_string(-2147483647) + " and " +
                            std::to_string(maxValue_ - 1));
  }
  minValue_ = value;
  if (progress_ < value) progress_ = value;
  RepaintNow();
}

void TGauge::SetMaxValue(int value) {
  if (value == maxValue_) return;
  if (value < minValue_ && !loading_) {
    throw EInvalidOperation("Value must be between " + std::to_string(minValue_ + 1) + " and " +
                            std::to_string(2147483647));
  }
  maxValue_ = value;
  if (progress_ > value) progress_ = value;
  RepaintNow();
}

void TGauge::SetProgress(int value) {
  if (value < minValue_) {
    value = minValue_;
  } else if (value > maxValue_) {
    value = maxValue_;
  }
  if (value == progress_) return;
  const int before = PercentDone();
  progress_ = value;
  // A transfer moves Progress block by block: repaint once per percentage point only.
  if (PercentDone() != before) RepaintNow();
}

void TGauge::SetKind(TGaugeKind kind) {
  if (Change(kind_, kind)) RepaintNow();
}

void TGauge::SetShowText(bool show) {
  if (Change(showText_, show)) RepaintNow();
}

void TGauge::SetBorderStyle(TGaugeBorderStyle style) {
  if (Change(borderStyle_, style)) RepaintNow();
}

void TGauge::SetForeColor(const QColor& color) {
  if (Change(foreColor_, color)) RepaintNow();
}

void TGauge::SetBackColor(const QColor& color) {
  if (Change(backColor_, color)) RepaintNow();
}

void TGauge::SetColor(const QColor& color) {
  if (Change(color_, color)) RepaintNow();
}

int TGauge::PercentDone() const {
  // In floating point from the start, so no range overflows 32 bits.
  const double done = double(progress_) - double(minValue_);
  const double whole = double(maxValue_) - double(minValue_);
  if (whole == 0) return 0;
  return static_cast<int>(std::trunc(done * 100 / whole));
}

void TGauge::RepaintNow() { repaint(); }

QImage TGauge::Picture(qreal ratio) const {
  const QSize size = this->size();
  QImage picture = BlackImage(size, ratio);
  TRect r{0, 0, size.width(), size.height()};
  if (borderStyle_ == TGaugeBorderStyle::bsSingle) r = {1, 1, r.Right - 1, r.Bottom - 1};
  const int w = r.Right - r.Left + 1;
  const int h = r.Bottom - r.Top + 1;
  const int percent = PercentDone();

  QImage drawing = BlackImage(size, ratio);
  {
    QPainter p(&drawing);
    switch (kind_) {
      case TGaugeKind::gkText:
        Fill(p, r.Left, r.Top, r.Right, r.Bottom, backColor_);
        break;
      case TGaugeKind::gkHorizontalBar: {
        Fill(p, r.Left, r.Top, r.Right, r.Bottom, backColor_);
        const int f = std::min(FilledLength(percent, w), w);
        if (f > 0) Fill(p, r.Left, r.Top, f, h, foreColor_);
        break;
      }
      case TGaugeKind::gkVerticalBar: {
        Fill(p, r.Left, r.Top, r.Right, r.Bottom, backColor_);
        const int f = std::min(FilledLength(percent, h), h - 1);
        if (f > 0) Fill(p, r.Left, r.Bottom - f, r.Right, r.Bottom, foreColor_);
        break;
      }
      case TGaugeKind::gkPie:
      case TGaugeKind::gkNeedle: {
        Fill(p, r.Left, r.Top, r.Right, r.Bottom, color_);
        p.setPen(foreColor_);
        p.setBrush(backColor_);
        const QRect box(r.Left, r.Top, r.Right - r.Left - 1, r.Bottom - r.Top - 1);
        if (kind_ == TGaugeKind::gkPie) {
          p.drawEllipse(box);
          p.setBrush(foreColor_);
          if (percent > 0) p.drawPie(box, 90 * 16, -qRound(percent * 3.6 * 16));
        } else {
          const QRect dial(box.left(), box.top(), box.width(), 2 * box.height());
          p.drawPie(dial, 0, 180 * 16);
          const double angle = percent * 1.8 * M_PI / 180;
          const QPointF centre(dial.center().x(), box.bottom());
          p.drawLine(centre, centre + QPointF(-std::cos(angle) * box.width() / 2.0,
                                              -std::sin(angle) * box.height()));
        }
        break;
      }
    }
  }
  XorInto(picture, drawing);

  if (showText_) {
    const QString text = QString::number(percent) + QLatin1Char('%');
    QFont font = this->font();
    font.setStyleStrategy(QFont::NoAntialias);  // pure white, so the XOR inverts exactly
    const QFontMetrics metrics(font);
    const int x = (r.Right - r.Left + 1 - metrics.horizontalAdvance(text)) / 2;
    const int y = (r.Bottom - r.Top + 1 - metrics.height()) / 2;
    QImage lettering = BlackImage(size, ratio);
    {
      QPainter p(&lettering);
      p.setClipRect(QRect(r.Left, r.Top, r.Right - r.Left, r.Bottom - r.Top));
      p.setFont(font);
      p.setPen(QColor(255, 255, 255));
      p.drawText(x, y + metrics.ascent(), text);
    }
    XorInto(picture, lettering);
  }
  return picture;
}

void TGauge::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.drawImage(0, 0, Picture(devicePixelRatioF()));
}

}  // namespace vorn
