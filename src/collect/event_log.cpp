#include "collect/event_log.h"

#include "platform/platform.h"

namespace vorlan::collect {

void EventLog::Write(Level level, const QString& text) {
  if (m_quiet && level != Level::Error) return;
  const char* name = level == Level::Info ? "INFO " : level == Level::Warning ? "WARN " : "ERROR";
  QByteArray line = m_platform.Now().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss.zzz ")).toUtf8();
  line += name;
  line += ' ';
  // A message box's CR LF becomes a separator: one event, one line.
  QString flat = text;
  flat.replace(QStringLiteral("\r\n"), QStringLiteral("; ")).replace('\n', QStringLiteral("; "));
  line += flat.toUtf8();
  line += '\n';
  // Output that cannot be written (a closed pipe, a full disk) is lost, and that is all: the
  // stream's error is cleared so that the next line is tried again.
  const size_t written = std::fwrite(line.constData(), 1, size_t(line.size()), m_out);
  if (std::fflush(m_out) != 0 || written != size_t(line.size())) std::clearerr(m_out);
}

}  // namespace vorlan::collect
