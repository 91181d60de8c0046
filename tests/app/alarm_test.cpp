// Over-long calls, end to end inside the program: the formatter's verdict marks the record in
// the log file and in the RAW Data view, and the Formatted Output window shows the record.
#include <gtest/gtest.h>

#include <QFile>

#include "app/imported_records.h"
#include "call_records.h"
#include "format/call_csv.h"
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
  EXPECT_FALSE(Log().contains("<BAD>:")) << "312 s within 600 s";
  // Shown once logged: a reply cut inside its second record and given up at its deadline was
  // never on disk, and its whole first record is not shown either.
  m_form.Text2().SetText({});
  Peer().PeerSend(QByteArray("\x16" "2000010" "1") + 'D' + Record("20010115123001") + "\x02" "HALF");
  m_platform.RunFor(kDataRequestTimeout + 1s);
  EXPECT_EQ(m_form.Text2().Text(), "");
  EXPECT_EQ(m_form.RecordCount(), 2);
}

// One verdict per record, whoever shows it: the live mark in the log and the RAW Data view
// (with the Formatted Output window hidden and shown), the CSV's flagged_now and the Import
// table's over-max column. Each row is its own data reply, judged against its own maximum,
// in this order: a row may follow a flagged one.
struct FlagRow {
  const char* name;
  QByteArray record;  // call types differ, so that no record repeats an earlier one
  const char* maxTime;
  bool bad;
};

QByteArray Call(const char* type, const char* end, const char* start = "20010115120000") {
  return records::Record(type, records::Times(start, end));
}

const FlagRow kFlagRows[] = {
    {"Within", Call("01", "20010115120512"), "600", false},  // 312 s
    {"Over", Call("02", "20010115120512"), "300", true},
    {"NoTimeItemAfterFlagged", records::Record("03", records::Item(1, "ABCDE")), "300", false},
    {"Over2", Call("04", "20010115120512"), "300", true},
    {"EmptyMaximumAfterFlagged", Call("05", "20010115120512"), "", false},
    {"ExactlyTheMaximum", Call("06", "20010115120512"), "312", false},
    {"Talk32767", Call("07", "20010115210607"), "32767", false},
    {"Talk32768OverMaximum", Call("08", "20010115210608"), "32767", true},
    {"Talk32768WithinMaximum", Call("09", "20010115210608"), "99999", false},
    {"Over99Hours", Call("10", "20010119160001"), "999999", false},  // 360001 s
    {"Over99HoursOverMaximum", Call("11", "20010119160001"), "360000", true},
    {"UnreadableTime", Call("12", "20010115120512", "20011315120000"), "600", true},
    {"UnreadableTimeEmptyMaximum", Call("13", "20010115120512", "20011315120000"), "", true},
    {"ZeroMaximum", Call("14", "20010115120001"), "0", true},
    {"ZeroMaximumZeroTalk", Call("15", "20010115120000"), "0", false},
    {"NoTimeItemEmptyMaximum", records::Record("16", records::Item(1, "X")), "", false},
};

TEST(OneVerdict, LiveMarkCsvAndImportTableAgreeOnEveryRecord) {
  for (const bool visible : {false, true}) {
    SCOPED_TRACE(visible ? "Formatted Output shown" : "Formatted Output hidden");
    FormRig rig;
    rig.LoadAndConnect();
    rig.m_form.chkDisp.SetValue(visible ? 1 : 0);
    char block = 'A';
    for (const FlagRow& row : kFlagRows) {
      rig.m_form.TxtMaxTime.SetText(row.maxTime);
      rig.Peer().PeerSend(QByteArray("\x16" "2000010" "1") + block++ + row.record + "z");
      rig.m_platform.RunFor(300ms);
    }

    QFile file(rig.LogsPath() + "/03051437.log");
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray log = file.readAll();
    ImportedRecords table("03051437.log", log, QString());
    ASSERT_EQ(table.RecordTotal(), qsizetype(std::size(kFlagRows)));
    const QString raw = rig.m_form.txtout().Text();
    QByteArray expectedLog;
    int line = 0;
    for (const FlagRow& row : kFlagRows) {
      expectedLog += (row.bad ? "<BAD>:" : "") + row.record + "\r\n";
      EXPECT_TRUE(raw.contains((row.bad ? " <BAD>:" : " ") + QString::fromLatin1(row.record) +
                               "\r\n"))
          << row.name << ": RAW Data view";
      EXPECT_EQ(format::JudgedCsvRecord("03051437.log", line + 1, row.bad, row.record,
                                        QString::fromLatin1(row.maxTime))
                    .flaggedNow,
                row.bad)
          << row.name << ": CSV";
      table.SetMaxTime(row.maxTime);
      EXPECT_EQ(table.data(table.index(line, ImportedRecords::OverMax)).toString(),
                row.bad ? "yes" : "")
          << row.name << ": Import table";
      ++line;
    }
    EXPECT_EQ(Hex(log), Hex(expectedLog)) << "log file";
  }
}

}  // namespace
}  // namespace vorlan
