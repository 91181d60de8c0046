// The traffic trace and the Wireshark dissector against what the simulator says it sent and read.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <algorithm>
#include <iterator>

#include "app/texts.h"
#include "hex.h"
#include "support/test_platform.h"
#include "platform/socket.h"
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
QByteArray TracedBytes(const QString& logs, const QByteArray& dir) {
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

// A download with split replies, checksum errors and records holding control bytes, traced and
// captured: the trace holds every frame both ways, in order, with the session's reading; tshark
// with the dissector finds the requests, status replies (check bytes right) and records.
TEST(TraceEndToEnd, TraceAndDissectorAgreeWithTheSimulator) {
  ASSERT_FALSE(QStandardPaths::findExecutable("dumpcap").isEmpty()) << "Debian package tshark";
  QTemporaryDir dir;
  QDir(dir.path()).mkdir("logs");
  const QString logs = dir.filePath("logs");
  const QString transcript = dir.filePath("transcript.jsonl");
  const QString capture = dir.filePath("link.pcapng");
  QtTestPlatform platform;
  SettingsStore settings{dir.filePath("VORLAN.ini")};
  RecordingDialogs dialogs;
  FormMain form{{platform, settings, dialogs, dir.path()}};
  QProcess dumpcap;
  dumpcap.start("dumpcap", {"-q", "-i", "lo", "-f", "tcp port 60010 and host 127.0.3.21", "-w",
                            capture});
  ASSERT_TRUE(platform.WaitUntil([&] { return QFile::exists(capture); }, 30s));
  platform.WaitUntil([] { return false; }, 500ms);  // capturing, not just opened
  SimProcess sim(platform, "127.0.3.21",
                 {"--seed", "11", "--records", "60", "--per-reply", "4", "--split", "2",
                  "--pause", "5", "--split-record", "0.2", "--checksum-error", "0.1",
                  "--control-bytes", "0.3"},
                 transcript);
  ASSERT_TRUE(sim.Started());
  form.Form_Load();
  form.mnuTrace_Click(true);
  form.txtHost.SetText("127.0.3.21");
  form.cbDeviceID.SetText("1");
  form.CmdConnect_Click();
  ASSERT_TRUE(platform.WaitUntil([&] { return form.StatusBar.Panel(1) == text::kConnected; }, 10s));
  form.CmdDnld_Click();
  ASSERT_TRUE(
      platform.WaitUntil([&] { return form.StatusBar.Panel(2) == text::kBufferEmpty; }, 120s));
  form.CmdDisconnect_Click();  // every frame is read once the exchange has closed
  ASSERT_TRUE(platform.WaitUntil([&] { return form.Session().LinkState() == session::Session::Link::Closed; }, 10s));
  platform.WaitUntil([] { return false; }, 500ms);
  dumpcap.terminate();
  ASSERT_TRUE(dumpcap.waitForFinished(10000));

  const std::vector<QByteArray> read = TranscriptFrames(transcript, "rx");
  const std::vector<QByteArray> sent = TranscriptFrames(transcript, "tx");
  ExpectFramesInOrder(read, TracedBytes(logs, "out"), "sent by us");
  ExpectFramesInOrder(sent, TracedBytes(logs, "in "), "sent by the simulator");
  QFile trace(QDir(logs).filePath(QDir(logs).entryList({"*.trace"}).value(0)));
  const QByteArray text = trace.open(QIODevice::ReadOnly) ? trace.readAll() : QByteArray();
  for (const char* reading : {"--  checksum-error reply", "| data acknowledgement, block",
                              "--  record <STX>", "<SYN>"}) {
    EXPECT_TRUE(text.contains(reading)) << reading;
  }

  std::vector<QByteArray> statusSent;
  std::copy_if(sent.begin(), sent.end(), std::back_inserter(statusSent),
               [](const QByteArray& f) { return f.startsWith("\x16" "3"); });
  const std::vector<QByteArray> delivered = sim.Delivered();
  const struct {
    const char* field;
    const std::vector<QByteArray>& expected;
  } fields[] = {{"vorlan.request", read}, {"vorlan.status", statusSent},
                {"vorlan.record", delivered}};
  for (const auto& [field, expected] : fields) {
    const std::vector<QByteArray> got = TsharkField(capture, field);
    ASSERT_EQ(got.size(), expected.size()) << field;
    for (size_t i = 0; i < got.size(); ++i)
      EXPECT_EQ(Hex(FromHex(got[i])), Hex(expected[i])) << field << " " << i;
  }
  const std::vector<QByteArray> checks = TsharkField(capture, "vorlan.check_ok");
  EXPECT_EQ(checks.size(), read.size() + statusSent.size());
  EXPECT_EQ(std::count(checks.begin(), checks.end(), "1"), qsizetype(checks.size()));
}

}  // namespace
}  // namespace vorlan
