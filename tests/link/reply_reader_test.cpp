#include <gtest/gtest.h>

#include <tuple>

#include <string>
#include <vector>

#include "link/frame.h"
#include "link/reply_reader.h"

namespace vorlan::link {
namespace {

using Kind = ReplyReader::EventKind;

// Events in short: S status reply (its result digit), H/C data header or continuation (block),
// R record (its text, control bytes as <xx>), E acknowledge (blocks), U unrecognised, G given up.
std::string Printable(const QByteArray& bytes) {
  std::string out;
  for (const char c : bytes) {
    if (c >= 0x20 && c < 0x7F) out += c;
    else out += "<" + QByteArray(1, c).toHex().toStdString() + ">";
  }
  return out;
}

std::string Summary(const std::vector<ReplyReader::Event>& events) {
  std::string out;
  for (const ReplyReader::Event& e : events) {
    if (!out.empty()) out += ' ';
    switch (e.kind) {
      case Kind::StatusReply: out += "S" + std::string(1, e.bytes[9]); break;
      case Kind::DataHeader: out += (e.continuation ? "C" : "H") + std::string(1, e.blockChar); break;
      case Kind::Record: out += "R:" + Printable(e.bytes); break;
      case Kind::DataReplyEnd: out += "E:" + e.blocks.toStdString(); break;
      case Kind::Unrecognised: out += "U"; break;
      case Kind::RecordGivenUp: out += "G"; break;
    }
  }
  return out;
}

QByteArray Status(char result) {
  QByteArray body = QByteArray("3000030") + '1' + result;
  return QByteArray(1, frame::SYN) + body + char(frame::CheckByte(body));
}
const QByteArray kHeader = QByteArray("\x16" "2000010" "1");

struct Row {
  const char* name;
  std::vector<QByteArray> arrivals;
  std::string events;  // all arrivals, then EndReply when the reply may still go on
};

// Each row is read arrival by arrival; a reply left open at the end is ended as the receive
// path ends it when nothing more comes.
std::string Read(const std::vector<QByteArray>& arrivals) {
  ReplyReader reader;
  std::vector<ReplyReader::Event> events;
  for (const QByteArray& a : arrivals) reader.Feed(a, '1', events);
  if (reader.ReplyMayEnd()) reader.EndReply(events);
  return Summary(events);
}

TEST(ReplyReader, CutsByStructure) {
  const Row rows[] = {
      {"worked example", {kHeader + "A\x02" "05 01\x03" "Z"}, "HA R:<02>05 01<03> E:A"},
      {"header only", {kHeader + "B"}, "HB E:B"},
      {"SYN, STX, CR, LF inside a record",
       {kHeader + "C\x02" "a\x16" "2b\x02\r\nc\x03" "z"}, "HC R:<02>a<16>2b<02><0d><0a>c<03> E:C"},
      {"a header's shape inside a record",
       {kHeader + "D\x02" "x" + kHeader + "Q\x03" "z"},
       "HD R:<02>x<16>20000101Q<03> E:D"},
      {"last character SYN, then the next reply",
       {kHeader + "E\x02" "r\x03\x16" + Status('1')}, "HE R:<02>r<03> E:E S1"},
      {"lone trailing STX", {kHeader + "F\x02" "r\x03\x02"}, "HF R:<02>r<03> E:F"},
      {"text before an STX is dropped", {kHeader + "G" "xy\x03z\x02" "REC\x03"},
       "HG R:<02>REC<03> E:G"},
      {"split in the header", {"\x16" "20", "000101H\x02" "r\x03" "z"}, "HH R:<02>r<03> E:H"},
      {"split after the header", {kHeader + "I", "\x02" "r\x03" "z"}, "HI R:<02>r<03> E:I"},
      {"split after a record", {kHeader + "J\x02" "a\x03", "\x02" "b\x03" "z"},
       "HJ R:<02>a<03> R:<02>b<03> E:J"},
      {"split inside a record, rest starts with SYN 3",
       {kHeader + "K\x02" "ab", "\x16" "3x\x03" "z"}, "HK R:<02>ab<16>3x<03> E:K"},
      {"split inside a record, a lone SYN then text that is no header",
       {kHeader + "K\x02" "ab", "\x16", "000101A\x02" "R\x03" "z"},
       "HK R:<02>ab<16>000101A<02>R<03> E:K"},
      {"record completed by a continuation reply",
       {kHeader + "L\x02" "HE", kHeader + "MAD\x03\x02" "N\x03" "z"},
       "HL CM R:<02>HEAD<03> R:<02>N<03> E:LM"},
      {"status reply while a record waits", {kHeader + "N\x02" "ab", Status('2'), "c\x03" "z"},
       "HN S2 R:<02>abc<03> E:N"},
      {"status reply split by the network", {Status('1').left(4), Status('1').mid(4)}, "S1"},
      {"port busy and what follows it", {QByteArray("\x16" "3000030" "1" "4" "junk") + Status('2')},
       "S4 S2"},
      {"another device's status reply", {QByteArray("\x16" "3000030" "2" "2\xcf")}, "U"},
      {"a status reply with a wrong check byte", {QByteArray("\x16" "3000030" "1" "2\x00", 11)},
       "U"},
      {"a short header cut off by a reply", {"\x16" "2000", Status('1')}, "U S1"},
      {"garbage between replies", {"noise" + Status('2') + "more"}, "U S2 U"},
  };
  for (const Row& row : rows) EXPECT_EQ(Read(row.arrivals), row.events) << row.name;
}

// A record longer than the limit is cut to its head and ETX, with its length on the wire; one
// of exactly the limit is whole; the reply is acknowledged, and what is held stays bounded.
TEST(ReplyReader, OverlongRecordIsCutAndItsReplyGoesOn) {
  ReplyReader reader;
  std::vector<ReplyReader::Event> events;
  reader.Feed(kHeader + "P\x02", '1', events);
  for (int i = 0; i < 300; ++i) {
    reader.Feed(QByteArray(4096, 'x'), '1', events);
    ASSERT_LE(reader.Held(), ReplyReader::kMaxRecord);
  }
  reader.Feed("\x03\x02" + QByteArray(ReplyReader::kMaxRecord - 2, 'y') + "\x03" "z", '1', events);
  ASSERT_EQ(Summary({events[0], events[3]}), "HP E:P");
  for (const auto& [e, cut, size] : {std::tuple{events[1], true, qint64{300 * 4096 + 2}},
                                     std::tuple{events[2], false, qint64{ReplyReader::kMaxRecord}}}) {
    EXPECT_EQ(e.cut, cut);
    EXPECT_EQ(e.size, size);
    EXPECT_EQ(e.bytes.size(), ReplyReader::kMaxRecord);
    EXPECT_EQ(e.bytes.back(), '\x03');
  }
}

// A connection starts clean: nothing of a half record crosses a reset.
TEST(ReplyReader, ResetForgetsAnOpenRecord) {
  ReplyReader reader;
  std::vector<ReplyReader::Event> events;
  reader.Feed(kHeader + "R\x02" "half", '1', events);
  EXPECT_TRUE(reader.AwaitingContinuation());
  reader.Reset();
  events.clear();
  reader.Feed(kHeader + "S\x02" "new\x03" "z", '1', events);
  EXPECT_EQ(Summary(events), "HS R:<02>new<03> E:S");
}

}  // namespace
}  // namespace vorlan::link
