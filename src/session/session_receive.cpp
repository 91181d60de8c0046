// The receive path: every arrival is read by the connection's reply reader, and what it finds is
// judged, logged and reported; a data reply is acknowledged only once it is whole and its
// records are on disk. Nothing here waits: an arrival waits its pace on a timer, a reply that
// may go on is left open for the next arrival, the rest timer or the request's deadline, and an
// acknowledgement on its way holds the step open until it has been written.

#include <QFileInfo>

#include <algorithm>
#include <limits>
#include <span>
#include <utility>

#include "format/record_formatter.h"
#include "link/frame.h"
#include "logging/last_reply.h"
#include "logging/record_log.h"
#include "platform/socket.h"
#include "platform/timer.h"
#include "session/session.h"

namespace vorlan::session {
namespace {

using Event = link::ReplyReader::Event;
using EventKind = link::ReplyReader::EventKind;

void Restart(Timer& timer, std::chrono::milliseconds interval) {
  timer.SetEnabled(false);
  timer.SetInterval(int(interval.count()));
  timer.SetEnabled(true);
}

}  // namespace

void Session::Socket_DataArrival() {
  const Handler running(*this);
  if (m_socket->State() == Socket::sckClosed) {
    ClosingSteps();
    return;
  }
  std::vector<qsizetype> pieces;
  QByteArray text = m_socket->GetData(&pieces);
  // A reply read, or received, before the request in flight was written cannot be its answer.
  m_arrivalReadAfter = m_requestsSent - (std::exchange(m_unreadAtRequest, false) ? 1 : 0);
  if (m_pace.count() <= 0) {
    ReadArrival(text, pieces);
    return;
  }
  // Read once its pace is over; the next arrival waits for this one to be done.
  m_arrival = std::move(text);
  m_arrivalPieces = std::move(pieces);
  m_arrivalPaced = true;
  m_arrivalConnection = m_connection;
  if (!m_hold) m_hold.emplace(*m_socket);
  emit RxPacing(true);
  m_rxTimer->SetEnabled(true);
}

void Session::RxTimer_Timer() {
  const Handler running(*this);
  m_rxTimer->SetEnabled(false);
  if (!m_arrivalPaced) return;
  m_arrivalPaced = false;
  emit RxPacing(false);
  const QByteArray text = std::exchange(m_arrival, {});
  const std::vector<qsizetype> pieces = std::exchange(m_arrivalPieces, {});
  if (m_arrivalConnection != m_connection) {  // the link went while it waited
    m_hold.reset();
    StartSwitchWhenIdle();
    return;
  }
  ReadArrival(text, pieces);
}

void Session::ReadArrival(const QByteArray& text, const std::vector<qsizetype>& pieces) {
  emit FrameReceived(text.left(frame::kDataHeaderLength));
  emit Arrived(text);
  std::vector<Event> events;
  const char deviceId = m_deviceId.isEmpty() ? '\0' : m_deviceId[0];
  qsizetype from = 0;
  for (const qsizetype piece : pieces) {
    m_reader.Feed(QByteArrayView(text).sliced(from, piece), deviceId, events);
    from += piece;
  }
  m_events.insert(m_events.end(), std::make_move_iterator(events.begin()),
                  std::make_move_iterator(events.end()));
  m_stepOpen = true;
  if (!m_hold) m_hold.emplace(*m_socket);
  Proceed();
}

void Session::Proceed() {
  // In order, and no further once one of them ended the step or waits for its frame to go.
  m_proceeding = true;
  const quint64 connection = m_connection;
  while (!m_events.empty()) {
    const Event event = std::move(m_events.front());
    m_events.pop_front();
    const bool on = HandleReaderEvent(event);
    if (connection != m_connection || !m_stepOpen) {
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

void Session::EndStep() {
  m_events.clear();
  m_stepOpen = false;
  if (!m_arrivalPaced) m_hold.reset();
  StartSwitchWhenIdle();
}

void Session::Settle() {
  // A reply that may be whole waits a moment for more: at once where this connection's replies
  // ended so before, longer where they did not. Its closing steps wait with it.
  if (m_reader.ReplyMayEnd()) {
    Restart(*m_restTimer, m_reader.EndsAsBefore() ? kReplyEndGrace : kReplyRestWait);
    return;
  }
  m_restTimer->SetEnabled(false);
  // An open record or header: its rest, or the request's deadline, ends it.
  if (m_reader.InDataReply()) return;
  ClosingSteps();
}

void Session::RestTimer_Timer() {
  const Handler running(*this);
  m_restTimer->SetEnabled(false);
  if (Busy()) {
    Restart(*m_restTimer, kLookAgain);
    return;
  }
  if (!m_reader.ReplyMayEnd()) return;
  // Nothing more came: the reply is whole. No arrival is read until its acknowledgement is out.
  std::vector<Event> events;
  m_reader.EndReply(events);
  m_events.insert(m_events.end(), std::make_move_iterator(events.begin()),
                  std::make_move_iterator(events.end()));
  m_stepOpen = true;
  if (!m_hold) m_hold.emplace(*m_socket);
  Proceed();
}

bool Session::HandleReaderEvent(const Event& event) {
  if (event.kind == EventKind::StatusReply || event.kind == EventKind::DataHeader)
    m_unrecognisedInRow = 0;
  switch (event.kind) {
    case EventKind::StatusReply: TakeStatus(event.bytes); break;
    case EventKind::DataHeader:
      if (!event.continuation) {
        emit DataReplyStarted(event.blockChar);
        m_logFailed = false;
        m_replyReadAfter = m_arrivalReadAfter;
        m_replyRecords.clear();  // of a reply that was given up
        m_replyMayRepeat = m_mayRepeat > 0;
        if (m_mayRepeat > 0) --m_mayRepeat;
        // A reply sent unasked still has a deadline for its rest.
        if (!m_answerTimer->Enabled()) StartDeadline();
      }
      m_blockChar = event.blockChar;
      m_ackCheck = frame::AcknowledgementCheck(m_deviceId, m_blockChar);
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
      if (++m_unrecognisedInRow >= kUnrecognisedBeforeBackOff)
        m_timerDnld->SetInterval(int(kRetryDataRequest.count()));
      // Text that is no reply still answers the data request in flight, once.
      TakeAnswer(m_arrivalReadAfter);
      break;
    case EventKind::RecordGivenUp: emit RecordGivenUp(event.bytes, event.size); break;
  }
  return true;
}

void Session::TakeStatus(const QByteArray& reply) {
  const frame::Reply r = frame::ClassifyReply(reply, m_deviceId);
  emit StatusReply(r.kind);
  if (r.kind == frame::ReplyKind::BufferEmpty || r.kind == frame::ReplyKind::PortBusy ||
      r.kind == frame::ReplyKind::ChecksumError) {
    m_timerDnld->SetInterval(int(kRetryDataRequest.count()));
  }
  TakeAnswer(m_arrivalReadAfter);
}

void Session::TakeAnswer(quint64 readAfter) {
  // The answer to the data request in flight, if there is one; a reply read before that
  // request was written, or a late copy, answers nothing.
  if (!m_requestOutstanding || readAfter != m_requestsSent) return;
  m_requestOutstanding = false;
  m_answered = true;
  if (!m_reader.InDataReply()) m_answerTimer->SetEnabled(false);
}

bool Session::Judge(const QByteArray& record, QString* formatted) {
  // The record's own verdict, as the CSV and the Import table decide it; the text only while
  // someone shows it.
  m_lastFlag = format::FlaggedByAlarm(record, m_maxTime);
  if (m_formattedShown) *formatted = format::FormatData(record, m_maxTime);
  return m_lastFlag;
}

void Session::TakeRecord(const Event& event) {
  m_currentRecord = event.bytes;
  m_currentRecord.replace(' ', '.');
  QString formatted;
  const bool bad = Judge(m_currentRecord, &formatted);
  emit RecordJudged(m_currentRecord, bad, formatted);
  // Logged, reported and counted with the rest of its reply, just before its acknowledgement:
  // a reply that is never acknowledged leaves nothing behind, and the exchange sends it again.
  m_replyRecords.push_back({m_currentRecord, bad, event.cut ? event.size : 0});
}

bool Session::AcknowledgeDataReply(const QByteArray& blocks) {
  // Until its acknowledgement is written the reply is still open, though the reader is done.
  m_acknowledging = true;
  std::vector<PendingRecord> records = std::exchange(m_replyRecords, {});
  // Only where the exchange can have sent the reply logged last again are its records compared
  // with that reply's; anywhere else two records with the same bytes are two calls.
  const qsizetype repeated =
      std::exchange(m_replyMayRepeat, false) ? RepeatedRecords(records) : 0;
  const auto fresh = std::span(records).subspan(std::size_t(repeated));
  if (!fresh.empty()) {
    // The exchange forgets what it is told we have: the lines must be on disk first, in a file.
    QString failure;
    const bool open = m_log->IsOpen();
    if (!open) {
      failure = QStringLiteral("no log file is open");
    } else {
      QByteArray lines;
      for (const PendingRecord& pending : fresh)
        lines += logging::RecordLine(pending.record, pending.bad);
      if (LogReply(lines, qsizetype(fresh.size()), repeated > 0, &failure)) failure.clear();
      else if (failure.isEmpty()) failure = QStringLiteral("unknown failure");
    }
    if (!failure.isEmpty()) {
      m_acknowledging = false;
      FailLogWrite(open ? m_log->Path() : m_logWanted, failure);
      return false;
    }
  }
  for (const PendingRecord& pending : fresh) {
    // The count starts again at 0 past its largest value rather than overflow.
    m_recordCount = m_recordCount == std::numeric_limits<qint32>::max() ? 0 : m_recordCount + 1;
    emit RecordLogged(pending.record, pending.bad, pending.cutFrom, m_recordCount);
  }
  if (repeated > 0) emit RecordsAlreadyLogged(repeated, qsizetype(records.size()));
  // The reply that answered the request first, then a reply that completed its last record.
  SendAcknowledgement(blocks);
  return true;
}

qsizetype Session::RepeatedRecords(const std::vector<PendingRecord>& records) {
  if (!m_lastReplyLoaded) {
    // After a restart the log folder itself tells where the reply logged last is.
    m_lastReplyLoaded = true;
    m_lastReply = logging::LoadLastReply(m_logsFolder);
  }
  std::vector<QByteArray> texts;
  texts.reserve(records.size());
  for (const PendingRecord& pending : records) texts.push_back(pending.record);
  return logging::RepeatedRecords(m_logsFolder, m_lastReply, texts);
}

bool Session::LogReply(const QByteArray& lines, qsizetype count, bool extendsLast,
                       QString* failure) {
  std::vector<logging::ReplyRun> runs =
      extendsLast ? m_lastReply : std::vector<logging::ReplyRun>{};
  runs.push_back({QFileInfo(m_log->Path()).fileName(), std::max<qint64>(0, m_log->Size()), count});
  // Where the lines go is on disk before they are: a reply cut after them is still found. A
  // removed folder is made again by the write, and the list follows the lines then.
  const bool folderThere = QFileInfo::exists(m_logsFolder);
  if (folderThere) {
    if (!logging::SaveLastReply(m_logsFolder, runs, failure)) {
      m_lastReplyLoaded = false;  // the file holds the old list or the new one: it tells which
      return false;
    }
    // Lines that fail below are missing where it points, as those of a reply cut short.
    m_lastReply = runs;
    m_lastReplyLoaded = true;
  }
  if (m_log->WriteLines(lines, failure) == logging::RecordLog::WriteResult::Failed ||
      !m_log->Sync(failure)) {
    return false;
  }
  // The file was made again, or a line cut short ended first: say where they really went.
  if (!folderThere || m_log->LastLinesAt() != runs.back().offset) {
    runs.back().offset = m_log->LastLinesAt();
    QString trouble;
    if (!logging::SaveLastReply(m_logsFolder, runs, &trouble)) qWarning("%s", qPrintable(trouble));
    m_lastReply = std::move(runs);
    m_lastReplyLoaded = true;
  }
  return true;
}

void Session::SendAcknowledgement(QByteArray blocks) {
  if (blocks.isEmpty()) {
    Acknowledge();
    return;
  }
  const QByteArray ack = frame::DataAcknowledgement(m_deviceId, blocks[0]);
  m_lastFrame = ack;
  Queue(ack, {}, [this, rest = blocks.mid(1)] { SendAcknowledgement(rest); });
}

void Session::Acknowledge() {
  m_acknowledging = false;
  emit Acknowledged();
  m_timerDnld->SetInterval(int(kNextDataRequest.count()));
  TakeAnswer(m_replyReadAfter);
  if (!m_requestOutstanding) m_answerTimer->SetEnabled(false);
  // Written after its pace: the rest of the step goes on from here.
  if (!m_proceeding && m_stepOpen) Proceed();
}

void Session::FailLogWrite(const QString& path, const QString& failure) {
  // The reply is not acknowledged: the exchange keeps its records until the log takes them.
  m_logFailed = true;
  m_reader.Reset();
  m_replyRecords.clear();
  m_restTimer->SetEnabled(false);
  if (m_download == Download::Running) StopDownload();
  emit LogWriteFailed(path, failure);
}

void Session::ClosingSteps() {
  const bool answered = std::exchange(m_answered, false);
  if (m_stopRequested) {
    m_heartBeatTimer->SetEnabled(true);
    m_stopDone = true;
    SetDownload(Download::Idle);
    emit StopCompleted();
    if (m_switching) FinishSwitch();
  } else if (m_download == Download::Running && (answered || m_requestDeferred) &&
             !m_timerDnld->Enabled()) {
    // Only the answer to the request in flight asks for the next one, or a request that fell
    // due while a reply was open.
    m_requestDeferred = false;
    m_timerDnld->SetEnabled(true);
  }
}

void Session::StartDeadline() { Restart(*m_answerTimer, kDataRequestTimeout); }

void Session::AnswerTimer_Timer() {
  const Handler running(*this);
  m_answerTimer->SetEnabled(false);
  if (Busy()) {
    Restart(*m_answerTimer, kLookAgain);
    return;
  }
  // A reply that may be whole is taken as whole at the deadline.
  if (m_reader.ReplyMayEnd()) {
    RestTimer_Timer();
    return;
  }
  const bool unanswered = std::exchange(m_requestOutstanding, false);
  const bool begun = m_reader.InDataReply();
  GiveUpReply();
  if (!unanswered || m_download != Download::Running || m_socket->State() != Socket::sckConnected) {
    ClosingSteps();
    return;
  }
  emit RequestRepeated();
  // The exchange answers this one with the reply it sent last if that was not acknowledged, and
  // that reply may still come late first, unless it had begun. Sent again once more before any
  // answer came, each request sent meanwhile may bring that reply once more.
  m_mayRepeat = m_mayRepeat > 0 ? m_mayRepeat + 1 : (begun ? 1 : 2);
  TimerDnld_Timer();
}

void Session::GiveUpReply() {
  // Whatever part of an answer came is given up unacknowledged; the exchange sends it again.
  std::vector<Event> given;
  m_reader.GiveUp(given);
  for (const Event& event : given) emit RecordGivenUp(event.bytes, event.size);
  m_replyRecords.clear();
  m_restTimer->SetEnabled(false);
}

void Session::ResetReceivePath() {
  ++m_connection;
  m_reader.Reset();
  m_replyRecords.clear();
  m_requestOutstanding = false;
  m_unreadAtRequest = false;
  m_answered = false;
  m_requestDeferred = false;
  m_acknowledging = false;
  m_unrecognisedInRow = 0;
  m_foreignIdReported = false;
  m_answerTimer->SetEnabled(false);
  m_restTimer->SetEnabled(false);
  // A request armed by the old connection's last answer is not the next one's first.
  m_timerDnld->SetEnabled(false);
  m_logFailed = false;
  // The exchange sends the reply whose acknowledgement it never read again, first.
  m_mayRepeat = 1;
  m_replyMayRepeat = false;
  // A step of the old connection ends here; an arrival waiting its pace is dropped at its time.
  m_events.clear();
  m_stepOpen = false;
  if (!m_arrivalPaced) m_hold.reset();
}

}  // namespace vorlan::session
