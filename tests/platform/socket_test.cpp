#include "platform/socket.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QTimer>

#include <memory>

#include "support/loopback_peer.h"
#include "support/test_platform.h"
#include "support/loop_guard.h"
#include "support/virtual_platform.h"
#include "platform/winsock_errors.h"
#include "hex.h"

namespace vorlan {
namespace {

using namespace std::chrono_literals;

// Writes down the order in which socket event handlers began and ended.
struct Trace {
  std::vector<std::string> steps;
  void Add(std::string step) { steps.push_back(std::move(step)); }
};

class VirtualSocketTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_owned = m_platform.CreateSocket();
    m_socket = m_platform.SocketAt(0);
    m_socket->SetRemoteHost("127.0.0.1");
    m_socket->SetRemotePort(60010);
  }
  void ConnectNow() {
    m_socket->Connect();
    m_socket->PeerAccept();
    m_platform.DoEvents();
  }

  VirtualPlatform m_platform;
  std::unique_ptr<Socket> m_owned;
  VirtualSocket* m_socket = nullptr;
};

TEST_F(VirtualSocketTest, ConnectReportsConnectedThroughTheEventLoop) {
  int connects = 0;
  QObject::connect(m_socket, &Socket::ConnectEvent, [&] { ++connects; });
  EXPECT_EQ(m_socket->State(), Socket::sckClosed);
  m_socket->Connect();
  EXPECT_NE(m_socket->State(), Socket::sckClosed);
  EXPECT_NE(m_socket->State(), Socket::sckConnected);
  m_socket->Connect();  // a second attempt while one is pending is ignored
  EXPECT_EQ(m_socket->ConnectAttempts(), 1);
  m_socket->PeerAccept();
  EXPECT_EQ(m_socket->State(), Socket::sckConnected);
  EXPECT_EQ(connects, 0);
  m_platform.DoEvents();
  EXPECT_EQ(connects, 1);
  EXPECT_EQ(m_socket->AttemptedPort(), 60010);
}

TEST_F(VirtualSocketTest, RefusedConnectionIsError10061AndCloseResets) {
  std::vector<int> numbers;
  QObject::connect(m_socket, &Socket::ErrorEvent,
                   [&](int number, const QString&) { numbers.push_back(number); });
  m_socket->Connect();
  m_socket->PeerRefuse(wsa::kConnectionRefused);
  m_platform.DoEvents();
  EXPECT_EQ(numbers, std::vector<int>{10061});
  EXPECT_EQ(m_socket->State(), Socket::sckError);
  m_socket->Close();
  EXPECT_EQ(m_socket->State(), Socket::sckClosed);
  m_socket->Connect();
  EXPECT_EQ(m_socket->ConnectAttempts(), 2);
}

TEST_F(VirtualSocketTest, SendsOnlyWhileConnected) {
  EXPECT_FALSE(m_socket->SendData("x"));
  ConnectNow();
  EXPECT_TRUE(m_socket->SendData("\x16\xFF"));
  EXPECT_EQ(Hex(m_socket->TakeSent()), "16 FF");
}

TEST_F(VirtualSocketTest, DataBeforeThePeerClosesIsDeliveredBeforeTheClose) {
  ConnectNow();
  Trace trace;
  QObject::connect(m_socket, &Socket::DataArrivalEvent, [&](qint64 n) {
    trace.Add("data " + std::to_string(n) + " " + Hex(m_socket->GetData()) + " state " +
              std::to_string(m_socket->State()));
  });
  QObject::connect(m_socket, &Socket::CloseEvent, [&] {
    trace.Add("close");
    m_socket->Close();
  });
  m_socket->PeerSend("\x16\x33");
  m_socket->PeerSend("\x30");  // not yet delivered: joins the same arrival
  m_socket->PeerClose();
  EXPECT_EQ(m_socket->State(), Socket::sckClosing);
  m_platform.DoEvents();
  m_platform.DoEvents();
  EXPECT_EQ(trace.steps, (std::vector<std::string>{"data 3 16 33 30 state 8", "close"}));
  EXPECT_EQ(m_socket->State(), Socket::sckClosed);
}

TEST_F(VirtualSocketTest, CloseDropsWhatWasNotRead) {
  ConnectNow();
  int arrivals = 0;
  QObject::connect(m_socket, &Socket::DataArrivalEvent, [&](qint64) { ++arrivals; });
  m_socket->PeerSend("abc");
  m_socket->Close();
  m_platform.RunFor(10ms);
  EXPECT_EQ(arrivals, 0);
  EXPECT_TRUE(m_socket->GetData().isEmpty());
}

