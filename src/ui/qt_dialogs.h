#pragma once

#include <QStringList>

#include "platform/dialogs.h"

class QWidget;

namespace vorlan {

// The real modal dialogs: QMessageBox, QFileDialog and QProgressDialog.
class QtDialogs : public Dialogs {
 public:
  explicit QtDialogs(QWidget* parent = nullptr) : m_parent(parent) {}
  void SetParent(QWidget* parent) { m_parent = parent; }

  void MessageBox(const QString& text, Icon icon, const QString& title) override;
  QString OpenFile(const OpenFileRequest& request) override;
  QStringList OpenFiles(const OpenFileRequest& request) override;
  QString SaveFile(const OpenFileRequest& request) override;
  std::unique_ptr<Progress> ShowProgress(const QString& title, const QString& label) override;

 private:
  QStringList ChooseFiles(const OpenFileRequest& request, int mode, bool save);

  QWidget* m_parent;
};

// A "Description|pattern|Description|pattern" list as name filters of Qt's file dialog. A
// pattern may list several, separated by ";".
QStringList QtNameFilters(const QString& filter);

}  // namespace vorlan
