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

QString QtDialogs::OpenFile(const OpenFileRequest& request) {
  // "Description|pattern|Description|pattern" becomes Qt's "Description;;Description" list;
  // the descriptions already name their patterns.
  const QStringList parts = request.filter.split('|');
  QStringList filters;
  for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
    filters << parts[i].trimmed() +
                   (parts[i].contains('(') ? QString() : " (" + parts[i + 1] + ")");
  }
  QFileDialog dialog(m_parent, request.title);
  dialog.setNameFilters(filters);
  if (request.filterIndex >= 1 && request.filterIndex <= filters.size()) {
    dialog.selectNameFilter(filters[request.filterIndex - 1]);
  }
  dialog.setDefaultSuffix(request.defaultExtension);
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  dialog.setFileMode((request.flags & 4096) ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
  if ((request.flags & 4) != 0) dialog.setOption(QFileDialog::ReadOnly, false);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
  return dialog.selectedFiles().front();
}

}  // namespace vorlan
