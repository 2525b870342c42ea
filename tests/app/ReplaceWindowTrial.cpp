// A trial of the replace window on a real tree, shown on the desktop (or Xvfb): previews TEXT
// in FOLDER's files matching MASK, saves a picture of the window, replaces every match by WITH
// unless WITH is "-", saves another, and prints the counts, the times and the longest stretch
// without an event pump.
//   replace_window_trial FOLDER MASK TEXT WITH PICTURE_PREFIX
#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QTreeWidget>
#include <cstdio>

#include "ReplaceWindow.h"
#include "VornUnit1.h"

int main(int argc, char** argv) {
  if (argc != 6) {
    std::fprintf(stderr, "usage: replace_window_trial FOLDER MASK TEXT WITH PICTURE_PREFIX\n");
    return 2;
  }
  QApplication application(argc, argv);
  vorn::TForm1 form;
  vorn::Form1 = &form;
  form.show();
  vorn::ReplaceWindow& window = vorn::ShowReplaceWindow(form);
  window.resize(1000, 700);
  window.directory->setText(QString::fromUtf8(argv[1]));
  window.mask->setText(QString::fromUtf8(argv[2]));
  window.text->setText(QString::fromUtf8(argv[3]));
  window.with->setText(QString::fromUtf8(argv[4]));
  window.subdirectories->setChecked(true);
  window.matchCase->setChecked(true);
  window.confirm = [](const QString& question, size_t outside, bool& allow) {
    std::printf("asked: %s (outside: %zu)\n", question.toUtf8().constData(), outside);
    allow = false;
    return true;
  };
  QElapsedTimer clock;
  clock.start();
  window.Preview();
  std::printf("preview: %.2f s, %s, %d file rows, longest stretch without a pump %.1f ms\n",
              clock.elapsed() / 1000.0, window.status->text().toUtf8().constData(),
              window.matches->topLevelItemCount(),
              std::chrono::duration<double, std::milli>(window.Throttle().LongestGap()).count());
  if (window.matches->topLevelItemCount() > 0)
    window.matches->expandItem(window.matches->topLevelItem(0));
  QApplication::processEvents();
  window.grab().save(QString::fromUtf8(argv[5]) + QStringLiteral("-preview.png"));
  if (std::string(argv[4]) != "-") {
    clock.restart();
    window.Replace();
    std::printf("replace: %.2f s, %s\n", clock.elapsed() / 1000.0,
                window.status->text().toUtf8().constData());
    QApplication::processEvents();
    window.grab().save(QString::fromUtf8(argv[5]) + QStringLiteral("-replaced.png"));
  }
  return 0;
}
