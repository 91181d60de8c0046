#pragma once

#include <QString>
#include <QStringList>

#include <memory>

namespace vorlan {

// Modal things go through here, so that tests replace them with a recorder and never block.
// A front end without windows chooses no file and shows no progress.
class Dialogs {
 public:
  enum class Icon { None, Critical, Warning, Information };

  struct OpenFileRequest {
    int flags = 0;        // 4096: the file must exist; 4: hide the read-only box
    QString filter;       // "Description|pattern|Description|pattern"
    int filterIndex = 1;  // 1-based entry preselected
    QString title;
    QString defaultExtension;
    QString folder = {};  // where the dialog starts; empty: where it last was
  };

  // A progress bar with a Cancel button over work that runs on the event thread.
  class Progress {
   public:
    virtual ~Progress() = default;
    // Shows how far the work is; false once the operator has cancelled it.
    virtual bool Update(qint64 done, qint64 total) = 0;
  };

  virtual ~Dialogs() = default;

  // A modal message box with an OK button only.
  virtual void MessageBox(const QString& text, Icon icon, const QString& title) = 0;
  // The modal open-file dialog; returns the chosen path, or the empty text when cancelled.
  virtual QString OpenFile(const OpenFileRequest& request) = 0;
  // The same, choosing one or more existing files; none when cancelled.
  virtual QStringList OpenFiles(const OpenFileRequest& /*request*/) { return {}; }
  // The modal save-file dialog, which asks before an existing file is replaced; empty when
  // cancelled.
  virtual QString SaveFile(const OpenFileRequest& /*request*/) { return {}; }
  // Shows a modal progress box until the result is destroyed; nothing where none can be shown.
  virtual std::unique_ptr<Progress> ShowProgress(const QString& /*title*/,
                                                 const QString& /*label*/) {
    return nullptr;
  }
};

}  // namespace vorlan
