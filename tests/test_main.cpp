#include <gtest/gtest.h>

#include <QApplication>

// Every suite runs headless and inside one application object, as the program does.
int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
