// The styled check box: a 13 x 13 box with gradient faces and a 7 x 7 check mark.
#pragma once

#include <QColor>
#include <QFont>
#include <QImage>
#include <QString>

#include "dxCore.h"
#include "dxCoreUtils.h"

namespace vorn {

inline const QColor kBoxOutline{0x18, 0x51, 0x84}, kBoxOutlineOfficeHot{0x00, 0x33, 0x66};
inline const QColor kCheckBoundXP{0x00, 0x38, 0x73}, kCheckBoundOffice{0xFF, 0xFB, 0xF7};
inline const QColor kOfficeHotFill{0xB5, 0xBE, 0xD6}, kOfficePressedFill{0x99, 0x99, 0xCC};
inline const QColor kCheckMarkXP{0x21, 0xA6, 0x21};
constexpr int kBoxSize = 13;
constexpr int kCheckBands = 16;

// The three box images, 11 x 11: face (no dithering), pressed and hot (dithered).
struct CheckImages {
  QImage face, pressed, hot;
};
CheckImages MakeCheckImages(qreal ratio = 1);

// The 7 x 7 check mark from the resources: marked pixels opaque, the others transparent.
QImage CheckMark();

// Everything the look of a check box depends on.
struct CheckLook : StyledLook {
  bool checked = false;
  TdxTheme theme = WindowsXP;
  TdxBoundLines boundLines;
  int spacing = 3;
};

QImage PaintCheckbox(const CheckLook& look, const CheckImages& images);

class TdxCustomCheckControl : public TdxCustomStyleControl {
  Q_OBJECT
  Q_PROPERTY(bool Checked READ Checked WRITE SetChecked)
 public:
  explicit TdxCustomCheckControl(QWidget* parent = nullptr);

  bool Checked() const { return checked_; }
  void SetChecked(bool checked);
  TdxBoundLines BoundLines() const { return boundLines_; }
  void SetBoundLines(TdxBoundLines lines);
  quint8 Spacing() const { return spacing_; }
  void SetSpacing(quint8 spacing);

  // Inverts Checked, then clicks, so OnClick sees the new value.
  void Click() override;

  CheckLook Look() const;
  QImage Face() const;

 protected:
  void paintEvent(QPaintEvent* e) override;

 private:
  bool checked_ = false;
  TdxBoundLines boundLines_;
  quint8 spacing_ = 3;
  // Built at the first paint, and again only for another device pixel ratio (0: not yet built).
  mutable CheckImages images_;
  mutable qreal imagesRatio_ = 0;
};

class TdxCheckbox : public TdxCustomCheckControl {
  Q_OBJECT
 public:
  explicit TdxCheckbox(QWidget* parent = nullptr) : TdxCustomCheckControl(parent) {}
};

}  // namespace vorn
