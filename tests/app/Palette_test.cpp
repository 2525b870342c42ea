// Every caption of every window stays legible under a dark desktop palette: the contrast of its
// text against the background actually painted behind it, measured on the window's picture.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QTest>
#include <cmath>
#include <map>
#include <vector>

#include "About.h"
#include "Gauges.h"
#include "VornUnit1.h"
#include "ftper.h"
#include "vornUnit2.h"
#include "vornUnit3.h"

namespace vorn {

namespace {

// A dark desktop scheme: dark faces, light text in every role.
QPalette DarkPalette() {
  QPalette p(QColor(0xFC, 0xFC, 0xFC), QColor(0x31, 0x36, 0x3B), QColor(0x40, 0x46, 0x4C),
             QColor(0x1B, 0x1E, 0x20), QColor(0x2A, 0x2E, 0x32), QColor(0xFC, 0xFC, 0xFC),
             QColor(0xFF, 0xFF, 0xFF), QColor(0x1B, 0x1E, 0x20), QColor(0x2A, 0x2E, 0x32));
  p.setColor(QPalette::Disabled, QPalette::WindowText, QColor(0x6E, 0x71, 0x73));
  p.setColor(QPalette::Disabled, QPalette::ButtonText, QColor(0x6E, 0x71, 0x73));
  return p;
}

// The application palette for one scope; the old one comes back whatever the test does.
class PaletteScope {
 public:
  explicit PaletteScope(const QPalette& p) : old_(QApplication::palette()) {
    QApplication::setPalette(p);
  }
  ~PaletteScope() { QApplication::setPalette(old_); }

 private:
  QPalette old_;
};

double Luminance(QRgb c) {
  auto channel = [](int v) {
    const double s = v / 255.0;
    return s <= 0.04045 ? s / 12.92 : std::pow((s + 0.055) / 1.055, 2.4);
  };
  return 0.2126 * channel(qRed(c)) + 0.7152 * channel(qGreen(c)) + 0.0722 * channel(qBlue(c));
}

double Contrast(QRgb a, QRgb b) {
  const double la = Luminance(a), lb = Luminance(b);
  return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

// The contrast of a caption as shown: its commonest colour is the background, and the pixel
// that stands out most from it is the ink (an unreadable caption has no such pixel).
double ShownContrast(const QImage& shot, const QRect& area) {
  std::map<QRgb, int> count;
  for (int y = area.top(); y <= area.bottom(); ++y)
    for (int x = area.left(); x <= area.right(); ++x) ++count[shot.pixel(x, y) | 0xFF000000];
  QRgb background = 0;
  int most = 0;
  for (const auto& [colour, n] : count)
    if (n > most) std::tie(background, most) = std::pair(colour, n);
  double best = 1;
  for (const auto& entry : count) best = std::max(best, Contrast(entry.first, background));
  return best;
}

struct Caption {
  const char* what;
  QWidget* widget;
  QMargins inset;   // frames and borders that are not the caption
  QRect area = {};  // within the widget; the whole widget when empty
};

void ExpectLegible(QWidget* window, const std::vector<Caption>& captions, double least = 4.5) {
  const QImage shot = window->grab().toImage().convertToFormat(QImage::Format_RGB32);
  for (const Caption& c : captions) {
    const QRect local = (c.area.isEmpty() ? c.widget->rect() : c.area) - c.inset;
    const QRect area(c.widget->mapTo(window, local.topLeft()), local.size());
    EXPECT_GE(ShownContrast(shot, area & shot.rect()), least) << c.what;
  }
}

void Show(QWidget* w) {
  w->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(w));
}

TEST(Palette, EveryCaptionLegibleUnderLightAndDarkPalettes) {
  for (const bool dark : {false, true}) {
    SCOPED_TRACE(dark ? "dark palette" : "default palette");
    const PaletteScope scope(dark ? DarkPalette() : QApplication::palette());

    TForm1 form;
    form.ComboBox2->setEditText(QStringLiteral("needle"));  // enables "Search"
    form.StatusBar1->showMessage(QStringLiteral("Finished Searching"));
    Show(&form);
    const QMargins buttonFrame(3, 3, 3, 3), checkBox(20, 0, 0, 0);
    ExpectLegible(&form, {{"Directory", form.Label3, {}},
                          {"File search", form.Label1, {}},
                          {"Text to find", form.Label2, {}},
                          {"Include Subdirectory", form.Checkbox3, checkBox},
                          {"Whole Word", form.Checkbox1, checkBox},
                          {"Match Case", form.Checkbox2, checkBox},
                          {"Search", form.dxButton1, buttonFrame},
                          {"...", form.dxButton3, buttonFrame},
                          {"Look for update", form.dxButton4, QMargins(2, 2, 2, 2)},
                          {"status line", form.StatusBar1, QMargins(2, 2, 2, 2)},
                          {"File menu",
                           form.MainMenu1,
                           {},
                           form.MainMenu1->actionGeometry(form.File1->menuAction())},
                          {"About menu",
                           form.MainMenu1,
                           {},
                           form.MainMenu1->actionGeometry(form.About1->menuAction())}});
    // The link keeps the design's blue on the window's face under any palette.
    const QImage shot = form.grab().toImage();
    const QRect link(form.URLLabel2->mapTo(&form, QPoint(0, 0)), form.URLLabel2->size());
    EXPECT_NEAR(ShownContrast(shot, link), Contrast(qRgb(0, 0, 255), qRgb(0x9D, 0xB9, 0xEB)), 0.3);

    TForm2 viewer;
    viewer.Panel1->setText(QStringLiteral("/home/user/notes.txt"));
    viewer.RichEdit1->setPlainText(QStringLiteral("the found line"));
    Show(&viewer);
    viewer.Timer1Timer();  // the line readout and the clock
    ExpectLegible(&viewer, {{"viewer header", viewer.Panel1, QMargins(3, 3, 3, 3)},
                            {"viewer text", viewer.RichEdit1->viewport(), {}},
                            {"viewer status bar", viewer.StatusBar1, QMargins(2, 2, 2, 2)}});

    TForm3 chooser;
    Show(&chooser);
    ExpectLegible(&chooser, {{"OK", chooser.Button2, QMargins(3, 3, 3, 3)},
                             {"Cancel", chooser.Button3, QMargins(3, 3, 3, 3)}});

    // Not shown: showing it would open the FTP connection.
    vorn::TFTPWindow update;
    update.Add(QStringLiteral("Status : Connecting"));
    update.Gauge1->SetMaxValue(100);
    update.Gauge1->SetProgress(50);
    update.StatusBar1->showMessage(QStringLiteral("50/100"));
    ExpectLegible(&update, {{"Connection", update.Label5, {}},
                            {"message area", update.FtpRtf->viewport(), {}},
                            {"gauge", update.Gauge1, {}},
                            {"update status bar", update.StatusBar1, QMargins(2, 2, 2, 2)},
                            {"Abort", update.Button2, QMargins(3, 3, 3, 3)},
                            {"CLOSE", update.Button1, QMargins(3, 3, 3, 3)}});

    TABoutQuillo about;
    Show(&about);
    ExpectLegible(&about, {{"title", about.StaticText2, {}},
                           {"version", about.Label4, {}},
                           {"copyright", about.Label5, {}},
                           {"author", about.Label6, {}},
                           {"build", about.BuildLabel2, {}},
                           {"home page link", about.URLLabel1, {}}});
  }
}

}  // namespace
}  // namespace vorn
