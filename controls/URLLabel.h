// A static text that behaves like a hyperlink: blue at rest, red under the pointer, optionally
// underlined and framed. A click only fires OnClick; the window decides what it opens.
#pragma once

#include <QColor>
#include <QLabel>
#include <QString>

namespace vorn {

// The border styles of a static text.
enum TStaticBorderStyle { sbsNone, sbsSingle, sbsSunken };

class TURLLabel : public QLabel {
  Q_OBJECT
 public:
  explicit TURLLabel(QWidget* parent = nullptr);

  QString Caption() const { return text(); }
  void SetCaption(const QString& caption) { setText(caption); }

  QColor ColorOnenter() const { return colorOnEnter_; }
  // Takes effect the next time the pointer enters.
  void SetColorOnenter(const QColor& color) { colorOnEnter_ = color; }
  QColor ColorOnExit() const { return colorOnExit_; }
  // Recolours the label at once, even under the pointer.
  void SetColorOnExit(const QColor& color);
  QString URL() const { return url_; }
  // Also sets the hint (tool tip); a later hint does not change URL.
  void SetURL(const QString& url);
  bool LinkUnderline() const { return linkUnderline_; }
  void SetLinkUnderline(bool underline) { linkUnderline_ = underline; }
  bool LinkBorderstyle() const { return linkBorderstyle_; }
  // Also saves the label's current border style as the one all link labels return to.
  void SetLinkBorderstyle(bool border);

  TStaticBorderStyle BorderStyle() const { return borderStyle_; }
  void SetBorderStyle(TStaticBorderStyle style);
  QColor FontColor() const;
  void SetFontColor(const QColor& color);

  // The border style every link label returns to when the pointer leaves it: one value for the
  // whole program, taken from whichever label last had LinkBorderstyle assigned.
  static TStaticBorderStyle RestingBorderStyle();
  static void SetRestingBorderStyle(TStaticBorderStyle style);

 signals:
  void OnClick();

 protected:
  void enterEvent(QEnterEvent* e) override;
  void leaveEvent(QEvent* e) override;
  void mousePressEvent(QMouseEvent* e) override;
  void mouseReleaseEvent(QMouseEvent* e) override;

 private:
  QColor colorOnEnter_;
  QColor colorOnExit_;
  QString url_;
  bool linkUnderline_ = false;
  bool linkBorderstyle_ = false;
  TStaticBorderStyle borderStyle_ = sbsNone;
  bool pressing_ = false;
};

}  // namespace vorn
