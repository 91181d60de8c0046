#pragma once

#include <QString>

#include <cstdio>
#include <functional>

#include "platform/dialogs.h"

namespace vorlan {
class Platform;
}

namespace vorlan::collect {

// The collector's account of what it does: one line per event, "yyyy-MM-dd hh:mm:ss.zzz LEVEL
// text", written in one call so that lines from a service manager's capture never interleave.
class EventLog {
 public:
  enum class Level { Info, Warning, Error };

  EventLog(const Platform& platform, std::FILE* out, bool quiet)
      : m_platform(platform), m_out(out), m_quiet(quiet) {}

  void Write(Level level, const QString& text);
  void Info(const QString& text) { Write(Level::Info, text); }
  void Warning(const QString& text) { Write(Level::Warning, text); }
  void Error(const QString& text) { Write(Level::Error, text); }

 private:
  const Platform& m_platform;
  std::FILE* m_out;
  bool m_quiet;
};

// What the desktop tool shows in message boxes, given to the collector to report and act on.
class MessageLines : public Dialogs {
 public:
  using Handler = std::function<void(const QString& text, Icon icon, const QString& title)>;
  explicit MessageLines(Handler handler) : m_handler(std::move(handler)) {}
  void MessageBox(const QString& text, Icon icon, const QString& title) override {
    m_handler(text, icon, title);
  }
  QString OpenFile(const OpenFileRequest&) override { return {}; }

 private:
  Handler m_handler;
};

}  // namespace vorlan::collect
