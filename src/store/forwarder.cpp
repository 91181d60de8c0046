#include "store/forwarder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>

#include "logging/file_access.h"
#include "store/folder_watch.h"

namespace vorlan::store {

namespace {

using Clock = std::chrono::steady_clock;

// Log files, and those moved aside under a year (12090200.log.2025), whose rest is still read.
const QStringList kLogNames{QStringLiteral("*.log"), QStringLiteral("*.log.*")};

// When the log began the file: its name is the local minute it was opened, without the year,
// which is the year of its last change (or the one before, for a file begun in December and
// written into January).
qint64 OpenedAt(const QString& name, const QDateTime& modified) {
  QDateTime opened = QDateTime::fromString(
      QString::number(modified.date().year()) + name.section('.', 0, 0), "yyyyMMddHHmm");
  if (opened.isValid() && opened > modified) opened = opened.addYears(-1);
  return (opened.isValid() ? opened : modified).toMSecsSinceEpoch();
}

QString Age(qint64 milliseconds) {
  if (milliseconds < 120000)
    return QStringLiteral("%1 s").arg(double(milliseconds) / 1000, 0, 'f', 1);
  if (milliseconds < 7200000) return QStringLiteral("%1 min").arg(milliseconds / 60000);
  return QStringLiteral("%1 h %2 min").arg(milliseconds / 3600000).arg(milliseconds / 60000 % 60);
}

// The bytes that tell a file from another one made under its name: its first bytes and those
// just before the position (64 of each at most).
constexpr qint64 kMark = 64;
std::optional<QByteArray> Marks(int fd, qint64 offset) {
  QByteArray head(qsizetype(std::min(offset, kMark)), '\0');
  QByteArray tail(qsizetype(std::min(offset, kMark)), '\0');
  if (!logging::ReadAt(fd, 0, head) || !logging::ReadAt(fd, offset - tail.size(), tail)) {
    return std::nullopt;
  }
  return head + tail;
}

}  // namespace

Forwarder::Forwarder(ForwarderOptions options, Reporter report)
    : m_options(std::move(options)), m_report(std::move(report)) {
  const QString canonical = QFileInfo(m_options.logsFolder).canonicalFilePath();
  m_journal = (canonical.isEmpty() ? QFileInfo(m_options.logsFolder).absoluteFilePath() : canonical)
                  .toUtf8();
  m_store.SetWakeUp(&m_wakeUp);
  m_store.SetNoticeHandler(
      [this](const QString& text) { m_report(Level::Info, QStringLiteral("store: ") + text); });
}

Forwarder::~Forwarder() { Stop(); }

void Forwarder::Start() {
  m_thread = std::thread([this] { Run(); });
}

void Forwarder::Stop() {
  m_wakeUp.Raise();
  if (m_thread.joinable()) m_thread.join();
}

ForwarderStatus Forwarder::Status() const {
  const std::lock_guard lock(m_mutex);
  return m_status;
}

void Forwarder::Run() {
  FolderWatch watch(m_options.logsFolder);
  bool listAll = true;
  while (!m_wakeUp.Raised()) {
    bool more = false;
    if (!m_store.IsOpen() && Clock::now() >= m_nextTry && Connect()) listAll = true;
    if (listAll) ListFiles();
    if (m_store.IsOpen()) {
      if (Pass(more)) {
        m_retry = kFirstRetry;
        m_failing = false;
      } else {
        if (m_wakeUp.Raised()) break;
        const QString error = m_store.Error();
        m_store.Rollback();
        const bool connecting = !m_store.IsOpen();  // the connection was lost
        m_store.Close();
        Failed(error, connecting);
      }
    }
    Survey();
    ReportProgress();
    // Until a file changes; no longer than the next retry, a last line settling, or the
    // next report.
    const auto now = Clock::now();
    auto until = m_progressSince + kProgressEvery;
    if (!m_store.IsOpen()) until = std::min(until, m_nextTry);
    if (m_settleAt) until = std::min(until, *m_settleAt);
    if (more) until = now;
    const auto wait = std::max(std::chrono::milliseconds(0),
                               std::chrono::duration_cast<std::chrono::milliseconds>(until - now));
    const FolderWatch::Changes changes = watch.Wait(wait, m_wakeUp);
    listAll = changes.all;
    for (const QString& name : changes.names) {
      if (!QDir::match(kLogNames, name)) continue;
      m_pending.insert(name);
      const QFileInfo file(QDir(m_options.logsFolder).filePath(name));
      if (file.isFile() && !file.isSymLink()) {
        m_files[name] = {file.size(), OpenedAt(name, file.lastModified())};
      } else {
        m_files.erase(name);
      }
    }
    if (m_settleAt && Clock::now() >= *m_settleAt) {
      m_settleAt.reset();
      listAll = true;
    }
  }
}

bool Forwarder::Connect() {
  auto failed = [this](const QString& why) {
    m_store.Close();
    Failed(why, true);
    return false;
  };
  if (const std::optional<QString> error =
          m_store.Open(m_options.conninfo, m_options.timeZone, QStringLiteral("vorlan-collect"))) {
    return failed(*error);
  }
  const std::optional<std::map<QString, FilePosition>> positions =
      m_store.Positions(m_options.exchange);
  if (!positions) return failed(m_store.Error());
  m_positions = *positions;
  if (!m_connectedSaid) {
    m_report(Level::Info, QStringLiteral("connected to the store as exchange %1 (time zone %2)")
                              .arg(QString::fromUtf8(m_options.exchange), m_options.timeZone));
  }
  m_connectedSaid = true;
  return true;
}

// Any failure of the store: tried again after 1 s, doubling to 30 s; said once, then every
// 5 minutes while it lasts.
void Forwarder::Failed(const QString& why, bool connecting) {
  const auto now = Clock::now();
  m_nextTry = now + m_retry;
  m_retry = std::min(m_retry * 2, std::chrono::seconds(kLongestRetry));
  {
    const std::lock_guard lock(m_mutex);
    m_status.storeReachable = false;
  }
  if (m_failing && now - m_lastFailure < kUnreachableRepeat) return;
  if (!m_failing) m_connectedSaid = false;
  m_report(Level::Warning,
           (connecting ? QStringLiteral("cannot reach the store (%1); the log files keep every "
                                        "record and loading goes on when it is back")
                       : QStringLiteral("the store refused the rows (%1); the log files keep "
                                        "every record, loading is tried again"))
               .arg(QString(why).replace('\n', "; ")));
  m_failing = true;
  m_lastFailure = now;
}

void Forwarder::ListFiles() {
  std::map<QString, LogFile> files;
  for (const QFileInfo& file :
       QDir(m_options.logsFolder).entryInfoList(kLogNames, QDir::Files | QDir::NoSymLinks)) {
    const QString name = file.fileName();
    files[name] = {file.size(), OpenedAt(name, file.lastModified())};
    const auto position = m_positions.find(name);
    if (position == m_positions.end() || position->second.at.offset != file.size()) {
      m_pending.insert(name);
    }
  }
  m_files = std::move(files);
}

bool Forwarder::Pass(bool& more) {
  for (auto name = m_pending.begin(); name != m_pending.end();) {
    bool finished = false;
    if (!LoadFile(*name, more, finished)) return false;
    name = finished ? m_pending.erase(name) : std::next(name);
  }
  const std::lock_guard lock(m_mutex);
  m_status.storeReachable = true;
  return true;
}

bool Forwarder::LoadFile(const QString& name, bool& more, bool& finished) {
  const QString path = QDir(m_options.logsFolder).filePath(name);
  QString error;
  const logging::OpenedFile opened = logging::OpenRegularFile(path, logging::Access::Read, &error);
  QFile file;
  if (opened.fd < 0 || !file.open(opened.fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
    if (opened.fd >= 0) logging::CloseFile(opened.fd);
    m_files.erase(name);  // gone; its events bring it back when it is made again
    finished = true;
    return true;
  }
  const QFileInfo info(path);
  const qint64 size = logging::FileSize(opened.fd);
  m_files[name] = {size, OpenedAt(name, info.lastModified())};
  const std::optional<logging::FileId> id = logging::IdOfOpenFile(opened.fd);
  const QByteArray fileId =
      id ? QByteArray::number(id->device) + ':' + QByteArray::number(id->inode) : QByteArray();

  // Goes on from the position only in the file it was taken in: one made again under the
  // name, replaced or cut back is read from its start, and its lines already stored are
  // known by their keys.
  LogPosition from = FileStart(name);
  if (const auto known = m_positions.find(name); known != m_positions.end()) {
    const FilePosition& stored = known->second;
    if (stored.fileId == fileId && stored.at.offset <= size &&
        Marks(opened.fd, stored.at.offset) == stored.head) {
      from = stored.at;
    }
  }
  if (from.offset == size) {
    finished = true;
    return true;
  }
  const bool settled = info.lastModified().secsTo(QDateTime::currentDateTime()) >= kSettled.count();
  logging::LogStream stream(file, from.offset, from.line, from.key);
  const LogBatch batch =
      ReadBatch(stream, from, settled, m_options.exchange, name.toUtf8(), m_journal);
  if (batch.end.offset == from.offset) {
    // A last line still being written: taken as it stands once the file has settled.
    if (!settled && stream.Error().isEmpty()) {
      const auto at = Clock::now() + kSettled;
      if (!m_settleAt || at < *m_settleAt) m_settleAt = at;
    }
    return true;
  }
  const std::optional<QByteArray> marks = Marks(opened.fd, batch.end.offset);
  if (!marks) return true;  // read again at the next change
  if (!m_store.Begin()) return false;
  std::optional<qint64> inserted = qint64(0);
  if (batch.records > 0) inserted = m_store.Load(m_options.exchange, batch);
  const FilePosition next{batch.end, fileId, *marks};
  if (!inserted || !m_store.SavePosition(m_options.exchange, name, next) || !m_store.Commit()) {
    return false;
  }
  m_positions[name] = next;
  m_inserted += *inserted;
  m_repeated += batch.records - *inserted;
  {
    const std::lock_guard lock(m_mutex);
    m_status.rowsLoaded += *inserted;
  }
  more = more || batch.end.offset < size;
  finished = batch.end.offset == size;
  return true;
}

void Forwarder::Survey() {
  std::vector<LogFileState> states;
  states.reserve(m_files.size());
  for (const auto& [name, file] : m_files) {
    const auto position = m_positions.find(name);
    states.push_back(
        {name, file.size,
         position == m_positions.end() ? 0 : std::min(position->second.at.offset, file.size),
         file.openedAt});
  }
  m_backlog.Update(states, QDateTime::currentMSecsSinceEpoch());
  const std::lock_guard lock(m_mutex);
  m_status.bytesNotLoaded = m_backlog.Bytes();
  m_status.oldestNotLoadedSince = m_backlog.OldestSince();
}

void Forwarder::ReportProgress() {
  const auto now = Clock::now();
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
