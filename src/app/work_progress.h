#pragma once

#include <QDateTime>
#include <QPointer>
#include <QString>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

#include "platform/dialogs.h"

namespace vorlan {

class Platform;
class Timer;

// The progress box of long work (importing, exporting a large file). Work that is done within
// half a second shows nothing; past that a progress box with Cancel appears.
class WorkProgress {
 public:
  static constexpr std::chrono::milliseconds kShowAfter{500};

  WorkProgress(Platform& platform, Dialogs& dialogs, QString title, QString label);
  // Shows how far the work is; false once the operator has cancelled it.
  bool Update(qint64 done, qint64 total);

 private:
  Platform& m_platform;
  Dialogs& m_dialogs;
  QString m_title;
  QString m_label;
  QDateTime m_start;
  std::unique_ptr<Dialogs::Progress> m_box;
};

// Long work on the event thread, carried on by a timer in steps of bounded size: no handler
// waits, and between two steps the windows are drawn, the link goes on and a click on Cancel
// arrives. A cancel takes effect before the next step.
class SteppedWork {
 public:
  struct Progress {
    qint64 done = 0;
    qint64 total = 1;
  };
  // One bounded piece of the work: where it stands afterwards, or nothing once it is all done.
  using Step = std::function<std::optional<Progress>()>;
  // Runs once at the end, from the event loop, with `context` alive: `cancelled` when the
  // operator cancelled. It may destroy this object.
  using Finish = std::function<void(bool cancelled)>;

  // The first step runs from the event loop, right after the handler that starts the work. An
  // empty title: no progress box (and so no Cancel).
  SteppedWork(Platform& platform, Dialogs& dialogs, const QString& title, const QString& label,
              QObject* context, Step step, Finish finish);
  ~SteppedWork();
  SteppedWork(const SteppedWork&) = delete;
  SteppedWork& operator=(const SteppedWork&) = delete;

  bool Running() const { return m_running; }

  // Between two steps, so that what the operator sees moves and the events queued meanwhile
  // (a click, a reply of the exchange) wait no longer than a step.
  static constexpr int kPauseMs = 1;

 private:
  void OnTick();
  void End(bool cancelled);

  Platform& m_platform;
  std::optional<WorkProgress> m_progress;
  QPointer<QObject> m_context;
  Step m_step;
  Finish m_finish;
  std::unique_ptr<Timer> m_timer;
  bool m_running = true;
};

}  // namespace vorlan
