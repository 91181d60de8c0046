#pragma once

#include <QString>

namespace vorlan {

// Modal things go through here, so that tests replace them with a recorder and never block.
class Dialogs {
 public:
  enum class Icon { None, Critical, Warning, Information };

  struct OpenFileRequest {
    int flags = 0;        // 4096: the file must exist; 4: hide the read-only box
    QString filter;       // "Description|pattern|Description|pattern"
    int filterIndex = 1;  // 1-based entry preselected
    QString title;
    QString defaultExtension;
  };

  virtual ~Dialogs() = default;

  // A modal message box with an OK button only.
  virtual void MessageBox(const QString& text, Icon icon, const QString& title) = 0;
  // The modal open-file dialog; returns the chosen path, or the empty text when cancelled.
  virtual QString OpenFile(const OpenFileRequest& request) = 0;
};

}  // namespace vorlan
