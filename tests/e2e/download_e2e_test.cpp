// Downloads against the PBX simulator over real TCP on loopback: what the exchange counts as
// delivered must be in the log files, byte for byte, in order.
#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>

#include <cstdio>

#include "support/form_fixture.h"
#include "support/test_platform.h"
#include "platform/socket.h"
#include "app/texts.h"
#include "hex.h"
#include "support/sim_process.h"

namespace vorlan {
namespace {

using namespace std::chrono_literals;

class DownloadEndToEnd : public ::testing::Test {
 protected:
  DownloadEndToEnd() {
    QDir(m_dir.path()).mkdir("logs");
    // VORLAN_KEEP_E2E=1 keeps the logs and the transcript of a run for a closer look.
    if (qEnvironmentVariableIsSet("VORLAN_KEEP_E2E")) {
      m_dir.setAutoRemove(false);
      std::fprintf(stderr, "files of this run: %s\n", qPrintable(m_dir.path()));
    }
  }

  // Connects to the simulator at `address` and downloads until it reports an empty buffer.
  bool Download(const QString& address) {
    m_form.txtHost.SetText(address);
    m_form.cbDeviceID.SetText("1");
    m_form.CmdConnect_Click();
    if (!m_platform.WaitUntil([&] { return m_form.StatusBar.Panel(1) == text::kConnected; }, 10s)) {
      return false;
    }
    m_form.CmdDnld_Click();
    return m_platform.WaitUntil(
        [&] {
          return m_form.StatusBar.Panel(2) == text::kBufferEmpty ||
                 m_form.Session().LinkState() == session::Session::Link::Closed;
        },
        120s);
  }

  // Downloads, connecting again each time the exchange closes the link, until its buffer is
  // empty or `rounds` connections have been made.
  void DownloadAcrossCuts(const QString& address, int rounds) {
    for (int round = 0; round < rounds && m_form.StatusBar.Panel(2) != text::kBufferEmpty;
         ++round) {
      Download(address);
      m_platform.WaitUntil(
          [&] { return m_form.Session().LinkState() == session::Session::Link::Closed; }, 1s);
      if (m_form.Session().LinkState() != session::Session::Link::Closed) break;
    }
  }

  std::vector<QByteArray> Logged() const { return LoggedRecords(m_dir.filePath("logs")); }

