// A generated day of hourly log files: the Import table's summary and vorlan-export --summary
// give the figures that anyone computes from vorlan-export's CSV of the same files.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <map>

#include "app/imported_records.h"
#include "format/call_summary.h"
#include "record_generator.h"

namespace vorlan {
namespace {

QByteArray Export(const QStringList& arguments) {
  QProcess exporter;
  exporter.start(VORLAN_EXPORT_PATH, arguments);
  EXPECT_TRUE(exporter.waitForFinished(60000));
  EXPECT_EQ(exporter.exitCode(), 0) << exporter.readAllStandardError().toStdString();
  return exporter.readAllStandardOutput();
}

// From the call CSV alone: start (column 5), talk_seconds (7), flagged_now (2), marked_bad (3)
// and the first "1:" item (8). No field of these records needs quotes.
QByteArray FromCallCsv(const QByteArray& csv, bool byExtension) {
  struct Figures {
    qint64 calls = 0, flagged = 0, talk = 0, longest = -1;
  };
  std::map<QByteArray, Figures> groups;
  const QList<QByteArray> lines = csv.split('\n');
  for (qsizetype i = 1; i < lines.size(); ++i) {
    const QList<QByteArray> f = lines[i].trimmed().split(',');
    if (f.size() < 10) continue;
    QByteArray key = f[5].left(13);
    if (byExtension) {
      key.clear();
      for (const QByteArray& item : f[8].split(';')) {
        if (item.startsWith("1:")) {
          key = item.mid(2);
          break;
        }
      }
    }
    Figures& g = groups[key];
    ++g.calls;
    g.flagged += f[2] == "1" || f[3] == "1";
    g.talk += f[7].toLongLong();
    g.longest = std::max(g.longest, f[7].toLongLong());
  }
  QByteArray out = byExtension ? "value" : "hour";
  out += ",calls,flagged,total_talk_seconds,longest_talk_seconds\r\n";
  for (const auto& [key, g] : groups) {
    out += key + ',' + QByteArray::number(g.calls) + ',' + QByteArray::number(g.flagged) + ',' +
           QByteArray::number(g.talk) + ',' + QByteArray::number(g.longest) + "\r\n";
  }
  return out;
}

TEST(SummaryOfADay, EqualsWhatTheCallCsvSays) {
  QTemporaryDir dir;
  pbxsim::GeneratorSettings settings;
  settings.firstStart = QDateTime(QDate(2026, 12, 7), QTime(0, 0, 5));
  settings.longShare = 0.3;
  settings.longSeconds = 100;
  pbxsim::RecordGenerator generator(settings, 7);
  std::map<QString, QByteArray> files;  // name: lines, by the hour of each call's start
  qint64 calls = 0;
  for (;; ++calls) {
    const pbxsim::GeneratedCall call = generator.Next();
    // The stamps are the last item: start, " - ", end, then ETX.
    const QByteArray start = call.record.right(32).left(14);
    if (!start.startsWith("20261207")) break;
    // Logged as the tool logs: blanks as ".", marked by the maximum of the day (500 s).
    const QString name = dir.filePath(QString::fromLatin1(start.mid(4, 6)) + "00.log");
    files[name] += (call.talkSeconds > 500 ? "<BAD>:" : "") +
                   QByteArray(call.record).replace(' ', '.') + "\r\n";
  }
  ASSERT_GT(calls, 1000);
  ASSERT_EQ(files.size(), 24u);
  QStringList names;
  ImportedRecords table("200");
  for (const auto& [name, bytes] : files) {
    QFile file(name);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
    file.close();
    names << name;
    table.AddFile(name, bytes);
  }
  const QByteArray csv = Export(QStringList{"--max-time", "200"} + names);
  for (const bool byExtension : {false, true}) {
    SCOPED_TRACE(byExtension ? "type:1" : "hour");
    const QByteArray expected = FromCallCsv(csv, byExtension);
    const char* grouping = byExtension ? "type:1" : "hour";
    EXPECT_EQ(Export(QStringList{"--max-time", "200", "--summary", grouping} + names), expected);
    EXPECT_EQ(format::SummaryCsv(table.SummaryOf(*format::Grouping::Parse(grouping))), expected);
  }
  // The flagged-only filter: every call of the summary is flagged.
  table.SetFlaggedOnly(true);
  const format::CallSummary flagged = table.SummaryOf({});
  EXPECT_EQ(flagged.Totals().figures.calls, flagged.Totals().figures.flagged);
  EXPECT_GT(flagged.Totals().figures.calls, 0);
}

}  // namespace
}  // namespace vorlan
