// The styled push button: a flat face in a rounded border with gradient rings for hover and focus.
#pragma once

#include <QColor>
#include <QFont>
#include <QImage>
#include <QPixmap>
#include <QPointer>
#include <QSize>
#include <QString>

#include "dxCore.h"

namespace vorn {

// Where a glyph sits beside the caption (stored only; the program's buttons have no glyph).
enum TdxButtonLayout { blGlyphLeft, blGlyphRight, blGlyphTop, blGlyphBottom };

// The button's colours.
inline const QColor kFaceTop{0xFF, 0xFF, 0xFF}, kFaceBottom{0xEF, 0xEB, 0xE7};
inline const QColor kPressedTop{0xD6, 0xCF, 0xC6}, kPressedBottom{0xF7, 0xF3, 0xEB};
inline const QColor kFocusTop{0xCE, 0xE7, 0xFF}, kFocusBottom{0x6D, 0x84, 0xEF};
inline const QColor kHotTop{0xFF, 0xF3, 0xCE}, kHotBottom{0xE7, 0x96, 0x00};
inline const QColor kBorder{0x00, 0x38, 0x73}, kBorderDisabled{0xCE, 0xC7, 0xBD};
inline const QColor kSoftening{0x7B, 0x9E, 0xAD}, kSofteningDisabled{0xCE, 0xC7, 0xBD};
constexpr int kButtonBands = 64;

// The four gradient images of a button of the given size. The face fills the inside of the border
// (W - 2 x H - 2), or the inside of the ring (W - 6 x H - 6) when the highlight is on.
struct ButtonImages {
  QImage face, pressed, focusRing, hotRing;
};
ButtonImages MakeButtonImages(QSize size, bool highlight, qreal ratio = 1);

// Whether the coloured ring shows: while pressed, when the pointer has left the button; otherwise
// when hot or focused, or for a Default button that can take the focus while no styled control
// has it. A disabled button shows no ring.
bool ButtonHighlight(bool enabled, bool hot, bool pressed, bool focused, bool isDefault,
                     bool canFocus, bool siblingFocused);

// Everything the face of a button depends on.
struct ButtonLook : StyledLook {
  bool highlight = false;
  bool smoothEdges = true, showFocusRect = false, wordWrap = true, showAccelChar = true;
};

// The button as it is painted. The face image is used as built; one smaller than the inside of
// the border is not drawn there (the caller rebuilds it), so no strip of the background shows.
QImage PaintButton(const ButtonLook& look, const ButtonImages& images);

// The rounded border (corner ellipse 5 x 5) on the outline of an image of logical size w x h.
void DrawRoundBorder(QImage& image, QColor color);
// The eight pixels beside the rounded corners that soften them.
void DrawCornerSoftening(QImage& image, QColor color);

class TdxCustomButton : public TdxCustomStyleControl {
  Q_OBJECT
  Q_PROPERTY(bool Default READ Default WRITE SetDefault)
  Q_PROPERTY(bool Cancel READ Cancel WRITE SetCancel)
 public:
  explicit TdxCustomButton(QWidget* parent = nullptr);
  ~TdxCustomButton() override;

  bool AutoGray() const { return autoGray_; }
  void SetAutoGray(bool v);
  bool Cancel() const { return cancel_; }
  void SetCancel(bool v);
  bool Default() const { return default_; }
  void SetDefault(bool v);
  QPixmap Glyph() const { return glyph_; }
  void SetGlyph(const QPixmap& glyph);
  TdxButtonLayout Layout() const { return layout_; }
  void SetLayout(TdxButtonLayout layout);
  bool ShowAccelChar() const { return showAccelChar_; }
  void SetShowAccelChar(bool v);
  bool ShowFocusRect() const { return showFocusRect_; }
  void SetShowFocusRect(bool v);
  bool SmoothEdges() const { return smoothEdges_; }
  void SetSmoothEdges(bool v);
  quint8 Spacing() const { return spacing_; }
  void SetSpacing(quint8 v);
  bool WordWrap() const { return wordWrap_; }
  void SetWordWrap(bool v);

  // The highlight rule for the current state.
  bool Highlight() const;
  // The look of the current state, and the face as it is painted now.
  ButtonLook Look() const;
  QImage Face();
  const ButtonImages& Images() const { return images_; }

 protected:
  bool AcceleratorsShown() const override { return showAccelChar_; }
  bool event(QEvent* e) override;
  bool eventFilter(QObject* watched, QEvent* e) override;
  void paintEvent(QPaintEvent* e) override;
  void resizeEvent(QResizeEvent* e) override;
  void keyPressEvent(QKeyEvent* e) override;
  void keyReleaseEvent(QKeyEvent* e) override;
  void focusOutEvent(QFocusEvent* e) override;

 private:
  void BuildImages();
  void WatchWindow();

  bool autoGray_ = true;
  bool cancel_ = false;
  bool default_ = false;
  QPixmap glyph_;
  TdxButtonLayout layout_ = blGlyphLeft;
  bool showAccelChar_ = true;
  bool showFocusRect_ = false;
  bool smoothEdges_ = true;
  quint8 spacing_ = 3;
  bool wordWrap_ = true;
  bool spaceDown_ = false;
  ButtonImages images_;
  QSize builtFor_;
  qreal builtRatio_ = 1;
  QPointer<QWidget> watchedWindow_;
};

class TdxButton : public TdxCustomButton {
  Q_OBJECT
 public:
  explicit TdxButton(QWidget* parent = nullptr) : TdxCustomButton(parent) {}
};

}  // namespace vorn
