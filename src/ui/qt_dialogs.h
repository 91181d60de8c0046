#pragma once

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

}  // namespace vorlan
