#include "ftper.h"

#include <QApplication>
#include <QCloseEvent>
#include <QElapsedTimer>
#include <QFrame>
#include <QLabel>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QStatusBar>
#include <algorithm>
#include <limits>

#include "DesignFont.h"
#include "ErrorBox.h"
#include "ProbeHost.h"
#include "TextBytes.h"
#include "UpdateBoxes.h"
#include "UpdateCheck.h"

namespace vorn {

TFTPWindow* FTPWindow = nullptr;

namespace {

// A 64-bit byte count as a gauge value: counts beyond the gauge's range are held at its ends.
int GaugeValue(std::int64_t value) {
  return static_cast<int>(std::clamp<std::int64_t>(value, std::numeric_limits<int>::min(),
                                                   std::numeric_limits<int>::max()));
}

// Repaints and pumps during a download are spaced by this much: often enough for a live
// window, rarely enough that a fast transfer is not slowed down by painting.
constexpr qint64 kPumpIntervalMs = 5;

QElapsedTimer& LastPump() {
  static QElapsedTimer timer;
  return timer;
}

}  // namespace

TFTPWindow::TFTPWindow(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint) {
  setObjectName(QStringLiteral("FTPWindow"));
  setWindowTitle(QStringLiteral("Looking for updates...."));
  setFixedSize(345, 551);
  setFont(DesignFont(QStringLiteral("MS Sans Serif"), 11));
  setAutoFillBackground(true);
  setAttribute(Qt::WA_QuitOnClose, false);  // closing it never ends the program
  if (const QScreen* s = screen()) move(s->availableGeometry().center() - rect().center());

  Panel4 = new QFrame(this);
  Panel4->setObjectName(QStringLiteral("Panel4"));
  Panel4->setGeometry(0, 0, 346, 532);
  Panel4->setFrameStyle(QFrame::Panel | QFrame::Raised);

  Label5 = new QLabel(QStringLiteral("Connection"), Panel4);
  Label5->setObjectName(QStringLiteral("Label5"));
  Label5->setGeometry(1, 1, 344, 29);
  Label5->setAlignment(Qt::AlignCenter);
  QFont heading = DesignFont(QStringLiteral("MS Sans Serif"), 24);
  heading.setUnderline(true);
  Label5->setFont(heading);

  // The hidden leftovers of the layout, kept so every named control exists.
  rtflabel1 = new QLabel(Panel4);
  rtflabel2 = new QLabel(Panel4);
  rtflabel3 = new QLabel(Panel4);
  ListBox1 = new QListWidget(Panel4);
  ListBox3 = new QListWidget(Panel4);
  rtflabel1->setObjectName(QStringLiteral("rtflabel1"));
  rtflabel2->setObjectName(QStringLiteral("rtflabel2"));
  rtflabel3->setObjectName(QStringLiteral("rtflabel3"));
  ListBox1->setObjectName(QStringLiteral("ListBox1"));
  ListBox3->setObjectName(QStringLiteral("ListBox3"));
  for (QWidget* w : {static_cast<QWidget*>(rtflabel1), static_cast<QWidget*>(rtflabel2),
                     static_cast<QWidget*>(rtflabel3), static_cast<QWidget*>(ListBox1),
                     static_cast<QWidget*>(ListBox3)})
    w->hide();

  FtpRtf = new QPlainTextEdit(Panel4);
  FtpRtf->setObjectName(QStringLiteral("FtpRtf"));
  FtpRtf->setGeometry(16, 88, 321, 385);
  FtpRtf->setReadOnly(true);
  FtpRtf->setUndoRedoEnabled(false);
  FtpRtf->setFrameStyle(QFrame::Panel | QFrame::Raised);
  FtpRtf->setFont(DesignFont(QStringLiteral("Arial"), 11));
  QPalette info = FtpRtf->palette();
  info.setColor(QPalette::Base, QColor(0xFF, 0xFF, 0xE1));  // the tooltip yellow
  info.setColor(QPalette::Text, QColor(0, 0, 0));
  FtpRtf->setPalette(info);

  StatusBar1 = new QStatusBar(Panel4);
  StatusBar1->setObjectName(QStringLiteral("StatusBar1"));
  StatusBar1->setGeometry(2, 496, 338, 30);
  StatusBar1->setSizeGripEnabled(false);

  // After the status bar, so the bar's top pixel row does not cover it.
  Gauge1 = new TGauge(Panel4);
  Gauge1->setObjectName(QStringLiteral("Gauge1"));
  Gauge1->setGeometry(16, 472, 321, 25);
  Gauge1->SetBackColor(QColor(0, 0, 255));
  Gauge1->SetBorderStyle(TGaugeBorderStyle::bsNone);
  Gauge1->SetProgress(0);

  Button2 = new QPushButton(QStringLiteral("Abort"), Panel4);
  Button2->setObjectName(QStringLiteral("Button2"));
  Button2->setGeometry(136, 504, 67, 17);

  Button1 = new QPushButton(QStringLiteral("CLOSE"), this);
  Button1->setObjectName(QStringLiteral("Button1"));
  Button1->setGeometry(275, 532, 67, 17);

  connect(Button1, &QPushButton::clicked, this, [this] { Guarded([this] { Button1Click(); }); });
  connect(Button2, &QPushButton::clicked, this, [this] { Guarded([this] { Button2Click(); }); });

  IdFTP1.Host = VORN_UPDATE_HOST;
  IdFTP1.Username = "tavo";
  IdFTP1.Password = "brimtu47";
  IdFTP1.Passive = true;
  IdFTP1.MaxLineAction = TIdMaxLineAction::maException;
  IdFTP1.ProxySettings = {TIdFtpProxyType::fpcmNone, std::string(), 0};
  IdFTP1.Intercept = &IdConnectionIntercept1;
  IdFTP1.OnStatus = [this](TIdTCPConnection&, TIdStatus status, const std::string& text) {
    IdFTP1Status(status, text);
  };
  IdFTP1.OnConnected = [this](TIdTCPConnection&) { IdFTP1Connected(); };
  IdFTP1.OnDisconnected = [this](TIdTCPConnection&) { IdFTP1Disconnected(); };
  IdFTP1.OnWorkBegin = [this](TIdTCPConnection&, TWorkMode mode, std::int64_t total) {
    IdFTP1WorkBegin(mode, total);
  };
  IdFTP1.OnWork = [this](TIdTCPConnection&, TWorkMode mode, std::int64_t count) {
    IdFTP1Work(mode, count);
  };
  IdFTP1.OnWorkEnd = [this](TIdTCPConnection&, TWorkMode mode) { IdFTP1WorkEnd(mode); };
  IdFTP1.OnAfterGet = [this](TIdFTP&, TStream&) { IdFTP1AfterGet(); };
  // Every wait of the update keeps the window alive (resolving, connecting, each reply, every
  // transfer, the quiet one of the signature too): Abort, CLOSE and Exit are heard however
  // slow or silent the server is.
  IdFTP1.OnWaiting = [this](TIdTCPConnection&) { PumpIfDue(); };

  Ping1.Host = VORN_UPDATE_HOST;
  // The probe's wait too; an Abort or Exit ends it.
  Ping1.OnWaiting = [this] {
    PumpIfDue();
    return !abortRequested_;
  };
  Ping1.OnReply = [this](const TReplyStatus& status) { Ping1Reply(status); };
}

// The client's events point into this window, but a connection still open closes quietly
// with it: the client and the echo client raise no events as they are destroyed.
TFTPWindow::~TFTPWindow() = default;

void TFTPWindow::Guarded(const std::function<void()>& work) { vorn::Guarded(this, work); }

void TFTPWindow::Add(const QString& text) { FtpRtf->appendPlainText(text); }

void TFTPWindow::ClearLines() { FtpRtf->clear(); }

void TFTPWindow::AddLine(std::string_view text) { Add(FromBytes(text)); }

void TFTPWindow::StartProgress(int maximum) {
  TransferredCount = 0;
  Gauge1->SetProgress(0);
  Gauge1->SetMaxValue(maximum);
}

void TFTPWindow::Present() {
  show();
  raise();
  activateWindow();
}

void TFTPWindow::Dismiss() { close(); }

bool TFTPWindow::AskYesNo(std::string_view question) {
  return Boxes().AskYesNo(this, FromBytes(question));
}

void TFTPWindow::Notify(std::string_view text) { Boxes().Notify(this, FromBytes(text)); }

void TFTPWindow::ShowError(std::string_view text) { ShowErrorBox(this, FromBytes(text)); }

QStringList TFTPWindow::MessageLines() const {
  const QString all = FtpRtf->toPlainText();
  if (all.isEmpty() && FtpRtf->document()->blockCount() <= 1) return {};
  return all.split(QLatin1Char('\n'));
}

QString TFTPWindow::StatusText() const { return StatusBar1->currentMessage(); }

void TFTPWindow::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (!event->spontaneous()) FormShow();
}

