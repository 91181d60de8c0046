#include "store/forwarder.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>

#include "store/log_source.h"

namespace vorlan::store {

namespace {

// When the log began the file: its name is the local minute it was opened, without the year,
// which is the year of its last change (or the one before, for a file begun in December and
// written into January).
qint64 OpenedAt(const QFileInfo& file) {
  const QDateTime modified = file.lastModified();
  QDateTime opened = QDateTime::fromString(
      QString::number(modified.date().year()) + file.completeBaseName(), "yyyyMMddHHmm");
  if (opened.isValid() && opened > modified) opened = opened.addYears(-1);
  return (opened.isValid() ? opened : modified).toMSecsSinceEpoch();
}

QString Age(qint64 milliseconds) {
  if (milliseconds < 120000)
    return QStringLiteral("%1 s").arg(double(milliseconds) / 1000, 0, 'f', 1);
  if (milliseconds < 7200000) return QStringLiteral("%1 min").arg(milliseconds / 60000);
  return QStringLiteral("%1 h %2 min").arg(milliseconds / 3600000).arg(milliseconds / 60000 % 60);
}

}  // namespace

Forwarder::Forwarder(ForwarderOptions options, Reporter report)
    : m_options(std::move(options)), m_report(std::move(report)) {
  m_store.SetWakeUp(&m_wakeUp);
}

Forwarder::~Forwarder() { Stop(); }

void Forwarder::Start() {
  m_thread = std::thread([this] { Run(); });
}

void Forwarder::Stop() {
  {
    const std::lock_guard lock(m_mutex);
    m_stopping = true;
  }
  m_wakeUp.Raise();
  m_wake.notify_all();
  if (m_thread.joinable()) m_thread.join();
}

bool Forwarder::Pause(std::chrono::milliseconds delay) {
  std::unique_lock lock(m_mutex);
  m_wake.wait_for(lock, delay, [this] { return m_stopping; });
  return !m_stopping;
}

void Forwarder::Run() {
  do {
    if (!m_store.IsOpen() && !Connect()) {
      if (m_wakeUp.Raised()) break;
      Survey(LogFiles());
      ReportProgress();
      if (!Pause(m_retry)) break;
      m_retry = std::min(m_retry * 2, std::chrono::seconds(kLongestRetry));
      continue;
    }
    bool more = false;
    if (!Pass(more)) {
      if (m_wakeUp.Raised()) break;
      const QString error = m_store.Error();
      m_store.Rollback();
      m_store.Close();
      Unreachable(error);
      continue;
    }
    ReportProgress();
    if (more) continue;
  } while (Pause(kForwardPoll));
}

bool Forwarder::Connect() {
  if (const std::optional<QString> error =
          m_store.Open(m_options.conninfo, m_options.timeZone, QStringLiteral("vorlan-collect"))) {
    Unreachable(*error);
    return false;
  }
  const std::optional<std::map<QString, LogPosition>> positions =
      m_store.Positions(m_options.exchange);
  if (!positions) {
    Unreachable(m_store.Error());
    m_store.Close();
    return false;
  }
  m_positions = *positions;
  m_retry = kFirstRetry;
  m_unreachable = false;
  m_report(Level::Info, QStringLiteral("connected to the store as exchange %1 (time zone %2)")
                            .arg(QString::fromUtf8(m_options.exchange), m_options.timeZone));
  return true;
}

void Forwarder::Unreachable(const QString& why) {
  const auto now = std::chrono::steady_clock::now();
  if (m_unreachable && now - m_lastUnreachable < kUnreachableRepeat) return;
  m_report(Level::Warning,
           QStringLiteral("cannot reach the store (%1); the log files keep every record and "
                          "loading goes on when it is back")
               .arg(QString(why).replace('\n', "; ")));
  m_unreachable = true;
  m_lastUnreachable = now;
}

QFileInfoList Forwarder::LogFiles() const {
  return QDir(m_options.logsFolder)
      .entryInfoList({QStringLiteral("*.log")}, QDir::Files | QDir::NoSymLinks, QDir::Name);
}

void Forwarder::Survey(const QFileInfoList& files) {
  std::vector<LogFileState> states;
  states.reserve(size_t(files.size()));
  for (const QFileInfo& file : files) {
    const auto position = m_positions.find(file.fileName());
    states.push_back({file.fileName(), file.size(),
                      position == m_positions.end() ? 0 : position->second.offset, OpenedAt(file)});
  }
  m_backlog.Update(states, QDateTime::currentMSecsSinceEpoch());
}

bool Forwarder::Pass(bool& more) {
  const QFileInfoList files = LogFiles();
  bool ok = true;
  for (const QFileInfo& file : files) {
    if (!LoadFile(file.fileName(), file.size(), file.lastModified(), more)) {
      ok = false;
      break;
    }
  }
  Survey(files);
  return ok;
}

bool Forwarder::LoadFile(const QString& name, qint64 size, const QDateTime& modified, bool& more) {
  LogPosition from = m_positions[name];
  // A file cut back below the position (the log cuts a line it could not sync), or whose
  // position no longer follows a line end, is read again from its start: what is already
  // stored is skipped by its bytes.
  if (size < from.offset) from = {};
  if (size == from.offset) return true;
  QString error;
  const QString path = QDir(m_options.logsFolder).filePath(name);
  std::optional<Chunk> chunk = ReadChunk(path, std::max<qint64>(0, from.offset - 2), error);
  if (!chunk) return true;  // gone or replaced since the listing; the next pass sees
  if (from.offset >= 2) {
    if (!chunk->bytes.startsWith("\r\n")) {
      from = {};
      chunk = ReadChunk(path, 0, error);
      if (!chunk) return true;
    } else {
      chunk->bytes.remove(0, 2);
    }
  }
  const bool settled =
      chunk->toEnd && modified.secsTo(QDateTime::currentDateTime()) >= kSettled.count();
  const LogBatch batch =
      CutBatch(chunk->bytes, from, settled, !chunk->toEnd, m_options.exchange, name.toUtf8());
  if (batch.end.offset == from.offset) return true;
  if (!m_store.Begin()) return false;
  std::optional<qint64> inserted = qint64(0);
  if (batch.records > 0) inserted = m_store.Load(m_options.exchange, batch);
  if (!inserted || !m_store.SavePosition(m_options.exchange, name, batch.end) ||
      !m_store.Commit()) {
    return false;
  }
  m_positions[name] = batch.end;
  m_inserted += *inserted;
  m_repeated += batch.records - *inserted;
  more = more || !chunk->toEnd;
  return true;
}

void Forwarder::ReportProgress() {
  const auto now = std::chrono::steady_clock::now();
  if (now - m_progressSince < kProgressEvery) return;
  if (m_inserted > 0 || m_repeated > 0 || m_backlog.Bytes() > 0) {
    QString behind = QStringLiteral("all logged records stored");
    if (m_backlog.Bytes() > 0) {
      behind = QStringLiteral("%1 bytes of the log files not yet loaded").arg(m_backlog.Bytes());
      if (const std::optional<qint64> since = m_backlog.OldestSince()) {
        behind += QStringLiteral(", the oldest record among them logged %1 ago")
                      .arg(Age(std::max<qint64>(0, QDateTime::currentMSecsSinceEpoch() - *since)));
      }
    }
    m_report(Level::Info,
             QStringLiteral("store: %1 rows loaded in the last minute (%2 records already "
                            "there); %3")
                 .arg(m_inserted)
                 .arg(m_repeated)
                 .arg(behind));
  }
  m_progressSince = now;
  m_inserted = m_repeated = 0;
}

}  // namespace vorlan::store
