#include "options.h"

#include <QCommandLineParser>
#include <QHostAddress>

namespace pbxsim {
namespace {

const char* const kDescription =
    "A telephone exchange on loopback: serves call records to VORLAN over the framed polling\n"
    "protocol, one connection at a time, and can misbehave on request. Prints every frame it\n"
    "receives and sends in hex. Shares (P) are probabilities from 0 to 1, checked per request.";

struct Reader {
  QCommandLineParser& parser;
  QString error;

  void Fail(const QString& name, const QString& why) {
    if (error.isEmpty()) error = QStringLiteral("--%1: %2").arg(name, why);
  }

  void Int(const QString& name, int low, int high, int& into) {
    if (!parser.isSet(name)) return;
    bool ok = false;
    const int value = parser.value(name).toInt(&ok);
    if (!ok || value < low || value > high) {
      Fail(name, QStringLiteral("expected a whole number from %1 to %2").arg(low).arg(high));
    } else {
      into = value;
    }
  }

  void Share(const QString& name, double& into) {
    if (!parser.isSet(name)) return;
    bool ok = false;
    const double value = parser.value(name).toDouble(&ok);
    if (!ok || value < 0 || value > 1) {
      Fail(name, QStringLiteral("expected a share from 0 to 1"));
    } else {
      into = value;
    }
  }
};

}  // namespace

ParsedOptions ParseOptions(const QStringList& arguments, quint32 defaultSeed,
                           const QDateTime& defaultStart) {
  QCommandLineParser parser;
  parser.setApplicationDescription(QString::fromLatin1(kDescription));
  const QCommandLineOption help({"h", "help"}, "Show this help.");
  parser.addOption(help);
  parser.addOptions({
      {"address", "Listen on this address; any of 127.0.0.0/8 is loopback. Default: 127.0.0.1.",
       "addr", "127.0.0.1"},
      {"port", "Listen on this port. Default: 60010.", "port", QString::number(kDefaultPort)},
      {"refuse", "Do not listen at all, so every connection attempt is refused."},
      {"seed",
       "Seed of every random choice; the same seed gives the same run. Default: a "
       "fresh one, printed at start.",
       "n"},
      {"records", "Number of call records generated at start. Default: 20.", "n", "20"},
      {"new-every", "Generate one more call every ms milliseconds (0: never). Default: 0.", "ms",
       "0"},
      {"start-time", "Start of the first generated call (YYYYMMDDhhmmss). Default: now.", "stamp"},
      {"long-share", "Share of generated calls longer than --long-seconds. Default: 0.2.", "P",
       "0.2"},
      {"long-seconds", "Talk time in seconds above which a call counts as long. Default: 10.", "s",
       "10"},
      {"high-bytes", "Add a caller-name item with bytes from 0x80 to 0xFF to every record."},
      {"file",
       "Replay the records of this file, one per line, instead of generating them. "
       "The tool's log files work as they are (\"<BAD>:\" is dropped).",
       "path"},
      {"per-reply", "Most records in one data reply. Default: 4.", "n", "4"},
      {"device-id", "Answer with this device ID instead of the one in each request.", "c"},
      {"split", "Write each data reply in n pieces, cut at random places.", "n"},
      {"split-at", "Cut each data reply at these byte offsets (comma-separated).", "list"},
      {"split-all", "Cut status replies as well as data replies."},
      {"pause",
       "Pause between the pieces of a reply, and before the second reply of a split "
       "record. Default: 100.",
       "ms", "100"},
      {"split-record",
       "Share of data replies whose last record is continued in a second data "
       "reply, sent unasked after --pause. Default: 0.",
       "P", "0"},
      {"busy", "Share of requests answered port-busy, with trailing bytes. Default: 0.", "P", "0"},
      {"checksum-error", "Share of sound requests answered checksum-error. Default: 0.", "P", "0"},
      {"garbage", "Share of requests answered with random bytes. Default: 0.", "P", "0"},
      {"silent-after",
       "Stop answering after k answers on a connection (acknowledgements "
       "are still taken).",
       "k"},
      {"close-after", "Close the connection after k answers; 0 closes it at once.", "k"},
      {"close-before-ack",
       "On each connection, close it right after the n-th data reply, without reading its "
       "acknowledgement; its records go out again first on the next connection.",
       "n"},
      {"control-bytes",
       "Share of records whose text holds SYN, STX, CR LF or a frame's start. Default: 0.", "P",
       "0"},
      {"last-char", "Send this byte (two hex digits) as each data reply's last character.", "hh"},
      {"ignore", "Share of data requests left unanswered. Default: 0.", "P", "0"},
      {"close-in-record",
       "Share of data replies cut inside a record, after which the connection is closed. "
       "Default: 0.",
       "P", "0"},
      {"endless-record", "After k answers on a connection, send a record that never ends.", "k"},
      {"gap-after-etx",
       "Write each data reply in two pieces, cut right after a record's ETX chosen at random, "
       "ms milliseconds apart.",
       "ms"},
      {"transcript",
       "Write every frame and every delivered record as JSON lines to this "
       "file, flushed line by line.",
       "path"},
      {"quiet", "Print nothing but errors."},
  });

  ParsedOptions result;
  if (!parser.parse(arguments)) {
    result.text = parser.errorText();
    return result;
  }
  if (parser.isSet(help)) {
    result.outcome = ParsedOptions::Outcome::Help;
    result.text = parser.helpText();
    return result;
  }
  if (!parser.positionalArguments().isEmpty()) {
    result.text = QStringLiteral("unexpected argument: %1").arg(parser.positionalArguments()[0]);
    return result;
  }

  Options& o = result.options;
  Behaviour& b = o.behaviour;
  Reader read{parser, {}};
  o.address = parser.value("address");
  if (QHostAddress(o.address).isNull()) read.Fail("address", "not an IP address");
  int port = o.port;
  read.Int("port", 1, 65535, port);
  o.port = static_cast<quint16>(port);
  o.refuse = parser.isSet("refuse");
  o.quiet = parser.isSet("quiet");

  o.seed = defaultSeed;
  if (parser.isSet("seed")) {
    bool ok = false;
    o.seed = parser.value("seed").toUInt(&ok);
    if (!ok) read.Fail("seed", "expected a whole number from 0 to 4294967295");
  }
  read.Int("records", 0, 1000000, o.records);
  read.Int("new-every", 0, 86400000, o.newEveryMs);
  o.generator.firstStart = defaultStart;
  if (parser.isSet("start-time")) {
    // Read as a plain calendar reading: a local clock's missing DST hour is still a valid stamp.
    const QString stamp = parser.value("start-time");
    const QDate date = QDate::fromString(stamp.left(8), "yyyyMMdd");
    const QTime time = QTime::fromString(stamp.mid(8), "HHmmss");
    o.generator.firstStart = QDateTime(date, time, Qt::UTC);
    if (stamp.size() != 14 || !o.generator.firstStart.isValid()) {
      read.Fail("start-time", "expected YYYYMMDDhhmmss");
    }
  }
  read.Share("long-share", o.generator.longShare);
  read.Int("long-seconds", 0, 32766, o.generator.longSeconds);
  o.generator.highBytes = parser.isSet("high-bytes");
  o.recordFile = parser.value("file");
  o.transcriptPath = parser.value("transcript");

  read.Int("per-reply", 1, 1000, b.recordsPerReply);
  if (parser.isSet("device-id")) {
    const QString id = parser.value("device-id");
    if (id.size() != 1 || id[0].unicode() > 0xFF) {
      read.Fail("device-id", "expected one character");
    } else {
      b.deviceId = static_cast<char>(id[0].unicode());
    }
  }
  read.Int("split", 1, 1000, b.splitWrites);
  if (parser.isSet("split-at")) {
    for (const QString& part : parser.value("split-at").split(',', Qt::SkipEmptyParts)) {
      bool ok = false;
      const int at = part.trimmed().toInt(&ok);
      if (!ok || at < 1) read.Fail("split-at", "expected offsets of 1 or more");
      b.splitAt.push_back(at);
    }
  }
  b.splitStatusReplies = parser.isSet("split-all");
  int pause = static_cast<int>(b.pause.count());
  read.Int("pause", 0, 600000, pause);
  b.pause = std::chrono::milliseconds(pause);
  read.Share("split-record", b.splitRecordShare);
  read.Share("busy", b.busyShare);
  read.Share("checksum-error", b.checksumErrorShare);
  read.Share("garbage", b.garbageShare);
  read.Int("silent-after", 0, 1000000000, b.silentAfter);
  read.Int("close-after", 0, 1000000000, b.closeAfter);
  read.Share("control-bytes", b.controlBytesShare);
  read.Share("ignore", b.ignoreShare);
  read.Share("close-in-record", b.closeInRecordShare);
  read.Int("endless-record", 0, 1000000000, b.endlessRecordAfter);
  read.Int("close-before-ack", 1, 1000000000, b.closeBeforeAck);
  if (parser.isSet("gap-after-etx")) {
    int gap = 0;
    read.Int("gap-after-etx", 0, 600000, gap);
    b.gapAfterEtx = std::chrono::milliseconds(gap);
  }
  if (parser.isSet("last-char")) {
    bool ok = false;
    const uint value = parser.value("last-char").toUInt(&ok, 16);
    if (!ok || value > 0xFF)
      read.Fail("last-char", "expected two hexadecimal digits");
    else
      b.lastChar = static_cast<char>(value);
  }

  if (!read.error.isEmpty()) {
    result.text = read.error;
    return result;
  }
  result.outcome = ParsedOptions::Outcome::Run;
  return result;
}

}  // namespace pbxsim
