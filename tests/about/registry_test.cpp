#include <gtest/gtest.h>

#include "about/memory_registry.h"
#include "about/registry.h"

namespace vorlan {
namespace {

const QString kKey = QStringLiteral("SOFTWARE\\Test\\Key");

struct DecodeCase {
  const char* name;
  QByteArray data;
  quint32 type;
  QString expected;  // keyVal before the call is "before"
};

void PrintTo(const DecodeCase& c, std::ostream* os) { *os << c.name; }

class DecodeKeyValueTest : public ::testing::TestWithParam<DecodeCase> {};

TEST_P(DecodeKeyValueTest, GivesTheCallersText) {
  const DecodeCase& c = GetParam();
  QString keyVal = QStringLiteral("before");
  DecodeKeyValue(c.data, c.type, keyVal);
  EXPECT_EQ(keyVal.toStdString(), c.expected.toStdString()) << "data " << c.data.toHex(' ').data();
}

INSTANTIATE_TEST_SUITE_P(
    , DecodeKeyValueTest,
    ::testing::Values(DecodeCase{"StringWithNul", QByteArray("C:\\MSINFO.EXE\0", 14), 1,
                                 QStringLiteral("C:\\MSINFO.EXE")},
                      DecodeCase{"StringWithoutNul", QByteArray("C:\\MSINFO.EXE"), 1,
                                 QStringLiteral("C:\\MSINFO.EXE")},
                      DecodeCase{"OnlyOneNulDropped", QByteArray("ab\0\0", 4), 1,
                                 QStringLiteral("ab") + QChar(0)},
                      DecodeCase{"EmptyString", QByteArray("\0", 1), 1, QString()},
                      // Little-endian, whole bytes: the high zero byte looks like a trailing NUL.
                      DecodeCase{"Number257", QByteArray("\x01\x01\x00\x00", 4), 4,
                                 QStringLiteral("257")},
                      DecodeCase{"NumberAllOnesIsUnsigned", QByteArray(4, '\xff'), 4,
                                 QStringLiteral("4294967295")},
                      DecodeCase{"NumberHighByte", QByteArray("\x00\x00\x00\x80", 4), 4,
                                 QStringLiteral("2147483648")},
                      DecodeCase{"ExpandStringLeavesKeyVal", QByteArray("%SystemRoot%\0", 13), 2,
                                 QStringLiteral("before")}),
    [](const auto& info) { return std::string(info.param.name); });

class GetKeyValueTest : public ::testing::Test {
 protected:
  // Every read, successful or not, closes its key exactly once and leaves none open.
  void TearDown() override {
    EXPECT_EQ(registry.OpenKeys(), 0);
    EXPECT_EQ(registry.CloseCalls(), reads);
  }
  bool Read(const QString& key, const QString& value) {
    ++reads;
    return registry.GetKeyValue(kLocalMachineRoot, key, value, keyVal);
  }

  MemoryRegistry registry;
  QString keyVal = QStringLiteral("stale");
  int reads = 0;
};

TEST_F(GetKeyValueTest, StringStoredWithItsNulComesBackWithout) {
  registry.SetValue(kLocalMachineRoot, kKey, "PATH", kTypeString, QByteArray("C:\\X.EXE\0", 9));
  EXPECT_TRUE(Read(kKey, "PATH"));
  EXPECT_EQ(keyVal, QStringLiteral("C:\\X.EXE"));
}

TEST_F(GetKeyValueTest, FailuresEmptyKeyValAndStillClose) {
  registry.SetValue(kLocalMachineRoot, kKey, "PATH", kTypeString, "x");
  registry.SetValue(0x80000001, QStringLiteral("Other"), "PATH", kTypeString, "x");

  EXPECT_FALSE(Read(QStringLiteral("Missing"), "PATH")) << "missing key";
  EXPECT_TRUE(keyVal.isEmpty());

  keyVal = QStringLiteral("stale");
  EXPECT_FALSE(Read(kKey, "MISSING")) << "missing value";
  EXPECT_TRUE(keyVal.isEmpty());

  keyVal = QStringLiteral("stale");
  EXPECT_FALSE(Read(QStringLiteral("Other"), "PATH")) << "key under another root";
  EXPECT_TRUE(keyVal.isEmpty());
}

TEST_F(GetKeyValueTest, NumberComesBackAsDecimalText) {
  registry.SetValue(kLocalMachineRoot, kKey, "N", kTypeNumber, QByteArray("\x2a\x01\x00\x00", 4));
  EXPECT_TRUE(Read(kKey, "N"));
  EXPECT_EQ(keyVal, QStringLiteral("298"));
}

TEST_F(GetKeyValueTest, OtherTypeIsReadButLeavesKeyValAsItWas) {
  registry.SetValue(kLocalMachineRoot, kKey, "B", 3, QByteArray("\x01\x02", 2));
  EXPECT_TRUE(Read(kKey, "B"));
  EXPECT_EQ(keyVal, QStringLiteral("stale"));
}

TEST_F(GetKeyValueTest, ValueMustFitTheBuffer) {
  QByteArray fits(qsizetype(kValueBufferSize) - 1, 'a');
  fits.append('\0');
  registry.SetValue(kLocalMachineRoot, kKey, "Fits", kTypeString, fits);
  registry.SetValue(kLocalMachineRoot, kKey, "TooLong", kTypeString,
                    QByteArray(qsizetype(kValueBufferSize) + 1, 'a'));

  EXPECT_TRUE(Read(kKey, "Fits"));
  EXPECT_EQ(keyVal.size(), qsizetype(kValueBufferSize) - 1);
  EXPECT_FALSE(Read(kKey, "TooLong"));
  EXPECT_TRUE(keyVal.isEmpty());
}

}  // namespace
}  // namespace vorlan
