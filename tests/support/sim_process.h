#pragma once

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStringList>

#include "support/test_platform.h"

namespace vorlan {

// The PBX simulator as a child process on an address of its own, with a transcript of what it
// delivered. It is stopped when this object goes.
class SimProcess {
 public:
  SimProcess(TestPlatform& platform, const QString& address, QStringList options,
             const QString& transcriptPath)
      : m_transcriptPath(transcriptPath) {
    m_process.setProcessChannelMode(QProcess::MergedChannels);
    QObject::connect(&m_process, &QProcess::readyReadStandardOutput, [this] {
      m_output += m_process.readAllStandardOutput();
      if (!m_started && m_output.contains("listening on")) m_started = true;
      if (m_output.size() > 65536) m_output = m_output.right(8192);  // keep the latest lines
    });
    options << "--address" << address << "--transcript" << transcriptPath;
    m_process.start(QStringLiteral(PBXSIM_PATH), options);
    // A guard for a busy machine, not a timing: the wait ends as soon as the simulator listens.
    platform.WaitUntil([this] { return m_started; }, std::chrono::seconds(60));
  }
  ~SimProcess() {
    m_process.terminate();
    if (!m_process.waitForFinished(3000)) m_process.kill();
    m_process.waitForFinished(3000);
  }
  bool Started() const { return m_started; }
  bool Running() const { return m_process.state() == QProcess::Running; }
  // The simulator's latest output, for a failure message.
  std::string Tail() const { return m_output.right(3000).toStdString(); }

  // The records the simulator counts as delivered (acknowledged), in order.
  std::vector<QByteArray> Delivered() const {
    std::vector<QByteArray> records;
    QFile file(m_transcriptPath);
    if (!file.open(QIODevice::ReadOnly)) return records;
    while (!file.atEnd()) {
      const QJsonObject line = QJsonDocument::fromJson(file.readLine()).object();
      if (line.contains("delivered")) {
        records.push_back(QByteArray::fromHex(line.value("delivered").toString().toLatin1()));
      }
    }
    return records;
  }

 private:
  QProcess m_process;
  QByteArray m_output;
  QString m_transcriptPath;
  bool m_started = false;
};

// A record as the log files hold it: its blanks shown as ".".
inline QByteArray AsLogged(QByteArray record) { return record.replace(' ', '.'); }

// Every line of every log file in `logsFolder`, in the order of the files' names, without the
// marker and the CR LF. A line that does not end in CR LF keeps its end, so it matches nothing.
inline std::vector<QByteArray> LoggedRecords(const QString& logsFolder) {
  std::vector<QByteArray> lines;
  QDir logs(logsFolder);
  for (const QString& name : logs.entryList({"*.log"}, QDir::Files, QDir::Name)) {
    QFile file(logs.filePath(name));
    if (!file.open(QIODevice::ReadOnly)) continue;
    for (QByteArray line : file.readAll().split('\n')) {
      if (line.isEmpty()) continue;
      if (line.endsWith('\r')) line.chop(1);
      if (line.startsWith("<BAD>:")) line.remove(0, 6);
      lines.push_back(line);
    }
  }
  return lines;
}

// How many of the delivered records, from the first, appear in the logged lines in order (each
// may be logged more than once). All of them, when none is missing.
inline size_t DeliveredInOrder(const std::vector<QByteArray>& logged,
                               const std::vector<QByteArray>& delivered) {
  size_t next = 0;
  for (const QByteArray& line : logged) {
    if (next < delivered.size() && line == AsLogged(delivered[next])) ++next;
  }
  return next;
}

}  // namespace vorlan
