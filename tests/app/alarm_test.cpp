// Over-long calls, end to end inside the program: the formatter's verdict marks the record in
// the log file and in the RAW Data view, and the Formatted Output window shows the record.
#include <gtest/gtest.h>

#include <QFile>

#include "support/form_fixture.h"
#include "hex.h"

namespace vorlan {
namespace {

using namespace std::chrono_literals;

// A record with a data type 6 item: start 2001-01-15 12:30:00 and the given end.
QByteArray Record(const char* end) {
  return QByteArray("\x02" "00" "03" "0105ABCDE" "0631" "20010115123000...") + end + "\x03";
}

class AlarmTest : public FormTest {
 protected:
  void Receive(const QByteArray& records, char block) {
    Peer().PeerSend(QByteArray("\x16" "2000010" "1") + block + records + "z");
    m_platform.RunFor(300ms);
  }
  QByteArray Log() const {
    QFile file(LogsPath() + "/03051437.log");
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
  }
};

TEST_F(AlarmTest, LongCallsAreMarkedInTheLogAndTheRawView) {
  LoadAndConnect("1");
  m_form.TxtMaxTime.SetText("300");
  m_form.CmdCls_Click();
  Receive(Record("20010115123512") + Record("20010115123500"), 'A');  // 312 s, then 300 s
  EXPECT_EQ(Hex(Log()), Hex("<BAD>:" + Record("20010115123512") + "\r\n" +
                            Record("20010115123500") + "\r\n"));
  const QString raw = m_form.txtout().Text();
  EXPECT_TRUE(raw.contains(" <BAD>:" + QString::fromLatin1(Record("20010115123512")) + "\r\n"));
  EXPECT_TRUE(raw.contains("\r\n " + QString::fromLatin1(Record("20010115123500")) + "\r\n"));
}

TEST_F(AlarmTest, FormattedOutputShowsTheLastRecordOnlyWhenVisible) {
  LoadAndConnect("1");
  m_form.TxtMaxTime.SetText("600");
  Receive(Record("20010115123512"), 'B');
  EXPECT_EQ(m_form.Text2().Text(), "") << "hidden: nothing written";
  m_form.chkDisp.SetValue(1);
  Receive(Record("20010115123512"), 'C');
  const QStringList lines = m_form.Text2().Text().split("\r\n");
  ASSERT_GE(lines.size(), 12);
  EXPECT_EQ(lines[0], "Call Type: 03");
  EXPECT_EQ(lines[1], QString(32, '-'));
  EXPECT_EQ(lines[2], "Data-Type: 1 ---> (ABCDE)");
  EXPECT_EQ(lines[5], "Data-Type: 6 ---> ");
  EXPECT_TRUE(lines[9].endsWith(" --> (00:05:12)")) << lines[9].toStdString();
  EXPECT_FALSE(m_form.BadRecord());
}

}  // namespace
}  // namespace vorlan
