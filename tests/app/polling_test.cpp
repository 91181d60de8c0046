#include <gtest/gtest.h>

#include <QSignalSpy>

#include "support/form_fixture.h"
#include "support/fake_exchange.h"
#include "hex.h"

namespace vorlan {
namespace {

using namespace std::chrono_literals;

class PollingTest : public FormTest {
 protected:
  void SetUp() override {
    LoadAndConnect("1");
    m_connectedAt = m_platform.Elapsed() - 1ms;  // the Connect event came at the start
  }
  // The times of the requests of one type, relative to the connection.
  std::vector<qint64> Times(char type) const { return Times(type, m_connectedAt); }
  std::vector<qint64> Times(char type, std::chrono::milliseconds origin) const {
    std::vector<qint64> times;
    for (size_t i = 0; i < m_exchange.requests.size(); ++i) {
      if (m_exchange.requests[i][1] == type) {
        times.push_back((m_exchange.requestTimes[i] - origin).count());
      }
    }
    return times;
  }

  FakeExchange m_exchange{m_platform, Peer()};
  std::chrono::milliseconds m_connectedAt{0};
};

// Each request is sent 50 ms after its timer ticks, once its lamp has flashed.
TEST_F(PollingTest, HeartbeatEvery2500MsUntilTheFirstStopThen3000) {
  m_platform.RunFor(7610ms);  // the third reply is read at 7610
  EXPECT_EQ(Times('5'), (std::vector<qint64>{2550, 5050, 7550}));
  EXPECT_EQ(m_form.StatusBar.Panel(1), "  Status Monitor...  ") << "stays until the next tick";
  EXPECT_EQ(m_form.StatusBar.Panel(2), "Status Monitor OK...");

  const auto stoppedAt = m_platform.Elapsed();
  m_form.CmdStop_Click();
  m_platform.RunFor(6110ms);
  const std::vector<qint64> all = Times('5', stoppedAt);
  const std::vector<qint64> afterStop(all.begin() + 3, all.end());
  EXPECT_EQ(afterStop, (std::vector<qint64>{3050, 6050}));
  EXPECT_EQ(m_form.StatusBar.Panel(1), "") << "each reply after a stop empties it";

  // After reconnecting, still 3000.
  Peer().PeerClose();
  m_platform.RunFor(1ms);
  m_form.CmdConnect_Click();
  Peer().PeerAccept();
  m_platform.RunFor(1ms);
  const auto reconnectedAt = m_platform.Elapsed() - 1ms;
  m_platform.RunFor(3060ms);
  const std::vector<qint64> again = Times('5', reconnectedAt);
  ASSERT_FALSE(again.empty());
  EXPECT_EQ(again.back(), 3050) << "still 3000 after reconnecting";
}

TEST_F(PollingTest, DownloadSendsOneDataRequestPerReply) {
  const auto start = m_platform.Elapsed();
  m_form.CmdDnld_Click();
  EXPECT_TRUE(m_form.CmdStop.Enabled());
  EXPECT_FALSE(m_form.CmdDnld.Enabled());
  EXPECT_FALSE(m_form.CmdDisconnect.Enabled());
  EXPECT_FALSE(m_form.CmdConnect.Enabled());
  EXPECT_FALSE(m_form.cmdquit.Enabled());
  m_exchange.QueueReply('A', "\x02" "ONE\x03" "z");
  m_exchange.QueueReply('B', "\x02" "TWO\x03" "z");
  m_platform.RunFor(9000ms);
  // 100 ms, then 50 ms of lamp. Reply 10 ms later, its flash, the acknowledgement's flash,
  // then 1 ms to the next request and its flash: 161 ms a cycle. After the buffer-empty reply
  // (10 ms, 50 ms flash) the next request follows 3000 ms later, 3110 ms a cycle.
  EXPECT_EQ(Times('1', start), (std::vector<qint64>{150, 311, 472, 3582, 6692}));
  EXPECT_TRUE(Times('5').empty()) << "no status request while downloading";
  EXPECT_EQ(m_exchange.Acks(), 2);
  EXPECT_EQ(m_form.StatusBar.Panel(1), "  PBX Data Request...  ");
  EXPECT_EQ(m_form.StatusBar.Panel(2), "PBX Buffer Empty...");
  EXPECT_EQ(m_form.RecordCount(), 2);
}

TEST_F(PollingTest, StopWithARequestOutstandingIsConfirmedByItsReply) {
  QSignalSpy confirmed(&m_form.Session(), &session::Session::StopCompleted);
  m_exchange.delay = 500ms;
  m_exchange.QueueReply('C', "\x02" "LAST\x03");
  m_form.CmdDnld_Click();
  m_platform.RunFor(200ms);  // the request is out, its reply not yet here
  m_form.CmdStop_Click();
  EXPECT_EQ(m_form.StatusBar.Panel(1), "  Stopping DownLoad...  ");
  EXPECT_EQ(m_form.StatusBar.Panel(2), "Please Wait...");
  EXPECT_TRUE(m_form.CmdDnld.Enabled());
  EXPECT_FALSE(m_form.CmdStop.Enabled());
  m_platform.RunFor(600ms);
  EXPECT_EQ(confirmed.size(), 1);
  EXPECT_EQ(m_form.RecordCount(), 1);
  EXPECT_EQ(m_exchange.Acks(), 1);
  EXPECT_EQ(m_exchange.DataRequests(), 1) << "no request after the stop";
  EXPECT_TRUE(m_form.CmdDisconnect.Enabled());
}

TEST_F(PollingTest, StopThenDownloadBeforeAnyReplyKeepsDownloading) {
  QSignalSpy confirmed(&m_form.Session(), &session::Session::StopCompleted);
  m_exchange.delay = 500ms;
  m_form.CmdDnld_Click();
  m_platform.RunFor(200ms);
  m_form.CmdStop_Click();
  m_form.CmdDnld_Click();
  EXPECT_EQ(m_form.Session().DownloadState(), session::Session::Download::Running);
  m_platform.RunFor(400ms);
  EXPECT_EQ(m_exchange.DataRequests(), 1) << "the first request is still in flight";
  EXPECT_EQ(m_form.StatusBar.Panel(1), "  PBX Data Request...  ");
  EXPECT_EQ(m_form.StatusBar.Panel(2), "");
  m_platform.RunFor(3600ms);
  EXPECT_EQ(confirmed.size(), 0);
  EXPECT_EQ(m_exchange.DataRequests(), 2) << "the late reply armed the next request";
}

TEST_F(PollingTest, DisconnectAfterAConfirmedStopResumesTheHeartbeatOnAReply) {
  QSignalSpy confirmed(&m_form.Session(), &session::Session::StopCompleted);
  m_exchange.delay = 500ms;
  m_form.CmdStop_Click();
  m_platform.RunFor(3600ms);  // one status request and its reply confirm the stop
  ASSERT_EQ(confirmed.size(), 1);
  m_exchange.silent = true;
  m_form.CmdDisconnect_Click();
  const int polls = m_exchange.StatusRequests();
  m_platform.RunFor(kHeartbeatAfterStop + 100ms);
  EXPECT_EQ(m_exchange.StatusRequests(), polls) << "no heartbeat once Disconnect is sent";
  Peer().PeerSend(FakeExchange::Status("1", '2'));  // a late reply
  m_platform.RunFor(kHeartbeatAfterStop + 100ms);
  EXPECT_EQ(m_exchange.StatusRequests(), polls + 1) << "the late reply resumed it";
}

TEST_F(PollingTest, ArmedRequestSendsNothingOnceTheLinkIsDown) {
  m_exchange.silent = true;
  m_form.CmdDnld_Click();
  Peer().PeerClose();
  m_platform.RunFor(1ms);
  m_platform.RunFor(kDataRequestTimeout + 500ms);
  EXPECT_EQ(m_exchange.DataRequests(), 0);
}

TEST_F(PollingTest, UnansweredDataRequestIsSentAgainAfterItsTimeOut) {
  m_exchange.silent = true;
  m_form.CmdDnld_Click();
  m_platform.RunFor(60s);
  EXPECT_EQ(m_exchange.DataRequests(), 6) << "at 0.15 s, then every 10 s";
  EXPECT_EQ(m_exchange.StatusRequests(), 0);
  EXPECT_NE(m_form.txtout().Text().indexOf("No answer to the data request in 10 s"), -1);
}

// Text that came in before a data request was written is no answer to it, even when it is read
// after it, having waited behind an arrival that was being paced.
TEST_F(PollingTest, TextReceivedBeforeTheRequestIsNoAnswerToIt) {
  m_exchange.silent = true;
  m_form.CmdDnld_Click();
  m_platform.RunFor(1s);
  int due = 0;
  QObject::connect(&m_form.Session(), &session::Session::PollDue, [&](session::Session::Poll poll) {
    if (poll != session::Session::Poll::Data || ++due != 1) return;
    // During the second request's 50 ms: one arrival is paced past its write, the next waits.
    m_platform.At(1ms, [this] { Peer().PeerSend("two"); });
    m_platform.At(10ms, [this] { Peer().PeerSend("three"); });
  });
  Peer().PeerSend("one");  // no reply: it answers the first request
  m_platform.RunFor(5s);
  EXPECT_EQ(m_exchange.DataRequests(), 2) << "\"two\" or \"three\" taken for an answer";
}

}  // namespace
}  // namespace vorlan
