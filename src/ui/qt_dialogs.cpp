#include "ui/qt_dialogs.h"

#include <QFileDialog>
#include <QMessageBox>

namespace vorlan {

void QtDialogs::MessageBox(const QString& text, Icon icon, const QString& title) {
  QMessageBox::Icon qtIcon = QMessageBox::NoIcon;
  switch (icon) {
    case Icon::Critical: qtIcon = QMessageBox::Critical; break;
    case Icon::Warning: qtIcon = QMessageBox::Warning; break;
    case Icon::Information: qtIcon = QMessageBox::Information; break;
    case Icon::None: break;
  }
  QMessageBox box(qtIcon, title, text, QMessageBox::Ok, m_parent);
  box.exec();
}

QStringList QtNameFilters(const QString& filter) {
  const QStringList parts = filter.split('|');
  QStringList filters;
  for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
    QStringList patterns = parts[i + 1].split(';', Qt::SkipEmptyParts);
    for (QString& pattern : patterns) {
      pattern = pattern.trimmed();
      // "*.*" is every file, a name without a dot too; Qt would read it literally.
      if (pattern == QLatin1String("*.*")) pattern = QStringLiteral("*");
    }
    // The dialog applies the last parenthesised list and, with the details hidden, shows what
    // stands before it: the description as given.
    filters << parts[i] + " (" + patterns.join(' ') + ")";
  }
  return filters;
}

QString QtDialogs::OpenFile(const OpenFileRequest& request) {
  const QStringList filters = QtNameFilters(request.filter);
  QFileDialog dialog(m_parent, request.title);
  dialog.setOption(QFileDialog::HideNameFilterDetails);
  dialog.setNameFilters(filters);
  if (request.filterIndex >= 1 && request.filterIndex <= filters.size()) {
    dialog.selectNameFilter(filters[request.filterIndex - 1]);
  }
  dialog.setDefaultSuffix(request.defaultExtension);
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  dialog.setFileMode((request.flags & 4096) ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
  // Flag 4 hides the read-only check box. Qt's open-file dialog has no such box, so there is
  // nothing to hide.
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
  return dialog.selectedFiles().front();
}

}  // namespace vorlan
