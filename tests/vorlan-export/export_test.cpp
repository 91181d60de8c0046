#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <functional>

#if defined(Q_OS_UNIX)
#include <sys/stat.h>
#endif

namespace {

const QByteArray kHeader =
    "file,line,flagged_now,marked_bad,call_type,start,end,talk_seconds,items,record_hex\r\n";

struct Outcome {
  int exitCode = -1;
  QByteArray out;
  QByteArray err;
};

Outcome Export(const QStringList& arguments, const QString& outputFile = {}) {
  QProcess process;
  if (!outputFile.isEmpty()) process.setStandardOutputFile(outputFile);
  process.start(QStringLiteral(VORLAN_EXPORT_PATH), arguments);
  // A FIFO or an endless device must not hold it: it answers at once or not at all.
  if (!process.waitForFinished(20000)) {
    process.kill();
    process.waitForFinished();
    return {};
  }
  return {process.exitCode(), process.readAllStandardOutput(), process.readAllStandardError()};
}

void Write(const QString& path, const QByteArray& bytes) {
  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write(bytes);
}

#if defined(Q_OS_UNIX)
struct Hostile {
  const char* name;
  std::function<QString(const QString& folder)> make;  // makes it, gives its path
  const char* reason;
};

const Hostile kHostile[] = {
    {"Fifo",
     [](const QString& f) {
       ::mkfifo(qPrintable(f + "/a.log"), 0600);
       return f + "/a.log";
     },
     "named pipe"},
    {"EndlessDevice", [](const QString&) { return QStringLiteral("/dev/zero"); }, "device"},
    {"Folder",
     [](const QString& f) {
       QDir(f).mkdir("a.log");
       return f + "/a.log";
     },
     "folder"},
    {"Link",
     [](const QString& f) {
       Write(f + "/real.log", "\x02" "A\x03\r\n");
       QFile::link(f + "/real.log", f + "/a.log");
       return f + "/a.log";
     },
     "symbolic link"},
};

class HostileFiles : public ::testing::TestWithParam<Hostile> {};

TEST_P(HostileFiles, AreRefusedBeforeAnythingIsRead) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  Write(dir.filePath("good.log"), "\x02" "A\x03\r\n");
  const Outcome run = Export({GetParam().make(dir.path()), dir.filePath("good.log")});
  EXPECT_EQ(run.exitCode, 1) << run.err.toStdString();
  EXPECT_TRUE(run.err.contains(GetParam().reason)) << run.err.toStdString();
  EXPECT_EQ(run.out.count('\n'), 2) << "the header and the good file's record";
}

INSTANTIATE_TEST_SUITE_P(Export, HostileFiles, ::testing::ValuesIn(kHostile),
                         [](const auto& info) { return std::string(info.param.name); });
#endif

// A CSV cut short by a full disk must not end with 0, as if it were whole.
TEST(ExportOutput, ThatCannotBeWrittenEndsWithOne) {
  if (!QFile::exists("/dev/full")) GTEST_SKIP() << "no /dev/full here";
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  QByteArray log;
  for (int i = 0; i < 5000; ++i) log += "\x02" "05 01 15 CALL\x03\r\n";
  Write(dir.filePath("a.log"), log);
  for (const QStringList& arguments : {QStringList{dir.filePath("a.log")}, QStringList{"--help"}}) {
    const Outcome run = Export(arguments, "/dev/full");
    EXPECT_EQ(run.exitCode, 1) << arguments.join(' ').toStdString();
    EXPECT_TRUE(run.err.contains("cannot write")) << run.err.toStdString();
  }
  const Outcome whole = Export({dir.filePath("a.log")});
  EXPECT_EQ(whole.exitCode, 0);
  EXPECT_TRUE(whole.out.startsWith(kHeader));
}

}  // namespace
