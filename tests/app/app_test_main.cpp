// The GUI tests need one application object for the whole run, set up as the program does.
#include <gtest/gtest.h>

#include <QApplication>

#include "FastStrings.h"

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication application(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Tessaly"));
  vorn::UpperFoldTable();
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