void TFTPWindow::changeEvent(QEvent* event) {
  QWidget::changeEvent(event);
  if (event->type() == QEvent::ActivationChange && isActiveWindow()) FormActivate();
}

// Only "CLOSE" and the update check close the window: a close asked by the window manager
// (there is no close box, but a key may still ask) is refused.
void TFTPWindow::closeEvent(QCloseEvent* event) {
  if (event->spontaneous())
    event->ignore();
  else
    QWidget::closeEvent(event);
}

void TFTPWindow::FormShow() {
  abortRequested_ = false;
  NewUpdateShowing();
}

// Opens the connection when it is not open. While a check or another attempt runs, they own
// the connection; after an attempt failed, only a new showing (or the button) tries again.
void TFTPWindow::FormActivate() { ConnectOnActivation(*this); }

void TFTPWindow::Button1Click() {
  if (UpdateCheckRunning()) {
    // A download is running inside the check: stop it, and let the check close the
    // connection once the transfer has ended, so the transfer never finds it gone.
    abortRequested_ = true;
    closePending_ = true;
    // Outside a transfer the check only waits for the server: that wait ends at once.
    if (IdFTP1.Transferring())
      IdFTP1.AbortTransfer();
    else
      IdFTP1.CloseConnection();
    hide();
    return;
  }
  if (IdFTP1.IsConnected()) IdFTP1.CloseConnection();
  hide();
}

