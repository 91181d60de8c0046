#include "logging/last_reply.h"

#include <QDir>
#include <QFile>

#include <algorithm>
#include <cerrno>
#include <optional>

#include "logging/file_access.h"
#include "logging/log_reader.h"

namespace vorlan::logging {
namespace {

constexpr QByteArrayView kHeader = "VORLAN last reply\n";
constexpr QByteArrayView kEnd = "end\n";
constexpr char kStx = '\x02';
constexpr QByteArrayView kBadMarker = "<BAD>:";
constexpr QByteArrayView kLineEnd = "\r\n";
// What the log may have written before a run's first line to end a line cut short.
constexpr QByteArrayView kRecordCutShortEnd = "\x03 \x03\r\n";
// Far more than any list of runs this program writes.
constexpr qint64 kMaxMarker = qint64{1} << 20;
constexpr qsizetype kPiece = qsizetype{64} * 1024;
// More than the lines of any one reply; past it, what follows a run is no reply of ours.
constexpr qint64 kMaxPast = qint64{64} * 1024 * 1024;

enum class Match { Same, Different, Ended };

// Reads a log file's lines from a place on, comparing them with the records expected there.
class LineMatcher {
 public:
  LineMatcher(int fd, qint64 at) : m_fd(fd), m_at(at) {}
  qint64 At() const { return m_at; }

  void SkipLineEndBefore() {
    for (const QByteArrayView end : {kRecordCutShortEnd, kLineEnd}) {
      if (Next(end.size()) == end) {
        m_at += end.size();
        return;
      }
    }
  }

  Match Line(const QByteArray& record) {
    const QByteArray first = Next(1);
    if (first.isEmpty()) return Match::Ended;
    if (first[0] != kStx) {
      const QByteArray marker = Next(kBadMarker.size());
      if (marker.size() < kBadMarker.size()) return Match::Ended;
      if (marker != kBadMarker) return Match::Different;
      m_at += kBadMarker.size();
    }
    for (qsizetype from = 0; from < record.size(); from += kPiece) {
      const QByteArrayView want =
          QByteArrayView(record).sliced(from).first(std::min(kPiece, record.size() - from));
      const QByteArray got = Next(want.size());
      if (got.size() < want.size()) return want.startsWith(got) ? Match::Ended : Match::Different;
      if (got != want) return Match::Different;
      m_at += want.size();
    }
    const QByteArray end = Next(kLineEnd.size());
    if (end.size() < kLineEnd.size()) return Match::Ended;  // a line is whole or it is not there
    if (end != kLineEnd) return Match::Different;
    m_at += kLineEnd.size();
    return Match::Same;
  }

 private:
  // Up to `size` bytes from the place reached; fewer where the file ends.
  QByteArray Next(qsizetype size) const {
    const qint64 left = std::max<qint64>(0, FileSize(m_fd) - m_at);
    QByteArray bytes(qsizetype(std::min<qint64>(size, left)), Qt::Uninitialized);
    if (!bytes.isEmpty() && !ReadAt(m_fd, m_at, bytes)) return {};
    return bytes;
  }

