// The traffic trace and the Wireshark dissector, each checked against what the simulator says
// it sent and received, over a download with split replies, checksum errors and records that
// hold control bytes.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <algorithm>

#include "app/texts.h"
#include "hex.h"
#include "platform/qt_platform.h"
#include "platform/socket.h"
#include "support/fake_exchange.h"
#include "support/form_fixture.h"
#include "support/sim_process.h"

namespace vorlan {
namespace {

using namespace std::chrono_literals;

// Frames of one direction of the simulator's transcript: "tx" what it sent, "rx" what it read.
std::vector<QByteArray> TranscriptFrames(const QString& path, const char* dir) {
  std::vector<QByteArray> frames;
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return frames;
  while (!file.atEnd()) {
    const QJsonObject line = QJsonDocument::fromJson(file.readLine()).object();
    if (line.value("dir").toString() == QLatin1String(dir))
      frames.push_back(QByteArray::fromHex(line.value("hex").toString().toLatin1()));
  }
  return frames;
}

// The bytes of the trace's lines of one direction ("out" or "in "), in order, across files.
QByteArray TracedBytes(const QString& logs, const QByteArray& dir, int* lines) {
  QByteArray bytes;
  QDir folder(logs);
  for (const QString& name : folder.entryList({"*.trace"}, QDir::Files, QDir::Name)) {
    QFile file(folder.filePath(name));
    if (!file.open(QIODevice::ReadOnly)) continue;
    for (const QByteArray& line : file.readAll().split('\n')) {
      // "hh:mm:ss.zzz DIR HEX | what"
      if (line.mid(13, 3) != dir) continue;
      const qsizetype bar = line.indexOf(" | ");
      bytes += QByteArray::fromHex(line.mid(17, bar - 17));
      ++*lines;
    }
  }
  return bytes;
}

// Each frame of `frames` must stand in `stream` at the point where the one before ended.
void ExpectFramesInOrder(const std::vector<QByteArray>& frames, const QByteArray& stream,
                         const char* what) {
  qsizetype at = 0;
  for (size_t i = 0; i < frames.size(); ++i) {
    ASSERT_EQ(Hex(stream.mid(at, frames[i].size())), Hex(frames[i])) << what << " frame " << i;
    at += frames[i].size();
  }
  EXPECT_EQ(at, stream.size()) << what << ": the trace holds bytes the simulator never listed";
}

class TraceEndToEnd : public ::testing::Test {
 protected:
  TraceEndToEnd() { QDir(m_dir.path()).mkdir("logs"); }

  // Downloads until the buffer is empty, then disconnects: every frame has been read by then.
  void DownloadAndDisconnect(const QString& address) {
    m_form.txtHost.SetText(address);
    m_form.cbDeviceID.SetText("1");
    m_form.CmdConnect_Click();
    ASSERT_TRUE(m_platform.WaitUntil(
        [&] { return m_form.StatusBar.Panel(1) == text::kConnected; }, 10s));
    m_form.CmdDnld_Click();
    ASSERT_TRUE(m_platform.WaitUntil(
        [&] { return m_form.StatusBar.Panel(2) == text::kBufferEmpty; }, 120s));
    m_form.CmdStop_Click();
    m_platform.WaitUntil([&] { return m_form.StopDone(); }, 10s);
    m_form.CmdDisconnect_Click();
    ASSERT_TRUE(m_platform.WaitUntil(
        [&] { return m_form.socket().State() == Socket::sckClosed; }, 10s));
  }

  QString Logs() const { return m_dir.filePath("logs"); }
  QString Transcript() const { return m_dir.filePath("transcript.jsonl"); }
  static QStringList SimOptions() {
    return {"--seed", "11", "--records", "60", "--per-reply", "4", "--split", "2", "--pause", "5",
            "--split-record", "0.2", "--checksum-error", "0.1", "--control-bytes", "0.3"};
  }

