// The update window: the FTP connection of the self-update and the echo probe live here, every
// status report and progress step of the connection becomes a line in the message area, a
// download's progress shows on the gauge and in the status bar, and "Abort" stops a running
// download. Created hidden at start-up and kept for the whole run; the update check shows it
// and reports through it as its UpdateView.
#pragma once

#include <QStringList>
#include <QWidget>
#include <cstdint>

#include "Gauges.h"
#include "IdConnectionIntercept.h"
#include "IdFTP.h"
#include "IdIcmpClient.h"
#include "UpdateView.h"

class QFrame;
class QLabel;
class QListWidget;
class QPlainTextEdit;
class QPushButton;
class QStatusBar;

namespace vorn {

class TFTPWindow : public QWidget, public UpdateView {
  Q_OBJECT
 public:
  explicit TFTPWindow(QWidget* parent = nullptr);
  ~TFTPWindow() override;

  // Controls, by their names in the window's layout.
  QFrame* Panel4 = nullptr;
  QLabel* Label5 = nullptr;
  QPlainTextEdit* FtpRtf = nullptr;  // the message area: one line per report
  TGauge* Gauge1 = nullptr;
  QStatusBar* StatusBar1 = nullptr;
  QPushButton* Button2 = nullptr;  // "Abort"
  QPushButton* Button1 = nullptr;  // "CLOSE"
  // Kept from the layout; nothing shows or uses them.
  QLabel* rtflabel1 = nullptr;
  QLabel* rtflabel2 = nullptr;
  QLabel* rtflabel3 = nullptr;
  QListWidget* ListBox1 = nullptr;
  QListWidget* ListBox3 = nullptr;

  TIdConnectionIntercept IdConnectionIntercept1;
  TIdFTP IdFTP1;
  TIdIcmpClient Ping1;

  // Set by "Abort", cleared each time the window becomes visible; the update check reads it
  // after a download.
  bool AbortRequested() const override { return abortRequested_; }
  // A new download starts without an Abort left over from before it.
  void ClearAbortRequested() override { abortRequested_ = false; }
  // The running total of write-mode work reports; the update check zeroes it before a
  // download, and a read-mode work begin sets it to the expected total.
  std::int64_t TransferredCount = 0;

  // Appends text as the new last line of the message area.
  void Add(const QString& text);
  // The message area's lines, in order ([] when it is empty).
  QStringList MessageLines() const;
  // The status bar's simple text.
  QString StatusText() const;

  // Handlers.
  void FormShow();
  void FormActivate();
  void Button1Click();  // "CLOSE": closes the connection and hides the window
  void Button2Click();  // "Abort"
  void IdFTP1Connected();
  void IdFTP1Status(TIdStatus status, const std::string& text);
  void IdFTP1Disconnected();
  void IdFTP1WorkBegin(TWorkMode mode, std::int64_t expectedTotal);
  void IdFTP1Work(TWorkMode mode, std::int64_t count);
  void IdFTP1WorkEnd(TWorkMode mode);
  void IdFTP1AfterGet();
  void Ping1Reply(const TReplyStatus& status);

  // The user quits the program: a running download stops at its next step.
  void AbortForQuit() override;

  // Called by the update check as it ends: closes the connection when "CLOSE" was pressed
  // while the check ran.
  void CloseIfPending() override;

  // What the update check shows and asks through (the window's boxes are those of Boxes()).
  TIdFTP& Connection() override { return IdFTP1; }
  TIdIcmpClient& EchoClient() override { return Ping1; }
  void ClearLines() override;
  void AddLine(std::string_view text) override;
  void StartProgress(int maximum) override;
  void Present() override;
  void Dismiss() override;
  bool AskYesNo(std::string_view question) override;
  void Notify(std::string_view text) override;
  void ShowError(std::string_view text) override;
  // Runs one handler of the window; an error that escapes it is shown in the error box.
  void Guarded(const std::function<void()>& work) override;

 protected:
  void showEvent(QShowEvent* event) override;
  void changeEvent(QEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  void Pump();
  // Pumps when the last pump is at least kPumpIntervalMs ago.
  void PumpIfDue();

  bool abortRequested_ = false;
  bool closePending_ = false;
};

extern TFTPWindow* FTPWindow;

// "Look for update": the update check with the application's update window, FTPWindow.
void CheckForUpdate();

}  // namespace vorn
