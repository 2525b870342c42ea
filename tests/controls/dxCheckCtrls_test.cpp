// The styled check box: box images, the check mark, both themes, and what toggles it.
#include "dxCheckCtrls.h"

#include <gtest/gtest.h>

#include <QTest>

#include "StyledTestKit.h"
#include "dxButtons.h"

namespace vorn {
using namespace vorn::test;

namespace {

const QColor kParent(0xC0, 0xC0, 0xC0);
const char* const kMark[7] = {"......X", ".....XX", "X...XXX", "XX.XXX.",
                              "XXXXX..", ".XXX...", "..X...."};

CheckLook Look(bool hot, bool pressed, bool checked, TdxTheme theme) {
  CheckLook look;
  look.size = QSize(152, 17);
  look.hot = hot;
  look.pressed = pressed;
  look.checked = checked;
  look.theme = theme;
  look.color = kParent;
  look.fontColor = Qt::black;
  return look;
}

// Checks the 7 x 7 mark at (5, 5) of a 17-pixel-high box: marked pixels in colour, the others as
// in the unchecked picture.
void ExpectMark(const QImage& checked, const QImage& unchecked, QColor colour) {
  for (int y = 0; y < 7; ++y)
    for (int x = 0; x < 7; ++x) {
      const QRgb want = kMark[y][x] == 'X' ? colour.rgb() : unchecked.pixel(5 + x, 5 + y);
      EXPECT_EQ(checked.pixel(5 + x, 5 + y), want) << x << "," << y;
    }
}

TEST(Checkbox, BoxImagesAndWindowsXPLook) {
  const CheckImages images = MakeCheckImages();
  EXPECT_EQ(images.face, MakeGradient(11, 11, kFaceTop, kFaceBottom, 16, false));
  EXPECT_EQ(images.pressed.size(), QSize(11, 11));
  EXPECT_EQ(QColor(images.hot.pixel(0, 0)), kHotTop);
  EXPECT_EQ(CheckMark().size(), QSize(7, 7));

  const int top = 2;  // (17 - 13) / 2
  const QImage rest = PaintCheckbox(Look(false, false, false, WindowsXP), images);
  EXPECT_EQ(At(rest, 0, 8), kParent);
  for (int i = 0; i < 13; ++i) {
    EXPECT_EQ(At(rest, 2 + i, top), kBoxOutline);
    EXPECT_EQ(At(rest, 2 + i, top + 12), kBoxOutline);
    EXPECT_EQ(At(rest, 2, top + i), kBoxOutline);
    EXPECT_EQ(At(rest, 14, top + i), kBoxOutline);
  }
  for (int y = 0; y < 11; ++y)
    for (int x = 0; x < 11; ++x) ASSERT_EQ(rest.pixel(3 + x, top + 1 + y), images.face.pixel(x, y));

  // Hot: the orange ring, one pixel wide, around a 9 x 9 face.
  const QImage hot = PaintCheckbox(Look(true, false, false, WindowsXP), images);
  for (int i = 0; i < 11; ++i) {
    EXPECT_EQ(hot.pixel(3 + i, top + 1), images.hot.pixel(i, 0));
    EXPECT_EQ(hot.pixel(13, top + 1 + i), images.hot.pixel(10, i));
  }
  for (int y = 0; y < 9; ++y)
    for (int x = 0; x < 9; ++x) ASSERT_EQ(hot.pixel(4 + x, top + 2 + y), images.face.pixel(x, y));
  const QImage down = PaintCheckbox(Look(true, true, false, WindowsXP), images);
  for (int y = 0; y < 11; ++y) EXPECT_EQ(down.pixel(8, top + 1 + y), images.pressed.pixel(5, y));
  // Focused: a dotted rectangle around the whole control.
  CheckLook focused = Look(false, false, false, WindowsXP);
  focused.focused = true;
  const QImage dots = PaintCheckbox(focused, images);
  EXPECT_EQ(At(dots, 0, 0), QColor(255 - 0xC0, 255 - 0xC0, 255 - 0xC0));
  EXPECT_EQ(At(dots, 1, 0), kParent);
  EXPECT_EQ(At(dots, 151, 15), QColor(255 - 0xC0, 255 - 0xC0, 255 - 0xC0));
  // Pressed with the pointer outside: the plain face.
  EXPECT_EQ(PaintCheckbox(Look(false, true, false, WindowsXP), images), rest);

  ExpectMark(PaintCheckbox(Look(false, false, true, WindowsXP), images), rest, kCheckMarkXP);
  ExpectMark(PaintCheckbox(Look(true, true, true, WindowsXP), images), down, kCheckMarkXP);
}

TEST(Checkbox, OfficeXPLookAndBoundLines) {
  const CheckImages images = MakeCheckImages();
  const int top = 2;
  const QImage rest = PaintCheckbox(Look(false, false, false, OfficeXP), images);
  EXPECT_EQ(At(rest, 2, top), kBoxOutline);
  EXPECT_EQ(At(rest, 8, top + 6), kParent);  // the inside is not painted
  ExpectMark(PaintCheckbox(Look(false, false, true, OfficeXP), images), rest, Qt::black);

  const QImage hot = PaintCheckbox(Look(true, false, false, OfficeXP), images);
  EXPECT_EQ(At(hot, 2, top), kBoxOutlineOfficeHot);
  EXPECT_EQ(At(hot, 3, top + 1), kOfficeHotFill);
  EXPECT_EQ(At(hot, 13, top + 11), kOfficeHotFill);
  ExpectMark(PaintCheckbox(Look(true, false, true, OfficeXP), images), hot, Qt::black);
  const QImage down = PaintCheckbox(Look(true, true, false, OfficeXP), images);
  EXPECT_EQ(At(down, 8, top + 6), kOfficePressedFill);
  ExpectMark(PaintCheckbox(Look(true, true, true, OfficeXP), images), down, Qt::white);

  CheckLook bounded = Look(false, false, false, WindowsXP);
  bounded.boundLines = blLeft | blTop;
  const QImage xp = PaintCheckbox(bounded, images);
  EXPECT_EQ(At(xp, 0, 8), kCheckBoundXP);
  EXPECT_EQ(At(xp, 100, 0), kCheckBoundXP);
  EXPECT_EQ(At(xp, 100, 16), kParent);
  bounded.theme = OfficeXP;
  EXPECT_EQ(At(PaintCheckbox(bounded, images), 0, 8), kCheckBoundOffice);
}

TEST(Checkbox, CaptionStartsAfterTheBoxAndSpacing) {
  CheckLook look = Look(false, false, false, WindowsXP);
  look.caption = QStringLiteral("Whole Word");
  CheckLook bare = look;
  bare.caption.clear();
  const CheckImages images = MakeCheckImages();
  const QRect box = DiffBox(PaintCheckbox(look, images), PaintCheckbox(bare, images));
  ASSERT_FALSE(box.isEmpty());
  EXPECT_GE(box.left(), 20);
  EXPECT_LE(box.left(), 22);
  look.spacing = bare.spacing = 10;
  EXPECT_GE(DiffBox(PaintCheckbox(look, images), PaintCheckbox(bare, images)).left(), 27);
}

TEST(Checkbox, ClicksInvertCheckedBeforeOnClickAndSpaceDoesNot) {
  QWidget window;
  window.resize(200, 60);
  auto* box = new TdxCheckbox(&window);
  box->SetCaption(QStringLiteral("Whole Word"));
  EXPECT_EQ(box->size(), QSize(161, 17));
  EXPECT_FALSE(box->Checked());
  std::vector<bool> seen;
  QObject::connect(box, &TdxCustomControl::OnClick, &window,
                   [&] { seen.push_back(box->Checked()); });
  window.show();
  window.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&window));