  QTemporaryDir m_dir;
  QtPlatform m_platform;
  SettingsStore m_settings{m_dir.filePath("VORLAN.ini")};
  RecordingDialogs m_dialogs;
  FormMain m_form{{m_platform, m_settings, m_dialogs, m_dir.path()}};
};

TEST_F(TraceEndToEnd, TraceHoldsEveryFrameBothWaysInOrder) {
  SimProcess sim(m_platform, "127.0.3.21", SimOptions(), Transcript());
  ASSERT_TRUE(sim.Started());
  m_form.Form_Load();
  m_form.mnuTrace_Click(true);
  DownloadAndDisconnect("127.0.3.21");

  int outLines = 0;
  int inLines = 0;
  const QByteArray out = TracedBytes(Logs(), "out", &outLines);
  const QByteArray in = TracedBytes(Logs(), "in ", &inLines);
  const std::vector<QByteArray> sent = TranscriptFrames(Transcript(), "tx");
  ExpectFramesInOrder(TranscriptFrames(Transcript(), "rx"), out, "sent by us");
  ExpectFramesInOrder(sent, in, "sent by the simulator");
  EXPECT_GT(inLines, int(sent.size()) / 2) << "one line per arrival";
  // The session's reading is there too: checksum errors, records with their control bytes.
  QFile trace(QDir(Logs()).filePath(QDir(Logs()).entryList({"*.trace"}).value(0)));
  ASSERT_TRUE(trace.open(QIODevice::ReadOnly));
  const QByteArray text = trace.readAll();
  EXPECT_TRUE(text.contains("--  checksum-error reply"));
  EXPECT_TRUE(text.contains("| data acknowledgement, block"));
  EXPECT_TRUE(text.contains("--  record <STX>"));
  EXPECT_TRUE(text.contains("<SYN>") || text.contains("<CR><LF>"));
  EXPECT_EQ(m_settings.GetSetting("VORLAN", "Settings", "TraceTraffic", ""), "1");
}

// Values of one field across a capture, in order: each packet's occurrences split.
std::vector<QByteArray> TsharkField(const QString& capture, const QString& field) {
  QProcess tshark;
  tshark.start("tshark", {"-n", "-r", capture, "-X", "lua_script:" VORLAN_DISSECTOR, "-Y", "vorlan",
                          "-T", "fields", "-E", "occurrence=a", "-E", "aggregator=|", "-e", field});
  tshark.waitForFinished(120000);
  std::vector<QByteArray> values;
  for (const QByteArray& line : tshark.readAllStandardOutput().split('\n')) {
    for (const QByteArray& value : line.split('|')) {
      if (!value.trimmed().isEmpty()) values.push_back(value.trimmed());
    }
  }
  return values;
}

QByteArray FromHex(QByteArray text) {
  return QByteArray::fromHex(text.replace(':', "").replace(' ', ""));
}

// A capture of a download, read with the dissector: every request the simulator read, every
// status reply and every record it sent, with their bytes and in order; every check byte right.
TEST_F(TraceEndToEnd, DissectorReadsACapturedDownloadAsTheSimulatorSentIt) {
  if (QStandardPaths::findExecutable("dumpcap").isEmpty() ||
      QStandardPaths::findExecutable("tshark").isEmpty()) {
    FAIL() << "dumpcap and tshark are needed (Debian package tshark)";
  }
  const QString capture = m_dir.filePath("link.pcapng");
  QProcess dumpcap;
  dumpcap.setProcessChannelMode(QProcess::MergedChannels);
  dumpcap.start("dumpcap", {"-q", "-i", "lo", "-f", "tcp port 60010 and host 127.0.3.22", "-w",
                            capture});
  // dumpcap says so once it captures; the file exists from then on.
  ASSERT_TRUE(m_platform.WaitUntil([&] { return QFile::exists(capture); }, 30s))
      << dumpcap.readAll().toStdString();
  m_platform.WaitUntil([] { return false; }, 500ms);
  {
    SimProcess sim(m_platform, "127.0.3.22", SimOptions(), Transcript());
    ASSERT_TRUE(sim.Started());
    m_form.Form_Load();
    DownloadAndDisconnect("127.0.3.22");
    m_platform.WaitUntil([] { return false; }, 500ms);
    dumpcap.terminate();
    ASSERT_TRUE(dumpcap.waitForFinished(10000));
    std::vector<QByteArray> requests;
    for (const QByteArray& v : TsharkField(capture, "vorlan.request")) requests.push_back(FromHex(v));
    const std::vector<QByteArray> read = TranscriptFrames(Transcript(), "rx");
    ASSERT_EQ(requests.size(), read.size());
    for (size_t i = 0; i < read.size(); ++i) EXPECT_EQ(Hex(requests[i]), Hex(read[i])) << i;

    std::vector<QByteArray> statusSent;
    for (const QByteArray& frame : TranscriptFrames(Transcript(), "tx")) {
      if (frame.startsWith("\x16" "3")) statusSent.push_back(frame);
    }
    const std::vector<QByteArray> status = TsharkField(capture, "vorlan.status");
    ASSERT_EQ(status.size(), statusSent.size());
    for (size_t i = 0; i < status.size(); ++i)
      EXPECT_EQ(Hex(FromHex(status[i])), Hex(statusSent[i])) << i;
    EXPECT_NE(std::count(statusSent.begin(), statusSent.end(), FakeExchange::Status("1", '3')), 0)
        << "no checksum error in this run";

    const std::vector<QByteArray> delivered = sim.Delivered();
    const std::vector<QByteArray> records = TsharkField(capture, "vorlan.record");
    ASSERT_EQ(records.size(), delivered.size());
    for (size_t i = 0; i < records.size(); ++i)
      EXPECT_EQ(Hex(FromHex(records[i])), Hex(delivered[i])) << "record " << i;
    EXPECT_EQ(records.size(), size_t(60));

    const std::vector<QByteArray> checks = TsharkField(capture, "vorlan.check_ok");
    EXPECT_EQ(checks.size(), requests.size() + status.size() -
                                 std::count_if(statusSent.begin(), statusSent.end(),
                                               [](const QByteArray& f) { return f[9] == '4'; }));
    for (const QByteArray& c : checks) EXPECT_TRUE(c == "1" || c == "True") << c.toStdString();
    EXPECT_EQ(TsharkField(capture, "vorlan.item.type").size() > records.size(), true);
  }
}

}  // namespace
}  // namespace vorlan
