#include "dxButtons.h"

#include <QKeyEvent>
#include <QPainter>

#include "DesignPalette.h"
#include "dxCoreUtils.h"

namespace vorn {

ButtonImages MakeButtonImages(QSize size, bool highlight, qreal ratio) {
  const int w = size.width(), h = size.height();
  const int inset = highlight ? 6 : 2;
  const int n = kButtonBands;
  ButtonImages images;
  images.face = MakeGradient(w - inset, h - inset, kFaceTop, kFaceBottom, n, true, ratio);
  images.pressed = MakeGradient(w - 2, h - 2, kPressedTop, kPressedBottom, n, true, ratio);
  images.focusRing = MakeGradient(w - 2, h - 2, kFocusTop, kFocusBottom, n, true, ratio);
  images.hotRing = MakeGradient(w - 2, h - 2, kHotTop, kHotBottom, n, true, ratio);
  return images;
}

bool ButtonHighlight(bool enabled, bool hot, bool pressed, bool focused, bool isDefault,
                     bool canFocus, bool siblingFocused) {
  if (!enabled) return false;
  if (pressed) return !hot;
  return hot || focused || (isDefault && canFocus && !siblingFocused);
}

void DrawRoundBorder(QImage& image, QColor color) {
  const QSize size = LogicalSize(image);
  const int w = size.width(), h = size.height();
  const QRgb c = color.rgb();
  for (int x = 2; x <= w - 3; ++x) {
    PutPixel(image, x, 0, c);
    PutPixel(image, x, h - 1, c);
  }
  for (int y = 2; y <= h - 3; ++y) {
    PutPixel(image, 0, y, c);
    PutPixel(image, w - 1, y, c);
  }
  PutPixel(image, 1, 1, c);
  PutPixel(image, w - 2, 1, c);
  PutPixel(image, 1, h - 2, c);
  PutPixel(image, w - 2, h - 2, c);
}

void DrawCornerSoftening(QImage& image, QColor color) {
  const QSize size = LogicalSize(image);
  const int w = size.width(), h = size.height();
  const QRgb c = color.rgb();
  PutPixel(image, 0, 1, c);
  PutPixel(image, 1, 0, c);
  PutPixel(image, w - 2, 0, c);
  PutPixel(image, w - 1, 1, c);
  PutPixel(image, 0, h - 2, c);
  PutPixel(image, 1, h - 1, c);
  PutPixel(image, w - 2, h - 1, c);
  PutPixel(image, w - 1, h - 2, c);
}

QImage PaintButton(const ButtonLook& look, const ButtonImages& images) {
  const int w = look.size.width(), h = look.size.height();
  if (w <= 0 || h <= 0) return {};
  // At a ratio above 1 every step draws in logical pixels onto the physical ones, and the
  // caption is set in the screen's resolution.
  QImage image = RatioImage(look.size, look.ratio);
  image.fill(look.color);
  {
    QPainter p(&image);
    if (look.highlight) p.drawImage(QPoint(1, 1), look.hot ? images.hotRing : images.focusRing);
    if (look.hot && look.pressed) {
      p.drawImage(QPoint(1, 1), images.pressed);
    } else if (!look.highlight) {
      p.drawImage(QPoint(1, 1), images.face);
    } else if (w > 6 && h > 6) {
      const qreal r = images.face.devicePixelRatio();
      p.drawImage(QPointF(3, 3), images.face, QRectF(0, 0, (w - 6) * r, (h - 6) * r));
    }
  }
  DrawRoundBorder(image, look.enabled ? kBorder : kBorderDisabled);
  if (look.smoothEdges) DrawCornerSoftening(image, look.enabled ? kSoftening : kSofteningDisabled);

  const CaptionFormat format{look.wordWrap, look.showAccelChar};
  QStringList lines;
  const QFont font = FitCaptionFont(look.font, look.caption, w, h, format, &lines);
  const QSize text = MeasureCaption(font, lines, format);
  QRect r((w - text.width()) / 2, (h - text.height()) / 2, text.width(), text.height());
  if (look.hot && look.pressed) r.translate(1, 1);
  if (look.focused && look.showFocusRect && w > 6 && h > 6)
    DrawFocusRect(image, QRect(3, 3, w - 6, h - 6));
  QPainter p(&image);
  DrawCaption(p, font, r, lines, Qt::AlignHCenter, format, look.enabled, look.fontColor, look.light,
              look.shadow);
  return image;
}

TdxCustomButton::TdxCustomButton(QWidget* parent) : TdxCustomStyleControl(parent) {
  resize(73, 21);
  // The face is always light, whatever the desktop's palette: so is the caption's colour.
  PinText(this);
}

TdxCustomButton::~TdxCustomButton() {
  if (watchedWindow_) watchedWindow_->removeEventFilter(this);
}

// Stored-only properties still repaint when they change, as every property does.
void TdxCustomButton::SetAutoGray(bool v) {
  if (Change(autoGray_, v)) Invalidate();
}

void TdxCustomButton::SetCancel(bool v) {
  if (Change(cancel_, v)) Invalidate();
}

void TdxCustomButton::SetShowFocusRect(bool v) {
  if (Change(showFocusRect_, v)) Invalidate();
}

void TdxCustomButton::SetSmoothEdges(bool v) {
  if (Change(smoothEdges_, v)) Invalidate();
}

void TdxCustomButton::SetWordWrap(bool v) {
  if (Change(wordWrap_, v)) Invalidate();
}

void TdxCustomButton::SetDefault(bool v) {
  if (!Change(default_, v)) return;
  Invalidate();
  RefreshFocusFlags(window());
}

void TdxCustomButton::SetShowAccelChar(bool v) {
  if (!Change(showAccelChar_, v)) return;
  GrabAccelerator();
  Invalidate();
}

void TdxCustomButton::SetGlyph(const QPixmap& glyph) {
  glyph_ = glyph;
  Invalidate();
}

void TdxCustomButton::SetLayout(TdxButtonLayout layout) {
  if (Change(layout_, layout)) Invalidate();
}

void TdxCustomButton::SetSpacing(quint8 v) {
  if (Change(spacing_, v)) Invalidate();
}

bool TdxCustomButton::Highlight() const {
  return ButtonHighlight(isEnabled(), IsHot(), IsPressed(), IsFocused(), default_, CanFocus(),
                         SiblingFocused());
}

ButtonLook TdxCustomButton::Look() const {
  ButtonLook look;
  FillLook(look);
  look.highlight = Highlight();
  look.smoothEdges = smoothEdges_;
  look.showFocusRect = showFocusRect_;
  look.wordWrap = wordWrap_;
  look.showAccelChar = showAccelChar_;
  return look;
}

void TdxCustomButton::BuildImages() {
  builtRatio_ = PaintRatio(devicePixelRatioF());
  images_ = MakeButtonImages(size(), Highlight(), builtRatio_);
  builtFor_ = size();
}

QImage TdxCustomButton::Face() {
  const ButtonLook look = Look();
  if (builtFor_ != size() || builtRatio_ != look.ratio) BuildImages();
  // A face built while the ring showed is too small for the inside of the border: build it anew
  // rather than leave a strip of the background inside the border.
  const bool faceAtBorder = !look.highlight && !(look.hot && look.pressed);
  const QSize face = LogicalSize(images_.face);
  if (faceAtBorder && (face.width() < width() - 2 || face.height() < height() - 2))
    images_ = MakeButtonImages(size(), false, look.ratio);
  return PaintButton(look, images_);
}

void TdxCustomButton::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.drawImage(0, 0, Face());
}

