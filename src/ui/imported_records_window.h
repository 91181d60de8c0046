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

class ImportedRecords;

// "Imported records": the table of one imported log file, sortable by every column, with a
// flagged-only filter, the selected record as the Formatted Output window shows it, and the
// lines of the file that are not records.
class ImportedRecordsWindow : public QWidget {
 public:
  // onExport writes the shown rows to CSV.
  ImportedRecordsWindow(std::shared_ptr<ImportedRecords> table,
                        std::function<void(const std::shared_ptr<const ImportedRecords>&)> onExport,
                        QWidget* parent = nullptr);

  QTableView* table() const { return m_view; }
  QCheckBox* flaggedOnly() const { return m_flaggedOnly; }
  QPlainTextEdit* formatted() const { return m_formatted; }
  QPlainTextEdit* otherLines() const { return m_others; }
  QLabel* summary() const { return m_summary; }
  QPushButton* exportButton() const { return m_export; }

 private:
  void ShowSelected();

  std::shared_ptr<ImportedRecords> m_table;
  QLabel* m_summary;
  QCheckBox* m_flaggedOnly;
  QPushButton* m_export;
  QTableView* m_view;
  QTabWidget* m_tabs;
  QPlainTextEdit* m_formatted;
  QPlainTextEdit* m_others = nullptr;
};

}  // namespace vorlan
