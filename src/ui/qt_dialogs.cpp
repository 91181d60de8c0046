#include "ui/qt_dialogs.h"

#include <QFileDialog>
#include <QMessageBox>
#include <QProgressBar>
#include <QProgressDialog>

#include <algorithm>

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

// mode is a QFileDialog::FileMode.
QStringList QtDialogs::ChooseFiles(const OpenFileRequest& request, int mode, bool save) {
  const QStringList filters = QtNameFilters(request.filter);
  QFileDialog dialog(m_parent, request.title, request.folder);
  dialog.setOption(QFileDialog::HideNameFilterDetails);
  dialog.setNameFilters(filters);
  if (request.filterIndex >= 1 && request.filterIndex <= filters.size()) {
    dialog.selectNameFilter(filters[request.filterIndex - 1]);
  }
  dialog.setDefaultSuffix(request.defaultExtension);
  dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
  dialog.setFileMode(static_cast<QFileDialog::FileMode>(mode));
  if (dialog.exec() != QDialog::Accepted) return {};
  return dialog.selectedFiles();
}

QString QtDialogs::OpenFile(const OpenFileRequest& request) {
  // Flag 4 hides the read-only check box. Qt's open-file dialog has no such box, so there is
  // nothing to hide.
  const QStringList files = ChooseFiles(
      request, (request.flags & 4096) ? QFileDialog::ExistingFile : QFileDialog::AnyFile, false);
  return files.isEmpty() ? QString() : files.front();
}

QStringList QtDialogs::OpenFiles(const OpenFileRequest& request) {
  return ChooseFiles(request, QFileDialog::ExistingFiles, false);
}

QString QtDialogs::SaveFile(const OpenFileRequest& request) {
  // The save dialog asks before it lets an existing file be replaced.
  const QStringList files = ChooseFiles(request, QFileDialog::AnyFile, true);
  return files.isEmpty() ? QString() : files.front();
}

namespace {

// Modal for input, but it never runs an event loop of its own: the dialog's setValue would
// serve events from inside the step that reports, so the bar is set directly, and the events
// (Cancel among them) are served by the main loop between steps.
class ProgressBox : public Dialogs::Progress {
 public:
  ProgressBox(QWidget* parent, const QString& title, const QString& label)
      : m_dialog(label, QStringLiteral("Cancel"), 0, kSteps, parent), m_bar(new QProgressBar) {
    m_bar->setRange(0, kSteps);
    m_bar->setValue(0);
    m_dialog.setBar(m_bar);  // the dialog owns it
    m_dialog.setWindowTitle(title);
    m_dialog.setWindowModality(Qt::ApplicationModal);
    m_dialog.setAutoClose(false);
    m_dialog.setAutoReset(false);
    m_dialog.show();
  }
  bool Update(qint64 done, qint64 total) override {
    const auto value = total > 0 ? int(std::clamp<qint64>(done * kSteps / total, 0, kSteps)) : 0;
    if (value != m_bar->value()) m_bar->setValue(value);
    return !m_dialog.wasCanceled();
  }

 private:
  static constexpr int kSteps = 1000;
  QProgressDialog m_dialog;
  QProgressBar* m_bar;
};

}  // namespace

std::unique_ptr<Dialogs::Progress> QtDialogs::ShowProgress(const QString& title,
                                                           const QString& label) {
  return std::make_unique<ProgressBox>(m_parent, title, label);
}

}  // namespace vorlan