  QTemporaryDir m_dir;
  QtTestPlatform m_platform;
  SettingsStore m_settings{m_dir.filePath("VORLAN.ini")};
  RecordingDialogs m_dialogs;
  FormMain m_form{{m_platform, m_settings, m_dialogs, m_dir.path()}};
};

// 2,000 records with blanks and bytes from 0x80 to 0xFF; replies split by the network, records
// across replies, busy ports and checksum errors. Each delivered record is logged once.
TEST_F(DownloadEndToEnd, EveryDeliveredRecordIsLoggedOnceInOrder) {
  SimProcess sim(m_platform, "127.0.3.1",
                 {"--seed", "7", "--records", "2000", "--per-reply", "16",
                  "--high-bytes", "--split", "2", "--pause", "5", "--split-record", "0.05",
                  "--busy", "0.02", "--checksum-error", "0.02"},
                 m_dir.filePath("transcript.jsonl"));
  ASSERT_TRUE(sim.Started());
  m_form.Form_Load();
  ASSERT_TRUE(Download("127.0.3.1"));
  ASSERT_EQ(m_form.StatusBar.Panel(2), text::kBufferEmpty)
      << "the link went before the end; simulator running: " << sim.Running() << "\n"
      << sim.Tail();
  const std::vector<QByteArray> delivered = sim.Delivered();
  const std::vector<QByteArray> logged = Logged();
  EXPECT_EQ(delivered.size(), 2000u);
  ASSERT_EQ(logged.size(), delivered.size());
  for (size_t i = 0; i < delivered.size(); ++i) {
    ASSERT_EQ(Hex(logged[i]), Hex(AsLogged(delivered[i]))) << "record " << i;
  }
  EXPECT_TRUE(m_dialogs.boxes.empty());
}

// The exchange drops the link now and then: after reconnecting the download goes on, and no
// record that the exchange was told we received is missing from the log.
TEST_F(DownloadEndToEnd, NothingAcknowledgedIsLostWhenTheLinkIsCut) {
  SimProcess sim(m_platform, "127.0.3.2",
                 {"--seed", "11", "--records", "300", "--per-reply", "8",
                  "--high-bytes", "--split", "2", "--pause", "5", "--close-after", "15"},
                 m_dir.filePath("transcript.jsonl"));
  ASSERT_TRUE(sim.Started());
  m_form.Form_Load();
  DownloadAcrossCuts("127.0.3.2", 20);
  ASSERT_EQ(m_form.StatusBar.Panel(2), text::kBufferEmpty);
  const std::vector<QByteArray> delivered = sim.Delivered();
  const std::vector<QByteArray> logged = Logged();
  EXPECT_EQ(delivered.size(), 300u);
  // In order, each at least once: a reply whose acknowledgement was cut off is sent again, so
  // its records may be logged twice, but none may be missing.
  const size_t found = DeliveredInOrder(logged, delivered);
  EXPECT_EQ(found, delivered.size()) << "record " << found << " is missing";
}

// Talk time of a record, worked out here from its data type 6 item: the start stamp is the
// item's first 14 characters and the end stamp its characters 18 to 31.
qint64 TalkTime(const QByteArray& record) {
  for (qsizetype p = 5; p + 4 <= record.size();) {
    const int type = record.mid(p, 2).toInt();
    const int length = record.mid(p + 2, 2).toInt();
    const QByteArray data = record.mid(p + 4, length);
    if (type == 6) {
      const auto stamp = [](const QByteArray& s) {
        return QDateTime::fromString(QString::fromLatin1(s), "yyyyMMddHHmmss");
      };
      return stamp(data.left(14)).secsTo(stamp(data.mid(17, 14)));
    }
    p += 4 + length;
  }
  return -1;
}

// Calls longer than the maximum are marked in the log file and in the RAW Data view, exactly
// those; the Formatted Output window shows the last record.
TEST_F(DownloadEndToEnd, LongCallsAreMarkedExactly) {
  SimProcess sim(m_platform, "127.0.3.3",
                 {"--seed", "5", "--records", "40", "--per-reply", "4", "--long-share", "0.3",
                  "--long-seconds", "60"},
                 m_dir.filePath("transcript.jsonl"));
  ASSERT_TRUE(sim.Started());
  m_form.Form_Load();
  m_form.TxtMaxTime.SetText("60");
  m_form.chkDisp.SetValue(1);
  ASSERT_TRUE(Download("127.0.3.3"));
  ASSERT_EQ(m_form.StatusBar.Panel(2), text::kBufferEmpty) << sim.Tail();

  QFile log(m_dir.filePath("logs/" + QDir(m_dir.filePath("logs")).entryList({"*.log"}).value(0)));
  ASSERT_TRUE(log.open(QIODevice::ReadOnly));
  const QList<QByteArray> lines = log.readAll().split('\n');
  const QString raw = m_form.txtout().Text();
  int marked = 0;
  QByteArray last;
  for (QByteArray line : lines) {
    if (line.isEmpty()) continue;
    line.chop(1);  // CR
    const bool bad = line.startsWith("<BAD>:");
    const QByteArray record = bad ? line.mid(6) : line;
    const qint64 talk = TalkTime(record);
    ASSERT_GE(talk, 0) << Hex(record);
    EXPECT_EQ(bad, talk > 60) << "talk time " << talk << " s: " << Hex(record);
    const QString shown = QString::fromLatin1(record) + "\r\n";
    EXPECT_TRUE(raw.contains((bad ? " <BAD>:" : " ") + shown)) << Hex(record);
    marked += bad;
    last = record;
  }
  EXPECT_GT(marked, 0);
  EXPECT_LT(marked, 40);

  const QStringList shown = m_form.Text2().Text().split("\r\n");
  ASSERT_GE(shown.size(), 3);
  EXPECT_EQ(shown[0], "Call Type: " + QString::fromLatin1(last.mid(3, 2)));
  EXPECT_EQ(shown[1], QString(32, '-'));
  EXPECT_TRUE(shown.contains("Data-Type: 6 ---> "));
}

// Every fault of the simulator at once, over reconnections: records holding control bytes
// (SYN, STX, CR LF, a frame's start), STX as every reply's last character, split replies and
// records across replies, busy ports, checksum errors, unanswered requests, a record that
// never ends, closes inside a record, closes before an acknowledgement is read (the reply comes
// again) and pauses right after a record's ETX. The log holds every acknowledged record once,
// in order, byte for byte, and nothing else.
TEST_F(DownloadEndToEnd, EveryFaultAtOnceLosesAndDoublesNothing) {
  SimProcess sim(m_platform, "127.0.3.4",
                 {"--seed", "23", "--records", "2000", "--per-reply", "16", "--high-bytes",
                  "--control-bytes", "0.2", "--last-char", "02", "--split", "2", "--pause", "5",
                  "--split-record", "0.05", "--busy", "0.02", "--checksum-error", "0.02",
                  "--ignore", "0.01", "--endless-record", "8", "--close-in-record", "0.01",
                  "--close-before-ack", "8", "--gap-after-etx", "120"},
                 m_dir.filePath("transcript.jsonl"));
  ASSERT_TRUE(sim.Started());
  m_form.Form_Load();
  DownloadAcrossCuts("127.0.3.4", 100);
  ASSERT_EQ(m_form.StatusBar.Panel(2), text::kBufferEmpty) << sim.Tail();
  const std::vector<QByteArray> delivered = sim.Delivered();
  EXPECT_EQ(delivered.size(), 2000u);

  // Lines may hold CR LF themselves: read the files as one stream, record by record.
  QByteArray all;
  QDir logs(m_dir.filePath("logs"));
  for (const QString& name : logs.entryList({"*.log"}, QDir::Files, QDir::Name)) {
    QFile file(logs.filePath(name));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    all += file.readAll();
  }
  qsizetype at = 0;
  for (size_t i = 0; i < delivered.size(); ++i) {
    if (QByteArrayView(all).sliced(at).startsWith("<BAD>:")) at += 6;
    const QByteArray line = AsLogged(delivered[i]) + "\r\n";
    ASSERT_EQ(Hex(all.mid(at, line.size())), Hex(line)) << "record " << i;
    at += line.size();
  }
  EXPECT_EQ(at, all.size()) << "the log holds more than the delivered records";
}

}  // namespace
}  // namespace vorlan
