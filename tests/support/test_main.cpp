#include <gtest/gtest.h>

#ifdef VORLAN_TEST_WIDGETS
#include <QApplication>
using TestApplication = QApplication;
#else
#include <QCoreApplication>
using TestApplication = QCoreApplication;
#endif

// Every suite runs headless inside one application object, as the program does. The suites of
// the layers below the widgets get a QCoreApplication, which proves they need nothing more.
int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  TestApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
