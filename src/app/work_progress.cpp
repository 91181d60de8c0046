#include "app/work_progress.h"

#include "platform/platform.h"
#include "platform/timer.h"

namespace vorlan {

WorkProgress::WorkProgress(Platform& platform, Dialogs& dialogs, QString title, QString label)
    : m_platform(platform),
      m_dialogs(dialogs),
      m_title(std::move(title)),
      m_label(std::move(label)),
      m_start(platform.Now()) {}

bool WorkProgress::Update(qint64 done, qint64 total) {
  if (!m_box) {
    if (m_start.msecsTo(m_platform.Now()) < kShowAfter.count()) return true;
    m_box = m_dialogs.ShowProgress(m_title, m_label);
    if (!m_box) return true;
  }
  return m_box->Update(done, total);
}

SteppedWork::SteppedWork(Platform& platform, Dialogs& dialogs, const QString& title,
                         const QString& label, QObject* context, Step step, Finish finish)
    : m_platform(platform),
      m_context(context),
      m_step(std::move(step)),
      m_finish(std::move(finish)),
      m_timer(platform.CreateTimer()) {
  if (!title.isEmpty()) m_progress.emplace(platform, dialogs, title, label);
  QObject::connect(m_timer.get(), &Timer::Tick, m_timer.get(), [this] { OnTick(); });
  m_timer->SetInterval(kPauseMs);
  m_timer->SetEnabled(true);
}

SteppedWork::~SteppedWork() = default;

void SteppedWork::OnTick() {
  if (!m_running) return;
  // One step per tick: the timer has already started its next countdown.
  const std::optional<Progress> progress = m_step();
  if (!progress) {
    End(false);
    return;
  }
  if (m_progress && !m_progress->Update(progress->done, progress->total)) End(true);
}

// The end is told from a task of its own, so that the owner may destroy this object, its timer
// and its step, none of which is running then.
void SteppedWork::End(bool cancelled) {
  m_running = false;
  m_timer->SetEnabled(false);
  m_progress.reset();  // the box closes with the work
  if (m_context) {
    m_platform.Post(m_context, [finish = m_finish, cancelled] { finish(cancelled); });
  }
}

}  // namespace vorlan
