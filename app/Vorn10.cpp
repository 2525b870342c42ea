// Start-up: the application, its title, the windows in their order, and the event loop.
#include <QApplication>
#include <QComboBox>
#include <QIcon>
#include <cstdio>
#include <memory>
#include <string>

#include "About.h"
#include "ScrollBarStyle.h"
#include "StartUp.h"
#include "TextBytes.h"
#include "UpdateCheck.h"
#include "UpdateChoice.h"
#include "UpdateFile.h"
#include "UpdateSignature.h"
#include "VornUnit1.h"
#include "ftper.h"
#include "vornUnit2.h"

namespace vorn {
namespace {

int Run(int argc, char** argv) {
  // The command line is read first: help, version and mistakes need no window system.
  StartArgs start = ParseStartArgs(argc, argv);
  switch (start.action) {
    case StartArgs::Action::Help:
      std::fputs(kStartUsage, stdout);
      std::fputs(kStartHelp, stdout);
      return std::fflush(stdout) == 0 && !std::ferror(stdout) ? 0 : 2;
    case StartArgs::Action::Version:
      std::fputs("vorn " VORN_VERSION "\n", stdout);
      return std::fflush(stdout) == 0 && !std::ferror(stdout) ? 0 : 2;
    case StartArgs::Action::Error:
      std::fprintf(stderr, "vorn: %s\n%s", start.message.c_str(), kStartUsage);
      return 2;
    case StartArgs::Action::Handshake:
      // The update asks whether this build runs here; no window is opened.
      return AnswerUpdateHandshake(start.message.c_str());
    case StartArgs::Action::Run:
      break;
  }
  // Without a display the window system would abort the program with its own advice.
  if (const std::string why = NoDisplayMessage(start); !why.empty()) {
    std::fprintf(stderr, "vorn: %s\n", why.c_str());
    return 2;
  }
  if (kSelfUpdate && !IsUsableUpdateKey(TrustedUpdateKey()))
    std::fprintf(stderr, "vorn: %s\n", kUnusableKeyText);
  int guiArgc = static_cast<int>(start.guiArgv.size()) - 1;
  QApplication application(guiArgc, start.guiArgv.data());
  QApplication::setApplicationName(QStringLiteral("Tessaly"));
  // The desktop entry's name lets docks group the windows under the installed entry; the icon
  // is the installed theme's when there is one, else the copy built into the program.
  QGuiApplication::setDesktopFileName(QStringLiteral(VORN_APP_ID));
  QIcon builtIn;
  for (const int size : {16, 32, 48, 64, 128, 256})
    builtIn.addFile(QStringLiteral(":/app/icon-%1.png").arg(size), QSize(size, size));
  QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral(VORN_APP_ID), builtIn));
  ScrollBarStyle::Install();

  // The main window is created first; the others start hidden. The directory chooser is
  // created on first use.
  auto form1 = std::make_unique<TForm1>();
  Form1 = form1.get();
  auto form2 = std::make_unique<vorn::TForm2>();
  vorn::Form2 = form2.get();
  // The About window belongs to the main window, so it shows centred over it.
  auto about = std::make_unique<vorn::TABoutQuillo>(form1.get());
  vorn::ABoutQuillo = about.get();
  auto ftpWindow = std::make_unique<vorn::TFTPWindow>();
  vorn::FTPWindow = ftpWindow.get();
  // A swap cut short by a crash may have left the program's second name behind.
  vorn::RemoveStaleOldProgram();

  if (!start.directory.empty()) form1->ComboBox3->setEditText(FromBytes(start.directory));
  form1->show();
  return QApplication::exec();
}

}  // namespace
}  // namespace vorn

int main(int argc, char** argv) { return vorn::Run(argc, argv); }
