#include "support/loop_guard.h"

#include <QAbstractEventDispatcher>
#include <QObject>

namespace vorlan::loop_guard {
namespace {

int g_handlers = 0;
int g_allowed = 0;
std::function<void(const char*)> g_report;

}  // namespace

InHandler::InHandler() { ++g_handlers; }
InHandler::~InHandler() { --g_handlers; }

Allow::Allow() { ++g_allowed; }
Allow::~Allow() { --g_allowed; }

void PumpEntered(const char* pump) {
  if (g_handlers > 0 && g_allowed == 0 && g_report) g_report(pump);
}

void OnNestedPump(std::function<void(const char*)> report) { g_report = std::move(report); }

void WatchQtEventLoop() {
  QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance();
  if (dispatcher == nullptr) return;
  QObject::connect(dispatcher, &QAbstractEventDispatcher::awake,
                   [] { PumpEntered("Qt's event loop"); });
}

}  // namespace vorlan::loop_guard
