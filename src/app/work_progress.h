#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <chrono>
#include <functional>
#include <memory>

#include "platform/dialogs.h"

namespace vorlan {

class Platform;

// Long work on the event thread (reading, importing, exporting a large file). Work that is done
// within half a second shows nothing; past that a progress box with Cancel appears, and events
// are served between the steps, so that the windows stay drawn and the link goes on.
class WorkProgress {
 public:
  static constexpr std::chrono::milliseconds kShowAfter{500};

  WorkProgress(Platform& platform, Dialogs& dialogs, QString title, QString label);
  // Reports a step of the work; false once the operator has cancelled it.
  bool Step(qint64 done, qint64 total);

 private:
  Platform& m_platform;
  Dialogs& m_dialogs;
  QString m_title;
  QString m_label;
  QDateTime m_start;
  std::unique_ptr<Dialogs::Progress> m_box;
};

enum class ReadResult { Read, Failed, Cancelled };

// Reads a whole file in steps of a few megabytes, telling `step` after each how much of it is
// read (0 to 1); `step` returns false to cancel. On a failure `error` says why. Only a regular
// file is read (no symbolic link, FIFO, device or folder).
ReadResult ReadWholeFile(const QString& path, const std::function<bool(double)>& step,
                         QByteArray& bytes, QString& error);

}  // namespace vorlan
