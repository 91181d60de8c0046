#include "support/pg_server.h"

#ifdef Q_OS_LINUX
#include <signal.h>
#endif

namespace vorlan {

PgServer& PgServer::Shared() {
  static PgServer server;
  return server;
}

bool PgServer::Signal(int number) const {
#ifdef Q_OS_LINUX
  QFile pidFile(m_data + "/postmaster.pid");
  if (!m_running || !pidFile.open(QIODevice::ReadOnly)) return false;
  const QByteArray postmaster = pidFile.readLine().trimmed();
  if (kill(postmaster.toInt(), number) != 0) return false;
  // Its children: the fourth field of /proc/PID/stat is the parent.
  for (const QString& pid : QDir("/proc").entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
    QFile stat("/proc/" + pid + "/stat");
    if (!stat.open(QIODevice::ReadOnly)) continue;
    const QByteArray text = stat.readAll();
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    if (fields.size() > 1 && fields[1] == postmaster) kill(pid.toInt(), number);
  }
  return true;
#else
  Q_UNUSED(number);
  return false;
#endif
}

}  // namespace vorlan
