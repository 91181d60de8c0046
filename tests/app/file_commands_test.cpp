#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <QProcess>

#include <algorithm>
#include <functional>

#if defined(Q_OS_UNIX)
#include <sys/stat.h>
#endif

#include "app/imported_records.h"
#include "call_records.h"
#include "format/call_csv.h"

#include "file_size_limit.h"
#include "support/form_fixture.h"
#include "logging/record_log.h"

namespace vorlan {
namespace {

using FileCommandsTest = FormTest;

void Write(const QString& path, const QByteArray& bytes) {
  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write(bytes);
}

// The clean-up leaves the log file in use alone, even while it is still empty, and it stays
// usable afterwards.
TEST_F(FileCommandsTest, CleanUpSkipsTheCurrentLogFile) {
  Write(LogsPath() + "/01010000.log", "");
  Write(LogsPath() + "/01010100.log", "\x02" "REC\x03\r\n");
  LoadAndConnect();  // opens the empty 03051437.log
  logging::RecordLog other;  // another program's, still empty
  ASSERT_TRUE(other.Open(LogsPath() + "/01010200.log", nullptr));
  RunFileCommand([&] { m_form.Command1_Click(); });
  EXPECT_TRUE(QFile::exists(LogsPath() + "/01010200.log"));
  ASSERT_EQ(m_dialogs.boxes.size(), 1u);
  EXPECT_EQ(m_dialogs.boxes[0].text,
            "1 empty log file(s) left in place: another program is writing to them.");
  m_dialogs.boxes.clear();
  EXPECT_FALSE(QFile::exists(LogsPath() + "/01010000.log"));
  EXPECT_TRUE(QFile::exists(LogsPath() + "/01010100.log"));
  ASSERT_TRUE(QFile::exists(LogsPath() + "/03051437.log"));
  EXPECT_EQ(m_form.CurrentLogFile().WriteRecord("\x02" "X\x03", false),
            logging::RecordLog::WriteResult::Written);
  EXPECT_TRUE(m_dialogs.boxes.empty()) << "the command shows nothing";
}

QByteArray Read(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

const QByteArray kLong = records::Record("01", records::Times("20261207120000", "20261207120512"));
const QByteArray kShort = records::Record("02", records::Times("20261207130000", "20261207130010"));
// A log file with a record marked <BAD>:, control bytes and bytes above 0x7F, and a line that
// is not a record.
const QByteArray kLogFile = "<BAD>:" + kLong + "\r\n" +
                            records::Record("03", records::Item(1, QByteArray("\x00\xff\r\n\x02", 5))) +
                            "\r\ncut off\r\n" + kShort + "\r\n";

// Import only reads: the file keeps its bytes and time, and the link, the log file in use and
// the record count stay as they were.
TEST_F(FileCommandsTest, ImportReadsTheChosenLogFileAndTouchesNothing) {
  LoadAndConnect();
  const qint32 countBefore = m_form.RecordCount();
  const QString path = m_dir.filePath("12071200.log");
  Write(path, kLogFile);
  const QDateTime modified = QFileInfo(path).lastModified();
  std::vector<std::shared_ptr<ImportedRecords>> tables;
  QObject::connect(&m_form, &FormMain::RecordsImported,
                   [&](const std::shared_ptr<ImportedRecords>& table) { tables.push_back(table); });
  m_form.TxtMaxTime.SetText("100");
  m_dialogs.nextFiles = {path};
  RunFileCommand([&] { m_form.mnuImport_Click(); });

  ASSERT_EQ(m_dialogs.fileRequests.size(), 1u);
  const Dialogs::OpenFileRequest& r = m_dialogs.fileRequests[0];
  EXPECT_EQ(r.flags, 4100);
  EXPECT_EQ(r.filter, "All Files (*.*)|*.*|Text Files (*.txt)|*.txt");
  EXPECT_EQ(r.filterIndex, 2);
  EXPECT_EQ(r.title, "Import File");
  EXPECT_EQ(r.defaultExtension, "txt");
  ASSERT_EQ(tables.size(), 1u);
  EXPECT_TRUE(m_dialogs.boxes.empty());
  const ImportedRecords& table = *tables[0];
  EXPECT_EQ(table.Summary(),
            "3 records: 1 over the maximum now, 1 marked <BAD>:. 1 line is not a record.");
  EXPECT_EQ(table.CsvRecordAt(1).record.toByteArray().toHex(),
            records::Record("03", records::Item(1, QByteArray("\x00\xff\r\n\x02", 5))).toHex());
  // The over-max column follows the box.
  m_form.TxtMaxTime.SetText("5");
  EXPECT_EQ(table.Summary(),
            "3 records: 2 over the maximum now, 1 marked <BAD>:. 1 line is not a record.");

  EXPECT_EQ(Read(path), kLogFile);
  EXPECT_EQ(QFileInfo(path).lastModified(), modified);
  EXPECT_EQ(m_form.RecordCount(), countBefore);
  EXPECT_EQ(m_form.StatusBar.Panel(1), "  Connected to PBX...  ");
  EXPECT_TRUE(m_form.CurrentLogFile().IsOpen());
  EXPECT_EQ(Read(m_form.CurrentLogFile().Path()), "");
  EXPECT_TRUE(Peer().TakeSent().isEmpty()) << "nothing went to the exchange";

  // Cancelling the dialog imports nothing and says nothing.
  m_dialogs.nextFiles.clear();
  RunFileCommand([&] { m_form.mnuImport_Click(); });
  EXPECT_EQ(tables.size(), 1u);
  EXPECT_TRUE(m_dialogs.boxes.empty());
}

// Several files make one table, in the order of their names, then of their lines; the files
// that are not log files are named in one message, and the others still open.
TEST_F(FileCommandsTest, ImportOpensSeveralFilesAsOneTableAndNamesTheRestInOneMessage) {
  m_form.Form_Load();
  const QString first = m_dir.filePath("12071200.log");
  const QString second = m_dir.filePath("12071300.log");
  Write(first, kLogFile);
  Write(second, kShort + "\r\n" + kLong + "\r\n");
  Write(m_dir.filePath("notes.txt"), "Dear operator,\r\nno records here.\r\n");
  std::shared_ptr<ImportedRecords> table;
  QObject::connect(&m_form, &FormMain::RecordsImported,
                   [&](const std::shared_ptr<ImportedRecords>& t) { table = t; });
  m_form.TxtMaxTime.SetText("100");
  m_dialogs.nextFiles = {m_dir.filePath("notes.txt"), second, m_dir.filePath("gone.log"), first};
  RunFileCommand([&] { m_form.mnuImport_Click(); });

  ASSERT_NE(table, nullptr);
  EXPECT_EQ(table->FileNames(), (QStringList{first, second}));
  std::vector<std::pair<QString, qint64>> rows;
  for (int row = 0; row < table->rowCount(); ++row) {
    rows.emplace_back(table->data(table->index(row, ImportedRecords::File)).toString(),
                      table->CsvRecordAt(row).line);
  }
  EXPECT_EQ(rows, (std::vector<std::pair<QString, qint64>>{
                      {"12071200.log", 1}, {"12071200.log", 2}, {"12071200.log", 5},
                      {"12071300.log", 1}, {"12071300.log", 2}}));
  EXPECT_EQ(table->CsvRecordAt(4).file, second);
  EXPECT_EQ(table->Summary(),
            "5 records: 2 over the maximum now, 1 marked <BAD>:. 1 line is not a record.");
  ASSERT_EQ(m_dialogs.boxes.size(), 1u);
  const QString text = m_dialogs.boxes[0].text;
  EXPECT_TRUE(text.startsWith("2 of the 4 files were not imported:")) << text.toStdString();
  EXPECT_TRUE(text.contains("gone.log cannot be read")) << text.toStdString();
  EXPECT_TRUE(text.contains("notes.txt is not a log file of this program.\r\n2 of its 2 lines"))
      << text.toStdString();
  EXPECT_FALSE(text.contains("12071")) << text.toStdString();

  // The file column sorts by file, the line column by file and line.
  table->sort(ImportedRecords::Line, Qt::DescendingOrder);
  EXPECT_EQ(table->CsvRecordAt(0).file, second);
  EXPECT_EQ(table->CsvRecordAt(0).line, 2);
}

struct NotALog {
  const char* name;
  QByteArray bytes;  // null: no such file
  const char* reason;
};

TEST_F(FileCommandsTest, ImportTellsWhyAFileIsNotALogFile) {
  QByteArray junk(4096, '\0');
  for (int i = 0; i < junk.size(); ++i) junk[i] = char((i * 7919 + 13) % 251);
  junk += "\n" + kShort + "\r\n";  // a record met by chance among 18 lines of junk
  const NotALog cases[] = {
      {"empty", "", "The file is empty."},
      {"text", "Dear operator,\r\nno records here.\r\n",
       "2 of its 2 lines are not call records (STX ... ETX)."},
      {"junk", junk, "of its"},
      {"missing", QByteArray(), "cannot be read"},
  };
  int imported = 0;
  QObject::connect(&m_form, &FormMain::RecordsImported, [&] { ++imported; });
  m_form.Form_Load();
  for (const NotALog& c : cases) {
    SCOPED_TRACE(c.name);
    const QString path = m_dir.filePath(c.name);
    if (!c.bytes.isNull()) Write(path, c.bytes);
    m_dialogs.boxes.clear();
    RunFileCommand([&] { m_form.ImportFile(path); });
    ASSERT_EQ(m_dialogs.boxes.size(), 1u);
    EXPECT_EQ(m_dialogs.boxes[0].title, "Import File");
    EXPECT_EQ(m_dialogs.boxes[0].icon, Dialogs::Icon::Warning);
    EXPECT_TRUE(m_dialogs.boxes[0].text.startsWith(path)) << m_dialogs.boxes[0].text.toStdString();
    EXPECT_TRUE(m_dialogs.boxes[0].text.contains(c.reason)) << m_dialogs.boxes[0].text.toStdString();
    if (!c.bytes.isNull()) {
      EXPECT_EQ(Read(path), c.bytes);
    }
  }
  EXPECT_EQ(imported, 0);
}

// Every read of the clock finds 100 ms gone, as on a machine that takes long over the work.
class CreepingClock : public VirtualPlatform {
 public:
  QDateTime Now() const override { return VirtualPlatform::Now().addMSecs(100 * ++m_reads); }

 private:
  mutable qint64 m_reads = 0;
};

// Past half a second a progress box shows how far the work is; between its steps other events
// run. Cancel ends it before the next step and leaves nothing: no table, and a CSV chosen to be
// replaced as it was.
TEST(FileCommandsProgress, ShowsAfterHalfASecondServesEventsAndCancelLeavesNothing) {
  QTemporaryDir dir;
  CreepingClock platform;
  SettingsStore settings(dir.filePath("VORLAN.ini"));
  RecordingDialogs dialogs;
  FormMain form({platform, settings, dialogs, dir.path()});
  Write(dir.filePath("big.log"), (kShort + "\r\n").repeated(200000));
  dialogs.nextSave = dir.filePath("calls.csv");
  int imported = 0;
  QObject::connect(&form, &FormMain::RecordsImported, [&] { ++imported; });
  const auto run = [&](const std::function<void()>& command) {
    platform.Post(&form, command);
    ASSERT_TRUE(platform.WaitUntil([&] { return !form.FileWorkRunning(); }));
  };
  for (const bool exporting : {false, true}) {
    SCOPED_TRACE(exporting ? "export" : "import");
    dialogs.progress.clear();
    dialogs.cancelAt = 0;
    bool served = false;
    platform.At(std::chrono::milliseconds(2), [&] { served = form.FileWorkRunning(); });
    const auto command = [&] {
      if (exporting) {
        form.ExportFiles({dir.filePath("big.log")});
      } else {
        form.ImportFile(dir.filePath("big.log"));
      }
    };
    run(command);
    EXPECT_EQ(imported, 1);
    ASSERT_GE(dialogs.progress.size(), 3u);
    EXPECT_TRUE(std::is_sorted(dialogs.progress.begin(), dialogs.progress.end()));
    EXPECT_LT(dialogs.progress.front().first, dialogs.progress.back().first);
    EXPECT_TRUE(served) << "events are served between the steps";

    dialogs.progress.clear();
    dialogs.boxes.clear();
    dialogs.cancelAt = 2;
    const QByteArray csvBefore = Read(dir.filePath("calls.csv"));
    run(command);
    EXPECT_EQ(imported, 1) << "cancelled: no table";
    EXPECT_EQ(dialogs.progress.size(), 2u);
    EXPECT_TRUE(dialogs.boxes.empty());
    EXPECT_EQ(Read(dir.filePath("calls.csv")), csvBefore);
    EXPECT_EQ(QDir(dir.path()).entryList({"calls.csv?*"}, QDir::Files), QStringList());
  }
  EXPECT_EQ(dialogs.progressTitles, (QStringList{"Import File", "Import File", "Export", "Export"}));
}

// Export... writes the chosen log files as CSV: the records of each log file, judged by the
// maximum in the box now; a file that is not a log is left out and named.
TEST_F(FileCommandsTest, ExportWritesChosenLogFilesAsCsv) {
  LoadAndConnect();
  m_form.TxtMaxTime.SetText("100");
  Write(LogsPath() + "/12071200.log", kLogFile);
  Write(LogsPath() + "/12071300.log", kShort + "\r\n");
  // A record among more lines that are not: its row, written before that is known, goes again.
  Write(m_dir.filePath("notes.txt"), "no records\r\n" + kLong + "\r\nbut one\r\n");
  m_dialogs.nextFiles = {LogsPath() + "/12071200.log", m_dir.filePath("notes.txt"),
                         LogsPath() + "/12071300.log"};
  m_dialogs.nextSave = m_dir.filePath("calls.csv");
  RunFileCommand([&] { m_form.mnuExport_Click(); });

  ASSERT_EQ(m_dialogs.fileRequests.size(), 1u);
  EXPECT_EQ(m_dialogs.fileRequests[0].folder, LogsPath());
  ASSERT_EQ(m_dialogs.saveRequests.size(), 1u);
  EXPECT_EQ(m_dialogs.saveRequests[0].defaultExtension, "csv");
  const QByteArray third = records::Record("03", records::Item(1, QByteArray("\x00\xff\r\n\x02", 5)));
  const QString a = m_dialogs.nextFiles[0];
  const QString b = m_dialogs.nextFiles[2];
  EXPECT_EQ(Read(m_dir.filePath("calls.csv")),
            format::CsvHeader() + format::CsvRow({a, 1, true, true, kLong}) +
                format::CsvRow({a, 2, false, false, third}) +
                format::CsvRow({a, 5, false, false, kShort}) +
                format::CsvRow({b, 1, false, false, kShort}));
  ASSERT_EQ(m_dialogs.boxes.size(), 1u);
  EXPECT_EQ(m_dialogs.boxes[0].icon, Dialogs::Icon::Information);
  EXPECT_TRUE(m_dialogs.boxes[0].text.startsWith("4 records written to "));
  EXPECT_TRUE(m_dialogs.boxes[0].text.contains("1 line that is not a record was left out."));
  EXPECT_TRUE(m_dialogs.boxes[0].text.contains("notes.txt (not a log file)"));

  // Never onto a source or the log file in use: its replacement would leave the log writing
  // to a file that is gone.
  for (const QString& target : {a, m_form.CurrentLogFile().Path()}) {
    m_dialogs.boxes.clear();
    m_dialogs.nextSave = target;
    RunFileCommand([&] { m_form.mnuExport_Click(); });
    ASSERT_EQ(m_dialogs.boxes.size(), 1u);
    EXPECT_EQ(m_dialogs.boxes[0].icon, Dialogs::Icon::Warning);
  }
  EXPECT_EQ(Read(a), kLogFile);
  EXPECT_EQ(Read(m_form.CurrentLogFile().Path()), "");
}

// The table's export writes the rows as shown: filtered and sorted.
TEST_F(FileCommandsTest, ExportOfATableWritesItsShownRows) {
  m_form.Form_Load();
  m_form.TxtMaxTime.SetText("100");
  const QString path = m_dir.filePath("12071200.log");
  Write(path, kLogFile);
  std::shared_ptr<ImportedRecords> table;
  QObject::connect(&m_form, &FormMain::RecordsImported,
                   [&](const std::shared_ptr<ImportedRecords>& t) { table = t; });
  RunFileCommand([&] { m_form.ImportFile(path); });
  ASSERT_TRUE(table);
  table->SetFlaggedOnly(true);
  m_form.TxtMaxTime.SetText("5");
  table->sort(ImportedRecords::TalkTime, Qt::AscendingOrder);
  m_dialogs.nextSave = m_dir.filePath("flagged.csv");
  RunFileCommand([&] { m_form.ExportImported(table); });
  EXPECT_EQ(Read(m_dir.filePath("flagged.csv")),
            format::CsvHeader() + format::CsvRow({path, 5, true, false, kShort}) +
                format::CsvRow({path, 1, true, true, kLong}));
}

#if defined(Q_OS_UNIX)
// Each makes a.log in the folder or names a device; `reason` is what the refusal says. Links go
// to an empty file and to none: followed, an open would succeed or make "none".
struct Hostile { const char* name; const char* reason; std::function<QString(const QString&)> make; };
const Hostile kHostile[] = {
    {"LinkToAFile", "symbolic link", [](const QString& f) { QFile(f + "/real").open(QIODevice::WriteOnly); QFile::link(f + "/real", f + "/a.log"); return f + "/a.log"; }},
    {"LinkToNothing", "symbolic link", [](const QString& f) { QFile::link(f + "/none", f + "/a.log"); return f + "/a.log"; }},
    {"Fifo", "named pipe", [](const QString& f) { ::mkfifo(qPrintable(f + "/a.log"), 0600); return f + "/a.log"; }},
    {"Folder", "folder", [](const QString& f) { QDir(f).mkdir("a.log"); return f + "/a.log"; }},
    {"EndlessDevice", "device", [](const QString&) { return QStringLiteral("/dev/zero"); }},
};

class HostileFiles : public FormTest, public ::testing::WithParamInterface<Hostile> {};

// Refused before anything reads, writes or waits on it: as the log, by Import, Export, vorlan-export.
TEST_P(HostileFiles, AreRefusedBeforeAnythingReadsOrWritesThem) {
  const QString path = GetParam().make(m_dir.path());
  logging::RecordLog log;
  QString failure;
  EXPECT_FALSE(log.Open(path, &failure) || log.IsOpen() || !failure.contains(GetParam().reason)) << failure.toStdString();
  EXPECT_FALSE(QFile::exists(m_dir.filePath("none"))) << "a link is never followed";
  m_form.Form_Load();
  m_dialogs.nextSave = m_dir.filePath("calls.csv");
  RunFileCommand([&] { m_form.ImportFile(path); });
  RunFileCommand([&] { m_form.ExportFiles({path}); });
  ASSERT_TRUE(m_dialogs.boxes.size() == 2u && m_dialogs.boxes[0].text.contains("cannot be read:\r\nit is a " + QString(GetParam().reason)));
  EXPECT_TRUE(m_dialogs.boxes[1].text.startsWith("Nothing was exported") && m_dialogs.boxes[1].text.contains(GetParam().reason));
  QProcess exporter;
  exporter.start(VORLAN_EXPORT_PATH, {path});
  ASSERT_TRUE(exporter.waitForFinished(20000));
  EXPECT_TRUE(exporter.exitCode() == 1 && exporter.readAllStandardError().contains(GetParam().reason));
}

INSTANTIATE_TEST_SUITE_P(Files, HostileFiles, ::testing::ValuesIn(kHostile),
                         [](const auto& info) { return std::string(info.param.name); });
#endif

// Of millions of lines that are not records only the first are kept to show; all are counted.
TEST_F(FileCommandsTest, LinesThatAreNotRecordsAreCountedNotAllKept) {
  ImportedRecords table("mixed.log", (kShort + "\r\n" + QByteArray(2000, 'x') + "\r\n").repeated(3000), "");
  ASSERT_EQ(table.OtherLines().size(), ImportedRecords::kOtherLinesKept);
  EXPECT_EQ(table.OtherLines().back().text.size(), ImportedRecords::kOtherLineBytesKept);
  EXPECT_TRUE(table.IsLogFile() && table.Summary().endsWith("3,000 lines are not records."));
}

// A CSV cut short by a full disk must not pass for a whole one: vorlan-export ends with 1, the
// window reports it and leaves nothing behind.
TEST_F(FileCommandsTest, ExportThatCannotBeWrittenWholeFailsLoudly) {
  m_form.Form_Load();
  Write(m_dir.filePath("big.log"), (kShort + "\r\n").repeated(2000));
  QProcess exporter;
  exporter.setStandardOutputFile("/dev/full");
  exporter.start(VORLAN_EXPORT_PATH, {m_dir.filePath("big.log")});
  ASSERT_TRUE(exporter.waitForFinished(20000));
  EXPECT_EQ(exporter.exitCode(), 1) << exporter.readAllStandardError().toStdString();
  m_dialogs.nextSave = m_dir.filePath("calls.csv");
  const FileSizeLimit full(64 * 1024);  // the log is read; the CSV is larger
  if (!full.Active()) GTEST_SKIP() << "no file size limit here";
  RunFileCommand([&] { m_form.ExportFiles({m_dir.filePath("big.log")}); });
  ASSERT_TRUE(m_dialogs.boxes.size() == 1u && m_dialogs.boxes[0].icon == Dialogs::Icon::Critical);
  EXPECT_TRUE(m_dialogs.boxes[0].text.contains("cannot be written"));
  EXPECT_EQ(QDir(m_dir.path()).entryList({"calls*"}, QDir::Files), QStringList());
}

}  // namespace
}  // namespace vorlan