void TdxCustomButton::resizeEvent(QResizeEvent* e) {
  BuildImages();
  TdxCustomStyleControl::resizeEvent(e);
}

void TdxCustomButton::WatchWindow() {
  QWidget* w = window();
  if (w == watchedWindow_) return;
  if (watchedWindow_) watchedWindow_->removeEventFilter(this);
  watchedWindow_ = w;
  if (w && w != this) w->installEventFilter(this);
}

bool TdxCustomButton::event(QEvent* e) {
  if (e->type() == QEvent::ParentChange || e->type() == QEvent::Show || e->type() == QEvent::Polish)
    WatchWindow();
  return TdxCustomStyleControl::event(e);
}

bool TdxCustomButton::eventFilter(QObject* watched, QEvent* e) {
  // Enter and Escape that no control of the window took reach the window itself.
  if (watched == watchedWindow_ && e->type() == QEvent::KeyPress) {
    auto* ke = static_cast<QKeyEvent*>(e);
    const bool noMods = (ke->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
    const bool enter = ke->key() == Qt::Key_Return || ke->key() == Qt::Key_Enter;
    if (CanFocus() && ((enter && default_ && !SiblingFocused()) ||
                       (ke->key() == Qt::Key_Escape && noMods && cancel_))) {
      Click();
      return true;
    }
  }
  return TdxCustomStyleControl::eventFilter(watched, e);
}

void TdxCustomButton::keyPressEvent(QKeyEvent* e) {
  const auto mods = e->modifiers() & ~Qt::KeypadModifier;
  if (e->key() == Qt::Key_Space && mods == Qt::NoModifier) {
    if (!e->isAutoRepeat()) {
      SetHot(true, false);
      spaceDown_ = true;
      SetPressed(true);
    }
    e->accept();
    return;
  }
  if ((e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter) && CanFocus()) {
    Click();
    e->accept();
    return;
  }
  if (e->key() == Qt::Key_Escape && mods == Qt::NoModifier && cancel_ && CanFocus()) {
    Click();
    e->accept();
    return;
  }
  TdxCustomStyleControl::keyPressEvent(e);
}

void TdxCustomButton::keyReleaseEvent(QKeyEvent* e) {
  if (spaceDown_ && IsPressed() && !e->isAutoRepeat()) {
    spaceDown_ = false;
    if (!underMouse()) SetHot(false, false);
    SetPressed(false);
    Click();
    e->accept();
    return;
  }
  TdxCustomStyleControl::keyReleaseEvent(e);
}

void TdxCustomButton::focusOutEvent(QFocusEvent* e) {
  spaceDown_ = false;
  TdxCustomStyleControl::focusOutEvent(e);
}

}  // namespace vorn
