#include <gtest/gtest.h>

#include "hex.h"
#include "logging/record_log.h"
#include "session_rig.h"

namespace vorlan::session {
namespace {

const Connection::Limits kWatched{kConnectLimit, kSilenceLimit, kCloseLimit};

// How a link ends, over the ways an exchange can behave and the limits a session keeps: the
// reason it gives, the limit it says passed, and whether the log file stays open.
TEST(SessionLink, EndsForEachReasonWithinItsLimits) {
  enum Script { Refuse, NeverAccept, Silent, AnswerThenClose, Fail };
  const struct {
    const char* name;
    Connection::Limits limits;
    Script script;
    std::chrono::milliseconds run;
    std::optional<Session::Limit> passed;
    std::optional<Session::Unlink> why;
    bool logOpen;
  } rows[] = {
      {"refused", {}, Refuse, 1s, {}, Session::Unlink::Failed, true},
      {"no accept, no limit", {}, NeverAccept, 120s, {}, {}, true},
      {"no accept, limited", kWatched, NeverAccept, 31s, Session::Limit::Connect,
       Session::Unlink::TimedOut, true},
      {"silent, no limit", {}, Silent, 120s, {}, {}, true},
      {"silent, limited: disconnect, then closed here", kWatched, Silent, 66s,
       Session::Limit::Close, Session::Unlink::ClosedHere, false},
      {"closed by the exchange", kWatched, AnswerThenClose, 3s, {}, Session::Unlink::PeerClosed,
       false},
      {"reset", kWatched, Fail, 3s, {}, Session::Unlink::Failed, true},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    SessionRig rig(Session::Options{0ms, row.limits, false});
    QSignalSpy unlinked(&rig.session, &Session::Unlinked);
    QSignalSpy limits(&rig.session, &Session::LimitPassed);
    QSignalSpy failed(&rig.session, &Session::SocketFailed);
    ASSERT_TRUE(rig.session.Connect());
    VirtualSocket& peer = rig.Peer();
    if (row.script == Refuse) peer.PeerRefuse(10061);
    if (row.script != Refuse && row.script != NeverAccept) peer.PeerAccept();
    if (row.script == AnswerThenClose) rig.platform.At(2s, [&] { peer.PeerClose(); });
    if (row.script == Fail) rig.platform.At(2s, [&] { peer.PeerFail(10054, "reset"); });
    rig.platform.RunFor(row.run);

    ASSERT_EQ(unlinked.size(), row.why ? 1 : 0);
    if (row.why) {
      EXPECT_EQ(unlinked[0][0].value<Session::Unlink>(), *row.why);
    }
    EXPECT_EQ(rig.session.LinkState(),
              row.why ? Session::Link::Closed
              : row.script == NeverAccept ? Session::Link::Connecting
                                          : Session::Link::Linked);
    if (row.passed) {
      ASSERT_FALSE(limits.isEmpty());
      EXPECT_EQ(limits.back()[0].value<Session::Limit>(), *row.passed);
    } else {
      EXPECT_TRUE(limits.isEmpty());
    }
    EXPECT_EQ(failed.size(), row.script == Refuse || row.script == Fail ? 1 : 0);
    EXPECT_EQ(rig.session.Log().IsOpen(), row.logOpen);
  }
}

// The end of a session, as the window's unload and the collector's stop use it: the stop
// confirmed, the disconnect request, the exchange's close, each in its limit, and by the
// deadline the connection closed here; Ended said once.
TEST(SessionEnd, EndsByItsDeadlineWhateverTheExchangeDoes) {
  const struct {
    const char* name;
    bool linked, stopFirst, answers;
    std::chrono::milliseconds deadline, endedBy;
    std::vector<Session::Limit> passed;
    const char* wire;  // the frames after the end was asked, by their type character
  } rows[] = {
      // The stop is confirmed by the answer to the next heartbeat.
      {"collector, exchange answers", true, true, true, kEndDeadline, 4s, {}, "56"},
      {"collector, exchange silent", true, true, false, kEndDeadline, kEndDeadline + 1ms,
       {Session::Limit::Stop, Session::Limit::End}, "5556"},
      {"collector, not linked", false, true, false, kEndDeadline, 1ms, {}, ""},
      {"window, exchange closes", true, false, true, kShutdownWait, 1s, {}, "6"},
      {"window, exchange silent", true, false, false, kShutdownWait, kShutdownWait + 1ms,
       {Session::Limit::End}, "6"},
      {"window, not linked", false, false, false, kShutdownWait, 1ms, {}, ""},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    SessionRig rig(Session::Options{0ms, {}, false});
    FakeExchange exchange(rig.platform, rig.Peer());
    if (row.linked) {
      rig.Link();
      if (row.stopFirst) rig.session.StartDownload();
      rig.platform.RunFor(500ms);
    }
    exchange.silent = !row.answers;
    exchange.requests.clear();
    QSignalSpy ended(&rig.session, &Session::Ended);
    QSignalSpy limits(&rig.session, &Session::LimitPassed);
    rig.session.End(row.stopFirst, row.deadline);
    rig.platform.RunFor(row.endedBy);
    EXPECT_EQ(ended.size(), 1);
    rig.platform.RunFor(30s);
    EXPECT_EQ(ended.size(), 1) << "once";
    std::vector<Session::Limit> passed;
    for (const auto& args : limits) passed.push_back(args[0].value<Session::Limit>());
    EXPECT_EQ(passed, row.passed);
    std::string wire;
    for (const QByteArray& frame : exchange.requests) wire += frame[1];
    EXPECT_EQ(wire, row.wire);
    EXPECT_EQ(rig.session.LinkState(), Session::Link::Closed);
    EXPECT_FALSE(rig.session.Log().IsOpen());
    EXPECT_EQ(rig.platform.NestedPumps(), 0);
  }
}

}  // namespace
}  // namespace vorlan::session
