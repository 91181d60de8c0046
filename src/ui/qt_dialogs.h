#pragma once

#include <QStringList>

#include "platform/dialogs.h"

class QWidget;

namespace vorlan {

// The real modal dialogs: QMessageBox and QFileDialog.
class QtDialogs : public Dialogs {
 public:
  explicit QtDialogs(QWidget* parent = nullptr) : m_parent(parent) {}
  void SetParent(QWidget* parent) { m_parent = parent; }

  void MessageBox(const QString& text, Icon icon, const QString& title) override;
  QString OpenFile(const OpenFileRequest& request) override;

 private:
  QWidget* m_parent;
};

// A "Description|pattern|Description|pattern" list as name filters of Qt's file dialog. A
// pattern may list several, separated by ";".
QStringList QtNameFilters(const QString& filter);

}  // namespace vorlan