// An arrival that comes while the handler of the one before it waits is held back until that
// handler has returned: arrivals are handled one at a time, in order.
TEST_F(VirtualSocketTest, ArrivalsAreHandledOneAtATimeInOrder) {
  const loop_guard::Allow nested;  // the layer under a handler that waits
  ConnectNow();
  Trace trace;
  QObject::connect(m_socket, &Socket::DataArrivalEvent, [&](qint64) {
    const std::string text = m_socket->GetData().toStdString();
    trace.Add("begin " + text);
    m_platform.WaitUntil([] { return false; }, 50ms);  // a lamp flash
    trace.Add("end " + text);
  });
  m_platform.At(0ms, [&] { m_socket->PeerSend("one"); });
  m_platform.At(20ms, [&] { m_socket->PeerSend("two"); });
  m_platform.At(30ms, [&] { m_socket->PeerSend("three"); });
  m_platform.RunFor(500ms);
  EXPECT_EQ(trace.steps, (std::vector<std::string>{"begin one", "end one", "begin twothree",
                                                   "end twothree"}));
}

TEST_F(VirtualSocketTest, ALaterArrivalWaitsForTheHandlerEvenInsideALongWait) {
  const loop_guard::Allow nested;  // the layer under a handler that waits
  ConnectNow();
  Trace trace;
  QObject::connect(m_socket, &Socket::DataArrivalEvent, [&](qint64) {
    const std::string text = m_socket->GetData().toStdString();
    trace.Add("begin " + text);
    if (text == "head") m_platform.WaitUntil([&] { return trace.steps.size() >= 2; }, 1000ms);
    trace.Add("end " + text);
  });
  m_platform.At(0ms, [&] { m_socket->PeerSend("head"); });
  m_platform.At(10ms, [&] { m_socket->PeerSend("tail"); });
  m_platform.RunFor(2000ms);
  EXPECT_EQ(trace.steps,
            (std::vector<std::string>{"begin head", "end head", "begin tail", "end tail"}));
}

// The real socket over loopback.
class QtSocketTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(m_peer.Listening());
    m_socket = m_platform.CreateSocket();
    m_socket->SetRemoteHost("127.0.0.1");
    m_socket->SetRemotePort(m_peer.Port());
  }
  void ConnectNow() {
    bool connected = false;
    QObject::connect(m_socket.get(), &Socket::ConnectEvent, [&] { connected = true; });
    m_socket->Connect();
    ASSERT_TRUE(m_platform.WaitUntil([&] { return connected && m_peer.Connected(); }, 5s));
    ASSERT_EQ(m_socket->State(), Socket::sckConnected);
  }

  QtTestPlatform m_platform;
  LoopbackPeer m_peer;
  std::unique_ptr<Socket> m_socket;
};

TEST_F(QtSocketTest, EveryByteGoesOutAndComesBackUnchanged) {
  ConnectNow();
  QByteArray frame(1, '\x16');
  for (int b = 0; b < 256; ++b) frame.append(char(b));
  QByteArray back;
  QObject::connect(m_socket.get(), &Socket::DataArrivalEvent,
                   [&](qint64) { back.append(m_socket->GetData()); });
  ASSERT_TRUE(m_socket->SendData(frame));
  ASSERT_TRUE(m_platform.WaitUntil([&] { return m_peer.Received().size() == frame.size(); }, 5s));
  EXPECT_EQ(Hex(m_peer.Received()), Hex(frame));
  m_peer.Send(m_peer.Received());
  ASSERT_TRUE(m_platform.WaitUntil([&] { return back.size() == frame.size(); }, 5s));
  EXPECT_EQ(Hex(back), Hex(frame));
}

TEST_F(QtSocketTest, RefusedConnectionReports10061) {
  quint16 closedPort = 0;
  {
    QTcpServer probe;
    ASSERT_TRUE(probe.listen(QHostAddress::LocalHost, 0));
    closedPort = probe.serverPort();
  }
  m_socket->SetRemotePort(closedPort);
  int number = 0;
  QString description;
  QObject::connect(m_socket.get(), &Socket::ErrorEvent, [&](int n, const QString& d) {
    number = n;
    description = d;
  });
  m_socket->Connect();
  ASSERT_TRUE(m_platform.WaitUntil([&] { return number != 0; }, 5s));
  EXPECT_EQ(number, 10061);
  EXPECT_FALSE(description.isEmpty());
  EXPECT_EQ(m_socket->State(), Socket::sckError);
  m_socket->Close();
  EXPECT_EQ(m_socket->State(), Socket::sckClosed);
}

