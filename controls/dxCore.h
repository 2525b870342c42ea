// Base classes of the styled controls: the custom-drawn control with its draw state, the
// style a control carries, and the style manager that can switch the look of linked controls.
#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QWidget>
#include <vector>

#include "dxCoreUtils.h"

namespace vorn {

// The two looks of the styled controls.
enum TdxTheme { WindowsXP, OfficeXP };

// A non-visual component of the styled-control family.
class TdxCustomComponent : public QObject {
  Q_OBJECT
 public:
  explicit TdxCustomComponent(QObject* parent = nullptr);
  // The family's banner and version, read-only.
  static QString Version();
};

// The custom-drawn windowed control all styled controls derive from. It keeps the draw state
// (hot, pressed, focused), turns a left-button press and release over it into a click, and
// knows whether the focused control of its window belongs to the family.
class TdxCustomControl : public QWidget {
  Q_OBJECT
  Q_PROPERTY(QString Caption READ Caption WRITE SetCaption)
  Q_PROPERTY(qint32 ModalResult READ ModalResult WRITE SetModalResult)
  Q_PROPERTY(bool TabStop READ TabStop WRITE SetTabStop)
 public:
  explicit TdxCustomControl(QWidget* parent = nullptr);
  ~TdxCustomControl() override;

  static QString Version();

  QString Caption() const { return caption_; }
  void SetCaption(const QString& caption);
  qint32 ModalResult() const { return modalResult_; }
  void SetModalResult(qint32 result) { modalResult_ = result; }
  bool TabStop() const { return tabStop_; }
  void SetTabStop(bool tabStop);

  // Draw state.
  bool IsHot() const { return hot_; }
  bool IsPressed() const { return pressed_; }
  bool IsFocused() const { return focused_; }
  bool IsClicking() const { return clicking_; }
  // True when the focused control of the window is one of the styled controls.
  bool SiblingFocused() const { return siblingFocused_; }
  void RefreshSiblingFocus();

  // While locked, property changes do not repaint; the last EndUpdate repaints once.
  void BeginUpdate() { ++lockCount_; }
  void EndUpdate();
  bool IsLocked() const { return lockCount_ > 0; }

  // The background colour: the control's own, or its parent's when it has none.
  QColor Color() const;
  // Visible and enabled, so the control could take the focus.
  bool CanFocus() const;

  // Sets the window's modal result to ModalResult, then fires OnClick.
  virtual void Click();

  // Asks every styled control of the window to refresh its sibling-focused flag.
  static void RefreshFocusFlags(QWidget* window);

  // Repaints unless locked.
  void Invalidate();

 signals:
  void OnClick();
  void OnMouseEnter();
  void OnMouseLeave();

 protected:
  // Sets the hot flag and repaints; fires OnMouseEnter or OnMouseLeave when notify is set.
  void SetHot(bool hot, bool notify = true);
  void SetPressed(bool pressed);
  // Whether a left-button press takes the focus.
  virtual bool TakesFocusOnPress() const { return true; }
  // Whether '&' in the caption marks an accelerator.
  virtual bool AcceleratorsShown() const { return true; }

  bool event(QEvent* e) override;
  void enterEvent(QEnterEvent* e) override;
  void leaveEvent(QEvent* e) override;
  void mousePressEvent(QMouseEvent* e) override;
  void mouseMoveEvent(QMouseEvent* e) override;
  void mouseReleaseEvent(QMouseEvent* e) override;
  void keyPressEvent(QKeyEvent* e) override;
  void focusInEvent(QFocusEvent* e) override;
  void focusOutEvent(QFocusEvent* e) override;
  void changeEvent(QEvent* e) override;

 protected:
  // Registers Alt and the caption's accelerator as the control's shortcut.
  void GrabAccelerator();

 private:
  QString caption_;
  qint32 modalResult_ = 0;
  bool tabStop_ = true;
  bool hot_ = false;
  bool pressed_ = false;
  bool focused_ = false;
  bool clicking_ = false;
  bool siblingFocused_ = false;
  int lockCount_ = 0;
  int acceleratorId_ = 0;
};

class TdxCustomStyleControl;

// The style manager: one theme for every control linked to it.
class TdxStyleManager : public TdxCustomComponent {
  Q_OBJECT
 public:
  explicit TdxStyleManager(QObject* parent = nullptr);
  // Unlinks its controls, which repaint in their own theme.
  ~TdxStyleManager() override;

  TdxTheme Theme() const { return theme_; }
  void SetTheme(TdxTheme theme);
  const std::vector<TdxCustomStyleControl*>& LinkedControls() const { return linked_; }

 signals:
  void OnThemeChanged();

 private:
  friend class TdxCustomStyleControl;
  void Link(TdxCustomStyleControl* control);
  void Unlink(TdxCustomStyleControl* control);

  TdxTheme theme_ = WindowsXP;
  std::vector<TdxCustomStyleControl*> linked_;
};

// The style a control carries: its own theme and whether a linked manager's theme wins.
class TdxStyle {
 public:
  explicit TdxStyle(TdxCustomControl* owner) : owner_(owner) {}
  TdxTheme Theme() const { return theme_; }
  void SetTheme(TdxTheme theme);
  bool UseStyleManager() const { return useStyleManager_; }
  void SetUseStyleManager(bool use);

 private:
  void Changed();

  TdxCustomControl* owner_;
  TdxTheme theme_ = WindowsXP;
  bool useStyleManager_ = true;
};

// A styled control with a style and, optionally, a style manager.
class TdxCustomStyleControl : public TdxCustomControl {
  Q_OBJECT
 public:
  explicit TdxCustomStyleControl(QWidget* parent = nullptr);
  ~TdxCustomStyleControl() override;

  TdxStyle& Style() { return style_; }
  const TdxStyle& Style() const { return style_; }
  TdxStyleManager* StyleManager() const { return manager_; }
  void SetStyleManager(TdxStyleManager* manager);
  // The manager's theme when the style uses a linked manager, else the style's own.
  TdxTheme EffectiveTheme() const;

 protected:
  // The parts of the look every styled control shares: state, caption, font and colours.
  void FillLook(StyledLook& look) const;

 private:
  friend class TdxStyleManager;
  friend class TdxStyle;
  TdxStyle style_;
  TdxStyleManager* manager_ = nullptr;
};

}  // namespace vorn
