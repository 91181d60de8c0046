#include "ui/imported_records_window.h"

#include <QCheckBox>
#include <QDir>
#include <QFileInfo>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSplitter>
#include <QTabWidget>
#include <QTableView>
#include <QVBoxLayout>

#include "app/imported_records.h"
#include "ui/summary_pane.h"

namespace vorlan {
namespace {

QPlainTextEdit* TextPane(const QString& name, QWidget* parent) {
  auto* pane = new QPlainTextEdit(parent);
  pane->setObjectName(name);
  pane->setReadOnly(true);
  pane->setLineWrapMode(QPlainTextEdit::NoWrap);
  pane->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  return pane;
}

// A line that is not a record, readable: control bytes as <hex>, the rest as Latin-1.
QString Readable(const QByteArray& bytes) {
  QString text;
  text.reserve(bytes.size());
  for (const char c : bytes) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7f) {
      text += QStringLiteral("<%1>").arg(byte, 2, 16, QLatin1Char('0')).toUpper();
    } else {
      text += QChar(byte);
    }
  }
  return text;
}

}  // namespace

ImportedRecordsWindow::ImportedRecordsWindow(
    std::shared_ptr<ImportedRecords> table,
    std::function<void(const std::shared_ptr<const ImportedRecords>&)> onExport, Dialogs& dialogs,
    QWidget* parent)
    : QWidget(parent, Qt::Window), m_table(std::move(table)), m_summary(new QLabel(this)) {
  setObjectName("ImportedRecords");
  setAttribute(Qt::WA_DeleteOnClose);
  auto* layout = new QVBoxLayout(this);

  const QStringList names = m_table->FileNames();
  // Named by its files, so that two imports tell apart in the task bar.
  const QString first = names.isEmpty() ? QString() : QFileInfo(names.front()).fileName();
  setWindowTitle(names.size() <= 1 ? QStringLiteral("Imported records: %1").arg(first)
                                   : QStringLiteral("Imported records: %1 to %2 (%3 files)")
                                         .arg(first, QFileInfo(names.back()).fileName())
                                         .arg(names.size()));
  QString files = QDir::toNativeSeparators(names.join(QStringLiteral(", ")));
  if (names.size() > 3) {
    files = QStringLiteral("%1 files in %2: %3 to %4")
                .arg(names.size())
                .arg(QDir::toNativeSeparators(QFileInfo(names.front()).absolutePath()),
                     QFileInfo(names.front()).fileName(), QFileInfo(names.back()).fileName());
  }
  auto* file = new QLabel(files, this);
  file->setObjectName("lblFile");
  file->setTextInteractionFlags(Qt::TextSelectableByMouse);
  layout->addWidget(file);
  m_summary->setObjectName("lblSummary");
  layout->addWidget(m_summary);

  auto* bar = new QHBoxLayout;
  m_flaggedOnly = new QCheckBox(QStringLiteral("Show flagged calls only"), this);
  m_flaggedOnly->setObjectName("chkFlaggedOnly");
  m_flaggedOnly->setToolTip(QStringLiteral("Calls over the maximum call time, or marked <BAD>:"));
  bar->addWidget(m_flaggedOnly);
  bar->addStretch();
  m_export = new QPushButton(QStringLiteral("Export..."), this);
  m_export->setObjectName("cmdExport");
  m_export->setToolTip(QStringLiteral("Write the rows shown to a CSV file"));
  bar->addWidget(m_export);
  layout->addLayout(bar);

  m_pages = new QTabWidget(this);
  m_pages->setObjectName("tabPages");
  auto* split = new QSplitter(Qt::Vertical, m_pages);
  m_view = new QTableView(split);
  m_view->setObjectName("tblRecords");
  m_view->setModel(m_table.get());
  m_view->setSortingEnabled(true);
  m_view->sortByColumn(ImportedRecords::Line, Qt::AscendingOrder);
  m_view->setSelectionBehavior(QAbstractItemView::SelectRows);
  m_view->setSelectionMode(QAbstractItemView::SingleSelection);
  m_view->setAlternatingRowColors(true);
  m_view->verticalHeader()->hide();
  m_view->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  m_view->verticalHeader()->setDefaultSectionSize(m_view->fontMetrics().height() + 6);
  m_view->horizontalHeader()->setStretchLastSection(true);
  // Widths from the header and a typical row, not from every row of a long file.
  const QFontMetrics metrics = m_view->fontMetrics();
  const int widths[] = {8, 10, 20, 20, 11, 11, 8, 14};
  for (int column = 0; column < ImportedRecords::ColumnCount; ++column) {
    m_view->setColumnWidth(column, metrics.horizontalAdvance(QLatin1Char('0')) * widths[column]);
  }

  m_tabs = new QTabWidget(split);
  m_formatted = TextPane(QStringLiteral("txtFormatted"), m_tabs);
  m_tabs->addTab(m_formatted, QStringLiteral("Formatted"));
  if (!m_table->OtherLines().empty()) {
    m_others = TextPane(QStringLiteral("txtOtherLines"), m_tabs);
    QString text;
    for (const auto& other : m_table->OtherLines()) {
      const auto i = size_t(&other - m_table->OtherLines().data());
      if (m_table->FileCount() > 1) {
        text += QFileInfo(m_table->FileName(m_table->OtherLineFile(i))).fileName() + u' ';
      }
      text += QStringLiteral("line %1: %2\n").arg(other.line).arg(Readable(other.text));
    }
    const qsizetype unlisted = m_table->OtherLineTotal() - qsizetype(m_table->OtherLines().size());
    if (unlisted > 0) text += QStringLiteral("... and %1 more\n").arg(unlisted);
    m_others->setPlainText(text);
    m_tabs->addTab(
        m_others, QStringLiteral("Lines that are not records (%1)").arg(m_table->OtherLineTotal()));
  }
  split->setStretchFactor(0, 3);
  split->setStretchFactor(1, 2);
  m_pages->addTab(split, QStringLiteral("Records"));
  m_summaryPane = new SummaryPane(m_table, dialogs, m_pages);
  m_pages->addTab(m_summaryPane, QStringLiteral("Summary"));
  layout->addWidget(m_pages, 1);

  const auto follow = [this] {
    m_summary->setText(m_table->Summary());
    ShowSelected();
  };
  connect(m_table.get(), &QAbstractItemModel::modelReset, this, follow);
  connect(m_table.get(), &QAbstractItemModel::layoutChanged, this, follow);
  connect(m_view->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
          [this] { ShowSelected(); });
  connect(m_flaggedOnly, &QCheckBox::toggled, this,
          [this](bool on) { m_table->SetFlaggedOnly(on); });
  connect(m_export, &QPushButton::clicked, this,
          [this, onExport = std::move(onExport)] { onExport(m_table); });
  follow();
  resize(1000, 700);
}

void ImportedRecordsWindow::ShowSelected() {
  const QModelIndex current = m_view->selectionModel()->currentIndex();
  QString text = current.isValid() ? m_table->FormattedText(current.row()) : QString();
  text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  if (m_formatted->toPlainText() != text) m_formatted->setPlainText(text);
}

}  // namespace vorlan
