#include "link/frame.h"

#include <gtest/gtest.h>

#include "hex.h"

namespace vorlan::frame {

void PrintTo(ReplyKind kind, std::ostream* os) { *os << ReplyKindName(kind); }

namespace {

struct FrameCase {
  const char* name;
  QByteArray (*build)();
  const char* hex;
};

// Every frame of the protocol for device ID "1", byte for byte.
const FrameCase kFramesForId1[] = {
    {"DataRequest", [] { return DataRequest("1"); }, "16 31 30 30 30 30 32 30 31 FD"},
    {"StatusMonitor", [] { return StatusMonitorRequest("1"); },
     "16 35 30 30 30 30 35 30 31 30 30 06 F8"},
    {"Disconnect", [] { return DisconnectRequest("1"); }, "16 36 30 30 30 30 33 30 31 06 FD"},
    {"DataAckBlockA", [] { return DataAcknowledgement("1", 'A'); },
     "16 34 30 30 30 30 34 30 31 41 06 B9"},
};

class RequestFrames : public ::testing::TestWithParam<FrameCase> {};

TEST_P(RequestFrames, MatchTheProtocolByteForByte) {
  EXPECT_EQ(Hex(GetParam().build()), Hex(FromHex(GetParam().hex)));
}

INSTANTIATE_TEST_SUITE_P(DeviceId1, RequestFrames, ::testing::ValuesIn(kFramesForId1),
                         [](const auto& info) { return std::string(info.param.name); });

// Replies as the exchange sends them for device ID "1": each is recognised as its kind.
struct ReplyCase {
  const char* name;
  const char* hex;
  ReplyKind kind;
};

const ReplyCase kRepliesForId1[] = {
    {"BufferEmpty", "16 33 30 30 30 30 33 30 31 31 CF", ReplyKind::BufferEmpty},
    {"StatusOk", "16 33 30 30 30 30 33 30 31 32 CC", ReplyKind::StatusOk},
    {"ChecksumError", "16 33 30 30 30 30 33 30 31 33 CD", ReplyKind::ChecksumError},
    {"PortBusyBare", "16 33 30 30 30 30 33 30 31 34", ReplyKind::PortBusy},
    {"PortBusyWrongCheck", "16 33 30 30 30 30 33 30 31 34 00", ReplyKind::PortBusy},
    {"PortBusyTrailing", "16 33 30 30 30 30 33 30 31 34 CE 41 42 43", ReplyKind::PortBusy},
    {"StatusOkWrongCheck", "16 33 30 30 30 30 33 30 31 32 CD", ReplyKind::Unrecognised},
    {"StatusOkOtherId", "16 33 30 30 30 30 33 30 32 32 CF", ReplyKind::Unrecognised},
    {"StatusOkTwelfthChar", "16 33 30 30 30 30 33 30 31 32 CC 00", ReplyKind::Unrecognised},
    {"BufferEmptyNoCheck", "16 33 30 30 30 30 33 30 31 31", ReplyKind::Unrecognised},
    {"StatusOkSplitFirstHalf", "16 33 30 30 30", ReplyKind::Unrecognised},
    {"StatusOkWithoutSyn", "33 30 30 30 30 33 30 31 32 CC", ReplyKind::Unrecognised},
    {"DataReplyHeaderOnly", "16 32 30 30 30 30 31 30 31 41", ReplyKind::DataReply},
    {"DataReplyTooShort", "16 32 30 30 30 30 31 30 31", ReplyKind::Unrecognised},
    {"Empty", "", ReplyKind::Unrecognised},
    {"Garbage", "FF FE 00 16", ReplyKind::Unrecognised},
};

class ReplyClassification : public ::testing::TestWithParam<ReplyCase> {};

TEST_P(ReplyClassification, RecognisesTheWholeArrival) {
  const Reply reply = ClassifyReply(FromHex(GetParam().hex), "1");
  EXPECT_STREQ(ReplyKindName(reply.kind), ReplyKindName(GetParam().kind))
      << "for " << GetParam().hex;
}

INSTANTIATE_TEST_SUITE_P(DeviceId1, ReplyClassification, ::testing::ValuesIn(kRepliesForId1),
                         [](const auto& info) { return std::string(info.param.name); });

// The check bytes for every device ID of the list, as the exchange documentation tables them.
TEST(CheckBytes, MatchTheTableForDeviceIds0To3) {
  struct Row {
    const char* name;
    quint8 expected[4];
    QByteArray (*frame)(QByteArrayView id);
  };
  const Row rows[] = {
      {"data request", {0xFC, 0xFD, 0xFE, 0xFF}, [](QByteArrayView id) { return DataRequest(id); }},
      {"status monitor request", {0xF9, 0xF8, 0xFB, 0xFA},
       [](QByteArrayView id) { return StatusMonitorRequest(id); }},
      {"disconnect request", {0xFC, 0xFD, 0xFE, 0xFF},
       [](QByteArrayView id) { return DisconnectRequest(id); }},
  };
  for (const Row& row : rows) {
    for (int id = 0; id < 4; ++id) {
      const QByteArray deviceId(1, char('0' + id));
      const QByteArray frame = row.frame(deviceId);
      EXPECT_EQ(quint8(frame.back()), row.expected[id])
          << row.name << ", ID " << id << ": " << Hex(frame);
      // The check byte is the complement of the XOR of everything between SYN and itself.
      EXPECT_EQ(quint8(frame.back()), CheckByte(QByteArrayView(frame).sliced(1).chopped(1)))
          << row.name << ", ID " << id;
    }
  }
  // Replies: the frame the exchange sends with these check bytes is recognised, and a
  // neighbouring check byte is not.
  struct ReplyRow {
    char result;
    quint8 expected[4];
    ReplyKind kind;
  };
  const ReplyRow replies[] = {
      {'1', {0xCE, 0xCF, 0xCC, 0xCD}, ReplyKind::BufferEmpty},
      {'2', {0xCD, 0xCC, 0xCF, 0xCE}, ReplyKind::StatusOk},
      {'3', {0xCC, 0xCD, 0xCE, 0xCF}, ReplyKind::ChecksumError},
  };
  for (const ReplyRow& row : replies) {
    for (int id = 0; id < 4; ++id) {
      const QByteArray deviceId(1, char('0' + id));
      QByteArray text = QByteArray("\x16" "3000030") + deviceId + row.result;
      EXPECT_EQ(ReplyKindName(ClassifyReply(text + char(row.expected[id]), deviceId).kind),
                ReplyKindName(row.kind))
          << "result " << row.result << ", ID " << id;
      EXPECT_EQ(ClassifyReply(text + char(row.expected[id] ^ 1), deviceId).kind,
                ReplyKind::Unrecognised)
          << "result " << row.result << ", ID " << id;
    }
  }
}

TEST(CheckBytes, WorkedExampleAndExtremes) {
  EXPECT_EQ(CheckByte(FromHex("35 30 30 30 30 35 30 31 30 30 06")), 0xF8);
  EXPECT_EQ(CheckByte({}), 0xFF);
  EXPECT_EQ(CheckByte(FromHex("FF")), 0x00);
}

TEST(DataAcknowledgement, CarriesTheBlockCharacterUnchangedWhateverItsCode) {
  for (int code = 0; code < 256; ++code) {
    const char block = char(code);
    const QByteArray ack = DataAcknowledgement("2", block);
    ASSERT_EQ(ack.size(), 12);
    EXPECT_EQ(quint8(ack[9]), code);
    EXPECT_EQ(quint8(ack[11]), AcknowledgementCheck("2", block)) << "block " << code;
    EXPECT_EQ(quint8(ack[11]), CheckByte(QByteArrayView(ack).sliced(1).chopped(1)))
        << "block " << code;
  }
}

TEST(DataReply, GivesBlockCharacterAndTextFromTheEleventhCharacter) {
  const QByteArray header = FromHex("16 32 30 30 30 30 31 30 31");
  for (int code : {0x00, 0x41, 0x80, 0xFF}) {
    const QByteArray text = header + char(code) + "\x02" "A B\x03\x02" "C\x03" "Z";
    const Reply reply = ClassifyReply(text, "1");
    ASSERT_EQ(reply.kind, ReplyKind::DataReply);
    EXPECT_EQ(quint8(reply.blockChar), code);
    EXPECT_EQ(Hex(reply.records), Hex(QByteArray("\x02" "A B\x03\x02" "C\x03" "Z")));
  }
  // Header only: a data reply with no records, its tenth character still the block character.
  const Reply bare = ClassifyReply(header + "Q", "1");
  EXPECT_EQ(bare.kind, ReplyKind::DataReply);
  EXPECT_EQ(bare.blockChar, 'Q');
  EXPECT_TRUE(bare.records.isEmpty());
  // The device ID, check byte and positions 3 to 9 of a data reply are not examined.
  EXPECT_EQ(ClassifyReply(FromHex("16 32 FF FF FF FF FF FF FF 41"), "0").kind,
            ReplyKind::DataReply);
}

TEST(DataReply, PrefixOfAHeaderCanStillBecomeOne) {
  EXPECT_TRUE(IsDataReplyPrefix(FromHex("16")));
  EXPECT_TRUE(IsDataReplyPrefix(FromHex("16 32 30 30")));
  EXPECT_FALSE(IsDataReplyPrefix(FromHex("16 33 30")));
  EXPECT_FALSE(IsDataReplyPrefix(FromHex("16 32 30 30 30 30 31 30 31 41")));
  EXPECT_FALSE(IsDataReplyPrefix({}));
}

// Matching is on the device ID of the moment: the ID "1" reply is not recognised under ID "2".
TEST(ReplyClassification, UsesTheCurrentDeviceId) {
  const QByteArray ok1 = FromHex("16 33 30 30 30 30 33 30 31 32 CC");
  EXPECT_EQ(ClassifyReply(ok1, "1").kind, ReplyKind::StatusOk);
  EXPECT_EQ(ClassifyReply(ok1, "2").kind, ReplyKind::Unrecognised);
}

// An empty device ID has no character to place or fold in: the frames go out without one and
// the check byte is the plain rule over what is there. Nothing fails.
TEST(EmptyDeviceId, BuildsFramesWithoutAnIdCharacter) {
  EXPECT_EQ(Hex(DataRequest("")), Hex(FromHex("16 31 30 30 30 30 32 30 CC")));
  EXPECT_EQ(Hex(StatusMonitorRequest("")), Hex(FromHex("16 35 30 30 30 30 35 30 30 30 06 C9")));
  EXPECT_EQ(Hex(DisconnectRequest("")), Hex(FromHex("16 36 30 30 30 30 33 30 06 CC")));
  EXPECT_EQ(Hex(DataAcknowledgement("", 'A')), Hex(FromHex("16 34 30 30 30 30 34 30 41 06 88")));
  EXPECT_EQ(AcknowledgementCheck("", 'A'), 0x88);
  EXPECT_EQ(ClassifyReply(FromHex("16 33 30 30 30 30 33 30 32 FD"), "").kind,
            ReplyKind::StatusOk);
}

// A longer ID goes into the frame whole, but only its first character counts in the check byte.
TEST(LongDeviceId, FoldsOnlyItsFirstCharacterIntoTheCheckByte) {
  const QByteArray frame = DataRequest("12");
  EXPECT_EQ(Hex(frame), Hex(FromHex("16 31 30 30 30 30 32 30 31 32 FD")));
  EXPECT_EQ(AcknowledgementCheck("12", 'A'), AcknowledgementCheck("1", 'A'));
}

}  // namespace
}  // namespace vorlan::frame
