#include <gtest/gtest.h>

#include <QFile>

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
  m_form.Command1_Click();
  EXPECT_FALSE(QFile::exists(LogsPath() + "/01010000.log"));
  EXPECT_TRUE(QFile::exists(LogsPath() + "/01010100.log"));
  ASSERT_TRUE(QFile::exists(LogsPath() + "/03051437.log"));
  EXPECT_EQ(m_form.CurrentLogFile().WriteRecord("\x02" "X\x03", false),
            logging::RecordLog::WriteResult::Written);
  EXPECT_TRUE(m_dialogs.boxes.empty()) << "the command shows nothing";
}

TEST_F(FileCommandsTest, ImportAsksForATextFileAndReadsNothing) {
  m_form.Form_Load();
  Write(m_dir.filePath("chosen.txt"), "untouched");
  m_dialogs.nextFile = m_dir.filePath("chosen.txt");
  m_form.mnuImport_Click();
  ASSERT_EQ(m_dialogs.fileRequests.size(), 1u);
  const Dialogs::OpenFileRequest& r = m_dialogs.fileRequests[0];
  EXPECT_EQ(r.flags, 4100);
  EXPECT_EQ(r.filter, "All Files (*.*)|*.*|Text Files (*.txt)|*.txt");
  EXPECT_EQ(r.filterIndex, 2);
  EXPECT_EQ(r.title, "Import File");
  EXPECT_EQ(r.defaultExtension, "txt");
  QFile file(m_dir.filePath("chosen.txt"));
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  EXPECT_EQ(file.readAll(), "untouched");
  // Cancelling changes nothing either.
  m_dialogs.nextFile.clear();
  m_form.mnuImport_Click();
  EXPECT_TRUE(m_dialogs.boxes.empty());
}

}  // namespace
}  // namespace vorlan
