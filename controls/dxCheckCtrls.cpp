#include "dxCheckCtrls.h"

#include <QPainter>

#include "dxButtons.h"

// The resources live in a static library: make sure they are linked and registered.
static void InitStyledResources() { Q_INIT_RESOURCE(styled); }

namespace vorn {

CheckImages MakeCheckImages(qreal ratio) {
  const int inside = kBoxSize - 2;
  return {MakeGradient(inside, inside, kFaceTop, kFaceBottom, kCheckBands, false, ratio),
          MakeGradient(inside, inside, kPressedTop, kPressedBottom, kCheckBands, true, ratio),
          MakeGradient(inside, inside, kHotTop, kHotBottom, kCheckBands, true, ratio)};
}

QImage CheckMark() {
  static const QImage mark = [] {
    InitStyledResources();
    return QImage(QStringLiteral(":/CHECKBOX"), "XPM").convertToFormat(QImage::Format_ARGB32);
  }();
  return mark;
}

QImage PaintCheckbox(const CheckLook& look, const CheckImages& images) {
  const int w = look.size.width(), ch = look.size.height();
  if (w <= 0 || ch <= 0) return {};
  const bool office = look.theme == OfficeXP;
  // Logical pixels throughout; at a ratio above 1 the caption is set in the screen's resolution.
  QImage image = RatioImage(look.size, look.ratio);
  image.fill(look.color);
  QPainter p(&image);
  const QRect bounds(QPoint(0, 0), look.size);
  DrawBoundLines(p, bounds, look.boundLines, office ? kCheckBoundOffice : kCheckBoundXP);
  p.end();
  if (look.focused) DrawFocusRect(image, bounds);

  p.begin(&image);
  const int left = 0;
  const int boxTop = (ch - kBoxSize) / 2;
  // A 13 x 13 outline, as one-pixel strips so it lands on whole pixels at any ratio.
  const QColor outline = office && look.hot ? kBoxOutlineOfficeHot : kBoxOutline;
  const QRect box(left + 2, boxTop, kBoxSize, kBoxSize);
  p.fillRect(QRect(box.left(), box.top(), kBoxSize, 1), outline);
  p.fillRect(QRect(box.left(), box.bottom(), kBoxSize, 1), outline);
  p.fillRect(QRect(box.left(), box.top(), 1, kBoxSize), outline);
  p.fillRect(QRect(box.right(), box.top(), 1, kBoxSize), outline);
  const QPoint inside(left + 3, boxTop + 1);
  const int side = kBoxSize - 2;
  if (!office) {
    if (look.hot && look.pressed) {
      p.drawImage(inside, images.pressed);
    } else if (look.hot) {
      const qreal r = images.face.devicePixelRatio();
      p.drawImage(inside, images.hot);
      p.drawImage(QPointF(inside + QPoint(1, 1)), images.face,
                  QRectF(0, 0, (side - 2) * r, (side - 2) * r));
    } else {
      p.drawImage(inside, images.face);
    }
  } else if (look.hot) {
    p.fillRect(QRect(inside, QSize(side, side)),
               look.pressed ? kOfficePressedFill : kOfficeHotFill);
  }
  p.end();

  if (look.checked) {
    const QImage mark = CheckMark();
    const QRgb c = !office                      ? kCheckMarkXP.rgb()
                   : (look.hot && look.pressed) ? qRgb(255, 255, 255)
                                                : qRgb(0, 0, 0);
    const QPoint at(5, boxTop + 3);
    for (int y = 0; y < mark.height(); ++y)
      for (int x = 0; x < mark.width(); ++x)
        if (qAlpha(mark.pixel(x, y))) PutPixel(image, at.x() + x, at.y() + y, c);
  }

  const int textLeft = kBoxSize + look.spacing + 4;
  const CaptionFormat format{true, true};
  QStringList lines;
  const QFont font = FitCaptionFont(look.font, look.caption, w - textLeft, ch, format, &lines);
  const QSize text = MeasureCaption(font, lines, format);
  const QRect r(textLeft, (ch - text.height()) / 2, std::max(0, w - textLeft), text.height());
  p.begin(&image);
  DrawCaption(p, font, r, lines, Qt::AlignLeft, format, look.enabled, look.fontColor, look.light,
              look.shadow);
  return image;
}

TdxCustomCheckControl::TdxCustomCheckControl(QWidget* parent) : TdxCustomStyleControl(parent) {
  resize(161, 17);
}

void TdxCustomCheckControl::SetChecked(bool checked) {
  if (Change(checked_, checked)) Invalidate();
}

void TdxCustomCheckControl::SetBoundLines(TdxBoundLines lines) {
  if (Change(boundLines_, lines)) Invalidate();
}

void TdxCustomCheckControl::SetSpacing(quint8 spacing) {
  if (Change(spacing_, spacing)) Invalidate();
}

void TdxCustomCheckControl::Click() {
  SetChecked(!checked_);
  TdxCustomStyleControl::Click();
}

CheckLook TdxCustomCheckControl::Look() const {
  CheckLook look;
  FillLook(look);
  look.checked = checked_;
  look.theme = EffectiveTheme();
  look.boundLines = boundLines_;
  look.spacing = spacing_;
  return look;
}

QImage TdxCustomCheckControl::Face() const {
  const CheckLook look = Look();
  if (look.ratio != imagesRatio_) {
    images_ = MakeCheckImages(look.ratio);
    imagesRatio_ = look.ratio;
  }
  return PaintCheckbox(look, images_);
}

void TdxCustomCheckControl::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.drawImage(0, 0, Face());
}

}  // namespace vorn
