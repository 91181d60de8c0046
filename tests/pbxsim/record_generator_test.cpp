#include "record_generator.h"

#include <gtest/gtest.h>

#include "bytes.h"
#include "link/frame.h"

namespace pbxsim {
namespace {

struct Item {
  int type = -1;
  QByteArray data;
};

// Walks a record's items as the tool does, but strictly: every type and length field must be
// two digits and the last item must end right before the ETX.
std::vector<Item> StrictItems(const QByteArray& record, std::string* problem) {
  std::vector<Item> items;
  auto twoDigits = [&](qsizetype at) {
    const QByteArray field = record.mid(at, 2);
    bool ok = field.size() == 2 && std::isdigit(static_cast<unsigned char>(field[0])) &&
              std::isdigit(static_cast<unsigned char>(field[1]));
    return ok ? field.toInt() : -1;
  };
  qsizetype p = 5;
  while (p < record.size() - 1) {
    const int type = twoDigits(p);
    const int length = twoDigits(p + 2);
    if (type < 0 || length < 0 || p + 4 + length > record.size() - 1) {
      *problem = "bad item at offset " + std::to_string(p) + " of " + Hex(record);
      return {};
    }
    items.push_back({type, record.mid(p + 4, length)});
    p += 4 + length;
  }
  if (p != record.size() - 1) *problem = "items overrun the ETX in " + Hex(record);
  return items;
}

QDateTime ReadStamp(const QByteArray& stamp) {
  return QDateTime(QDate::fromString(QString::fromLatin1(stamp.left(8)), "yyyyMMdd"),
                   QTime::fromString(QString::fromLatin1(stamp.mid(8)), "HHmmss"), Qt::UTC);
}

QDateTime At(const char* stamp) { return ReadStamp(stamp); }

struct GeneratorCase {
  const char* name;
  GeneratorSettings settings;
  bool expectsMidnight;
};

void PrintTo(const GeneratorCase& c, std::ostream* os) { *os << c.name; }

const GeneratorCase kCases[] = {
    {"Defaults", {At("20240115083000"), 0.2, 10, false}, false},
    {"AllLong", {At("20240115083000"), 1.0, 60, false}, false},
    {"NoneLong", {At("20240115083000"), 0.0, 600, false}, false},
    {"ZeroThreshold", {At("20240115083000"), 0.5, 0, false}, false},
    {"HighBytes", {At("20240115083000"), 0.3, 30, true}, false},
    {"AcrossMidnightAndYear", {At("20231231235900"), 1.0, 60, false}, true},
};

class GeneratedRecords : public ::testing::TestWithParam<GeneratorCase> {};

TEST_P(GeneratedRecords, AreWellFormedWithExactTalkTimes) {
  const GeneratorSettings& settings = GetParam().settings;
  RecordGenerator generator(settings, 1234);
  constexpr int kCalls = 400;
  int longCalls = 0;
  bool crossedMidnight = false;
  QDateTime previousStart;
  for (int i = 0; i < kCalls; ++i) {
    const GeneratedCall call = generator.Next();
    const QByteArray& r = call.record;
    SCOPED_TRACE("record " + std::to_string(i) + ": " + Hex(r));
    ASSERT_GE(r.size(), 10);
    EXPECT_EQ(r.front(), vorlan::frame::STX);
    EXPECT_EQ(r.back(), vorlan::frame::ETX);
    EXPECT_EQ(r.count(vorlan::frame::STX), 1);
    EXPECT_EQ(r.count(vorlan::frame::ETX), 1);
    EXPECT_TRUE(r.mid(1, 4).trimmed() == r.mid(1, 4)) << "blank in sequence or call type";
    EXPECT_TRUE(r.contains(' ')) << "no blank inside the text";

    std::string problem;
    const std::vector<Item> items = StrictItems(r, &problem);
    ASSERT_EQ(problem, "");
    const auto stamps =
        std::find_if(items.begin(), items.end(), [](const Item& item) { return item.type == 6; });
    ASSERT_NE(stamps, items.end());
    ASSERT_EQ(stamps->data.size(), 31);
    const QDateTime start = ReadStamp(stamps->data.left(14));
    const QDateTime end = ReadStamp(stamps->data.mid(17, 14));
    ASSERT_TRUE(start.isValid() && end.isValid());
    EXPECT_EQ(start.secsTo(end), call.talkSeconds);
    EXPECT_GE(call.talkSeconds, 0);
    EXPECT_LE(call.talkSeconds, 32767);
    EXPECT_EQ(call.isLong, call.talkSeconds > settings.longSeconds);
    EXPECT_EQ(start, i == 0 ? settings.firstStart : std::max(start, previousStart));
    previousStart = start;
    crossedMidnight |= start.date() != end.date();
    longCalls += call.isLong ? 1 : 0;

    bool high = false;
    for (char c : r) high |= static_cast<quint8>(c) >= 0x80;
    EXPECT_EQ(high, settings.highBytes);
  }
  EXPECT_NEAR(static_cast<double>(longCalls) / kCalls, settings.longShare, 0.075);
  EXPECT_EQ(crossedMidnight, GetParam().expectsMidnight);
}

INSTANTIATE_TEST_SUITE_P(Settings, GeneratedRecords, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

std::vector<QByteArray> Records(quint32 seed, int count) {
  RecordGenerator generator({At("20240115083000"), 0.2, 10, true}, seed);
  std::vector<QByteArray> records;
  for (int i = 0; i < count; ++i) records.push_back(generator.Next().record);
  return records;
}

TEST(RecordGenerator, SameSeedGivesTheSameRecords) {
  EXPECT_EQ(Hex(Records(42, 20)), Hex(Records(42, 20)));
  EXPECT_NE(Hex(Records(42, 20)), Hex(Records(43, 20)));
}

}  // namespace
}  // namespace pbxsim
