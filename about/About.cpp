#include "About.h"

#include <QImage>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>

#include "Browser.h"
#include "DesignFont.h"

// The resources live in a static library: make sure they are linked and registered.
static void InitAboutResources() { Q_INIT_RESOURCE(about); }

namespace vorn {

TABoutQuillo* ABoutQuillo = nullptr;

namespace {

// A filled rectangle or ellipse drawn on the window's surface, below the labels.
class Shape : public QWidget {
 public:
  enum Kind { Rectangle, Ellipse };
  Shape(QWidget* parent, const QString& name, Kind kind, QRect bounds, QBrush brush, QPen pen)
      : QWidget(parent), kind_(kind), brush_(std::move(brush)), pen_(std::move(pen)) {
    setObjectName(name);
    setGeometry(bounds);
    setAttribute(Qt::WA_TransparentForMouseEvents);
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    p.setBrush(brush_);
    p.setPen(pen_);
    // The outline runs on the shape's outermost pixels.
    const QRect r(0, 0, width() - 1, height() - 1);
    if (kind_ == Rectangle)
      p.drawRect(r);
    else
      p.drawEllipse(r);
  }

 private:
  Kind kind_;
  QBrush brush_;
  QPen pen_;
};

QLabel* MakeLabel(QWidget* parent, const QString& name, QRect bounds, const QString& text,
                  const QFont& font, QColor colour) {
  auto* label = new QLabel(parent);
  label->setObjectName(name);
  label->setTextFormat(Qt::PlainText);
  label->setGeometry(bounds);
  label->setText(text);
  label->setFont(font);
  QPalette pal = label->palette();
  pal.setColor(QPalette::WindowText, colour);
  label->setPalette(pal);
  label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  return label;
}

void SetBackground(QWidget* w, QColor colour) {
  QPalette pal = w->palette();
  pal.setColor(QPalette::Window, colour);
  w->setPalette(pal);
  w->setAutoFillBackground(true);
}

const QString kSansSerif = QStringLiteral("MS Sans Serif");
const QString kSmallFonts = QStringLiteral("Small Fonts");
const QColor kNavy(0x00, 0x00, 0x80), kBlue(0x00, 0x00, 0xFF), kTeal(0x00, 0x80, 0x80),
    kAqua(0x00, 0xFF, 0xFF);

}  // namespace

std::string TABoutQuillo::HomePage() {
  return std::string("Http://") + VORN_MAKER_HOST + "/quillo";
}

TABoutQuillo::TABoutQuillo(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint) {
  InitAboutResources();
  setObjectName(QStringLiteral("ABoutQuillo"));
  setWindowTitle(QStringLiteral("About"));
  setFixedSize(315, 227);
  setModal(true);
  setFont(DesignFont(kSansSerif, 11));

  // From the bottom up, in drawing order.
  new Shape(this, QStringLiteral("Shape1"), Shape::Rectangle, QRect(0, 0, 313, 89), kNavy,
            QPen(kBlue));
  new Shape(this, QStringLiteral("Shape4"), Shape::Ellipse, QRect(88, 0, 225, 81), kNavy,
            QPen(kTeal));
  new Shape(this, QStringLiteral("Shape3"), Shape::Ellipse, QRect(-24, -16, 113, 89),
            QBrush(Qt::black, Qt::DiagCrossPattern), Qt::NoPen);
  new Shape(this, QStringLiteral("Shape2"), Shape::Rectangle, QRect(0, 88, 313, 137), Qt::white,
            QPen(Qt::white));

  Image1 = new QLabel(this);
  Image1->setObjectName(QStringLiteral("Image1"));
  Image1->setGeometry(8, 0, 57, 49);
  Image1->setScaledContents(true);  // the 150 x 100 picture stretched to the control
  Image1->setPixmap(QPixmap::fromImage(QImage(QStringLiteral(":/about/logo.jpg"))));
  Image1->installEventFilter(this);

  Label5 =
      MakeLabel(this, QStringLiteral("Label5"), QRect(128, 208, 181, 11),
                QStringLiteral("Copyright \u00A9 QuilloWare"), DesignFont(kSmallFonts, 9), kBlue);
  Label4 = MakeLabel(this, QStringLiteral("Label4"), QRect(8, 96, 113, 16),
                     QStringLiteral("Version 1.0 English"), DesignFont(kSansSerif, 13), kBlue);
  Label6 =
      MakeLabel(this, QStringLiteral("Label6"), QRect(120, 72, 191, 11),
                QStringLiteral("Made by the QuilloWare team"), DesignFont(kSmallFonts, 9), kAqua);
  Label6->setWordWrap(true);
  // Labels size themselves to their text, as the platform's labels do.
  Label4->adjustSize();
  Label5->adjustSize();

  BuildLabel2 = new TBuildLabel(this);
  BuildLabel2->setObjectName(QStringLiteral("BuildLabel2"));
  BuildLabel2->move(8, 112);
  BuildLabel2->setFont(DesignFont(kSansSerif, 11));
  SetBackground(BuildLabel2, Qt::white);
  BuildLabel2->SetTextCaption2(QStringLiteral("Build"));
  BuildLabel2->Loaded();

  StaticText2 = new QLabel(this);
  StaticText2->setObjectName(QStringLiteral("StaticText2"));
  StaticText2->setTextFormat(Qt::PlainText);
  StaticText2->setGeometry(96, 8, 209, 65);
  StaticText2->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
  StaticText2->setFont(DesignFont(QStringLiteral("Arial Black"), 21, true, true));
  SetBackground(StaticText2, kNavy);
  {
    QPalette pal = StaticText2->palette();
    pal.setColor(QPalette::WindowText, Qt::white);
    StaticText2->setPalette(pal);
  }
  StaticText2->setText(QStringLiteral("QuilloWare"));  // replaced before every showing

  URLLabel1 = new TURLLabel(this);
  URLLabel1->setObjectName(QStringLiteral("URLLabel1"));
  URLLabel1->setGeometry(88, 152, 141, 17);
  URLLabel1->SetCaption(QStringLiteral("Goto QuilloWare HomePage"));
  URLLabel1->setFont(DesignFont(kSansSerif, 11));
  URLLabel1->adjustSize();
  SetBackground(URLLabel1, Qt::white);
  URLLabel1->SetColorOnenter(Qt::red);
  URLLabel1->SetColorOnExit(Qt::blue);
  URLLabel1->SetURL(QStringLiteral("Http://") + QString::fromUtf8(VORN_MAKER_HOST) +
                    QStringLiteral("/Quillo/"));
  URLLabel1->SetLinkUnderline(false);
  URLLabel1->SetLinkBorderstyle(false);
  URLLabel1->installEventFilter(this);  // the window shows no hints
  connect(URLLabel1, &TURLLabel::OnClick, this, &TABoutQuillo::URLLabel1Click);
}

void TABoutQuillo::ShowModal() {
  StaticText2->setText(Title());
  exec();
}

void TABoutQuillo::showEvent(QShowEvent* e) {
  // Whoever shows the window, it shows the program's title.
  StaticText2->setText(Title());
  QDialog::showEvent(e);
}

bool TABoutQuillo::eventFilter(QObject* watched, QEvent* e) {
  if (watched == URLLabel1 && e->type() == QEvent::ToolTip) return true;
  if (watched == Image1 && e->type() == QEvent::MouseButtonPress &&
      static_cast<QMouseEvent*>(e)->button() == Qt::LeftButton)
    return true;  // the click comes with the release
  if (watched == Image1 && e->type() == QEvent::MouseButtonRelease) {
    auto* me = static_cast<QMouseEvent*>(e);
    if (me->button() == Qt::LeftButton && Image1->rect().contains(me->position().toPoint())) {
      Image1Click();
      return true;
    }
  }
  return QDialog::eventFilter(watched, e);
}

void TABoutQuillo::URLLabel1Click() { OpenInBrowser(HomePage()); }

void TABoutQuillo::Image1Click() { OpenInBrowser(HomePage()); }

}  // namespace vorn
