#include <gtest/gtest.h>

#ifdef VORLAN_TEST_WIDGETS
#include <QApplication>
using ApplicationBase = QApplication;
#else
#include <QCoreApplication>
using ApplicationBase = QCoreApplication;
#endif

#include "support/loop_guard.h"

namespace {

// Every event delivered is a handler running: the event loop must not be entered inside one.
class TestApplication final : public ApplicationBase {
 public:
  using ApplicationBase::ApplicationBase;
  bool notify(QObject* receiver, QEvent* event) override {
    const vorlan::loop_guard::InHandler handler;
    return ApplicationBase::notify(receiver, event);
  }
};

}  // namespace

// Every suite runs headless inside one application object, as the program does. The suites of
// the layers below the widgets get a QCoreApplication, which proves they need nothing more.
// In every suite a handler that enters the event loop fails the test that runs it.
int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  TestApplication app(argc, argv);
  vorlan::loop_guard::OnNestedPump([](const char* pump) {
    ADD_FAILURE() << pump << " was entered from inside a handler: a handler must never wait or "
                             "serve events; let a timer or the next event carry the work on";
  });
  vorlan::loop_guard::WatchQtEventLoop();
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
