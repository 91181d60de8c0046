#include "request_stream.h"

#include <gtest/gtest.h>

#include "bytes.h"
#include "link/frame.h"

namespace pbxsim {
namespace {

using vorlan::frame::DataAcknowledgement;
using vorlan::frame::DataRequest;
using vorlan::frame::DisconnectRequest;
using vorlan::frame::StatusMonitorRequest;

// What came out of a stream, frames as they are and garbage marked, for one readable comparison.
std::vector<std::string> Drain(RequestStream& stream, const std::vector<QByteArray>& reads) {
  std::vector<std::string> out;
  for (const QByteArray& read : reads) {
    for (const auto& piece : stream.Feed(read)) {
      out.push_back((piece.isFrame ? "" : "garbage ") + Hex(piece.bytes));
    }
  }
  return out;
}

std::vector<QByteArray> ByteByByte(const QByteArray& bytes) {
  std::vector<QByteArray> reads;
  for (char c : bytes) reads.push_back(QByteArray(1, c));
  return reads;
}

const std::vector<QByteArray> kFour = {StatusMonitorRequest("1"), DataRequest("1"),
                                       DataAcknowledgement("1", 'A'), DisconnectRequest("1")};
const QByteArray kAll = kFour[0] + kFour[1] + kFour[2] + kFour[3];

struct StreamCase {
  const char* name;
  std::vector<QByteArray> reads;
  std::vector<std::string> expected;
};

void PrintTo(const StreamCase& c, std::ostream* os) { *os << c.name; }

const StreamCase kCases[] = {
    {"AllFourInOneRead", {kAll}, Hex(kFour)},
    {"ByteByByte", ByteByByte(kAll), Hex(kFour)},
    {"SplitAcrossTheTypeCharacter", {kAll.left(14), kAll.mid(14)}, Hex(kFour)},
    {"GarbageBeforeAndBetween",
     {"\x41\x42" + DataRequest("0") + "\xFF", DataRequest("0")},
     {"garbage 41 42", Hex(DataRequest("0")), "garbage FF", Hex(DataRequest("0"))}},
    {"SynWithUnknownTypeResyncs",
     {"\x16\x39\x16" + DataRequest("2").mid(1)},
     {"garbage 16 39", Hex(DataRequest("2"))}},
};

class Stream : public ::testing::TestWithParam<StreamCase> {};

TEST_P(Stream, CutsRequestsFromReads) {
  RequestStream stream;
  EXPECT_EQ(Drain(stream, GetParam().reads), GetParam().expected);
  EXPECT_EQ(stream.Pending(), 0);
}

INSTANTIATE_TEST_SUITE_P(Reads, Stream, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(RequestStream, HoldsNoMoreThanOneUnfinishedRequest) {
  RequestStream stream;
  QByteArray noise(1 << 20, '\x16');  // a megabyte of SYNs, each starting nothing
  for (int i = 0; i < noise.size(); i += 7) noise[i] = '\x55';
  const auto pieces = stream.Feed(noise + StatusMonitorRequest("1").left(12));
  ASSERT_EQ(pieces.size(), 1u);
  EXPECT_FALSE(pieces[0].isFrame);
  EXPECT_EQ(pieces[0].bytes.size(), noise.size());
  EXPECT_EQ(stream.Pending(), 12);
  const auto rest = stream.Feed(StatusMonitorRequest("1").right(1));
  ASSERT_FALSE(rest.empty());
  EXPECT_EQ(Hex(rest.back().bytes), Hex(StatusMonitorRequest("1")));
}

}  // namespace
}  // namespace pbxsim
