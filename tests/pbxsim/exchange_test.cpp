#include "exchange.h"

#include <gtest/gtest.h>

#include <functional>
#include <set>

#include "bytes.h"
#include "link/frame.h"
#include "link/pbx_frames.h"

namespace pbxsim {
namespace {

using namespace std::chrono_literals;
namespace frame = vorlan::frame;
using Kind = Action::Kind;
using Bytes = std::vector<QByteArray>;

QByteArray Record(int i) { return "\x02" + QByteArray::number(i) + "01 0104 200\x03"; }

Bytes Records(int from, int to) {
  Bytes out;
  for (int i = from; i < to; ++i) out.push_back(Record(i));
  return out;
}

Bytes Of(const std::vector<Action>& actions, Kind kind) {
  Bytes out;
  for (const Action& a : actions) {
    if (a.kind == kind) out.push_back(a.bytes);
  }
  return out;
}
Bytes Sent(const std::vector<Action>& actions) { return Of(actions, Kind::Send); }
Bytes Delivered(const std::vector<Action>& actions) { return Of(actions, Kind::Deliver); }

// The records a tool cuts from these data replies, carrying an unfinished one over.
Bytes ToolRecords(const Bytes& replies) {
  Bytes records;
  QByteArray buffer;
  for (const QByteArray& reply : replies) {
    const frame::Reply r = frame::ClassifyReply(reply, "1");
    EXPECT_EQ(r.kind, frame::ReplyKind::DataReply) << Hex(reply);
    buffer += r.records;
    for (qsizetype stx, etx;
         (stx = buffer.indexOf(frame::STX)) >= 0 && (etx = buffer.indexOf(frame::ETX)) > stx;) {
      records.push_back(buffer.mid(stx, etx - stx + 1));
      buffer.remove(0, etx + 1);
    }
    if (buffer.size() <= 1) buffer.clear();
  }
  return records;
}

QByteArray Ack(char block) { return frame::DataAcknowledgement("1", block); }
char BlockOf(const QByteArray& reply) { return reply.at(frame::kDataHeaderLength - 1); }
const QByteArray kDataRequest = frame::DataRequest("1");

struct Fixture {
  explicit Fixture(Behaviour behaviour = {}, int records = 0) : exchange(behaviour, 99) {
    for (const QByteArray& r : Records(0, records)) exchange.Enqueue(r);
    EXPECT_TRUE(exchange.Open().empty());
  }
  std::vector<Action> operator()(const QByteArray& bytes) { return exchange.Receive(bytes); }
  Exchange exchange;
};

// One request, one status reply: byte for byte, and as the tool recognises it.
struct StatusCase {
  const char* name;
  std::optional<char> fixedId;
  QByteArray request;
  const char* reply;
  frame::ReplyKind toolSees;
};

void PrintTo(const StatusCase& c, std::ostream* os) { *os << c.name; }

const StatusCase kStatusCases[] = {
    {"StatusMonitorId1",
     {},
     frame::StatusMonitorRequest("1"),
     "16 33 30 30 30 30 33 30 31 32 CC",
     frame::ReplyKind::StatusOk},
    {"StatusMonitorId3",
     {},
     frame::StatusMonitorRequest("3"),
     "16 33 30 30 30 30 33 30 33 32 CE",
     frame::ReplyKind::StatusOk},
    {"NothingQueued",
     {},
     kDataRequest,
     "16 33 30 30 30 30 33 30 31 31 CF",
     frame::ReplyKind::BufferEmpty},
    {"WrongCheckByte",
     {},
     kDataRequest.chopped(1) + '\x00',
     "16 33 30 30 30 30 33 30 31 33 CD",
     frame::ReplyKind::ChecksumError},
    {"FixedDeviceId", '2', frame::StatusMonitorRequest("1"), "16 33 30 30 30 30 33 30 32 32 CF",
     frame::ReplyKind::StatusOk},
};

class StatusReplies : public ::testing::TestWithParam<StatusCase> {};

TEST_P(StatusReplies, MatchByteForByte) {
  Behaviour behaviour;
  behaviour.deviceId = GetParam().fixedId;
  const Bytes sent = Sent(Fixture(behaviour)(GetParam().request));
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(Hex(sent[0]), GetParam().reply);
  const char id[] = {sent[0][8], 0};
  EXPECT_EQ(frame::ClassifyReply(sent[0], id).kind, GetParam().toolSees);
}

INSTANTIATE_TEST_SUITE_P(Requests, StatusReplies, ::testing::ValuesIn(kStatusCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Exchange, DeliversEveryRecordOnceInOrderThenReportsEmpty) {
  Behaviour behaviour;
  behaviour.recordsPerReply = 2;
  Fixture exchange(behaviour, 5);
  Bytes delivered;
  std::vector<char> blocks;
  for (int reply = 0; reply < 3; ++reply) {
    const Bytes sent = Sent(exchange(kDataRequest));
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(Hex(ToolRecords(sent)), Hex(Records(reply * 2, std::min(5, reply * 2 + 2))));
    blocks.push_back(BlockOf(sent[0]));
    for (const QByteArray& d : Delivered(exchange(Ack(blocks.back())))) delivered.push_back(d);
  }
  EXPECT_EQ(Hex(delivered), Hex(Records(0, 5)));
  EXPECT_TRUE(blocks[0] != blocks[1] && blocks[1] != blocks[2]) << "block characters repeat";
  EXPECT_EQ(Hex(Sent(exchange(kDataRequest))),
            Hex(Bytes{frame::StatusReply('1', frame::StatusResult::BufferEmpty)}));
}

// An acknowledgement either removes the reply it matches, or that reply goes out again unchanged.
struct AckCase {
  const char* name;
  std::function<QByteArray(char block)> ack;
  bool matches;
};

void PrintTo(const AckCase& c, std::ostream* os) { *os << c.name; }

const AckCase kAckCases[] = {
    {"MatchingBlock", [](char block) { return Ack(block); }, true},
    {"MatchingBlockOtherId", [](char b) { return frame::DataAcknowledgement("2", b); }, true},
    {"OtherBlock", [](char block) { return Ack(static_cast<char>(block + 1)); }, false},
    {"WrongCheckByte", [](char block) { return Ack(block).chopped(1) + '\x00'; }, false},
};

class Acknowledgements : public ::testing::TestWithParam<AckCase> {};

TEST_P(Acknowledgements, RemoveTheMatchedReplyOnly) {
  Fixture exchange({}, 6);
  const QByteArray first = Sent(exchange(kDataRequest)).at(0);
  const Bytes delivered = Delivered(exchange(GetParam().ack(BlockOf(first))));
  const QByteArray next = Sent(exchange(kDataRequest)).at(0);
  const Bytes late = Delivered(exchange(Ack(BlockOf(first))));
  if (GetParam().matches) {
    EXPECT_EQ(Hex(delivered), Hex(Records(0, 4)));
    EXPECT_EQ(Hex(ToolRecords({next})), Hex(Records(4, 6)));
    EXPECT_TRUE(late.empty()) << "acknowledged twice";
  } else {
    EXPECT_TRUE(delivered.empty());
    EXPECT_EQ(Hex(next), Hex(first)) << "the unacknowledged reply must go out again unchanged";
    EXPECT_EQ(Hex(late), Hex(Records(0, 4)));
  }
}

INSTANTIATE_TEST_SUITE_P(Blocks, Acknowledgements, ::testing::ValuesIn(kAckCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Exchange, DisconnectClosesAndIgnoresWhateverFollows) {
  Fixture exchange({}, 2);
  const auto actions = exchange(frame::DisconnectRequest("1") + kDataRequest);
  ASSERT_EQ(actions.size(), 2u);
  EXPECT_EQ(actions[1].kind, Kind::Close);
  EXPECT_TRUE(exchange(kDataRequest).empty());
}

TEST(Exchange, UnacknowledgedRecordsGoOutAgainOnTheNextConnection) {
  Fixture exchange({}, 3);
  const QByteArray first = Sent(exchange(kDataRequest)).at(0);
  exchange.exchange.Closed();
  ASSERT_TRUE(exchange.exchange.Open().empty());
  EXPECT_TRUE(Delivered(exchange(Ack(BlockOf(first)))).empty()) << "a closed connection's reply";
  const QByteArray again = Sent(exchange(kDataRequest)).at(0);
  EXPECT_EQ(Hex(Delivered(exchange(Ack(BlockOf(again))))), Hex(Records(0, 3)));
}

Fixture SplittingEveryReply() {
  Behaviour behaviour;
  behaviour.recordsPerReply = 3;
  behaviour.splitRecordShare = 1;
  behaviour.pause = 40ms;
  return Fixture(behaviour, 5);
}

TEST(SplitRecord, ContinuesUnaskedAndIsDeliveredWithTheSecondReply) {
  Fixture exchange = SplittingEveryReply();
  const auto actions = exchange(kDataRequest);
  const Bytes sent = Sent(actions);
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_NE(sent[0].back(), frame::ETX) << "the first reply must stop inside a record";
  EXPECT_EQ(actions.back().delay, 40ms);
  EXPECT_EQ(Hex(ToolRecords(sent)), Hex(Records(0, 5)));
  // The tool answers both replies with the second one's block character.
  EXPECT_EQ(Hex(Delivered(exchange(Ack(BlockOf(sent[1]))))), Hex(Records(0, 5)));
  EXPECT_EQ(exchange.exchange.Unacknowledged(), 0);
}

TEST(SplitRecord, AcknowledgingTheFirstPartDeliversTheWholeRecordsBeforeIt) {
  Fixture exchange = SplittingEveryReply();
  const Bytes sent = Sent(exchange(kDataRequest));
  EXPECT_EQ(Hex(Delivered(exchange(Ack(BlockOf(sent.at(0)))))), Hex(Records(0, 2)));
  EXPECT_EQ(Hex(Sent(exchange(kDataRequest))), Hex(Bytes{sent.at(1)}));
  EXPECT_EQ(Hex(Delivered(exchange(Ack(BlockOf(sent.at(1)))))), Hex(Records(2, 5)));
}

TEST(SplitRecord, CutAfterTheFirstPartSendsTheRecordWholeOnTheNextConnection) {
  Fixture exchange = SplittingEveryReply();
  const Bytes sent = Sent(exchange(kDataRequest));
  EXPECT_EQ(Hex(Delivered(exchange(Ack(BlockOf(sent.at(0)))))), Hex(Records(0, 2)));
  exchange.exchange.Closed();
  ASSERT_TRUE(exchange.exchange.Open().empty());
  const Bytes again = Sent(exchange(kDataRequest));
  ASSERT_EQ(again.size(), 2u);
  EXPECT_EQ(Hex(frame::ClassifyReply(again[0], "1").records.left(Record(2).size())),
            Hex(Record(2)));
  EXPECT_EQ(Hex(Delivered(exchange(Ack(BlockOf(again[1]))))), Hex(Records(2, 5)));
}

TEST(CloseBeforeAck, TheCutRepliesRecordsComeFirstOnTheNextConnection) {
  Behaviour behaviour;
  behaviour.splitRecordShare = 1;  // but not in a reply the link is cut after, nor in its repeat
  behaviour.closeBeforeAck = 3;
  Fixture exchange(behaviour, 16);
  Bytes delivered, cut;
  for (int i = 0, next = 16; i < 12 && exchange.exchange.Queued() > 0; ++i) {
    const auto actions = exchange(kDataRequest);
    const Bytes sent = Sent(actions);
    EXPECT_EQ(Hex(cut.empty() ? cut : ToolRecords(sent)), Hex(cut)) << "not the cut reply's";
    for (const auto& d : Delivered(exchange(Ack(BlockOf(sent.back()))))) delivered.push_back(d);
    cut = actions.back().kind == Kind::Close ? ToolRecords(sent) : Bytes{};
    if (cut.empty()) continue;
    exchange.exchange.Enqueue(Record(next++));  // a call that came in meanwhile waits its turn
    exchange.exchange.Closed();
    exchange.exchange.Open();
  }
  EXPECT_EQ(Hex(delivered), Hex(Records(0, 18))) << "two cuts; each once, when its ack is read";
}

// One misbehaviour at a time, at a share of 1 so that it always happens.
struct MisbehaviourCase {
  const char* name;
  std::function<void(Behaviour&)> set;
  QByteArray requests;
  std::function<void(const std::vector<Action>&)> check;
};

void PrintTo(const MisbehaviourCase& c, std::ostream* os) { *os << c.name; }

void ExpectToolSees(const std::vector<Action>& actions, frame::ReplyKind kind) {
  const Bytes sent = Sent(actions);
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(frame::ClassifyReply(sent[0], "1").kind, kind) << Hex(sent[0]);
}

const MisbehaviourCase kMisbehaviours[] = {
    {"PortBusyWithTrailingBytes", [](Behaviour& b) { b.busyShare = 1; }, kDataRequest,
     [](const auto& actions) {
       ExpectToolSees(actions, frame::ReplyKind::PortBusy);
       EXPECT_GT(Sent(actions)[0].size(), 11);
     }},
    {"ChecksumErrorToSoundRequest", [](Behaviour& b) { b.checksumErrorShare = 1; },
     frame::StatusMonitorRequest("1"),
     [](const auto& actions) { ExpectToolSees(actions, frame::ReplyKind::ChecksumError); }},
    {"Garbage", [](Behaviour& b) { b.garbageShare = 1; }, kDataRequest,
     [](const auto& actions) { ExpectToolSees(actions, frame::ReplyKind::Unrecognised); }},
    {"SilentAfterOne", [](Behaviour& b) { b.silentAfter = 1; },
     frame::StatusMonitorRequest("1") + kDataRequest + kDataRequest,
     [](const auto& actions) { EXPECT_EQ(Sent(actions).size(), 1u); }},
    {"CloseAfterTwo", [](Behaviour& b) { b.closeAfter = 2; },
     frame::StatusMonitorRequest("1") + kDataRequest + frame::StatusMonitorRequest("1"),
     [](const auto& actions) {
       EXPECT_EQ(Sent(actions).size(), 2u);
       EXPECT_EQ(actions.back().kind, Kind::Close);
     }},
    {"SplitAtChosenOffsets",
     [](Behaviour& b) {
       b.splitAt = {3, 12, 100000};
       b.pause = 25ms;
     },
     kDataRequest + frame::StatusMonitorRequest("1"),
     [](const auto& actions) {
       const Bytes sent = Sent(actions);
       ASSERT_EQ(sent.size(), 4u) << "three pieces of data reply, one whole status reply";
       EXPECT_EQ(sent[0].size(), 3);
       EXPECT_EQ(sent[1].size(), 9);
       EXPECT_EQ(actions[3].delay, 25ms);
       EXPECT_EQ(Hex(ToolRecords({sent[0] + sent[1] + sent[2]})), Hex(Records(0, 4)));
     }},
    {"SplitStatusRepliesTooAtRandom",
     [](Behaviour& b) {
       b.splitWrites = 4;
       b.splitStatusReplies = true;
     },
     frame::StatusMonitorRequest("1"),
     [](const auto& actions) {
       const Bytes sent = Sent(actions);
       ASSERT_EQ(sent.size(), 4u);
       EXPECT_EQ(Hex(sent[0] + sent[1] + sent[2] + sent[3]),
                 Hex(frame::StatusReply('1', frame::StatusResult::StatusOk)));
     }},
    {"GapRightAfterEachRecordInTurn", [](Behaviour& b) { b.gapAfterEtx = 120ms; },
     kDataRequest.repeated(40),  // never acknowledged, so the same reply each time
     [](const auto& actions) {
       const Bytes sent = Sent(actions);
       EXPECT_EQ(actions.back().delay, 120ms);
       std::set<qsizetype> ends;
       for (size_t i = 0; i < sent.size(); i += 2) ends.insert(sent[i].size());
       EXPECT_EQ(ends, (std::set<qsizetype>{24, 38, 52, 66})) << "right after each record's ETX";
     }},
};

class Misbehaviour : public ::testing::TestWithParam<MisbehaviourCase> {};

TEST_P(Misbehaviour, HappensAsAsked) {
  Behaviour behaviour;
  GetParam().set(behaviour);
  GetParam().check(Fixture(behaviour, 4)(GetParam().requests));
}

INSTANTIATE_TEST_SUITE_P(Shares, Misbehaviour, ::testing::ValuesIn(kMisbehaviours),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace pbxsim
