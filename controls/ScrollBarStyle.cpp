#include "ScrollBarStyle.h"

#include <QApplication>
#include <QPaintDevice>
#include <QPainter>
#include <QPixmap>
#include <QPixmapCache>
#include <QStyleFactory>
#include <QStyleOption>
#include <algorithm>
#include <cmath>
#include <cstring>

namespace vorn {

namespace {

// The raster engine fills up to 95 spans on the calling thread. Drawing an image takes a span
// a row; painting a scroll bar's part, a span for each pixel along a line and two a row where
// a band crosses an outline.
constexpr int kBandDeviceRows = 64;
constexpr int kBandPixels = 32;
constexpr int kBandMargin = 4;

// Draws picture at target a band of rows at a time.
void DrawInBands(QPainter* painter, const QPointF& target, const QPixmap& picture) {
  const double ratio = picture.devicePixelRatio();
  for (int row = 0; row < picture.height(); row += kBandDeviceRows) {
    const int rows = std::min(kBandDeviceRows, picture.height() - row);
    painter->drawPixmap(target + QPointF(0, row / ratio), picture,
                        QRectF(0, row, picture.width(), rows));
  }
}

}  // namespace

ScrollBarStyle::ScrollBarStyle(QStyle* style) : QProxyStyle(style) {}

void ScrollBarStyle::Install() {
  if (dynamic_cast<ScrollBarStyle*>(QApplication::style())) return;
  QApplication::setStyle(new ScrollBarStyle(QStyleFactory::create(QApplication::style()->name())));
}

void ScrollBarStyle::drawComplexControl(ComplexControl control, const QStyleOptionComplex* option,
                                        QPainter* painter, const QWidget* widget) const {
  const auto* bar = qstyleoption_cast<const QStyleOptionSlider*>(option);
  const QTransform& device = painter->deviceTransform();
  // A bar that fades in and out with the mouse is painted as it is each time, and so is one
  // that is turned or sheared.
  if (control != CC_ScrollBar || !bar || device.type() > QTransform::TxScale || device.m11() <= 0 ||
      device.m11() != device.m22() || styleHint(SH_ScrollBar_Transient, option, widget)) {
    QProxyStyle::drawComplexControl(control, option, painter, widget);
    return;
  }
  QStyleOptionSlider rest(*bar);
  for (const SubControl part : {SC_ScrollBarGroove, SC_ScrollBarSlider}) {
    if (!(bar->subControls & part)) continue;
    // The slider's outline reaches a pixel past its rectangle.
    const QRect at =
        part == SC_ScrollBarGroove
            ? bar->rect
            : subControlRect(CC_ScrollBar, bar, SC_ScrollBarSlider, widget).adjusted(-2, -2, 2, 2);
    if (at.isEmpty()) continue;
    // The picture starts at the device pixel the part begins in; where the part begins inside
    // it is part of what is cached.
    const QPointF start = device.map(QPointF(at.topLeft()));
    const QPointF phase(start.x() - std::floor(start.x()), start.y() - std::floor(start.y()));
    const double ratio = device.m11();
    const QPixmap picture = Picture(*bar, part, at, ratio, phase, widget);
    DrawInBands(painter, QPointF(at.topLeft()) - phase / ratio, picture);
    rest.subControls &= ~SubControls(part);
  }
  QProxyStyle::drawComplexControl(control, &rest, painter, widget);
}

// A part's picture depends on its size, the bar's direction, state and colours, not on where
// the part is: each is painted once and then drawn from the cache.
QPixmap ScrollBarStyle::Picture(const QStyleOptionSlider& bar, SubControl part, const QRect& at,
                                double ratio, const QPointF& phase, const QWidget* widget) const {
  const QString key = QString::asprintf(
      "vorn-scrollbar-%p-%d-%dx%d-%d-%g-%g-%g-%x-%x-%d-%llx", static_cast<const void*>(this),
      static_cast<int>(part), at.width(), at.height(), static_cast<int>(bar.orientation), ratio,
      phase.x(), phase.y(), static_cast<unsigned>(bar.state),
      static_cast<unsigned>(bar.activeSubControls),
      static_cast<int>(bar.palette.currentColorGroup()),
      static_cast<unsigned long long>(bar.palette.cacheKey()));
  QPixmap picture;
  if (QPixmapCache::find(key, &picture)) return picture;
  // Painted a band at a time into a small image whose edges clip every fill and line, so
  // each stays short enough for this thread. A line cut by an image's edge may end a pixel
  // differently there: each band is painted with a margin on either side, and only its middle
  // is copied into place.
  const QSize size(static_cast<int>(std::ceil(at.width() * ratio + phase.x())),
                   static_cast<int>(std::ceil(at.height() * ratio + phase.y())));
  QImage whole(size, QImage::Format_ARGB32_Premultiplied);
  QStyleOptionSlider only(bar);
  only.subControls = part;
  const bool across = bar.orientation == Qt::Horizontal;
  const int length = across ? size.width() : size.height();
  for (int from = 0; from < length; from += kBandPixels) {
    const int n = std::min(kBandPixels, length - from);
    const QRect band = across ? QRect(from, 0, n, size.height()) : QRect(0, from, size.width(), n);
    const QRect painted = across ? band.adjusted(-kBandMargin, 0, kBandMargin, 0)
                                 : band.adjusted(0, -kBandMargin, 0, kBandMargin);
    QImage piece(painted.size(), QImage::Format_ARGB32_Premultiplied);
    piece.setDevicePixelRatio(ratio);
    piece.fill(Qt::transparent);
    QPainter painter(&piece);
    painter.translate((phase - QPointF(painted.topLeft())) / ratio - QPointF(at.topLeft()));
    QProxyStyle::drawComplexControl(CC_ScrollBar, &only, &painter, widget);
    painter.end();
    const QPoint in = band.topLeft() - painted.topLeft();
    for (int y = 0; y < band.height(); ++y)
      std::memcpy(whole.scanLine(band.top() + y) + band.left() * 4,
                  piece.constScanLine(in.y() + y) + in.x() * 4,
                  static_cast<size_t>(band.width()) * 4);
  }
  picture = QPixmap::fromImage(std::move(whole));
  picture.setDevicePixelRatio(ratio);
  QPixmapCache::insert(key, picture);
  return picture;
}

}  // namespace vorn