  ClickOn(box);
  EXPECT_TRUE(box->Checked());
  EXPECT_TRUE(box->hasFocus());
  // A double click is two clicks: back to checked after two more inversions.
  SendMouse(box, QEvent::MouseButtonPress, Middle(box));
  SendMouse(box, QEvent::MouseButtonRelease, Middle(box));
  SendMouse(box, QEvent::MouseButtonDblClick, Middle(box));
  SendMouse(box, QEvent::MouseButtonRelease, Middle(box));
  EXPECT_EQ(seen, (std::vector<bool>{true, false, true}));
  QTest::keyClick(box, Qt::Key_Space);
  QTest::keyClick(box, Qt::Key_Return);
  EXPECT_TRUE(box->Checked());
  EXPECT_EQ(seen.size(), 3u);
  // Released outside: no toggle.
  SendMouse(box, QEvent::MouseButtonPress, Middle(box));
  SendMouse(box, QEvent::MouseMove, QPoint(-5, -5));
  SendMouse(box, QEvent::MouseButtonRelease, QPoint(-5, -5));
  EXPECT_TRUE(box->Checked());
  // Setting Checked does not click.
  box->SetChecked(false);
  EXPECT_EQ(seen.size(), 3u);
  // The painted widget shows the mark in the Windows XP green.
  box->SetChecked(true);
  SendLeave(box);
  box->clearFocus();
  const QImage img = Grab(box);
  EXPECT_EQ(At(img, 5 + 6, 2 + 3), kCheckMarkXP);
  EXPECT_EQ(At(img, 5 + 2, 2 + 3 + 6), kCheckMarkXP);
}

TEST(StyleManager, LinkingThemesAndUnlinking) {
  QWidget window;
  auto* box = new TdxCheckbox(&window);
  auto* manager = new TdxStyleManager(&window);
  EXPECT_EQ(manager->Theme(), WindowsXP);
  EXPECT_EQ(box->StyleManager(), nullptr);
  EXPECT_EQ(box->EffectiveTheme(), WindowsXP);
  int changes = 0;
  QObject::connect(manager, &TdxStyleManager::OnThemeChanged, &window, [&] { ++changes; });

  box->SetStyleManager(manager);
  box->SetStyleManager(manager);
  EXPECT_EQ(manager->LinkedControls().size(), 1u);
  manager->SetTheme(OfficeXP);
  manager->SetTheme(OfficeXP);
  EXPECT_EQ(changes, 1);
  EXPECT_EQ(box->EffectiveTheme(), OfficeXP);
  box->Style().SetUseStyleManager(false);
  EXPECT_EQ(box->EffectiveTheme(), WindowsXP);
  box->Style().SetTheme(OfficeXP);
  EXPECT_EQ(box->EffectiveTheme(), OfficeXP);
  box->Style().SetUseStyleManager(true);
  box->Style().SetTheme(WindowsXP);
  EXPECT_EQ(box->EffectiveTheme(), OfficeXP);

  // A control that goes away leaves the list; a manager that goes away unlinks its controls.
  auto* other = new TdxCheckbox(&window);
  other->SetStyleManager(manager);
  EXPECT_EQ(manager->LinkedControls().size(), 2u);
  delete other;
  EXPECT_EQ(manager->LinkedControls().size(), 1u);
  delete manager;
  EXPECT_EQ(box->StyleManager(), nullptr);
  EXPECT_EQ(box->EffectiveTheme(), WindowsXP);

  EXPECT_TRUE(TdxCustomControl::Version().endsWith(QStringLiteral("2.0.1")));
  EXPECT_EQ(TdxCustomComponent::Version(), TdxCustomControl::Version());
}

}  // namespace
}  // namespace vorn
