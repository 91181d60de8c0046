// The real simulator, started as a process and spoken to over loopback TCP.
#include <QDateTime>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QProcess>
#include <QTcpSocket>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <chrono>

#include "bytes.h"
#include "link/frame.h"
#include "link/pbx_frames.h"

namespace {

namespace frame = vorlan::frame;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr int kWaitMs = 5000;  // only reached when something is broken

// Tests start one simulator per case, so it must be accepting within 100 ms. An instrumented
// build starts several times slower; there the budget only catches gross regressions.
#if defined(__SANITIZE_ADDRESS__)
#define PBXSIM_INSTRUMENTED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define PBXSIM_INSTRUMENTED 1
#endif
#endif
#ifdef PBXSIM_INSTRUMENTED
constexpr int kStartBudgetMs = 400;
#else
constexpr int kStartBudgetMs = 100;
#endif

// Each case its own loopback address, so that cases may run side by side.
class PbxsimProcess : public ::testing::Test {
 protected:
  void TearDown() override {
    if (m_process.state() != QProcess::NotRunning) {
      m_process.kill();
      m_process.waitForFinished(kWaitMs);
    }
  }

  // Starts the simulator and returns once it has printed a line containing `ready`.
  void Start(const QStringList& args, const QByteArray& ready) {
    m_started = Clock::now();
    m_process.start(PBXSIM_PATH, args);
    ASSERT_TRUE(m_process.waitForStarted(kWaitMs)) << m_process.errorString().toStdString();
    while (!m_output.contains(ready)) {
      ASSERT_TRUE(m_process.waitForReadyRead(kWaitMs))
          << "no '" << ready.toStdString() << "' in: " << m_output.toStdString()
          << m_process.readAllStandardError().toStdString();
      m_output += m_process.readAllStandardOutput();
    }
  }

  milliseconds SinceStart() const {
    return std::chrono::duration_cast<milliseconds>(Clock::now() - m_started);
  }

  // Reads one whole reply: a status reply is 11 bytes, a data reply says its length.
  QByteArray ReadReply(QTcpSocket& socket) {
    auto wanted = [&] {
      if (m_received.size() < frame::kDataHeaderLength) return frame::kDataHeaderLength + 1;
      if (m_received[1] == '3') return qsizetype{11};
      return frame::kDataHeaderLength + m_received.mid(2, 6).toInt();
    };
    while (m_received.size() < wanted()) {
      if (!socket.waitForReadyRead(kWaitMs)) return std::exchange(m_received, {});
      m_received += socket.readAll();
    }
    const QByteArray reply = m_received.left(wanted());
    m_received.remove(0, reply.size());
    return reply;
  }

  QProcess m_process;
  QByteArray m_output;
  QByteArray m_received;
  Clock::time_point m_started;
};

TEST_F(PbxsimProcess, AcceptsWithin100msAndServesEveryRecordOnce) {
  QTemporaryDir dir;
  const QString transcriptPath = dir.filePath("transcript.jsonl");
  Start({"--address", "127.0.77.1", "--seed", "11", "--records", "3", "--per-reply", "2",
         "--high-bytes", "--transcript", transcriptPath},
        "listening");
  QTcpSocket socket;
  socket.connectToHost("127.0.77.1", 60010);
  ASSERT_TRUE(socket.waitForConnected(kWaitMs)) << socket.errorString().toStdString();
  const milliseconds accepting = SinceStart();
  RecordProperty("accepting_ms", static_cast<int>(accepting.count()));
  EXPECT_LE(accepting.count(), kStartBudgetMs)
      << "connected " << accepting.count() << " ms after start";

  auto ask = [&](const QByteArray& request) {
    socket.write(request);
    return ReadReply(socket);
  };
  EXPECT_EQ(Hex(ask(frame::StatusMonitorRequest("2"))),
            Hex(frame::StatusReply('2', frame::StatusResult::StatusOk)));

  QByteArray records;
  for (int reply = 0; reply < 2; ++reply) {
    const frame::Reply r = frame::ClassifyReply(ask(frame::DataRequest("2")), "2");
    ASSERT_EQ(r.kind, frame::ReplyKind::DataReply);
    records += r.records.chopped(1);  // the byte after the last ETX is no record's
    socket.write(frame::DataAcknowledgement("2", r.blockChar));
  }
  EXPECT_EQ(Hex(ask(frame::DataRequest("2"))),
            Hex(frame::StatusReply('2', frame::StatusResult::BufferEmpty)));
  socket.write(frame::DisconnectRequest("2"));
  EXPECT_TRUE(socket.state() == QAbstractSocket::UnconnectedState ||
              socket.waitForDisconnected(kWaitMs))
      << "a disconnect request must close the connection";

  // What the transcript says was delivered is what came over the wire, in order.
  m_process.terminate();
  ASSERT_TRUE(m_process.waitForFinished(kWaitMs));
  EXPECT_EQ(m_process.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(m_process.exitCode(), 0);
  QFile transcript(transcriptPath);
  ASSERT_TRUE(transcript.open(QIODevice::ReadOnly));
  QByteArray delivered;
  int deliveries = 0;
  QMap<QString, int> frames;
  for (const QByteArray& line : transcript.readAll().split('\n')) {
    const QJsonObject object = QJsonDocument::fromJson(line).object();
    if (object.isEmpty()) continue;
    EXPECT_TRUE(QDateTime::fromString(object["time"].toString(), Qt::ISODateWithMs).isValid());
    frames[object["dir"].toString()] += 1;
    if (!object.contains("delivered")) continue;
    EXPECT_EQ(object["seq"].toInt(), ++deliveries);
    delivered += QByteArray::fromHex(object["delivered"].toString().toLatin1());
  }
  EXPECT_EQ(deliveries, 3);
  EXPECT_EQ(Hex(delivered), Hex(records));
  EXPECT_EQ(frames["rx"], 7) << "status monitor, 3 data requests, 2 acknowledgements, disconnect";
  EXPECT_EQ(frames["tx"], 4) << "status-OK, 2 data replies, buffer-empty";
}

TEST_F(PbxsimProcess, RefusesConnectionsWhenAsked) {
  Start({"--address", "127.0.77.2", "--refuse"}, "refusing");
  QTcpSocket socket;
  socket.connectToHost("127.0.77.2", 60010);
  EXPECT_FALSE(socket.waitForConnected(kWaitMs));
  EXPECT_EQ(socket.error(), QAbstractSocket::ConnectionRefusedError)
      << socket.errorString().toStdString();
}

}  // namespace
