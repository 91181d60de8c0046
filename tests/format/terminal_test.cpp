#include "format/terminal.h"

#include <gtest/gtest.h>

namespace vorlan {
namespace {

// Control characters made visible, so a failing comparison can be read.
std::string Shown(const QString& text) {
  std::string out;
  for (QChar c : text) {
    switch (c.unicode()) {
      case 8: out += "<BS>"; break;
      case 10: out += "<LF>"; break;
      case 13: out += "<CR>"; break;
      default: out += char(c.unicode());
    }
  }
  return out;
}

struct AppendCase {
  const char* name;
  const char* before;  // what the view holds
  const char* text;    // what is appended
  const char* after;
};

const AppendCase kCases[] = {
    {"PlainLine", "", " ->: 16 \r\n", " ->: 16 \r\n"},
    {"BackspaceErasesTheCharacterBefore", "", "ab" "XY\b" "Z\r\n", "abXZ\r\n"},
    {"BackspaceAfterCrLfJoinsTheLines", "", "ab\r\n\b" "cd", "abcd"},
    {"BackspaceAfterCharacterAfterLf", "", "ab\r\nx\b" "cd\r\n", "abcd\r\n"},
    {"LeadingBackspaceErasesTheViewsLastCharacter", "abc", "\b" "Z", "abZ"},
    {"LeadingBackspaceErasesALineBreakWhole", "abc\r\n", "\b" "Z", "abcZ"},
    {"SeveralLeadingBackspacesCountOnce", "abcdef", "\b\b\b" "Z", "abcdeZ"},
    {"LeadingBackspaceOnAnEmptyView", "", "\b" "Z", "Z"},
    {"LeadingBackspaceOnAOneLineBreakView", "\n", "\b" "Z", "Z"},
    {"BackspaceAtSecondPositionTakesTheFirstCharacter", "v", "a\b" "bc", "vbc"},
    {"LoneCrBeforeThePairIsDropped", "", "abc\rdef\r\n", "abcdef\r\n"},
    {"ScanStopsAtTheFirstPair", "", "abc\r\ndef\rx", "abc\r\ndef\rx"},
    {"CrAtTheVeryEndIsLone", "", "abc\r", "abc"},
    {"LoneLfStays", "", "a\nb\r\n", "a\nb\r\n"},
};

class AppendToTerminalTest : public ::testing::TestWithParam<AppendCase> {};

TEST_P(AppendToTerminalTest, AppendsAsATerminalWould) {
  TerminalText view;
  view.SetText(GetParam().before);
  AppendToTerminal(view, GetParam().text);
  EXPECT_EQ(Shown(view.Text()), Shown(GetParam().after));
  EXPECT_EQ(view.SelStart(), view.Text().size()) << "the caret ends at the end";
}

INSTANTIATE_TEST_SUITE_P(Cases, AppendToTerminalTest, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(AppendToTerminalBound, TrimsOnlyPast16000Characters) {
  QString full;
  for (int i = 0; i < 16000; ++i) full += QChar('a' + i % 26);
  TerminalText view;
  view.SetText(full);
  AppendToTerminal(view, "X");
  EXPECT_EQ(view.Text().size(), 16001) << "exactly 16000 is kept";

  AppendToTerminal(view, "Y");  // 16001 before: keeps the 4097th character on
  EXPECT_EQ(view.Text().size(), 11905 + 1);
  EXPECT_EQ(view.Text().left(11905), (full + "X").mid(4096));
  EXPECT_TRUE(view.Text().endsWith("Y"));
}

TEST(AppendToTerminalBound, StaysBoundedOverManyAppends) {
  TerminalText view;
  int largest = 0;
  for (int i = 0; i < 5000; ++i) {
    AppendToTerminal(view, " \x02" "record......\x03\r\n");
    largest = std::max(largest, int(view.Text().size()));
  }
  EXPECT_LE(largest, 16000 + 17);
  EXPECT_GE(view.Text().size(), 11905);
}

// An append longer than the bound (a record of 60,000 bytes) leaves only the newest characters.
TEST(AppendToTerminalBound, StaysBoundedWhateverOneAppendHolds) {
  TerminalText view;
  for (const int length : {5000, 60000, 60000, 9000, 30}) {
    const QString text = QString::number(length) + QString(length, 'r') + "\r\n";
    AppendToTerminal(view, text);
    EXPECT_TRUE(view.Text().size() <= kTerminalMost && view.Text().endsWith(text.right(kTerminalMost))) << length;
  }
  view.SetText(QString(kTerminalLimit, 'o') + "\r\n");  // what the append erases goes too
  AppendToTerminal(view, "\b" + QString(kTerminalMost, 'n'));
  EXPECT_EQ(view.Text(), QString(kTerminalMost, 'n'));
}

TEST(TerminalTextOps, EachChangeIsSignalledAsOneReplacement) {
  TerminalText view;
  std::vector<std::tuple<int, QString, QString>> seen;
  QObject::connect(&view, &TerminalText::Replaced,
                   [&](int position, const QString& removed, const QString& inserted) {
                     seen.emplace_back(position, removed, inserted);
                   });
  view.SetText("hello");
  view.SetSelStart(3);
  view.SetSelLength(99);  // clamped to what follows
  EXPECT_EQ(view.SelLength(), 2);
  view.SetSelText("p!");
  EXPECT_EQ(view.Text(), "help!");
  EXPECT_EQ(view.SelStart(), 5);
  view.SetSelStart(-4);
  EXPECT_EQ(view.SelStart(), 0);
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[1], std::make_tuple(3, QString("lo"), QString("p!")));
}

}  // namespace
}  // namespace vorlan
