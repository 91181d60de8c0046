#pragma once

#include <QByteArray>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

namespace vorlan {

// A PostgreSQL server of the test's own: a cluster in a temporary folder, listening on a Unix
// socket in that folder only. PostgreSQL refuses to run as root, so under root (CI) it runs as
// the user "postgres" that the Debian package creates. The server is stopped when this object
// goes, and by a watcher when the test process dies without getting there.
class PgServer {
 public:
  static constexpr int kStartSeconds = 60;  // a guard for a busy machine, not a wait

  // The one server of the test process, started on first use; the store tests fail, not skip,
  // when it cannot start.
  static PgServer& Shared();

  PgServer() {
    m_root = m_folder.path();
    m_data = m_root + "/data";
    if (!m_folder.isValid() || (AsRoot() && !Run("chown", {"postgres:postgres", m_root}, false)) ||
        !Run(Binary("initdb"), {"-D", m_data, "-U", "postgres", "-A", "trust", "-E", "UTF8",
                                "--locale=C", "--no-sync"}) ||
        !Start()) {
      return;
    }
#ifdef Q_OS_UNIX
    // Stops the server if this process ends without the destructor (a crash, a time-out).
    const QString stop = QString("%1 %2 -D %3 stop -m immediate >/dev/null 2>&1")
                             .arg(AsRoot() ? "runuser -u postgres --" : "", Binary("pg_ctl"), m_data);
    QProcess::startDetached(
        "setsid", {"sh", "-c", QString("while kill -0 %1 2>/dev/null; do sleep 1; done; %2")
                                   .arg(getpid())
                                   .arg(stop)});
#endif
  }
  ~PgServer() {
    if (m_running) Stop();
  }
  PgServer(const PgServer&) = delete;
  PgServer& operator=(const PgServer&) = delete;

  bool Ok() const { return m_running; }
  // What failed, and the end of the server's log.
  QString Error() const {
    QFile log(m_root + "/server.log");
    return m_error + (log.open(QIODevice::ReadOnly) ? log.readAll().right(4000) : QByteArray());
  }
  QByteArray Conninfo(const QString& database = "postgres") const {
    return QString("host=%1 user=postgres dbname=%2").arg(m_root, database).toUtf8();
  }

  bool Start() {
    m_running = Run(Binary("pg_ctl"),
                    {"-D", m_data, "-l", m_root + "/server.log", "-w", "-t",
                     QString::number(kStartSeconds), "-o",
                     QString("-k %1 -c listen_addresses='' -c fsync=off").arg(m_root), "start"});
    return m_running;
  }
  // Sends the signal to the server and every process of it: SIGSTOP makes a server that no
  // longer answers, with its connections still open; SIGCONT wakes it.
  bool Signal(int number) const;

  // Stopped hard: the server's processes end at once, as in a crash.
  bool Stop() {
    const bool stopped = Run(Binary("pg_ctl"), {"-D", m_data, "-w", "stop", "-m", "immediate"});
    m_running = m_running && !stopped;
    return stopped;
  }


 private:
  static bool AsRoot() {
#ifdef Q_OS_UNIX
    return geteuid() == 0;
#else
    return false;
#endif
  }
  // Debian's server binaries, of the newest version installed.
  static QString Binary(const QString& name) {
    const QStringList versions = QDir("/usr/lib/postgresql").entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    return versions.isEmpty() ? name : QString("/usr/lib/postgresql/%1/bin/%2").arg(versions.last(), name);
  }
  bool Run(const QString& program, QStringList arguments, bool asServerUser = true) {
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.setWorkingDirectory(m_root);
    if (asServerUser && AsRoot()) {
      arguments.prepend(program);
      arguments = QStringList{"-u", "postgres", "--"} + arguments;
      process.start("runuser", arguments);
    } else {
      process.start(program, arguments);
    }
    const bool done = process.waitForFinished((kStartSeconds + 10) * 1000);
    if (done && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0) {
      return true;
    }
    m_error = QString("%1 %2 failed: %3").arg(program, arguments.join(' '),
                                              QString::fromLocal8Bit(process.readAll()));
    return false;
  }

  QTemporaryDir m_folder{QDir::tempPath() + "/vorlan-pg-XXXXXX"};
  QString m_root;
  QString m_data;
  QString m_error;
  bool m_running = false;
};

}  // namespace vorlan