  int m_fd;
  qint64 m_at;
};

// The lines a stop left in the last run's file after the run: those of one more reply, whose
// list is saved once its lines are on disk and before any later lines are written. A reply
// whose lines go to another file, or that extends the one logged last, has its list saved
// before its lines, so nothing of it can lie anywhere else.
std::optional<ReplyRun> LinesPast(const QString& logsFolder, const ReplyRun& last) {
  const OpenedFile file =
      OpenRegularFile(QDir(logsFolder).filePath(last.fileName), Access::Read, nullptr);
  if (file.fd < 0) return {};
  LineMatcher start(file.fd, last.offset);
  start.SkipLineEndBefore();
  const qint64 from = start.At();
  const qint64 size = FileSize(file.fd);
  QByteArray bytes;
  if (size > from && size - from <= kMaxPast) {
    bytes.resize(qsizetype(size - from));
    if (!ReadAt(file.fd, from, bytes)) bytes.clear();
  }
  CloseFile(file.fd);
  LogReader lines(bytes);
  for (qint64 i = 0; i < last.count; ++i) {
    if (!lines.Next()) return {};  // the run itself ends early
  }
  const qsizetype end = lines.Position();
  qint64 count = 0;
  while (lines.Next()) ++count;
  if (count == 0) return {};
  return ReplyRun{last.fileName, from + end, count};
}

}  // namespace

QString LastReplyPath(const QString& logsFolder) {
  return QDir(logsFolder).filePath(QStringLiteral(".last-reply"));
}

LastReplyFile::~LastReplyFile() { Drop(); }

void LastReplyFile::Drop() {
  CloseFile(m_fd);
  m_fd = -1;
}

bool LastReplyFile::Save(const std::vector<ReplyRun>& runs, QString* failure) {
  QByteArray text = kHeader.toByteArray();
  for (const ReplyRun& run : runs) {
    text += QByteArray::number(run.offset) + ' ' + QByteArray::number(run.count) + ' ' +
            QFile::encodeName(run.fileName) + '\n';
  }
  text += kEnd;
  const QString path = LastReplyPath(m_folder);
  // The open file serves while the path still names it; a folder or file made again gets a
  // new one.
  if (m_fd >= 0 && m_id && IdAtPath(path) != m_id) Drop();
  QString reason;
  bool created = false;
  if (m_fd < 0) {
    const OpenedFile file = OpenRegularFile(path, Access::Update, &reason);
    m_fd = file.fd;
    created = file.created;
    m_id = IdOfOpenFile(m_fd);
    m_length = FileSize(m_fd);
  }
  // Written over the old text in one write: what a crash leaves is the old list or the new one,
  // and bytes of a longer old one after the new "end" are not read. Cut only when longer, so
  // that most saves change nothing but the file's data.
  bool saved = m_fd >= 0 && WriteAt(m_fd, 0, text);
  if (saved) m_length = std::max<qint64>(m_length, text.size());
  if (saved && m_length > text.size() && Truncate(m_fd, text.size())) m_length = text.size();
  saved = saved && SyncData(m_fd) && (!created || SyncFolder(m_folder));
  if (!saved) {
    if (m_fd >= 0) reason = SystemError(errno);
    Drop();
    if (failure) {
      *failure = QStringLiteral("Cannot write %1: %2.").arg(QDir::toNativeSeparators(path), reason);
    }
  }
  return saved;
}

std::vector<ReplyRun> LoadLastReply(const QString& logsFolder) {
  const OpenedFile file = OpenRegularFile(LastReplyPath(logsFolder), Access::Read, nullptr);
  if (file.fd < 0) return {};
  QByteArray text(qsizetype(std::clamp<qint64>(FileSize(file.fd), 0, kMaxMarker)),
                  Qt::Uninitialized);
  const bool read = ReadAt(file.fd, 0, text);
  CloseFile(file.fd);
  if (!read || !text.startsWith(kHeader)) return {};
  std::vector<ReplyRun> runs;
  qsizetype at = kHeader.size();
  while (true) {
    const qsizetype lf = text.indexOf('\n', at);
    if (lf < 0) return {};  // no end: not a list this program finished
    const QByteArrayView line = QByteArrayView(text).sliced(at, lf + 1 - at);
    if (line == kEnd) {
      if (std::optional<ReplyRun> past =
              runs.empty() ? std::nullopt : LinesPast(logsFolder, runs.back()))
        return {*past};
      return runs;
    }
    const QList<QByteArray> fields = line.first(line.size() - 1).toByteArray().split(' ');
    bool offsetOk = false;
    bool countOk = false;
    ReplyRun run;
    if (fields.size() == 3) {
      run.offset = fields[0].toLongLong(&offsetOk);
      run.count = fields[1].toLongLong(&countOk);
      run.fileName = QFile::decodeName(fields[2]);
    }
    // Only a plain name in the folder itself.
    if (!offsetOk || !countOk || run.offset < 0 || run.count < 0 || run.fileName.isEmpty() ||
        run.fileName.contains(QLatin1Char('/')) || run.fileName.contains(QLatin1Char('\\')) ||
        run.fileName.startsWith(QLatin1Char('.'))) {
      return {};
    }
    runs.push_back(run);
    at = lf + 1;
  }
}

qsizetype RepeatedRecords(const QString& logsFolder, const std::vector<ReplyRun>& runs,
                          const std::vector<QByteArray>& records) {
  qsizetype matched = 0;
  for (std::size_t r = 0; r < runs.size(); ++r) {
    const bool last = r + 1 == runs.size();
    const OpenedFile file =
        OpenRegularFile(QDir(logsFolder).filePath(runs[r].fileName), Access::Read, nullptr);
    if (file.fd < 0) return last ? matched : 0;
    LineMatcher lines(file.fd, runs[r].offset);
    lines.SkipLineEndBefore();
    Match match = Match::Same;
    for (qint64 i = 0; i < runs[r].count && match == Match::Same; ++i) {
      // A reply shorter than the one logged is not that one again.
      if (matched == qsizetype(records.size()))
        match = Match::Different;
      else
        match = lines.Line(records[std::size_t(matched)]);
      if (match == Match::Same) ++matched;
    }
    CloseFile(file.fd);
    if (match == Match::Different) return 0;
    if (match == Match::Ended) return last ? matched : 0;
  }
  return matched;
}

}  // namespace vorlan::logging
