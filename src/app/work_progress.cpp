#include "app/work_progress.h"

#include <QFile>

#include <algorithm>

#include "logging/file_access.h"
#include "platform/platform.h"

namespace vorlan {
namespace {

constexpr qint64 kReadStep = 4 << 20;

}  // namespace

WorkProgress::WorkProgress(Platform& platform, Dialogs& dialogs, QString title, QString label)
    : m_platform(platform),
      m_dialogs(dialogs),
      m_title(std::move(title)),
      m_label(std::move(label)),
      m_start(platform.Now()) {}

bool WorkProgress::Step(qint64 done, qint64 total) {
  if (!m_box) {
    if (m_start.msecsTo(m_platform.Now()) < kShowAfter.count()) return true;
    m_box = m_dialogs.ShowProgress(m_title, m_label);
    if (!m_box) return true;
  }
  if (!m_box->Update(done, total)) return false;
  m_platform.DoEvents();
  return true;
}

ReadResult ReadWholeFile(const QString& path, const std::function<bool(double)>& step,
                         QByteArray& bytes, QString& error) {
  // Only a regular file, looked at before anything is read: a FIFO would hold the read for
  // ever, a device like /dev/zero never ends.
  const logging::OpenedFile opened = logging::OpenRegularFile(path, logging::Access::Read, &error);
  QFile file;
  if (opened.fd < 0) return ReadResult::Failed;
  if (!file.open(opened.fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
    logging::CloseFile(opened.fd);
    error = file.errorString();
    return ReadResult::Failed;
  }
  const qint64 size = file.size();
  bytes.clear();
  bytes.reserve(size + kReadStep);
  for (;;) {
    const qsizetype held = bytes.size();
    bytes.resize(held + kReadStep);
    const qint64 got = file.read(&bytes[held], kReadStep);
    bytes.resize(held + std::max<qint64>(got, 0));
    if (got < 0) {
      error = file.errorString();
      return ReadResult::Failed;
    }
    if (got == 0) break;
    const double part = size > 0 ? std::min(double(bytes.size()) / double(size), 1.0) : 1.0;
    if (!step(part)) return ReadResult::Cancelled;
  }
  return ReadResult::Read;
}

}  // namespace vorlan
