// The About window: its title on every showing, the build, the logo and the home-page link.
#include "About.h"

#include <gtest/gtest.h>

#include <QImageReader>
#include <QMouseEvent>
#include <QTest>
#include <QTimer>
#include <vector>

#include "Browser.h"
#include "ScopedSeam.h"

namespace vorn {
using vorn::test::ScopedSeam;

namespace {

// Captures what the window asks the browser to open, and restores the real opener.
struct BrowserSpy {
  std::vector<std::string> opened;
  ScopedSeam<BrowserOpener> seam{SetBrowserOpener,
                                 [this](const std::string& a) { opened.push_back(a); }};
};

void Click(QWidget* w) {
  const QPointF at(w->width() / 2.0, w->height() / 2.0);
  for (auto type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease}) {
    QMouseEvent e(type, at, w->mapToGlobal(at), Qt::LeftButton,
                  type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(w, &e);
  }
}

TEST(About, WindowLabelsAndBuild) {
  TABoutQuillo about;
  EXPECT_EQ(about.windowTitle(), QStringLiteral("About"));
  EXPECT_EQ(about.size(), QSize(315, 227));
  EXPECT_EQ(about.minimumSize(), about.maximumSize());
  EXPECT_TRUE(about.windowFlags() & Qt::WindowCloseButtonHint);
  EXPECT_FALSE(about.windowFlags() & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint));
  EXPECT_TRUE(about.isModal());
  EXPECT_EQ(about.Label4->text(), QStringLiteral("Version 1.0 English"));
  EXPECT_EQ(about.BuildLabel2->Caption(), QStringLiteral("Build 0.9.0.13"));
  EXPECT_EQ(about.BuildLabel2->pos(), QPoint(8, 112));
  EXPECT_EQ(about.URLLabel1->Caption(), QStringLiteral("Goto QuilloWare HomePage"));
  EXPECT_EQ(about.URLLabel1->FontColor(), QColor(Qt::blue));
  EXPECT_EQ(about.Image1->geometry(), QRect(8, 0, 57, 49));
  ASSERT_FALSE(about.Image1->pixmap().isNull());

  // The logo is a 150 x 100 JPEG.
  QImageReader logo(QStringLiteral(":/about/logo.jpg"));
  EXPECT_EQ(logo.format(), QByteArray("jpeg"));
  EXPECT_EQ(logo.size(), QSize(150, 100));

  // The dark title band above, the white area below.
  about.show();
  const QImage img = about.grab().toImage();
  EXPECT_EQ(QColor(img.pixel(40, 80)), QColor(0, 0, 0x80));
  EXPECT_EQ(QColor(img.pixel(250, 190)), QColor(Qt::white));
  EXPECT_EQ(QColor(img.pixel(300, 70)), QColor(0, 0, 0x80));
}

TEST(About, EveryShowingShowsTheTitle) {
  TABoutQuillo about;
  about.StaticText2->setText(QStringLiteral("something else"));
  about.show();
  EXPECT_EQ(about.StaticText2->text(), QStringLiteral(" Tessaly "));
  about.hide();
  about.StaticText2->setText(QStringLiteral("something else"));
  QString seen;
  bool modal = false;
  QTimer::singleShot(0, &about, [&] {
    seen = about.StaticText2->text();
    modal = QApplication::activeModalWidget() == &about;
    about.close();
  });
  about.ShowModal();
  EXPECT_EQ(seen, QStringLiteral(" Tessaly "));
  EXPECT_TRUE(modal);
  EXPECT_FALSE(about.isVisible());
}

TEST(About, LinkAndLogoOpenTheHomePageOncePerClick) {
  BrowserSpy spy;
  TABoutQuillo about;
  about.show();
  const std::string home = std::string("Http://") + VORN_MAKER_HOST + "/quillo";
  EXPECT_EQ(TABoutQuillo::HomePage(), home);
  // The hint holds another address, which a click does not use.
  EXPECT_EQ(about.URLLabel1->URL().toStdString(),
            std::string("Http://") + VORN_MAKER_HOST + "/Quillo/");
  Click(about.URLLabel1);
  Click(about.Image1);
  Click(about.URLLabel1);
  EXPECT_EQ(spy.opened, (std::vector<std::string>{home, home, home}));
  EXPECT_TRUE(about.isVisible());
}

}  // namespace
}  // namespace vorn
