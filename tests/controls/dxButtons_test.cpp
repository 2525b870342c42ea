// The styled button: its painted face in every state, and mouse and keyboard clicks.
#include "dxButtons.h"

#include <gtest/gtest.h>

#include <QDialog>
#include <QLineEdit>
#include <QTest>

#include "StyledTestKit.h"
#include "dxCheckCtrls.h"
#include "dxCoreUtils.h"

namespace vorn {
using namespace vorn::test;

namespace {

const QColor kParent(0xA6, 0xCA, 0xF0);

struct Window {
  QWidget window;
  TdxButton* button;
  int clicks = 0;
  Window() {
    window.resize(300, 120);
    QPalette pal = window.palette();
    pal.setColor(QPalette::Window, kParent);
    window.setPalette(pal);
    button = new TdxButton(&window);
    button->setObjectName(QStringLiteral("dxButton1"));
    button->SetCaption(QStringLiteral("Search"));
    button->move(10, 10);
    QObject::connect(button, &TdxCustomControl::OnClick, &window, [this] { ++clicks; });
  }
  void Show() {
    window.show();
    window.activateWindow();
    EXPECT_TRUE(QTest::qWaitForWindowActive(&window));
  }
};

QImage Gradient(int w, int h, QColor a, QColor b) { return MakeGradient(w, h, a, b, 64, true); }

TEST(Button, RestingFaceBorderAndCorners) {
  Window t;
  EXPECT_EQ(t.button->size(), QSize(73, 21));
  const QImage img = Grab(t.button);
  const int w = 73, h = 21;
  // Parent colour outside the rounded corners, the border and its corner pixels.
  for (QPoint p : {QPoint(0, 0), QPoint(w - 1, 0), QPoint(0, h - 1), QPoint(w - 1, h - 1)})
    EXPECT_EQ(At(img, p.x(), p.y()), kParent) << p.x() << "," << p.y();
  for (QPoint p : {QPoint(2, 0), QPoint(w - 3, 0), QPoint(0, 2), QPoint(0, h - 3), QPoint(1, 1),
                   QPoint(w - 2, h - 2), QPoint(w - 1, 10), QPoint(30, h - 1)})
    EXPECT_EQ(At(img, p.x(), p.y()), kBorder) << p.x() << "," << p.y();
  for (QPoint p : {QPoint(0, 1), QPoint(1, 0), QPoint(w - 2, 0), QPoint(w - 1, 1), QPoint(0, h - 2),
                   QPoint(1, h - 1), QPoint(w - 2, h - 1), QPoint(w - 1, h - 2)})
    EXPECT_EQ(At(img, p.x(), p.y()), kSoftening) << p.x() << "," << p.y();
  // The face gradient fills the inside of the border (checked left of the caption).
  const QImage face = Gradient(w - 2, h - 2, kFaceTop, kFaceBottom);
  for (int y = 1; y < h - 1; ++y)
    for (int x = 2; x < 8; ++x)
      ASSERT_EQ(img.pixel(x, y), face.pixel(x - 1, y - 1)) << x << "," << y;
  EXPECT_EQ(At(img, 2, 1), kFaceTop);
  // Without corner softening those pixels keep the parent colour.
  t.button->SetSmoothEdges(false);
  EXPECT_EQ(At(Grab(t.button), 0, 1), kParent);
}

TEST(Button, HotFocusAndPressedRings) {
  Window t;
  t.Show();
  t.button->clearFocus();
  const int w = 73, h = 21;
  const QImage face = Gradient(w - 2, h - 2, kFaceTop, kFaceBottom);
  const QImage hot = Gradient(w - 2, h - 2, kHotTop, kHotBottom);
  const QImage focus = Gradient(w - 2, h - 2, kFocusTop, kFocusBottom);
  const QImage pressed = Gradient(w - 2, h - 2, kPressedTop, kPressedBottom);

  SendEnter(t.button);
  ASSERT_TRUE(t.button->IsHot());
  QImage img = Grab(t.button);
  // Two pixels of ring inside the border, then the face, clipped, from (3, 3).
  for (int y = 3; y < h - 3; ++y) {
    EXPECT_EQ(img.pixel(1, y), hot.pixel(0, y - 1));
    EXPECT_EQ(img.pixel(2, y), hot.pixel(1, y - 1));
    EXPECT_EQ(img.pixel(3, y), face.pixel(0, y - 3));
  }
  SendLeave(t.button);
  EXPECT_EQ(Grab(t.button).pixel(2, 5), face.pixel(1, 4));

  t.button->setFocus();
  ASSERT_TRUE(t.button->IsFocused());
  img = Grab(t.button);
  EXPECT_EQ(img.pixel(2, 5), focus.pixel(1, 4));
  EXPECT_EQ(img.pixel(w - 3, h - 4), focus.pixel(w - 4, h - 5));
  // With ShowFocusRect, a dotted rectangle at (3, 3) inverts every other pixel of the face.
  t.button->SetShowFocusRect(true);
  const QImage dotted = Grab(t.button);
  const QRgb under = img.pixel(3, 3);
  EXPECT_EQ(dotted.pixel(3, 3), qRgb(255 - qRed(under), 255 - qGreen(under), 255 - qBlue(under)));
  EXPECT_EQ(dotted.pixel(4, 3), img.pixel(4, 3));
  t.button->SetShowFocusRect(false);

  // Pressed under the pointer: the pressed face over the whole inside.
  SendEnter(t.button);
  SendMouse(t.button, QEvent::MouseButtonPress, QPoint(5, 5));
  img = Grab(t.button);
  for (int y = 1; y < h - 1; ++y) EXPECT_EQ(img.pixel(2, y), pressed.pixel(1, y - 1));
  // Moved off while held: the focus ring and the unpressed face, and no click on release.
  SendMouse(t.button, QEvent::MouseMove, QPoint(w + 20, 5));
  EXPECT_FALSE(t.button->IsHot());
  img = Grab(t.button);
  EXPECT_EQ(img.pixel(2, 5), focus.pixel(1, 4));
  EXPECT_EQ(img.pixel(3, 5), face.pixel(0, 2));
  SendMouse(t.button, QEvent::MouseMove, QPoint(5, 5));
  EXPECT_TRUE(t.button->IsHot());
  EXPECT_EQ(Grab(t.button).pixel(2, 5), pressed.pixel(1, 4));
  SendMouse(t.button, QEvent::MouseMove, QPoint(-3, 5));
  SendMouse(t.button, QEvent::MouseButtonRelease, QPoint(-3, 5));
  EXPECT_EQ(t.clicks, 0);
  EXPECT_FALSE(t.button->IsPressed());
}

TEST(Button, CaptionMovesWhenHotAndPressedAndLongCaptionsAreCut) {
  ButtonLook look;
  look.size = QSize(73, 21);
  look.caption = QStringLiteral("Search");
  look.font.setPixelSize(11);
  look.color = kParent;
  look.fontColor = Qt::black;
  const ButtonImages images = MakeButtonImages(look.size, false);
  ButtonLook bare = look;
  bare.caption.clear();
  const QRect resting = DiffBox(PaintButton(look, images), PaintButton(bare, images));
  ASSERT_FALSE(resting.isEmpty());
  look.hot = bare.hot = look.pressed = bare.pressed = true;
  const QRect down = DiffBox(PaintButton(look, images), PaintButton(bare, images));
  EXPECT_EQ(down, resting.translated(1, 1));
  // Centred: as much room on the left as on the right, within a pixel.
  EXPECT_LE(std::abs(resting.left() - (72 - resting.right())), 2);

  look.hot = bare.hot = look.pressed = bare.pressed = false;
  look.caption = QStringLiteral("Averyveryverylongcaptionwithoutanybreak");
  const QRect cut = DiffBox(PaintButton(look, images), PaintButton(bare, images));
  EXPECT_GE(cut.left(), 0);
  EXPECT_LE(cut.right(), 72);
  const QStringList lines = LayoutCaption(look.font, look.caption, 73, 21, {});
  ASSERT_EQ(lines.size(), 1);
  EXPECT_TRUE(lines[0].endsWith(QChar(0x2026)) || lines[0].endsWith(QStringLiteral("...")));
}

TEST(Button, DisabledIsGreyEngravedAndNeverHot) {
  Window t;
  // Distinct colours, and crisp text so whole pixels take them.
  QPalette pal = t.button->palette();
  pal.setColor(QPalette::Light, QColor(0xFF, 0x00, 0xFF));
  pal.setColor(QPalette::Dark, QColor(0x00, 0xC0, 0x00));
  pal.setColor(QPalette::WindowText, QColor(0xC0, 0x00, 0x00));
  t.button->setPalette(pal);
  QFont font = t.button->font();
  font.setStyleStrategy(QFont::NoAntialias);
  t.button->setFont(font);
  t.button->setEnabled(false);
  SendEnter(t.button);
  EXPECT_FALSE(t.button->Highlight());
  const QImage img = Grab(t.button);
  const QColor grey(0xCE, 0xC7, 0xBD);
  EXPECT_EQ(At(img, 10, 0), grey);
  EXPECT_EQ(At(img, 0, 10), grey);
  EXPECT_EQ(At(img, 0, 1), grey);
  const QImage face = Gradient(71, 19, kFaceTop, kFaceBottom);
  EXPECT_EQ(img.pixel(2, 5), face.pixel(1, 4));
  // The caption in the light colour one pixel right and down, the shadow colour in place.
  const QColor light = t.button->palette().color(QPalette::Light);
  const QColor shadow = t.button->palette().color(QPalette::Dark);
  const QRect lightBox = ColourBox(img, light), shadowBox = ColourBox(img, shadow);
  ASSERT_FALSE(shadowBox.isEmpty());
  ASSERT_FALSE(lightBox.isEmpty());
  EXPECT_EQ(lightBox.bottomRight(), shadowBox.bottomRight() + QPoint(1, 1));
  EXPECT_TRUE(ColourBox(img, t.button->palette().color(QPalette::WindowText)).isEmpty());
  // Clicking a disabled button does nothing.
  ClickOn(t.button);
  EXPECT_EQ(t.clicks, 0);
}

TEST(Button, MouseSpaceAndDoubleClicks) {
  Window t;
  t.Show();
  ClickOn(t.button);
  EXPECT_EQ(t.clicks, 1);
  EXPECT_TRUE(t.button->hasFocus());
  // A double click is two clicks.
  SendMouse(t.button, QEvent::MouseButtonPress, Middle(t.button));
  SendMouse(t.button, QEvent::MouseButtonRelease, Middle(t.button));
  SendMouse(t.button, QEvent::MouseButtonDblClick, Middle(t.button));
  SendMouse(t.button, QEvent::MouseButtonRelease, Middle(t.button));
  EXPECT_EQ(t.clicks, 3);
  // The right button does not click.
  SendMouse(t.button, QEvent::MouseButtonPress, Middle(t.button), Qt::RightButton);
  SendMouse(t.button, QEvent::MouseButtonRelease, Middle(t.button), Qt::RightButton);
  EXPECT_EQ(t.clicks, 3);

  QTest::keyPress(t.button, Qt::Key_Space);
  EXPECT_TRUE(t.button->IsPressed());
  EXPECT_TRUE(t.button->IsHot());
  EXPECT_EQ(t.clicks, 3);
  QTest::keyRelease(t.button, Qt::Key_Space);
  EXPECT_EQ(t.clicks, 4);
  EXPECT_FALSE(t.button->IsPressed());
  // Shift+Space does not press.
  QTest::keyClick(t.button, Qt::Key_Space, Qt::ShiftModifier);
  EXPECT_EQ(t.clicks, 4);
  QTest::keyClick(t.button, Qt::Key_Return);
  EXPECT_EQ(t.clicks, 5);
}

TEST(Button, DefaultAndCancelKeys) {
  Window t;
  auto* edit = new QLineEdit(&t.window);
  edit->move(10, 60);
  auto* other = new TdxButton(&t.window);
  other->move(100, 10);
  int otherClicks = 0;
  QObject::connect(other, &TdxCustomControl::OnClick, &t.window, [&] { ++otherClicks; });
  t.button->SetDefault(true);
  other->SetCancel(true);
  t.Show();
  edit->setFocus();
  ASSERT_TRUE(edit->hasFocus());
  // With no styled control focused, the Default button shows its ring and takes Enter.
  EXPECT_TRUE(t.button->Highlight());
  QTest::keyClick(edit, Qt::Key_Return);
  EXPECT_EQ(t.clicks, 1);
  QTest::keyClick(edit, Qt::Key_Escape);
  EXPECT_EQ(otherClicks, 1);
  QTest::keyClick(edit, Qt::Key_Escape, Qt::ControlModifier);
  EXPECT_EQ(otherClicks, 1);
  // A focused styled button takes Enter itself; the Default one loses its ring.
  other->setFocus();
  EXPECT_FALSE(t.button->Highlight());
  QTest::keyClick(other, Qt::Key_Return);
  EXPECT_EQ(otherClicks, 2);
  EXPECT_EQ(t.clicks, 1);
  // A hidden Default button cannot take the focus, so Enter does nothing.
  edit->setFocus();
  t.button->hide();
  QTest::keyClick(edit, Qt::Key_Return);
  EXPECT_EQ(t.clicks, 1);
}

TEST(Button, AcceleratorsClick) {
  Window t;
  t.button->SetCaption(QStringLiteral("&Go"));
  auto* edit = new QLineEdit(&t.window);
  edit->move(10, 60);
  t.Show();
  edit->setFocus();
  QTest::keyClick(edit, Qt::Key_G, Qt::AltModifier);
  EXPECT_EQ(t.clicks, 1);
  QTest::keyClick(edit, Qt::Key_G);  // typed into the field, not a click
  EXPECT_EQ(t.clicks, 1);
  t.button->setFocus();
  QTest::keyClick(t.button, Qt::Key_G);
  EXPECT_EQ(t.clicks, 2);
  t.button->SetShowAccelChar(false);
  QTest::keyClick(edit, Qt::Key_G, Qt::AltModifier);
  QTest::keyClick(t.button, Qt::Key_G);
  EXPECT_EQ(t.clicks, 2);
}

TEST(Button, ModalResultClosesTheDialogAfterTheHandler) {
  QDialog dialog;
  auto* button = new TdxButton(&dialog);
  button->SetModalResult(QDialog::Accepted + 5);
  bool visibleInHandler = false;
  QObject::connect(button, &TdxCustomControl::OnClick, &dialog,
                   [&] { visibleInHandler = dialog.isVisible(); });
  dialog.open();
  ClickOn(button);
  EXPECT_TRUE(visibleInHandler);
  EXPECT_FALSE(dialog.isVisible());
  EXPECT_EQ(dialog.result(), QDialog::Accepted + 5);
}

TEST(Button, ResizedWhileHighlightedLeavesNoGapWhenTheRingGoes) {
  Window t;
  t.button->SetDefault(true);
  t.Show();
  t.button->resize(90, 25);  // built while the Default ring shows: the face is the ring's inside
  Grab(t.button);
  t.button->setFocus();
  SendLeave(t.button);
  // Focused and not hot: the focus ring. Now let another styled control take the focus.
  auto* other = new TdxButton(&t.window);
  other->move(150, 10);
  other->show();
  other->setFocus();
  ASSERT_FALSE(t.button->Highlight());
  const QImage img = Grab(t.button);
  for (int x = 1; x < 89; ++x) EXPECT_NE(At(img, x, 22), kParent) << x;
  for (int y = 1; y < 24; ++y) EXPECT_NE(At(img, 88, y), kParent) << y;
}

}  // namespace

namespace {

TEST(Button, TinyAndEmptySizesPaintWithoutFault) {
  TdxButton button;
  TdxCheckbox box;
  button.SetCaption(QStringLiteral("Look for update"));
  box.SetCaption(QStringLiteral("Whole Word"));
  for (QSize s : {QSize(0, 0), QSize(1, 1), QSize(3, 2), QSize(6, 6), QSize(7, 7), QSize(81, 13)}) {
    button.resize(s);
    box.resize(s);
    SendEnter(&button);
    EXPECT_EQ(button.Face().size(), s.isEmpty() ? QSize(0, 0) : s);
    EXPECT_EQ(box.Face().size(), s.isEmpty() ? QSize(0, 0) : s);
    SendLeave(&button);
    button.SetDefault(!button.Default());
    EXPECT_EQ(button.Face().size(), s.isEmpty() ? QSize(0, 0) : s);
  }
}

}  // namespace
}  // namespace vorn
