#pragma once

#include <functional>

// No handler enters the event loop. A handler runs while Qt delivers an event to an object or
// while the virtual platform runs a due task; a pump entered then (Qt's processEvents or exec,
// the virtual platform's DoEvents, WaitUntil or RunFor) would run other handlers inside it.
namespace vorlan::loop_guard {

// Marks a handler as running for as long as it lives.
class InHandler {
 public:
  InHandler();
  ~InHandler();
  InHandler(const InHandler&) = delete;
  InHandler& operator=(const InHandler&) = delete;
};

// Lets the pump be entered from handlers for as long as it lives: for the tests of the pump.
class Allow {
 public:
  Allow();
  ~Allow();
  Allow(const Allow&) = delete;
  Allow& operator=(const Allow&) = delete;
};

// Every pump calls this when it is entered; it reports through the hook when a handler runs.
void PumpEntered(const char* pump);
// What a nested pump does: the test main fails the running test.
void OnNestedPump(std::function<void(const char* pump)> report);
// Watches Qt's event dispatcher: the default one tells of the pumps that may sleep (exec, waits);
// Qt's own, made where QT_NO_GLIB is set (the window's suites), of every processEvents. Needs the
// application object.
void WatchQtEventLoop();

}  // namespace vorlan::loop_guard
