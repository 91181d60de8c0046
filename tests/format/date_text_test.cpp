#include "format/date_text.h"

#include <gtest/gtest.h>

#include "hex.h"

namespace vorlan::format {
namespace {

struct PatternCase {
  const char* name;
  const char16_t* pattern;
  const char16_t* expected;
};

// Long time patterns as locales spell them.
const PatternCase kZonePatterns[] = {
    {"ZoneAfterBlank", u"h:mm:ss AP t", u"h:mm:ss AP"},
    {"ZoneFirst", u"t HH:mm:ss", u"HH:mm:ss"},
    {"ZoneFirstNoBlank", u"tAPh:mm:ss", u"APh:mm:ss"},
    {"ZoneInParentheses", u"H:mm:ss (t)", u"H:mm:ss"},
    {"ZoneInBrackets", u"APh:mm:ss [t]", u"APh:mm:ss"},
    {"ZoneAfterComma", u"HH:mm:ss, t", u"HH:mm:ss"},
    {"QuotedTKept", u"'Klock't H.mm:ss 'at' t", u"'Klock' H.mm:ss 'at'"},
    {"NoZone", u"HH:mm:ss", u"HH:mm:ss"},
};

void PrintTo(const PatternCase& c, std::ostream* os) { *os << c.name; }

class TimeZoneField : public ::testing::TestWithParam<PatternCase> {};

TEST_P(TimeZoneField, IsDroppedWithItsSeparator) {
  EXPECT_EQ(WithoutTimeZone(GetParam().pattern), QString::fromUtf16(GetParam().expected));
}

INSTANTIATE_TEST_SUITE_P(Patterns, TimeZoneField, ::testing::ValuesIn(kZonePatterns),
                         [](const auto& info) { return std::string(info.param.name); });

struct LocaleCase {
  const char* name;
  const char* locale;
  const char16_t* afternoon;
  const char16_t* midnight;
};

// 2001-01-15 at 12:30:05, and at midnight. Two-digit years are widened to four.
const LocaleCase kLocales[] = {
    {"UnitedStates", "en_US", u"1/15/2001 12:30:05 PM", u"1/15/2001"},
    {"Germany", "de_DE", u"15.01.2001 12:30:05", u"15.01.2001"},
    {"China", "zh_CN", u"2001/1/15 12:30:05", u"2001/1/15"},
};

void PrintTo(const LocaleCase& c, std::ostream* os) { *os << c.name; }

class GeneralDate : public ::testing::TestWithParam<LocaleCase> {};

TEST_P(GeneralDate, ShowsShortDateAndLongTimeWithoutZone) {
  const QLocale locale(QString::fromLatin1(GetParam().locale));
  const QDate date(2001, 1, 15);
  EXPECT_EQ(GeneralDateText(date, QTime(12, 30, 5), locale),
            QString::fromUtf16(GetParam().afternoon));
  EXPECT_EQ(GeneralDateText(date, QTime(0, 0), locale), QString::fromUtf16(GetParam().midnight));
}

INSTANTIATE_TEST_SUITE_P(Locales, GeneralDate, ::testing::ValuesIn(kLocales),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace vorlan::format
