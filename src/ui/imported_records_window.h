#pragma once

#include <QWidget>

#include <functional>
#include <memory>

class QCheckBox;
class QLabel;
class QPlainTextEdit;
class QPushButton;
class QTabWidget;
class QTableView;

namespace vorlan {

class Dialogs;
class ImportedRecords;
class SummaryPane;

// "Imported records": the table of one or more imported log files, sortable by every column,
// with a flagged-only filter, the selected record as the Formatted Output window shows it, and
// the lines of the files that are not records; and a Summary tab of the rows shown.
class ImportedRecordsWindow : public QWidget {
 public:
  // onExport writes the shown rows to CSV.
  ImportedRecordsWindow(std::shared_ptr<ImportedRecords> table,
                        std::function<void(const std::shared_ptr<const ImportedRecords>&)> onExport,
                        Dialogs& dialogs, QWidget* parent = nullptr);

  QTableView* table() const { return m_view; }
  QCheckBox* flaggedOnly() const { return m_flaggedOnly; }
  QPlainTextEdit* formatted() const { return m_formatted; }
  QPlainTextEdit* otherLines() const { return m_others; }
  QLabel* summary() const { return m_summary; }
  QPushButton* exportButton() const { return m_export; }
  QTabWidget* pages() const { return m_pages; }
  SummaryPane* summaryPane() const { return m_summaryPane; }

 private:
  void ShowSelected();

  std::shared_ptr<ImportedRecords> m_table;
  QLabel* m_summary;
  QCheckBox* m_flaggedOnly;
  QPushButton* m_export;
  QTableView* m_view;
  QTabWidget* m_pages;
  SummaryPane* m_summaryPane;
  QTabWidget* m_tabs;
  QPlainTextEdit* m_formatted;
  QPlainTextEdit* m_others = nullptr;
};

}  // namespace vorlan
