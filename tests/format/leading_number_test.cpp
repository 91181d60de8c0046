#include "format/leading_number.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "hex.h"

namespace vorlan::format {
namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();

struct NumberCase {
  const char* name;
  QByteArray text;
  double expected;
};

const NumberCase kNumbers[] = {
    {"LeadingZero", "06", 6},
    {"TrailingPoint", "6.", 6},
    {"FractionOnly", ".6", 0.6},
    {"LeadingBlank", " 6", 6},
    {"BlankInsideDigits", "1 0", 10},
    {"Minus", "-5", -5},
    {"Plus", "+3", 3},
    {"Exponent", "1e2", 100},
    {"ExponentUpperWithSign", "1E+2", 100},
    {"ExponentWithoutDigits", "1e", 1},
    {"NegativeExponent", "25e-1", 2.5},
    {"BlanksAroundExponent", "1 e - 1", 0.1},
    {"Letters", "abc", 0},
    {"Empty", "", 0},
    {"TrailingLetters", "12abc", 12},
    {"TabAndLineFeed", "\t7\n", 7},
    {"SecondPointEnds", "1.5.6", 1.5},
    {"SignAlone", "-", 0},
    {"DoubleSign", "--5", 0},
    {"ExponentAlone", "e5", 0},
    {"CarriageReturnEnds", "1\r0", 1},
    {"NoDExponent", "1D2", 1},
    {"NoHexPrefix", "&H10", 0},
    {"MinusZeroIsZero", "-0", 0},
    {"HighByteEndsIt", "4\3512", 4},  // 0xE9 between the digits
    {"ManyDigits", "12345678901234567890", 12345678901234567890.0},
    {"FarScaled", "123e-30", 123e-30},
    {"Overflow", "1e999", kInf},
    {"NegativeOverflow", "-9e99999999999999999999", -kInf},
    {"Underflow", "1e-999", 0},
    {"LargestDouble", "1.7976931348623157e308", 1.7976931348623157e308},
    {"NegativeUnderflow", "-2e-324", 0},
};

void PrintTo(const NumberCase& c, std::ostream* os) { *os << c.name; }

class LeadingNumberRule : public ::testing::TestWithParam<NumberCase> {};

TEST_P(LeadingNumberRule, ReadsTheNumberAtTheStart) {
  const NumberCase& c = GetParam();
  const double bytes = LeadingNumber(QByteArrayView(c.text));
  const double text = LeadingNumber(QString::fromLatin1(c.text));
  EXPECT_EQ(bytes, c.expected) << "bytes [" << Hex(c.text) << "]";
  EXPECT_EQ(text, c.expected) << "as text [" << Hex(c.text) << "]";
  EXPECT_FALSE(std::signbit(bytes) && bytes == 0) << "negative zero for [" << Hex(c.text) << "]";
}

INSTANTIATE_TEST_SUITE_P(Fields, LeadingNumberRule, ::testing::ValuesIn(kNumbers),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(LeadingNumberRule, ReadsPastLeadingZerosOfAnyLength) {
  const QByteArray text = "0." + QByteArray(500, '0') + "1e501";
  EXPECT_EQ(LeadingNumber(QByteArrayView(text)), 1.0);
}

TEST(LeadingNumberRule, TextBeyondLatin1EndsTheNumber) {
  EXPECT_EQ(LeadingNumber(QStringLiteral("3\u20AC4")), 3.0);
  EXPECT_EQ(LeadingNumber(QStringLiteral("\uFF15")), 0.0);  // a full-width digit is no digit
}

}  // namespace
}  // namespace vorlan::format
