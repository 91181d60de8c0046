#include "options.h"

#include <gtest/gtest.h>

namespace pbxsim {
namespace {

using namespace std::chrono_literals;

ParsedOptions Parse(QStringList args) {
  args.prepend("pbxsim");
  return ParseOptions(args, 777, QDateTime(QDate(2024, 3, 5), QTime(14, 37), Qt::UTC));
}

TEST(Options, ValuesThatNeedReading) {
  const ParsedOptions parsed = Parse({"--start-time", "20231231235900", "--device-id", "3",
                                      "--split-at", "3, 12", "--close-after", "0",
                                      "--close-before-ack", "3", "--gap-after-etx", "0"});
  ASSERT_EQ(parsed.outcome, ParsedOptions::Outcome::Run) << parsed.text.toStdString();
  const Options& o = parsed.options;
  EXPECT_EQ(o.port, 60010);
  EXPECT_EQ(o.seed, 777u);
  EXPECT_EQ(o.generator.firstStart.toString("yyyyMMddHHmmss"), "20231231235900");
  EXPECT_EQ(o.behaviour.deviceId, '3');
  EXPECT_EQ(o.behaviour.splitAt, (std::vector<int>{3, 12}));
  EXPECT_EQ(o.behaviour.closeAfter, 0);
  EXPECT_EQ(o.behaviour.silentAfter, -1);
  EXPECT_EQ(o.behaviour.gapAfterEtx, 0ms) << "a gap of 0 still cuts the reply";
}

struct BadCase {
  const char* name;
  QStringList args;
  const char* mentions;
};

void PrintTo(const BadCase& c, std::ostream* os) { *os << c.name; }

const BadCase kBad[] = {
    {"ShareAboveOne", {"--busy", "1.5"}, "--busy"},
    {"PortZero", {"--port", "0"}, "--port"},
    {"NotAnAddress", {"--address", "pbx.local"}, "--address"},
    {"LongDeviceId", {"--device-id", "12"}, "--device-id"},
    {"ShortStamp", {"--start-time", "2024"}, "--start-time"},
    {"NoSuchDay", {"--start-time", "20240230120000"}, "--start-time"},
    {"OffsetZero", {"--split-at", "0,5"}, "--split-at"},
    {"UnknownOption", {"--bogus"}, "bogus"},
    {"StrayArgument", {"file.log"}, "file.log"},
};

class BadOptions : public ::testing::TestWithParam<BadCase> {};

TEST_P(BadOptions, AreRefusedNamingTheCulprit) {
  const ParsedOptions parsed = Parse(GetParam().args);
  EXPECT_EQ(parsed.outcome, ParsedOptions::Outcome::Error);
  EXPECT_TRUE(parsed.text.contains(GetParam().mentions)) << parsed.text.toStdString();
}

INSTANTIATE_TEST_SUITE_P(Arguments, BadOptions, ::testing::ValuesIn(kBad),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace pbxsim
