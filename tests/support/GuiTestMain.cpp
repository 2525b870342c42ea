// The main of every GUI test program: GoogleTest with one application object for the whole
// run, named as the program names it, headless unless a platform is chosen.
#include <gtest/gtest.h>

#include <QApplication>

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication application(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Tessaly"));
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
