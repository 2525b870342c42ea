// The link label: colours under and away from the pointer, underline, the shared resting border
// and clicks.
#include "URLLabel.h"

#include <gtest/gtest.h>

#include "StyledTestKit.h"

namespace vorn {
using namespace vorn::test;

namespace {

struct Labels : ::testing::Test {
  void SetUp() override { TURLLabel::SetRestingBorderStyle(sbsNone); }
};

TEST_F(Labels, BlueAtRestRedUnderThePointer) {
  TURLLabel label;
  label.SetCaption(QStringLiteral("QuilloWare"));
  QFont f = label.font();
  f.setStyleStrategy(QFont::NoAntialias);
  f.setPixelSize(13);
  label.setFont(f);
  label.resize(100, 20);
  QPalette pal = label.palette();
  pal.setColor(QPalette::Window, Qt::white);
  label.setPalette(pal);
  label.setAutoFillBackground(true);
  EXPECT_EQ(label.ColorOnenter(), QColor(Qt::red));
  EXPECT_EQ(label.ColorOnExit(), QColor(Qt::blue));
  EXPECT_EQ(label.FontColor(), QColor(Qt::blue));
  EXPECT_FALSE(ColourBox(Grab(&label), Qt::blue).isEmpty());

  SendEnter(&label);
  EXPECT_EQ(label.FontColor(), QColor(Qt::red));
  const QImage hovered = Grab(&label);
  EXPECT_FALSE(ColourBox(hovered, Qt::red).isEmpty());
  EXPECT_TRUE(ColourBox(hovered, Qt::blue).isEmpty());
  EXPECT_EQ(label.BorderStyle(), sbsNone);
  EXPECT_FALSE(label.font().underline());
  // A new hover colour waits for the next entry; a new resting colour shows at once.
  label.SetColorOnenter(Qt::green);
  EXPECT_EQ(label.FontColor(), QColor(Qt::red));
  label.SetColorOnExit(Qt::darkBlue);
  EXPECT_EQ(label.FontColor(), QColor(Qt::darkBlue));
  SendLeave(&label);
  EXPECT_EQ(label.FontColor(), QColor(Qt::darkBlue));
  SendEnter(&label);
  EXPECT_EQ(label.FontColor(), QColor(Qt::green));
}

TEST_F(Labels, UnderlineGoesOnLeaveWhateverLinkUnderlineSays) {
  TURLLabel label;
  QFont f = label.font();
  f.setUnderline(true);
  f.setBold(true);
  label.setFont(f);
  SendEnter(&label);
  EXPECT_TRUE(label.font().underline());
  SendLeave(&label);
  EXPECT_FALSE(label.font().underline());
  EXPECT_TRUE(label.font().bold());

  label.SetLinkUnderline(true);
  SendEnter(&label);
  EXPECT_TRUE(label.font().underline());
  SendLeave(&label);
  EXPECT_FALSE(label.font().underline());
}

TEST_F(Labels, OneRestingBorderStyleForAllLabels) {
  TURLLabel sunken, plain;
  sunken.SetBorderStyle(sbsSunken);
  sunken.SetLinkBorderstyle(true);
  EXPECT_EQ(TURLLabel::RestingBorderStyle(), sbsSunken);
  plain.SetLinkBorderstyle(true);  // the last label assigned wins
  EXPECT_EQ(TURLLabel::RestingBorderStyle(), sbsNone);

  SendEnter(&sunken);
  EXPECT_EQ(sunken.BorderStyle(), sbsSingle);
  EXPECT_EQ(sunken.frameShape(), QFrame::Box);
  SendLeave(&sunken);
  EXPECT_EQ(sunken.BorderStyle(), sbsNone);  // not its own sunken border
  EXPECT_EQ(sunken.frameShape(), QFrame::NoFrame);

  // Without LinkBorderstyle the border does not change on entry, but leaving still restores.
  TURLLabel third;
  third.SetBorderStyle(sbsSunken);
  SendEnter(&third);
  EXPECT_EQ(third.BorderStyle(), sbsSunken);
  SendLeave(&third);
  EXPECT_EQ(third.BorderStyle(), sbsNone);
}

TEST_F(Labels, URLIsTheHintAndClicksOnlyFireOnClick) {
  TURLLabel label;
  label.resize(80, 16);
  label.SetURL(QStringLiteral("Http://maker.example/Quillo/"));
  EXPECT_EQ(label.toolTip(), QStringLiteral("Http://maker.example/Quillo/"));
  label.setToolTip(QStringLiteral("other"));
  EXPECT_EQ(label.URL(), QStringLiteral("Http://maker.example/Quillo/"));

  int clicks = 0;
  QObject::connect(&label, &TURLLabel::OnClick, &label, [&] { ++clicks; });
  ClickOn(&label);
  EXPECT_EQ(clicks, 1);
  SendMouse(&label, QEvent::MouseButtonPress, Middle(&label));
  SendMouse(&label, QEvent::MouseButtonRelease, QPoint(200, 5));
  SendMouse(&label, QEvent::MouseButtonPress, Middle(&label), Qt::RightButton);
  SendMouse(&label, QEvent::MouseButtonRelease, Middle(&label), Qt::RightButton);
  EXPECT_EQ(clicks, 1);

  // Captions are text, not markup.
  label.SetCaption(QStringLiteral("<b>x</b>"));
  EXPECT_EQ(label.textFormat(), Qt::PlainText);
}

}  // namespace
}  // namespace vorn
