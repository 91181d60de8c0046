#include "session/traffic_trace.h"

#include <QDateTime>
#include <QFileInfo>

#include "link/frame.h"
#include "logging/record_log.h"
#include "platform/platform.h"
#include "session/session.h"

namespace vorlan::session {
namespace {

QString HexByte(quint8 b);

// Control characters of a record shown by name, other bytes as they are (Latin-1).
QString RecordText(const QByteArray& record) {
  QString text;
  text.reserve(record.size() + 8);
  for (const char c : record) {
    switch (c) {
      case frame::STX: text += QLatin1String("<STX>"); break;
      case frame::ETX: text += QLatin1String("<ETX>"); break;
      case frame::SYN: text += QLatin1String("<SYN>"); break;
      case '\r': text += QLatin1String("<CR>"); break;
      case '\n': text += QLatin1String("<LF>"); break;
      default:
        if (quint8(c) < 0x20)
          text += QLatin1Char('<') + HexByte(quint8(c)) + QLatin1Char('>');
        else
          text += QLatin1Char(c);
    }
  }
  return text;
}

QString HexByte(quint8 b) { return QString::number(b, 16).rightJustified(2, u'0').toUpper(); }

QString Char(char c) {
  return QStringLiteral("'%1' (%2)")
      .arg(quint8(c) >= 0x20 && quint8(c) < 0x7F ? QString(QLatin1Char(c)) : QStringLiteral("?"),
           HexByte(quint8(c)));
}

}  // namespace

TrafficTrace::TrafficTrace(Platform& platform, Session& session)
    : m_platform(platform), m_session(session) {
  Session& s = session;
  connect(&s, &Session::LogFileOpened, this, [this](const QString& path) {
    if (m_enabled) Open(path);
  });
  connect(&s, &Session::LogSwitching, this, [this] { m_file.close(); });
  connect(&s, &Session::FrameSent, this, [this](const QByteArray& frame) {
    if (m_enabled) Line("out", Hex(frame) + " | " + DescribeSent(frame).toLatin1());
  });
  connect(&s, &Session::Arrived, this, [this](const QByteArray& text) {
    if (m_enabled)
      Line("in ", Hex(text) + " | " + DescribeArrival(text, m_session.DeviceId()).toLatin1());
  });
  connect(&s, &Session::StatusReply, this, [this](frame::ReplyKind kind) {
    Note(QStringLiteral("%1 reply").arg(QLatin1String(frame::ReplyKindName(kind))));
  });
  connect(&s, &Session::DataReplyStarted, this, [this](char blockChar) {
    Note(QStringLiteral("data reply, block %1").arg(Char(blockChar)));
  });
  connect(&s, &Session::UnrecognisedReply, this,
          [this] { Note(QStringLiteral("no reply (unrecognised)")); });
  connect(&s, &Session::ForeignDeviceId, this, [this](char id) {
    Note(QStringLiteral("the exchange answers as device %1 while Device ID is %2")
             .arg(QLatin1Char(id))
             .arg(QString::fromLatin1(m_session.DeviceId())));
  });
  connect(&s, &Session::RecordTaken, this, [this](const QByteArray& record, bool bad) {
    if (!m_enabled) return;
    Note(QStringLiteral("record%1 %2")
             .arg(bad ? QStringLiteral(" <BAD>") : QString(), RecordText(record)));
  });
  connect(&s, &Session::RecordGivenUp, this, [this](const QByteArray&, qint64 size) {
    Note(QStringLiteral("given up unacknowledged: %1 bytes of an unfinished reply").arg(size));
  });
  connect(&s, &Session::RecordsAlreadyLogged, this, [this](qsizetype repeated, qsizetype of) {
    Note(QStringLiteral("sent again: %1 of the reply's %2 records already logged")
             .arg(repeated)
             .arg(of));
  });
  connect(&s, &Session::RequestRepeated, this,
          [this] { Note(QStringLiteral("no answer by the deadline: data request repeated")); });
  connect(&s, &Session::LogWriteFailed, this,
          [this] { Note(QStringLiteral("log write failed: reply not acknowledged")); });
}

TrafficTrace::~TrafficTrace() = default;

void TrafficTrace::SetEnabled(bool on) {
  if (on == m_enabled) return;
  m_enabled = on;
  if (!on) {
    m_file.close();
    return;
  }
  if (m_session.Log().IsOpen()) Open(m_session.Log().Path());
}

QString TrafficTrace::TracePath(const QString& logPath) {
  QString path = logPath;
  if (path.endsWith(QLatin1String(".log"))) path.chop(4);
  return path + QStringLiteral(".trace");
}

void TrafficTrace::Open(const QString& logPath) {
  m_file.close();
  m_file.setFileName(TracePath(logPath));
  // Like the log it holds the records: never through a link, readable by its owner only.
  const QFileInfo info(m_file.fileName());
  if (info.isSymLink()) {
    Fail(QStringLiteral("The traffic trace %1 is a symbolic link; tracing is off.")
             .arg(m_file.fileName()));
    return;
  }
  const bool fresh = !info.exists();
  // Unbuffered: each line goes out in one write, whole, as it happens.
  if (!m_file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered)) {
    Fail(QStringLiteral("The traffic trace %1 cannot be opened (%2); tracing is off.")
             .arg(m_file.fileName(), m_file.errorString()));
    return;
  }
  if (fresh) m_file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
}

