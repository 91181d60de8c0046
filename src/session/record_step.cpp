#include "session/record_step.h"

#include <QFileInfo>

#include <algorithm>
#include <limits>
#include <span>
#include <utility>

#include "format/record_formatter.h"
#include "logging/last_reply.h"
#include "logging/record_log.h"
#include "platform/platform.h"
#include "platform/timer.h"
#include "session/connection.h"
#include "session/log_roll.h"
#include "session/pacer.h"
#include "session/poller.h"
#include "session/running.h"
#include "session/timings.h"

namespace vorlan::session {
namespace {

using EventKind = link::ReplyReader::EventKind;

void Restart(Timer& timer, std::chrono::milliseconds interval) {
  timer.SetEnabled(false);
  timer.SetInterval(int(interval.count()));
  timer.SetEnabled(true);
}

}  // namespace

qint32 NextRecordCount(qint32 count) {
  return count == std::numeric_limits<qint32>::max() ? 0 : count + 1;
}

RecordStep::RecordStep(Platform& platform, Connection& connection, Pacer& pacer, Poller& poller,
                       LogRoll& roll, int& handlers)
    : m_connection(connection),
      m_pacer(pacer),
      m_poller(poller),
      m_roll(roll),
      m_handlers(handlers),
      m_restTimer(platform.CreateTimer()) {
  connect(m_restTimer.get(), &Timer::Tick, this, &RecordStep::RestTimer_Timer);
}

RecordStep::~RecordStep() {
  QString trouble;
  if (m_lastReplyUnsaved && !SaveLastReply(&trouble)) qWarning("%s", qPrintable(trouble));
}

void RecordStep::Read(const QByteArray& text, const std::vector<qsizetype>& pieces) {
  emit FrameReceived(text.left(frame::kDataHeaderLength));
  emit ArrivalRead(text);
  std::vector<Event> events;
  const char deviceId = m_deviceId.isEmpty() ? '\0' : m_deviceId[0];
  qsizetype from = 0;
  for (const qsizetype piece : pieces) {
    m_reader.Feed(QByteArrayView(text).sliced(from, piece), deviceId, events);
    from += piece;
  }
  Begin(std::move(events));
}

void RecordStep::Begin(std::vector<Event> events) {
  m_events.insert(m_events.end(), std::make_move_iterator(events.begin()),
                  std::make_move_iterator(events.end()));
  m_stepOpen = true;
  m_connection.HoldArrivals(true);
  Proceed();
}

void RecordStep::Proceed() {
  // In order, and no further once one of them ended the step or waits for its frame to go.
  m_proceeding = true;
  const quint64 connection = m_connection.Number();
  while (!m_events.empty()) {
    const Event event = std::move(m_events.front());
    m_events.pop_front();
    const bool on = HandleReaderEvent(event);
    if (connection != m_connection.Number() || !m_stepOpen) {
      m_proceeding = false;
      return;
    }
    if (!on) {
      m_proceeding = false;
      EndStep();
      return;
    }
    if (m_acknowledging) {
      m_proceeding = false;
      return;  // Acknowledge carries on once the acknowledgement is written
    }
  }
  m_proceeding = false;
  Settle();
  EndStep();
}

void RecordStep::EndStep() {
  m_events.clear();
  m_stepOpen = false;
  // After the acknowledgement and the next request: the list is synced while the exchange works.
  QString trouble;
  if (m_lastReplyUnsaved && !SaveLastReply(&trouble)) qWarning("%s", qPrintable(trouble));
  emit StepEnded();
}

void RecordStep::Settle() {
  // A reply that may be whole waits a moment for more: at once where this connection's replies
  // ended so before, longer where they did not. Its closing steps wait with it.
  if (m_reader.ReplyMayEnd()) {
    Restart(*m_restTimer, m_reader.EndsAsBefore() ? kReplyEndGrace : kReplyRestWait);
    return;
  }
  m_restTimer->SetEnabled(false);
  // An open record or header: its rest, or the request's deadline, ends it.
  if (m_reader.InDataReply()) return;
  m_poller.ClosingSteps();
}

void RecordStep::RestTimer_Timer() {
  const Running running(m_handlers);
  TakeWholeReply();
}

void RecordStep::TakeWholeReply() {
  m_restTimer->SetEnabled(false);
  if (m_stepOpen || m_pacer.ArrivalWaiting() || m_pacer.FramesWaiting() ||
      m_connection.HandlerRunning()) {
    Restart(*m_restTimer, kLookAgain);
    return;
  }
  if (!m_reader.ReplyMayEnd()) return;
  // Nothing more came: the reply is whole. No arrival is read until its acknowledgement is out.
  std::vector<Event> events;
  m_reader.EndReply(events);
  Begin(std::move(events));
}

bool RecordStep::HandleReaderEvent(const Event& event) {
  if (event.kind == EventKind::StatusReply || event.kind == EventKind::DataHeader)
    m_poller.Replied(true);
  switch (event.kind) {
    case EventKind::StatusReply: TakeStatus(event.bytes); break;
    case EventKind::DataHeader:
      if (!event.continuation) {
        emit DataReplyStarted(event.blockChar);
        m_logFailed = false;
        m_replyReadAfter = m_arrivalReadAfter;
        m_replyRecords.clear();  // of a reply that was given up
        m_replyMayRepeat = m_poller.TakeMayRepeat();
        m_poller.StartDeadlineIfIdle();
      }
      break;
    case EventKind::Record:
      if (m_logFailed) break;  // the rest of a reply that cannot be logged
      TakeRecord(event);
      break;
    case EventKind::DataReplyEnd:
      if (m_logFailed) break;
      return AcknowledgeDataReply(event.blocks);
    case EventKind::Unrecognised:
      emit UnrecognisedReply();
      if (const char id = frame::ForeignDeviceId(event.bytes, m_deviceId);
          id != 0 && !std::exchange(m_foreignIdReported, true)) {
        emit ForeignDeviceId(id);
      }
      m_poller.Replied(false);
      // Text that is no reply still answers the data request in flight, once.
      m_poller.TakeAnswer(m_arrivalReadAfter);
      break;
    case EventKind::RecordGivenUp: emit RecordGivenUp(event.bytes, event.size); break;
  }
  return true;
}

void RecordStep::TakeStatus(const QByteArray& reply) {
  const frame::Reply r = frame::ClassifyReply(reply, m_deviceId);
  emit StatusReply(r.kind);
  if (r.kind == frame::ReplyKind::BufferEmpty || r.kind == frame::ReplyKind::PortBusy ||
      r.kind == frame::ReplyKind::ChecksumError) {
    m_poller.RetryLater();
  }
  m_poller.TakeAnswer(m_arrivalReadAfter);
}

void RecordStep::TakeRecord(const Event& event) {
  QByteArray record = event.bytes;
  record.replace(' ', '.');
  // The record's own verdict, as the CSV and the Import table decide it.
  const bool bad = format::FlaggedByAlarm(record, m_maxTime);
  emit RecordTaken(record, bad);
  // Logged, reported and counted with the rest of its reply, just before its acknowledgement:
  // a reply that is never acknowledged leaves nothing behind, and the exchange sends it again.
  m_replyRecords.push_back({std::move(record), bad, event.cut ? event.size : 0});
}

bool RecordStep::AcknowledgeDataReply(const QByteArray& blocks) {
  // Until its acknowledgement is written the reply is still open, though the reader is done.
  m_acknowledging = true;
  std::vector<PendingRecord> records = std::exchange(m_replyRecords, {});
  // Only where the exchange can have sent the reply logged last again are its records compared
  // with that reply's; anywhere else two records with the same bytes are two calls.
  const qsizetype repeated = std::exchange(m_replyMayRepeat, false) ? RepeatedRecords(records) : 0;
  const auto fresh = std::span(records).subspan(std::size_t(repeated));
  qint64 at = 0;
  if (!fresh.empty()) {
    // The exchange forgets what it is told we have: the lines must be on disk first, in a file.
    logging::RecordLog& log = m_roll.Log();
    QString failure;
    const bool open = log.IsOpen();
    if (!open) {
      failure = QStringLiteral("no log file is open");
    } else {
      QByteArray lines;
      for (const PendingRecord& pending : fresh)
        lines += logging::RecordLine(pending.record, pending.bad);
      if (LogReply(lines, qsizetype(fresh.size()), repeated > 0, &at, &failure))
        failure.clear();
      else if (failure.isEmpty())
        failure = QStringLiteral("unknown failure");
    }
    m_roll.PassNotice();
    if (!failure.isEmpty()) {
      m_acknowledging = false;
      FailLogWrite(open ? log.Path() : m_roll.WantedPath(), failure);
      return false;
    }
  }
  for (const PendingRecord& pending : fresh) {
    m_recordCount = NextRecordCount(m_recordCount);
    emit RecordLogged(pending.record, pending.bad, pending.cutFrom, m_recordCount, at);
    at += logging::RecordLine(pending.record, pending.bad).size();
  }
  if (repeated > 0) emit RecordsAlreadyLogged(repeated, qsizetype(records.size()));
  // The reply that answered the request first, then a reply that completed its last record.
  SendAcknowledgement(blocks);
  return true;
}

qsizetype RecordStep::RepeatedRecords(const std::vector<PendingRecord>& records) {
  LoadLastReply();
  std::vector<QByteArray> texts;
  texts.reserve(records.size());
  for (const PendingRecord& pending : records) texts.push_back(pending.record);
  return logging::RepeatedRecords(m_roll.Folder(), m_lastReply, texts);
}

void RecordStep::LoadLastReply() {
  // After a restart the log folder itself tells where the reply logged last is.
  if (std::exchange(m_lastReplyLoaded, true)) return;
  m_lastReply = logging::LoadLastReply(m_roll.Folder());
  // It may be the lines a stop left past the list, which the file does not name yet: saved
  // before any more lines, so that never two replies lie past it.
  m_lastReplyUnsaved = !m_lastReply.empty();
}

bool RecordStep::SaveLastReply(QString* failure) {
  if (!m_lastReplyFile) m_lastReplyFile = std::make_unique<logging::LastReplyFile>(m_roll.Folder());
  m_lastReplyUnsaved = !m_lastReplyFile->Save(m_lastReply, failure);
  // A folder that is gone is made again by the next lines' write; the list waits for them.
  return !m_lastReplyUnsaved || !QFileInfo::exists(m_roll.Folder());
}

bool RecordStep::LogReply(const QByteArray& lines, qsizetype count, bool extendsLast, qint64* at,
                          QString* failure) {
  logging::RecordLog& log = m_roll.Log();
  LoadLastReply();
  // The list names the reply logged last before any later lines are written: a stop leaves at
  // most one reply's lines past it, in its last file, and a restart takes them as that reply.
  if (m_lastReplyUnsaved && !SaveLastReply(failure)) return false;
  const QString file = QFileInfo(log.Path()).fileName();
  std::vector<logging::ReplyRun> runs =
      extendsLast ? m_lastReply : std::vector<logging::ReplyRun>{};
  runs.push_back({file, -1, count});
  // Lines that extend the reply logged last, or go to another file, could not be found past
  // it: the list names them before they are written, and lines that then fail are missing where
  // it points, as those of a reply cut short.
  bool namedAhead = false;
  if (extendsLast || m_lastReply.empty() || m_lastReply.back().fileName != file) {
    runs.back().offset = std::max<qint64>(0, log.Size());
    const std::vector<logging::ReplyRun> before = std::exchange(m_lastReply, runs);
    if (!SaveLastReply(failure)) {
      m_lastReply = before;
      m_lastReplyUnsaved = true;  // the file holds the old list or the new one
      return false;
    }
    namedAhead = !m_lastReplyUnsaved;
    if (!namedAhead) m_lastReply = before;  // no folder to save it in: it follows the lines
  }
  if (log.WriteLines(lines, failure) == logging::RecordLog::WriteResult::Failed ||
      !log.Sync(failure)) {
    return false;
  }
  *at = log.LastLinesAt();
  // Otherwise it is put on disk once the acknowledgement is out: the exchange's turn hides it.
  m_lastReplyUnsaved = !namedAhead || runs.back().offset != *at;
  runs.back().offset = *at;
  m_lastReply = std::move(runs);
  return true;
}

void RecordStep::SendAcknowledgement(QByteArray blocks) {
  if (blocks.isEmpty()) {
    Acknowledge();
    return;
  }
  m_pacer.Send(frame::DataAcknowledgement(m_deviceId, blocks[0]), {},
               [this, rest = blocks.mid(1)] { SendAcknowledgement(rest); });
}

void RecordStep::Acknowledge() {
  m_acknowledging = false;
  emit Acknowledged();
  m_poller.Acknowledged(m_replyReadAfter);
  // Written after its pace: the rest of the step goes on from here.
  if (!m_proceeding && m_stepOpen) Proceed();
}

void RecordStep::FailLogWrite(const QString& path, const QString& failure) {
  // The reply is not acknowledged: the exchange keeps its records until the log takes them.
  m_logFailed = true;
  m_reader.Reset();
  m_replyRecords.clear();
  m_restTimer->SetEnabled(false);
  if (m_poller.DownloadState() == Poller::Download::Running) m_poller.StopDownload();
  emit LogWriteFailed(path, failure);
}

void RecordStep::GiveUp() {
  std::vector<Event> given;
  m_reader.GiveUp(given);
  for (const Event& event : given) emit RecordGivenUp(event.bytes, event.size);
  m_replyRecords.clear();
  m_restTimer->SetEnabled(false);
}

void RecordStep::NewConnection() {
  m_reader.Reset();
  m_replyRecords.clear();
  m_acknowledging = false;
  m_foreignIdReported = false;
  m_restTimer->SetEnabled(false);
  m_logFailed = false;
  m_replyMayRepeat = false;
  // A step of the old connection ends here; an arrival waiting its pace is dropped at its time.
  m_events.clear();
  m_stepOpen = false;
}

}  // namespace vorlan::session
