#include "logging/last_reply.h"

#include <QDir>
#include <QFile>

#include <algorithm>
#include <cerrno>

#include "logging/file_access.h"

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

enum class Match { Same, Different, Ended };

// Reads a log file's lines from a place on, comparing them with the records expected there.
class LineMatcher {
 public:
  LineMatcher(int fd, qint64 at) : m_fd(fd), m_at(at) {}

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
      const QByteArrayView want = QByteArrayView(record).sliced(from).first(
          std::min(kPiece, record.size() - from));
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

}  // namespace

QString LastReplyPath(const QString& logsFolder) {
  return QDir(logsFolder).filePath(QStringLiteral(".last-reply"));
}

bool SaveLastReply(const QString& logsFolder, const std::vector<ReplyRun>& runs,
                   QString* failure) {
  QByteArray text = kHeader.toByteArray();
  for (const ReplyRun& run : runs) {
    text += QByteArray::number(run.offset) + ' ' + QByteArray::number(run.count) + ' ' +
            QFile::encodeName(run.fileName) + '\n';
  }
  text += kEnd;
  const QString path = LastReplyPath(logsFolder);
  QString reason;
  const OpenedFile file = OpenRegularFile(path, Access::Update, &reason);
  // Written over the old text in one write: what a crash leaves is the old list or the new one,
  // and bytes of a longer old one after the new "end" are not read.
  bool saved = file.fd >= 0 && WriteAt(file.fd, 0, text);
  if (saved) Truncate(file.fd, text.size());
  saved = saved && SyncData(file.fd) && (!file.created || SyncFolder(logsFolder));
  if (!saved && file.fd >= 0) reason = SystemError(errno);
  CloseFile(file.fd);
  if (!saved && failure) {
    *failure = QStringLiteral("Cannot write %1: %2.").arg(QDir::toNativeSeparators(path), reason);
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
    if (line == kEnd) return runs;
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
      if (matched == qsizetype(records.size())) match = Match::Different;
      else match = lines.Line(records[std::size_t(matched)]);
      if (match == Match::Same) ++matched;
    }
    CloseFile(file.fd);
    if (match == Match::Different) return 0;
    if (match == Match::Ended) return last ? matched : 0;
  }
  return matched;
}

}  // namespace vorlan::logging
