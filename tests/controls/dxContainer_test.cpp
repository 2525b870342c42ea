// The styled container: edge lines, inner rectangle, enabling its children, and clicks.
#include "dxContainer.h"

#include <gtest/gtest.h>

#include <QLineEdit>
#include <QTest>

#include "StyledTestKit.h"
#include "dxButtons.h"
#include "dxCheckCtrls.h"

namespace vorn {
using namespace vorn::test;

namespace {

const QColor kFill(0xF0, 0xF0, 0xF0);

TEST(Container, BoundLinesInnerRectangleAndOnPaint) {
  TdxContainer c;
  EXPECT_EQ(c.size(), QSize(185, 41));
  c.resize(60, 20);
  c.SetColor(kFill);
  c.SetBoundColor(Qt::white);
  c.SetBoundLines(blLeft | blTop | blRight | blBottom);
  QRect painted;
  QObject::connect(&c, &TdxCustomContainer::OnPaint, &c,
                   [&](const QRect& inner, const QFont&, QPainter*) { painted = inner; });
  const QImage img = Grab(&c);
  for (int x = 0; x < 60; ++x) {
    EXPECT_EQ(At(img, x, 0), QColor(Qt::white));
    EXPECT_EQ(At(img, x, 19), QColor(Qt::white));
  }
  for (int y = 0; y < 20; ++y) {
    EXPECT_EQ(At(img, 0, y), QColor(Qt::white));
    EXPECT_EQ(At(img, 59, y), QColor(Qt::white));
  }
  EXPECT_EQ(At(img, 1, 1), kFill);
  EXPECT_EQ(At(img, 58, 18), kFill);
  EXPECT_EQ(c.InnerRect(), QRect(1, 1, 58, 18));
  EXPECT_EQ(painted, c.InnerRect());
  EXPECT_EQ(c.contentsRect(), c.InnerRect());

  c.SetBorderWidth(2);
  c.SetBoundLines(blTop);
  EXPECT_EQ(c.InnerRect(), QRect(2, 3, 56, 15));
  c.SetShowBoundLines(false);
  EXPECT_EQ(c.InnerRect(), QRect(2, 2, 56, 16));
  EXPECT_EQ(At(Grab(&c), 10, 0), kFill);
}

TEST(Container, AffectChildsEnablesAndDisablesEveryChild) {
  QWidget window;
  auto* c = new TdxContainer(&window);
  auto* button = new TdxButton(c);
  auto* box = new TdxCheckbox(c);
  auto* edit = new QLineEdit(c);
  int changed = 0;
  QObject::connect(c, &TdxCustomContainer::OnEnabledChanged, c, [&] { ++changed; });

  // Normal mode: a child disabled on its own stays disabled.
  box->setEnabled(false);
  c->setEnabled(false);
  c->setEnabled(true);
  EXPECT_FALSE(box->isEnabled());
  EXPECT_TRUE(button->isEnabled());
  EXPECT_EQ(changed, 2);

  c->SetEnabledMode(emAffectChilds);
  EXPECT_EQ(changed, 3);
  EXPECT_TRUE(box->isEnabled());  // the mode took effect at once
  box->setEnabled(false);
  c->setEnabled(false);
  EXPECT_FALSE(button->isEnabled());
  EXPECT_FALSE(edit->isEnabled());
  c->setEnabled(true);
  EXPECT_TRUE(button->isEnabled());
  EXPECT_TRUE(edit->isEnabled());
  EXPECT_TRUE(box->isEnabled());
  EXPECT_EQ(changed, 5);
}

TEST(Container, ChildrenShowItsColourAndAPressTakesNoFocus) {
  QWidget window;
  window.resize(300, 100);
  auto* c = new TdxContainer(&window);
  c->resize(250, 80);
  auto* button = new TdxButton(c);
  button->move(5, 5);
  c->SetColor(kFill);
  EXPECT_EQ(button->Color(), kFill);
  EXPECT_EQ(At(Grab(button), 0, 0), kFill);
  int clicks = 0, doubles = 0;
  QObject::connect(c, &TdxCustomControl::OnClick, c, [&] { ++clicks; });
  QObject::connect(c, &TdxCustomContainer::OnDblClick, c, [&] { ++doubles; });
  window.show();
  window.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
  button->setFocus();
  SendMouse(c, QEvent::MouseButtonPress, QPoint(200, 60));
  EXPECT_TRUE(c->IsPressed());
  EXPECT_TRUE(button->hasFocus());
  SendMouse(c, QEvent::MouseButtonRelease, QPoint(200, 60));
  SendMouse(c, QEvent::MouseButtonDblClick, QPoint(200, 60));
  SendMouse(c, QEvent::MouseButtonRelease, QPoint(200, 60));
  EXPECT_EQ(clicks, 1);
  EXPECT_EQ(doubles, 1);
  EXPECT_TRUE(button->hasFocus());
}

}  // namespace
}  // namespace vorn
