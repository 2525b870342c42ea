// The update window on its own: its layout, its progress handlers, Abort and CLOSE.
#include "ftper.h"

#include <gtest/gtest.h>

#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QTest>

#include "ScopedSeam.h"
#include "ScriptedServer.h"
#include "UpdateBoxes.h"
#include "ftper_print.h"

namespace vorn {
namespace {

using test::ScriptedServer;

TEST(UpdateWindow, LayoutAndConnectionSettings) {
  TFTPWindow w;
  EXPECT_EQ(w.windowTitle(), QStringLiteral("Looking for updates...."));
  EXPECT_EQ(w.size(), QSize(345, 551));
  EXPECT_EQ(w.minimumSize(), w.maximumSize());
  EXPECT_FALSE(w.windowFlags() & (Qt::WindowCloseButtonHint | Qt::WindowSystemMenuHint |
                                  Qt::WindowMinMaxButtonsHint));
  EXPECT_FALSE(w.isVisible());
  EXPECT_EQ(w.Label5->text(), QStringLiteral("Connection"));
  EXPECT_TRUE(w.Label5->font().underline());
  EXPECT_EQ(w.FtpRtf->geometry(), QRect(16, 88, 321, 385));
  EXPECT_TRUE(w.FtpRtf->isReadOnly());
  EXPECT_EQ(w.Gauge1->geometry(), QRect(16, 472, 321, 25));
  EXPECT_EQ(w.Gauge1->BackColor(), QColor(0, 0, 255));
  EXPECT_EQ(w.Gauge1->BorderStyle(), TGaugeBorderStyle::bsNone);
  EXPECT_EQ(w.Button2->text(), QStringLiteral("Abort"));
  EXPECT_EQ(w.Button1->text(), QStringLiteral("CLOSE"));
  EXPECT_EQ(w.Button1->parentWidget(), &w);  // below the panel, on the window itself
  EXPECT_EQ(w.IdFTP1.Host, VORN_UPDATE_HOST);
  EXPECT_EQ(w.IdFTP1.Port, 21);
  EXPECT_EQ(w.IdFTP1.Username, "tavo");
  EXPECT_EQ(w.IdFTP1.Password, "brimtu47");
  EXPECT_TRUE(w.IdFTP1.Passive);
  EXPECT_EQ(w.IdFTP1.Intercept, &w.IdConnectionIntercept1);
  EXPECT_EQ(w.Ping1.Host, VORN_UPDATE_HOST);
  EXPECT_TRUE(w.MessageLines().isEmpty());
}

TEST(UpdateWindow, ProgressHandlersShowTheGaugesOwnFigures) {
  TFTPWindow w;  // hidden: nothing activates it, so it opens no connection
  // A size query that gave 0: 0/0 throughout.
  w.Gauge1->SetMaxValue(0);
  w.IdFTP1WorkBegin(TWorkMode::wmRead, 0);
  w.IdFTP1Work(TWorkMode::wmRead, 32768);
  EXPECT_EQ(w.StatusText(), QStringLiteral("0/0"));
  EXPECT_EQ(w.MessageLines(), (QStringList{QStringLiteral("*******BEGIN*********"),
                                           QStringLiteral("Work size : 0")}));

  // Progress beyond the maximum shows the maximum; the end resets the gauge.
  w.Gauge1->SetMaxValue(50000);
  w.IdFTP1Work(TWorkMode::wmRead, 32768);
  EXPECT_EQ(w.StatusText(), QStringLiteral("32768/50000"));
  EXPECT_EQ(w.Gauge1->PercentDone(), 65);
  w.IdFTP1Work(TWorkMode::wmRead, 65536);
  EXPECT_EQ(w.StatusText(), QStringLiteral("50000/50000"));
  w.IdFTP1WorkEnd(TWorkMode::wmRead);
  EXPECT_EQ(w.StatusText(), QStringLiteral("Finished"));
  EXPECT_EQ(w.Gauge1->Progress(), 0);
  w.IdFTP1AfterGet();
  EXPECT_EQ(w.MessageLines().mid(2), (QStringList{QStringLiteral("*****Finished*******"),
                                                  QStringLiteral("Finished downloading file")}));

  // Write mode takes its maximum from the work begin.
  w.IdFTP1WorkBegin(TWorkMode::wmWrite, 1234);
  EXPECT_EQ(w.MessageLines().back(), QStringLiteral("Work size : 1234"));
}

TEST(UpdateWindow, AbortWithoutATransferAndCloseWithAConnection) {
  ScriptedServer server;
  server.Run({ScriptedServer::Say("220 ready\r\n"), ScriptedServer::On("USER tavo", "331 pw\r\n"),
              ScriptedServer::On("PASS brimtu47", "230 in\r\n"),
              ScriptedServer::On("TYPE I", "200 ok\r\n"),
              ScriptedServer::On("SYST", "215 UNIX\r\n"), ScriptedServer::Silent()});
  TFTPWindow w;
  w.IdFTP1.Host = "127.0.0.1";
  w.IdFTP1.Port = server.Port();

  // With the connection closed, Abort only sets the flag and says so.
  w.Button2Click();
  EXPECT_TRUE(w.AbortRequested());
  EXPECT_EQ(w.MessageLines(), QStringList{QStringLiteral("Aborting....")});
  w.show();  // becoming visible clears it
  EXPECT_FALSE(w.AbortRequested());

  // Becoming active opens the connection.
  w.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
  EXPECT_TRUE(w.IdFTP1.IsConnected());
  EXPECT_TRUE(w.MessageLines().contains(QStringLiteral("Status : Connection established")));

  // With it open, Abort sends ABOR; CLOSE closes the connection and hides the window.
  QTest::mouseClick(w.Button2, Qt::LeftButton);
  w.FtpRtf->clear();
  QTest::mouseClick(w.Button1, Qt::LeftButton);
  EXPECT_FALSE(w.isVisible());
  EXPECT_FALSE(w.IdFTP1.IsConnected());
  EXPECT_EQ(w.MessageLines(),
            (QStringList{QStringLiteral("Status : Disconnecting."), QStringLiteral("Disconnected"),
                         QStringLiteral("Status : Disconnected.")}));
  const std::vector<std::string> commands = server.Finish();
  ASSERT_FALSE(commands.empty());
  EXPECT_EQ(commands.back(), "ABOR");
}

TEST(UpdateWindow, ErrorTextEndsWithAFullStopWhenTheMessageEndsAfterIt) {
  EXPECT_EQ(ErrorBoxText(QStringLiteral("550 No such directory")),
            QStringLiteral("550 No such directory."));
  EXPECT_EQ(ErrorBoxText(QStringLiteral("Already connected.")),
            QStringLiteral("Already connected."));
  EXPECT_EQ(ErrorBoxText(QStringLiteral("Socket Error # 10061\r\n")),
            QStringLiteral("Socket Error # 10061\r\n"));
  // An error escaping a handler of the window reaches the update's error box as shown.
  QStringList shown;
  {
    const test::ScopedSeam<ErrorBoxShower> box(
        SetErrorBoxShower, [&shown](QWidget*, const QString& t) { shown << t; });
    TFTPWindow w;
    w.Guarded([] { throw std::runtime_error("550 No such directory"); });
  }
  EXPECT_EQ(shown, QStringList{QStringLiteral("550 No such directory.")});
}

}  // namespace
}  // namespace vorn
