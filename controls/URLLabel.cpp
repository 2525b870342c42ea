#include "URLLabel.h"

#include <QMouseEvent>

namespace vorn {

namespace {
TStaticBorderStyle restingBorderStyle = sbsNone;
}  // namespace

TURLLabel::TURLLabel(QWidget* parent)
    : QLabel(parent), colorOnEnter_(Qt::red), colorOnExit_(Qt::blue) {
  // Captions are shown as they are, never read as markup.
  setTextFormat(Qt::PlainText);
  SetFontColor(colorOnExit_);
}

TStaticBorderStyle TURLLabel::RestingBorderStyle() { return restingBorderStyle; }
void TURLLabel::SetRestingBorderStyle(TStaticBorderStyle style) { restingBorderStyle = style; }

void TURLLabel::SetColorOnExit(const QColor& color) {
  colorOnExit_ = color;
  SetFontColor(color);
}

void TURLLabel::SetURL(const QString& url) {
  url_ = url;
  setToolTip(url);
}

void TURLLabel::SetLinkBorderstyle(bool border) {
  linkBorderstyle_ = border;
  restingBorderStyle = borderStyle_;
}

void TURLLabel::SetBorderStyle(TStaticBorderStyle style) {
  borderStyle_ = style;
  switch (style) {
    case sbsNone:
      setFrameStyle(QFrame::NoFrame);
      break;
    case sbsSingle:
      setFrameStyle(QFrame::Box | QFrame::Plain);
      setLineWidth(1);
      break;
    case sbsSunken:
      setFrameStyle(QFrame::Panel | QFrame::Sunken);
      setLineWidth(1);
      break;
  }
}

QColor TURLLabel::FontColor() const { return palette().color(QPalette::WindowText); }

void TURLLabel::SetFontColor(const QColor& color) {
  QPalette pal = palette();
  pal.setColor(QPalette::WindowText, color);
  setPalette(pal);
}

void TURLLabel::enterEvent(QEnterEvent* e) {
  SetFontColor(colorOnEnter_);
  if (linkUnderline_) {
    QFont f = font();
    f.setUnderline(true);
    setFont(f);
  }
  if (linkBorderstyle_) SetBorderStyle(sbsSingle);
  QLabel::enterEvent(e);
}

void TURLLabel::leaveEvent(QEvent* e) {
  SetFontColor(colorOnExit_);
  // The underline goes whatever LinkUnderline says; the other font styles stay.
  if (font().underline()) {
    QFont f = font();
    f.setUnderline(false);
    setFont(f);
  }
  SetBorderStyle(restingBorderStyle);
  QLabel::leaveEvent(e);
}

void TURLLabel::mousePressEvent(QMouseEvent* e) {
  QLabel::mousePressEvent(e);
  if (e->button() == Qt::LeftButton) {
    pressing_ = true;
    e->accept();
  }
}

void TURLLabel::mouseReleaseEvent(QMouseEvent* e) {
  const bool click =
      pressing_ && e->button() == Qt::LeftButton && rect().contains(e->position().toPoint());
  if (e->button() == Qt::LeftButton) pressing_ = false;
  QLabel::mouseReleaseEvent(e);
  if (click) emit OnClick();
}

}  // namespace vorn