void TrafficTrace::Line(const char* direction, const QByteArray& text) {
  if (!m_enabled || !m_file.isOpen()) return;
  QByteArray line = m_platform.Now().toString(QStringLiteral("hh:mm:ss.zzz")).toLatin1();
  line += ' ';
  line += direction;
  line += ' ';
  line += text;
  line += '\n';
  const qint64 at = m_file.size();
  if (m_file.write(line) != line.size()) {
    // Whole lines only: a line cut short is taken out again.
    m_file.resize(at);
    Fail(QStringLiteral("The traffic trace %1 cannot be written (%2); tracing is off.")
             .arg(m_file.fileName(), m_file.errorString()));
  }
}

void TrafficTrace::Fail(const QString& why) {
  m_enabled = false;
  m_file.close();
  emit Failed(why);
}

QByteArray TrafficTrace::Hex(const QByteArray& bytes) {
  QByteArray hex = bytes.toHex(' ').toUpper();
  return hex;
}

QString TrafficTrace::DescribeSent(const QByteArray& frame) {
  if (frame.size() < 2 || frame[0] != frame::SYN) return QStringLiteral("frame");
  switch (frame[1]) {
    case '1': return QStringLiteral("data request");
    case '4':
      return frame.size() > 9 ? QStringLiteral("data acknowledgement, block %1").arg(Char(frame[9]))
                              : QStringLiteral("data acknowledgement");
    case '5': return QStringLiteral("status monitor request");
    case '6': return QStringLiteral("disconnect request");
    default: return QStringLiteral("frame");
  }
}

QString TrafficTrace::DescribeArrival(const QByteArray& text, const QByteArray& deviceId) {
  // By its first frame only; the session's own reading follows on "--" lines.
  if (text.size() < 2 || text[0] != frame::SYN) return QStringLiteral("no frame start");
  if (text[1] == '2') {
    return text.size() >= frame::kDataHeaderLength
               ? QStringLiteral("data reply header, block %1").arg(Char(text[9]))
               : QStringLiteral("start of a data reply header");
  }
  if (text[1] != '3' || text.size() < 10) return QStringLiteral("frame");
  QString d = QStringLiteral("status frame, device %1, result %2")
                  .arg(QLatin1Char(text[8]))
                  .arg(QLatin1Char(text[9]));
  if (!deviceId.isEmpty() && text[8] != deviceId[0])
    d += QStringLiteral(", not our device %1").arg(QLatin1Char(deviceId[0]));
  if (text.size() < 11) return d + QStringLiteral(", no check byte");
  const quint8 check = frame::CheckByte(QByteArrayView(text).sliced(1, 9));
  if (quint8(text[10]) == check) return d + QStringLiteral(", check byte right");
  return d + QStringLiteral(", check byte wrong (%1 expected)").arg(HexByte(check));
}

}  // namespace vorlan::session
