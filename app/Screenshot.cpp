// Makes the screenshot the desktop's software centres show: the main window, offscreen, after
// a search in a small sample folder, saved as a PNG.
//
//   vorn_screenshot OUT.png
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QListView>
#include <QPixmap>
#include <cstdio>
#include <memory>

#include "VornUnit1.h"

namespace vorn {
namespace {

// A fixed folder, so the picture is the same on every run.
const char* const kSample = "/tmp/tessaly-sample/";

bool WriteSample() {
  const struct {
    const char* name;
    const char* text;
  } files[] = {
      {"notes/meeting.txt", "Agenda\nThe release date moves to Friday\nActions for the team\n"},
      {"notes/todo.txt", "Call the printer\nCheck the release notes\nOrder paper\n"},
      {"projects/atlas/readme.txt", "Atlas maps the office\nEach release ships a new floor plan\n"},
      {"projects/atlas/changes.txt", "1.2: release with the second floor\n1.1: first release\n"},
      {"letters/supplier.txt", "Dear supplier,\nplease confirm the release of order 4471.\n"},
  };
  QDir().mkpath(QString::fromUtf8(kSample));
  for (const auto& f : files) {
    const QString path = QString::fromUtf8(kSample) + QString::fromUtf8(f.name);
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) return false;
    file.write(f.text);
  }
  return true;
}

int Run(int argc, char** argv) {
  if (argc != 2) {
    std::fputs("usage: vorn_screenshot OUT.png\n", stderr);
    return 2;
  }
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication application(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Tessaly"));
  QDir(QString::fromUtf8(kSample)).removeRecursively();
  if (!WriteSample()) {
    std::fprintf(stderr, "vorn_screenshot: cannot write the sample folder %s\n", kSample);
    return 1;
  }

  auto form = std::make_unique<TForm1>();
  Form1 = form.get();
  form->show();
  form->ComboBox3->setEditText(QString::fromUtf8(kSample));
  form->ComboBox2->setEditText(QStringLiteral("release"));
  form->Checkbox3->SetChecked(true);
  form->ComboBox2Change();
  form->Do_the_search();
  form->ListBox1->setCurrentIndex(form->Results().index(2, 0));
  QApplication::processEvents();
  const bool saved = form->grab().save(QString::fromLocal8Bit(argv[1]), "PNG");
  QDir(QString::fromUtf8(kSample)).removeRecursively();
  if (!saved) {
    std::fprintf(stderr, "vorn_screenshot: cannot write %s\n", argv[1]);
    return 1;
  }
  return 0;
}

}  // namespace
}  // namespace vorn

int main(int argc, char** argv) { return vorn::Run(argc, argv); }
