#include "dxCore.h"

#include <QApplication>
#include <QDialog>
#include <QEnterEvent>
#include <QKeyEvent>
#include <QKeySequence>
#include <QMouseEvent>
#include <QShortcutEvent>
#include <algorithm>

#include "dxCoreUtils.h"

namespace vorn {

namespace {
const QString& Banner() {
  static const QString banner = QStringLiteral("Tessaly styled controls, version ");
  return banner;
}
}  // namespace

TdxCustomComponent::TdxCustomComponent(QObject* parent) : QObject(parent) {}

QString TdxCustomComponent::Version() { return Banner() + QStringLiteral("2.0.1"); }

// ---------------------------------------------------------------------------------------------

TdxCustomControl::TdxCustomControl(QWidget* parent) : QWidget(parent) {
  // Painted completely by the control itself; Qt's backing store double-buffers it.
  setAttribute(Qt::WA_OpaquePaintEvent);
  setFocusPolicy(Qt::StrongFocus);
  if (auto* app = qobject_cast<QApplication*>(QCoreApplication::instance())) {
    connect(app, &QApplication::focusChanged, this, [this](QWidget* before, QWidget* now) {
      const QWidget* mine = window();
      if ((before && before->window() == mine) || (now && now->window() == mine))
        RefreshSiblingFocus();
    });
  }
}

TdxCustomControl::~TdxCustomControl() = default;

QString TdxCustomControl::Version() { return TdxCustomComponent::Version(); }

void TdxCustomControl::SetCaption(const QString& caption) {
  if (caption == caption_) return;
  caption_ = caption;
  GrabAccelerator();
  Invalidate();
}

void TdxCustomControl::SetTabStop(bool tabStop) {
  if (tabStop == tabStop_) return;
  tabStop_ = tabStop;
  // A control that is not a tab stop still takes the focus when clicked.
  if (focusPolicy() != Qt::NoFocus) setFocusPolicy(tabStop ? Qt::StrongFocus : Qt::ClickFocus);
}

void TdxCustomControl::RefreshSiblingFocus() {
  const QWidget* focus = window()->focusWidget();
  const bool sibling = qobject_cast<const TdxCustomControl*>(focus) != nullptr;
  siblingFocused_ = sibling;
  // A focus change anywhere in the window repaints: a Default button's ring depends on it.
  Invalidate();
}

void TdxCustomControl::RefreshFocusFlags(QWidget* window) {
  if (!window) return;
  for (auto* control : window->findChildren<TdxCustomControl*>()) control->RefreshSiblingFocus();
}

void TdxCustomControl::EndUpdate() {
  if (lockCount_ == 0) return;
  if (--lockCount_ == 0) update();
}

void TdxCustomControl::Invalidate() {
  if (!IsLocked()) update();
}

QColor TdxCustomControl::Color() const { return palette().color(QPalette::Window); }

bool TdxCustomControl::CanFocus() const { return isVisible() && isEnabled(); }

void TdxCustomControl::Click() {
  QPointer<QDialog> dialog = qobject_cast<QDialog*>(window());
  const qint32 result = modalResult_;
  if (dialog) dialog->setResult(result);
  emit OnClick();
  // A modal window closes with a non-zero result once the handler has run.
  if (dialog && result != 0 && dialog->isModal() && dialog->isVisible()) dialog->done(result);
}

void TdxCustomControl::SetHot(bool hot, bool notify) {
  if (hot == hot_) return;
  hot_ = hot;
  Invalidate();
  if (!notify) return;
  if (hot)
    emit OnMouseEnter();
  else
    emit OnMouseLeave();
}

void TdxCustomControl::SetPressed(bool pressed) {
  if (Change(pressed_, pressed)) Invalidate();
}

void TdxCustomControl::GrabAccelerator() {
  if (acceleratorId_ != 0) releaseShortcut(acceleratorId_);
  acceleratorId_ = 0;
  if (!AcceleratorsShown() || AcceleratorOf(caption_).isNull()) return;
  acceleratorId_ = grabShortcut(QKeySequence::mnemonic(caption_));
}

bool TdxCustomControl::event(QEvent* e) {
  if (e->type() == QEvent::Shortcut) {
    auto* se = static_cast<QShortcutEvent*>(e);
    if (acceleratorId_ != 0 && se->shortcutId() == acceleratorId_) {
      // Alt and the accelerator: clicks whether focused or not.
      if (CanFocus()) Click();
      return true;
    }
  }
  return QWidget::event(e);
}

void TdxCustomControl::enterEvent(QEnterEvent* e) {
  if (isEnabled()) SetHot(true);
  QWidget::enterEvent(e);
}

void TdxCustomControl::leaveEvent(QEvent* e) {
  SetHot(false);
  QWidget::leaveEvent(e);
}

void TdxCustomControl::mousePressEvent(QMouseEvent* e) {
  if (e->button() != Qt::LeftButton) {
    QWidget::mousePressEvent(e);
    return;
  }
  if (TakesFocusOnPress() && !hasFocus() && CanFocus() && focusPolicy() != Qt::NoFocus)
    setFocus(Qt::MouseFocusReason);
  clicking_ = true;
  SetPressed(true);
  Invalidate();
}

void TdxCustomControl::mouseMoveEvent(QMouseEvent* e) {
  // While the button is held the pointer is grabbed, so the crossing of the edge is seen here.
  if (clicking_) SetHot(rect().contains(e->position().toPoint()));
  QWidget::mouseMoveEvent(e);
}

void TdxCustomControl::mouseReleaseEvent(QMouseEvent* e) {
  if (e->button() != Qt::LeftButton || !clicking_) {
    QWidget::mouseReleaseEvent(e);
    return;
  }
  clicking_ = false;
  const bool over = rect().contains(e->position().toPoint());
  SetPressed(false);
  Invalidate();
  if (over) Click();
}

void TdxCustomControl::keyPressEvent(QKeyEvent* e) {
  // The accelerator typed alone clicks the focused control.
  const QChar accel = AcceleratorsShown() ? AcceleratorOf(caption_) : QChar();
  const auto mods = e->modifiers() & ~(Qt::ShiftModifier | Qt::KeypadModifier);
  if (!accel.isNull() && mods == Qt::NoModifier && e->text().size() == 1 &&
      e->text().at(0).toUpper() == accel && CanFocus()) {
    Click();
    e->accept();
    return;
  }
  QWidget::keyPressEvent(e);
}

void TdxCustomControl::focusInEvent(QFocusEvent* e) {
  focused_ = true;
  Invalidate();
  QWidget::focusInEvent(e);
}

void TdxCustomControl::focusOutEvent(QFocusEvent* e) {
  focused_ = false;
  pressed_ = false;
  Invalidate();
  QWidget::focusOutEvent(e);
}

void TdxCustomControl::changeEvent(QEvent* e) {
  switch (e->type()) {
    case QEvent::EnabledChange:
      if (!isEnabled()) {
        // A disabled control shows no hover or pressed state.
        hot_ = false;
        pressed_ = false;
        clicking_ = false;
      }
      Invalidate();
      break;
    case QEvent::PaletteChange:  // the parent's colour changed
    case QEvent::FontChange:
      Invalidate();
      break;
    default:
      break;
  }
  QWidget::changeEvent(e);
}

// ---------------------------------------------------------------------------------------------

TdxStyleManager::TdxStyleManager(QObject* parent) : TdxCustomComponent(parent) {}

TdxStyleManager::~TdxStyleManager() {
  const auto linked = linked_;
  for (auto* control : linked) control->SetStyleManager(nullptr);
}

void TdxStyleManager::SetTheme(TdxTheme theme) {
  if (theme == theme_) return;
  theme_ = theme;
  emit OnThemeChanged();
  for (auto* control : linked_) control->Invalidate();
}

void TdxStyleManager::Link(TdxCustomStyleControl* control) {
  if (std::find(linked_.begin(), linked_.end(), control) == linked_.end())
    linked_.push_back(control);
}

void TdxStyleManager::Unlink(TdxCustomStyleControl* control) {
  linked_.erase(std::remove(linked_.begin(), linked_.end(), control), linked_.end());
}

void TdxStyle::SetTheme(TdxTheme theme) {
  if (Change(theme_, theme)) Changed();
}

void TdxStyle::SetUseStyleManager(bool use) {
  if (Change(useStyleManager_, use)) Changed();
}

void TdxStyle::Changed() {
  if (owner_) owner_->Invalidate();
}

TdxCustomStyleControl::TdxCustomStyleControl(QWidget* parent)
    : TdxCustomControl(parent), style_(this) {}

TdxCustomStyleControl::~TdxCustomStyleControl() {
  if (manager_) manager_->Unlink(this);
}

void TdxCustomStyleControl::SetStyleManager(TdxStyleManager* manager) {
  if (manager == manager_) return;
  if (manager_) manager_->Unlink(this);
  manager_ = manager;
  if (manager_) manager_->Link(this);
  Invalidate();
}

TdxTheme TdxCustomStyleControl::EffectiveTheme() const {
  return style_.UseStyleManager() && manager_ ? manager_->Theme() : style_.Theme();
}

void TdxCustomStyleControl::FillLook(StyledLook& look) const {
  look.size = size();
  look.enabled = isEnabled();
  look.hot = IsHot();
  look.pressed = IsPressed();
  look.focused = IsFocused();
  look.caption = Caption();
  look.font = font();
  look.color = Color();
  look.fontColor = palette().color(QPalette::WindowText);
  look.light = palette().color(QPalette::Light);
  look.shadow = palette().color(QPalette::Dark);
  look.ratio = PaintRatio(devicePixelRatioF());
}

}  // namespace vorn
