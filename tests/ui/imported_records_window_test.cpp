// The window an imported log file opens, and the file dialog's filters, through the real widgets.
#include "ui/form_main_window.h"

#include <gtest/gtest.h>

#include <QAccessible>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QHeaderView>
#include <QPlainTextEdit>
#include <QTableView>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>
#include <QWindow>

#include "about/frm_about.h"
#include "app/imported_records.h"
#include "call_records.h"
#include "format/call_csv.h"
#include "format/record_formatter.h"
#include "support/form_fixture.h"
#include "window_fixture.h"
#include "ui/qt_dialogs.h"
#include "ui/terminal_view.h"
#include "ui/view_window_widget.h"

namespace vorlan {
namespace {

using ImportedRecordsWindowTest = WindowTest;

// The table of an imported log file: a click on a header sorts, the check box filters, the
// selected row shows as the Formatted Output window shows it, and the file's other lines are
// listed.
TEST_F(ImportedRecordsWindowTest, ImportedRecordsWindowSortsFiltersAndShowsTheSelectedRecord) {
  const QByteArray slow = records::Record("01", records::Times("20261207120000", "20261207120512"));
  const QByteArray quick = records::Record("02", records::Times("20261207130000", "20261207130010"));
  const QString path = m_dir.filePath("12071200.log");
  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write(slow + "\r\nhalf a line\x01\r\n" + quick + "\r\n");
  file.close();
  m_form.TxtMaxTime.SetText("100");
  RunFileCommand([&] { m_form.ImportFile(path); });
  QPointer<ImportedRecordsWindow> window = m_window->importedWindow();
  ASSERT_NE(window, nullptr);
  EXPECT_TRUE(window->isVisible());
  EXPECT_EQ(window->windowTitle(), "Imported records: 12071200.log");
  EXPECT_EQ(window->summary()->text(),
            "2 records: 1 over the maximum now, 0 marked <BAD>:. 1 line is not a record.");
  ASSERT_NE(window->otherLines(), nullptr);
  EXPECT_EQ(window->otherLines()->toPlainText(), "line 2: half a line<01>\n");

  QTableView* table = window->table();
  const auto lineAt = [table](int row) { return table->model()->index(row, 0).data().toString(); };
  const QHeaderView* header = table->horizontalHeader();
  QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                    QPoint(header->sectionViewportPosition(ImportedRecords::TalkTime) + 5, 5));
  EXPECT_EQ(lineAt(0), "3") << "the 10 s call first";
  table->selectRow(1);
  QString expected = format::FormatData(slow, "100");
  expected.replace("\r\n", "\n");
  EXPECT_EQ(window->formatted()->toPlainText(), expected);

  window->flaggedOnly()->click();
  ASSERT_EQ(table->model()->rowCount(), 1);
  EXPECT_EQ(lineAt(0), "1");
  m_dialogs.nextSave = m_dir.filePath("flagged.csv");
  RunFileCommand([&] { window->exportButton()->click(); });
  QFile csv(m_dir.filePath("flagged.csv"));
  ASSERT_TRUE(csv.open(QIODevice::ReadOnly));
  EXPECT_EQ(csv.readAll(), format::CsvHeader() + format::CsvRow({path, 1, true, false, slow}));
  m_form.Form_Unload();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_TRUE(window.isNull()) << "closed with the program";
}

TEST(QtNameFilters, ShowEachDescriptionAsGivenAndApplyItsPattern) {
  const QStringList filters =
      QtNameFilters("All Files (*.*)|*.*|Text Files (*.txt)|*.txt|Logs|*.log; *.txt");
  EXPECT_EQ(filters, (QStringList{"All Files (*.*) (*)", "Text Files (*.txt) (*.txt)",
                                  "Logs (*.log *.txt)"}));
  // The dialog applies the last parenthesised list: "All Files" must show names without a dot.
  QTemporaryDir dir;
  for (const char* name : {"calls", "0305.log", "notes.txt"}) {
    QFile file(dir.filePath(name));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  }
  const auto shown = [&](const QString& filter) {
    const QString patterns = QRegularExpression(R"(\(([^()]*)\)$)").match(filter).captured(1);
    return QDir(dir.path()).entryList(patterns.split(' '), QDir::Files, QDir::Name);
  };
  EXPECT_EQ(shown(filters[0]), (QStringList{"0305.log", "calls", "notes.txt"}));
  EXPECT_EQ(shown(filters[1]), (QStringList{"notes.txt"}));
}

}  // namespace
}  // namespace vorlan