void TFTPWindow::CloseIfPending() {
  if (!closePending_) return;
  closePending_ = false;
  if (IdFTP1.IsConnected()) IdFTP1.CloseConnection();
}

void TFTPWindow::AbortForQuit() {
  abortRequested_ = true;
  if (IdFTP1.Transferring()) IdFTP1.AbortTransfer();
  // Nothing more is asked of the server: a wait for its reply, or an opening still under
  // way, must not hold the program.
  IdFTP1.CloseConnection();
}

void TFTPWindow::Button2Click() {
  abortRequested_ = true;
  Add(QStringLiteral("Aborting...."));
  // A check that waits for the server outside a transfer (opening, a reply) stops waiting: the
  // connection goes. Otherwise the server is told, as the transfer's abort tells it.
  if (UpdateCheckRunning() && !IdFTP1.Transferring())
    IdFTP1.CloseConnection();
  else
    IdFTP1.AbortTransfer();
}

void TFTPWindow::IdFTP1Connected() {}

void TFTPWindow::IdFTP1Status(TIdStatus, const std::string& text) {
  Add(QStringLiteral("Status : ") + FromBytes(text));
}

void TFTPWindow::IdFTP1Disconnected() { Add(QStringLiteral("Disconnected")); }

void TFTPWindow::IdFTP1WorkBegin(TWorkMode mode, std::int64_t expectedTotal) {
  Add(QStringLiteral("*******BEGIN*********"));
  Gauge1->SetProgress(0);
  if (mode == TWorkMode::wmWrite) {
    Gauge1->SetMaxValue(GaugeValue(expectedTotal));
  } else {
    // The gauge's maximum stays as the check set it from the size query.
    TransferredCount = expectedTotal;
  }
  Add(QStringLiteral("Work size : ") + QString::number(Gauge1->MaxValue()));
  FtpRtf->repaint();
  LastPump().invalidate();  // the first step of a transfer always pumps
}

void TFTPWindow::Pump() { QCoreApplication::processEvents(); }

void TFTPWindow::PumpIfDue() {
  if (LastPump().isValid() && LastPump().elapsed() < kPumpIntervalMs) return;
  Pump();
  LastPump().start();
}

void TFTPWindow::IdFTP1Work(TWorkMode mode, std::int64_t count) {
  // Pumping and repainting are spaced in time; the gauge and the status bar take every step.
  const bool pump = !LastPump().isValid() || LastPump().elapsed() >= kPumpIntervalMs;
  if (pump) Pump();
  if (mode == TWorkMode::wmRead) {
    Gauge1->SetProgress(GaugeValue(count));
  } else {
    TransferredCount += count;
    Gauge1->SetProgress(GaugeValue(TransferredCount));
  }
  StatusBar1->showMessage(QString::number(Gauge1->Progress()) + QLatin1Char('/') +
                          QString::number(Gauge1->MaxValue()));
  if (pump) {
    repaint();
    Pump();
    LastPump().start();
  }
}

void TFTPWindow::IdFTP1WorkEnd(TWorkMode) {
  repaint();
  Add(QStringLiteral("*****Finished*******"));
  StatusBar1->showMessage(QStringLiteral("Finished"));
  Gauge1->SetProgress(0);
}

void TFTPWindow::IdFTP1AfterGet() {
  repaint();
  Add(QStringLiteral("Finished downloading file"));
  Gauge1->SetProgress(0);
}

void TFTPWindow::Ping1Reply(const TReplyStatus& status) { StoreProbeReply(status); }

void CheckForUpdate() {
  if (FTPWindow != nullptr) CheckForUpdate(*FTPWindow);
}

}  // namespace vorn
