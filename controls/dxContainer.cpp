#include "dxContainer.h"

#include <QBitmap>
#include <QMouseEvent>
#include <QPainter>
#include <algorithm>

namespace vorn {

TdxCustomContainer::TdxCustomContainer(QWidget* parent) : TdxCustomControl(parent) {
  setFocusPolicy(Qt::NoFocus);
  resize(185, 41);
}

void TdxCustomContainer::SetAlignment(Qt::Alignment v) {
  if (Change(alignment_, v)) Invalidate();
}

void TdxCustomContainer::SetBoundColor(const QColor& v) {
  if (Change(boundColor_, v)) Invalidate();
}

void TdxCustomContainer::SetGlyphLayout(TdxGlyphLayout v) {
  if (Change(glyphLayout_, v)) Invalidate();
}

void TdxCustomContainer::SetLayout(TdxTextLayout v) {
  if (Change(layout_, v)) Invalidate();
}

void TdxCustomContainer::SetShowCaption(bool v) {
  if (Change(showCaption_, v)) Invalidate();
}

void TdxCustomContainer::SetSpacing(quint8 v) {
  if (Change(spacing_, v)) Invalidate();
}

void TdxCustomContainer::SetWordWrap(bool v) {
  if (Change(wordWrap_, v)) Invalidate();
}

void TdxCustomContainer::SetBorderWidth(int width) {
  if (Change(borderWidth_, std::max(width, 0))) Relayout();
}

void TdxCustomContainer::SetBoundLines(TdxBoundLines lines) {
  if (Change(boundLines_, lines)) Relayout();
}

void TdxCustomContainer::SetShowBoundLines(bool show) {
  if (Change(showBoundLines_, show)) Relayout();
}

void TdxCustomContainer::SetGlyph(const QPixmap& glyph) {
  glyph_ = glyph;
  if (!glyph_.isNull() && !glyph_.hasAlphaChannel()) {
    // A glyph without alpha is transparent where it has its lower-left pixel's colour.
    const QImage img = glyph_.toImage();
    glyph_.setMask(QBitmap::fromImage(
        img.createMaskFromColor(img.pixel(0, img.height() - 1), Qt::MaskInColor)));
  }
  Relayout();
}

void TdxCustomContainer::SetColor(const QColor& color) {
  if (palette().color(QPalette::Window) == color && testAttribute(Qt::WA_SetPalette)) return;
  QPalette pal = palette();
  pal.setColor(QPalette::Window, color);
  setPalette(pal);
  Invalidate();
}

void TdxCustomContainer::SetEnabledMode(TdxEnabledMode mode) {
  if (Change(enabledMode_, mode)) ApplyEnabledMode();
}

void TdxCustomContainer::SetFocusable(bool focusable) {
  if (focusable == focusable_) return;
  focusable_ = focusable;
  setFocusPolicy(!focusable ? Qt::NoFocus : TabStop() ? Qt::StrongFocus : Qt::ClickFocus);
  Invalidate();
}

QRect TdxCustomContainer::InnerRect() const {
  QRect r = rect().adjusted(borderWidth_, borderWidth_, -borderWidth_, -borderWidth_);
  if (showBoundLines_) {
    r.adjust(boundLines_ & blLeft ? 1 : 0, boundLines_ & blTop ? 1 : 0,
             boundLines_ & blRight ? -1 : 0, boundLines_ & blBottom ? -1 : 0);
  }
  return r;
}

void TdxCustomContainer::Relayout() {
  // Children in a layout use the inner rectangle, moved right by the glyph.
  const QRect inner = InnerRect();
  setContentsMargins(inner.left() + (glyph_.isNull() ? 0 : glyph_.width()), inner.top(),
                     width() - 1 - inner.right(), height() - 1 - inner.bottom());
  Invalidate();
}

void TdxCustomContainer::ApplyEnabledMode() {
  if (enabledMode_ == emAffectChilds) {
    const bool enabled = isEnabled();
    for (auto* child : findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
      if (!child->isWindow()) child->setEnabled(enabled);
  }
  emit OnEnabledChanged();
}

void TdxCustomContainer::changeEvent(QEvent* e) {
  TdxCustomControl::changeEvent(e);
  if (e->type() == QEvent::EnabledChange) ApplyEnabledMode();
}

void TdxCustomContainer::moveEvent(QMoveEvent* e) {
  TdxCustomControl::moveEvent(e);
  Invalidate();
}

void TdxCustomContainer::resizeEvent(QResizeEvent* e) {
  TdxCustomControl::resizeEvent(e);
  Relayout();
  emit OnResize();
}

void TdxCustomContainer::mouseDoubleClickEvent(QMouseEvent* e) {
  // Unlike the button and the check box, the container reports a double click as such.
  if (e->button() == Qt::LeftButton) {
    emit OnDblClick();
    e->accept();
    return;
  }
  TdxCustomControl::mouseDoubleClickEvent(e);
}

void TdxCustomContainer::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.fillRect(rect(), Color());
  if (showBoundLines_) DrawBoundLines(p, rect(), boundLines_, boundColor_);
  const QRect inner = InnerRect();
  p.save();
  emit OnPaint(inner, font(), &p);
  p.restore();

  QRect captionArea = inner;
  if (!glyph_.isNull()) {
    int y = inner.top();
    if (glyphLayout_ == glBottom)
      y = inner.top() + inner.height() - glyph_.height();
    else if (glyphLayout_ == glCenter)
      y = inner.top() + (inner.height() - glyph_.height()) / 2 + 1;
    p.drawPixmap(inner.left(), y, glyph_);
    captionArea.setLeft(inner.left() + glyph_.width());
  }
  if (!showCaption_ || Caption().isEmpty()) return;
  const QRect area = captionArea.adjusted(spacing_, 1, -spacing_, -1);
  const CaptionFormat format{wordWrap_, true};
  const QStringList lines = LayoutCaption(font(), Caption(), area.width(), area.height(), format);
  const QSize text = MeasureCaption(font(), lines, format);
  int y = area.top();
  if (layout_ == tlCenter)
    y = area.top() + (area.height() - text.height()) / 2;
  else if (layout_ == tlBottom)
    y = area.top() + area.height() - text.height();
  DrawCaption(p, font(), QRect(area.left(), y, area.width(), text.height()), lines, alignment_,
              format, isEnabled(), palette().color(QPalette::WindowText),
              palette().color(QPalette::Light), palette().color(QPalette::Dark));
}

}  // namespace vorn