// An orderly close is a Close; a reset is socket error 10054. Either comes after the last data.
TEST_F(QtSocketTest, PeerCloseRaisesCloseAndAResetAnErrorAfterTheLastData) {
  for (const bool reset : {false, true}) {
    SetUp();
    ConnectNow();
    Trace trace;
    QObject::connect(m_socket.get(), &Socket::DataArrivalEvent,
                     [&](qint64) { trace.Add("data " + Hex(m_socket->GetData())); });
    QObject::connect(m_socket.get(), &Socket::CloseEvent, [&] {
      trace.Add("close in state " + std::to_string(m_socket->State()));
      m_socket->Close();
    });
    QObject::connect(m_socket.get(), &Socket::ErrorEvent, [&](int number, const QString& text) {
      trace.Add("error " + std::to_string(number) + " " + text.toStdString());
      m_socket->Close();
    });
    m_peer.Send("\x16\x33");
    if (reset) {  // a reset may overtake data not yet read; this one comes after it
      ASSERT_TRUE(m_platform.WaitUntil([&] { return !trace.steps.empty(); }, 5s));
      m_peer.Reset();
    } else {
      m_peer.Close();
    }
    ASSERT_TRUE(m_platform.WaitUntil([&] { return m_socket->State() == Socket::sckClosed; }, 5s));
    EXPECT_EQ(trace.steps,
              (std::vector<std::string>{"data 16 33", reset ? "error 10054 Connection reset by peer"
                                                             : "close in state 8"}));
    EXPECT_FALSE(m_socket->SendData("x"));
  }
}

TEST_F(QtSocketTest, ArrivalsInOrderEachAfterTheLastHandlerEnds) {
  const loop_guard::Allow nested;  // the layer under a handler that waits
  ConnectNow();
  Trace trace;
  QElapsedTimer held;
  qint64 heldFor = -1;
  QObject::connect(m_socket.get(), &Socket::DataArrivalEvent, [&](qint64) {
    const std::string text = m_socket->GetData().toStdString();
    trace.Add("begin " + text);
    if (text == "C") heldFor = held.elapsed();
    if (text == "A") {
      // B arrives while A's handler still runs: it waits its turn.
      m_peer.Send("B");
      m_platform.WaitUntil([] { return false; }, 100ms);
    } else if (text == "B") {
      // And so does C while a HoldDelivery scope outlives B's handler.
      m_peer.Send("C");
      auto hold = std::make_shared<Socket::HoldDelivery>(*m_socket);
      QTimer::singleShot(100ms, [hold]() mutable { hold.reset(); });
      held.start();
    }
    trace.Add("end " + text);
  });
  m_peer.Send("A");
  ASSERT_TRUE(m_platform.WaitUntil([&] { return trace.steps.size() >= 6; }, 5s));
  EXPECT_EQ(trace.steps, (std::vector<std::string>{"begin A", "end A", "begin B", "end B",
                                                   "begin C", "end C"}));
  EXPECT_GE(heldFor, 99) << "C came in while the scope was open";
}

// A peer that floods us is read no faster than the program takes the data: what is held for it
// stays bounded, and every byte still arrives, in order.
TEST_F(QtSocketTest, FloodIsHeldInBoundedChunksAndArrivesWhole) {
  const loop_guard::Allow nested;  // the layer under a handler that waits
  ConnectNow();
  QByteArray flood(8 << 20, '\0');
  for (qsizetype i = 0; i < flood.size(); ++i) flood[i] = char(i * 7 + i / 251);
  QByteArray back;
  qsizetype largest = 0;
  QObject::connect(m_socket.get(), &Socket::DataArrivalEvent, [&](qint64) {
    const QByteArray chunk = m_socket->GetData();
    largest = std::max(largest, chunk.size());
    back.append(chunk);
    m_platform.WaitUntil([] { return false; }, 2ms);
  });
  m_peer.Send(flood);
  ASSERT_TRUE(m_platform.WaitUntil([&] { return back.size() >= flood.size(); }, 60s))
      << back.size() << " of " << flood.size();
  EXPECT_LE(largest, Socket::kMaxUnread);
  EXPECT_TRUE(back == flood) << "flood came back changed";
}

}  // namespace
}  // namespace vorlan
