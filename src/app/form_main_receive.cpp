// The receive path: every arrival from the exchange is read by the connection's reply reader,
// and what it finds is reported, formatted, logged, shown and counted; a data reply is
// acknowledged only once it is whole and its records are on disk.
//
// No wait nests here: a data reply that may go on is left open, and the next arrival, the rest
// timer or the request's deadline carries it on.
#include <QScopeGuard>

#include <algorithm>
#include <limits>
#include <utility>

#include "app/form_main.h"
#include "app/texts.h"
#include "link/frame.h"
#include "logging/log_tail.h"
#include "logging/record_log.h"
#include "platform/dialogs.h"
#include "platform/platform.h"
#include "platform/socket.h"
#include "platform/timer.h"

namespace vorlan {
namespace {

using Event = link::ReplyReader::Event;
using EventKind = link::ReplyReader::EventKind;

QString Shown(const QByteArray& bytes, qint64 size) {
  if (size <= bytes.size()) return QString::fromLatin1(bytes);
  return QString::fromLatin1(bytes) + QStringLiteral("... (%1 characters)").arg(size);
}

void Restart(Timer& timer, std::chrono::milliseconds interval) {
  timer.SetEnabled(false);
  timer.SetInterval(int(interval.count()));
  timer.SetEnabled(true);
}

}  // namespace

void FormMain::Socket_DataArrival() {
  if (m_socket->State() == Socket::sckClosed) {
    ClosingSteps();
    return;
  }
  const quint64 connection = m_connection;
  std::vector<qsizetype> pieces;
  const QByteArray text = m_socket->GetData(&pieces);
  // A reply read before the request in flight was written cannot be its answer.
  m_arrivalReadAfter = m_requestsSent;
  FlashRxLed();
  if (connection != m_connection) return;  // the link went while the lamp flashed
  ShowReceivedHex(text.left(frame::kDataHeaderLength));

  std::vector<Event> events;
  const char deviceId = DeviceId().isEmpty() ? '\0' : DeviceId()[0];
  qsizetype from = 0;
  for (const qsizetype piece : pieces) {
    m_reader.Feed(QByteArrayView(text).sliced(from, piece), deviceId, events);
    from += piece;
  }
  if (HandleEvents(events, connection)) Settle();
}

bool FormMain::HandleEvents(const std::vector<Event>& events, quint64 connection) {
  // In order, and no further once one of them ended with the connection.
  return std::ranges::all_of(
      events, [&](const Event& event) { return HandleReaderEvent(event, connection); });
}

void FormMain::Settle() {
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

void FormMain::RestTimer_Timer() {
  m_restTimer->SetEnabled(false);
  if (Busy()) {
    Restart(*m_restTimer, kLookAgain);
    return;
  }
  if (!m_reader.ReplyMayEnd()) return;
  // Nothing more came: the reply is whole. No arrival is handled inside its acknowledgement.
  const Socket::HoldDelivery hold(*m_socket);
  const quint64 connection = m_connection;
  std::vector<Event> events;
  m_reader.EndReply(events);
  if (HandleEvents(events, connection)) Settle();
}

bool FormMain::HandleReaderEvent(const Event& event, quint64 connection) {
  switch (event.kind) {
    case EventKind::StatusReply: StatusReply(event.bytes); break;
    case EventKind::DataHeader:
      if (!event.continuation) {
        StatusBar.SetPanel(2, text::kProcessing);
        m_logFailed = false;
        m_replyReadAfter = m_arrivalReadAfter;
        m_replyRecords.clear();  // of a reply that was given up
        // A reply sent unasked still has a deadline for its rest.
        if (!m_answerTimer->Enabled()) StartDeadline();
      }
      BlockChar = event.blockChar;
      AckCheck = frame::AcknowledgementCheck(DeviceId(), BlockChar);
      break;
    case EventKind::Record:
      if (m_logFailed) break;  // the rest of a reply that cannot be logged
      return TakeRecord(event, connection);
    case EventKind::DataReplyEnd:
      if (m_logFailed) break;
      return AcknowledgeDataReply(event.blocks, connection);
    case EventKind::Unrecognised:
      AppendToTerminal(txtout(), text::kErrorPrefix + text::kCrLf);
      // Text that is no reply still answers the data request in flight, once.
      TakeAnswer(m_arrivalReadAfter);
      break;
    case EventKind::RecordGivenUp: ShowGivenUp(event); break;
  }
  return connection == m_connection;
}

void FormMain::StatusReply(const QByteArray& reply) {
  const frame::Reply r = frame::ClassifyReply(reply, DeviceId());
  switch (r.kind) {
    case frame::ReplyKind::BufferEmpty: StatusBar.SetPanel(2, text::kBufferEmpty); break;
    case frame::ReplyKind::PortBusy: StatusBar.SetPanel(2, text::kPortBusy); break;
    case frame::ReplyKind::ChecksumError: StatusBar.SetPanel(2, text::kChecksumError); break;
    case frame::ReplyKind::StatusOk: StatusBar.SetPanel(2, text::kStatusOk); break;
    default: AppendToTerminal(txtout(), text::kErrorPrefix + text::kCrLf); break;
  }
  if (r.kind == frame::ReplyKind::BufferEmpty || r.kind == frame::ReplyKind::PortBusy ||
      r.kind == frame::ReplyKind::ChecksumError) {
    m_timerDnld->SetInterval(int(kRetryDataRequest.count()));
  }
  TakeAnswer(m_arrivalReadAfter);
}

void FormMain::TakeAnswer(quint64 readAfter) {
  // The answer to the data request in flight, if there is one; a reply read before that
  // request was written, or a late copy, answers nothing.
  if (!m_requestOutstanding || readAfter != m_requestsSent) return;
  m_requestOutstanding = false;
  m_answered = true;
  if (!m_reader.InDataReply()) m_answerTimer->SetEnabled(false);
}

bool FormMain::TakeRecord(const Event& event, quint64 connection) {
  CurrentRecord = event.bytes;
  CurrentRecord.replace(' ', '.');
  PumpEvents();
  if (connection != m_connection) return false;

  FormatData(CurrentRecord);
  WriteLogRecord(CurrentRecord);
  if (event.cut) m_replyRecords.back().cutFrom = event.size;
  PumpEvents();
  return connection == m_connection;
}

void FormMain::WriteLogRecord(const QByteArray& record) {
  // The records of a data reply reach the log, the view and the count together, just before its
  // acknowledgement: a reply that is never acknowledged (the link went, its rest never came)
  // leaves nothing behind, and the exchange sends its records again.
  m_replyRecords.push_back({record, m_badRecord, 0});
}

bool FormMain::AcknowledgeDataReply(const QByteArray& blocks, quint64 connection) {
  // Until its acknowledgement is written the reply is still open, though the reader is done.
  m_acknowledging = true;
  const auto done = qScopeGuard([this] { m_acknowledging = false; });
  std::vector<PendingRecord> records = std::exchange(m_replyRecords, {});
  // A reply the exchange sends again because it never read our acknowledgement carries
  // records that are in the log already; every call's record is unique (its own start and end).
  std::vector<PendingRecord> fresh;
  fresh.reserve(records.size());
  QByteArray lines;
  for (PendingRecord& pending : records) {
    if (AlreadyLogged(pending.record)) continue;
    if (m_log->IsOpen()) lines += logging::RecordLine(pending.record, pending.bad);
    fresh.push_back(std::move(pending));
  }
  // The exchange forgets what it is told we have: the lines must be on disk first.
  if (!lines.isEmpty()) {
    QString failure;
    if (m_log->WriteLines(lines, &failure) == logging::RecordLog::WriteResult::Failed ||
        !m_log->Sync(&failure)) {
      m_logFailure = failure;
      LogWriteFailed();
      return false;
    }
  }
  for (const PendingRecord& pending : fresh) {
    Remember(pending.record);
    ShowRecord(pending);
  }
  const auto repeated = qsizetype(records.size() - fresh.size());
  if (repeated > 0) emit RecordsAlreadyLogged(repeated);
  if (repeated > 0 && fresh.empty()) {
    AppendToTerminal(txtout(), text::kAlreadyLogged + text::kCrLf);
  } else if (repeated > 0) {
    AppendToTerminal(txtout(),
                     text::kSomeAlreadyLogged.arg(repeated).arg(records.size()) + text::kCrLf);
  }

  // The reply that answered the request first, then a reply that completed its last record.
  for (const char block : blocks) {
    OutFrame = frame::DataAcknowledgement(DeviceId(), block);
    SendFrame(OutFrame);
    if (connection != m_connection) return false;
  }
  StatusBar.SetPanel(2, {});
  m_timerDnld->SetInterval(int(kNextDataRequest.count()));
  TakeAnswer(m_replyReadAfter);
  if (!m_requestOutstanding) m_answerTimer->SetEnabled(false);
  return true;
}

bool FormMain::AlreadyLogged(const QByteArray& record) {
  if (!m_recentLoaded) {
    // After a restart the log file itself tells what was written last.
    m_recentLoaded = true;
    for (const QByteArray& logged : logging::LastLoggedRecords(m_logsFolder, kRecentRecords))
      Remember(logged);
  }
  return m_recentSet.contains(record);
}

void FormMain::Remember(const QByteArray& record) {
  if (m_recentSet.contains(record)) return;
  m_recent.push_back(record);
  m_recentSet.insert(record);
  while (qsizetype(m_recent.size()) > kRecentRecords) {
    m_recentSet.remove(m_recent.front());
    m_recent.pop_front();
  }
}

void FormMain::ShowRecord(const PendingRecord& pending) {
  AppendToTerminal(txtout(), (pending.bad ? text::kBadPrefix : QStringLiteral(" ")) +
                                 QString::fromLatin1(pending.record) + text::kCrLf);
  if (pending.cutFrom > 0) {
    const qint64 kept = pending.record.size() - 1;
    AppendToTerminal(
        txtout(), text::kRecordCut.arg(pending.cutFrom).arg(kept).arg(pending.cutFrom - kept - 1) +
                      text::kCrLf);
  }
  // The count starts again at 0 past its largest value rather than overflow.
  RecordCount = RecordCount == std::numeric_limits<qint32>::max() ? 0 : RecordCount + 1;
  StatusBar.SetPanel(3, text::kRecords + QString::number(RecordCount));
  FormOutput.SetCaption(text::kRawCaptionRecords + QString::number(RecordCount) +
                        text::kRawCaptionDevice + cbDeviceID.Text());
}

void FormMain::ShowGivenUp(const Event& event) {
  AppendToTerminal(txtout(), text::kErrorPrefix + Shown(event.bytes, event.size) + text::kCrLf);
}

void FormMain::LogWriteFailed() {
  // The reply is not acknowledged: the exchange keeps its records until the log takes them.
  m_logFailed = true;
  m_reader.Reset();
  m_replyRecords.clear();
  m_restTimer->SetEnabled(false);
  if (CmdStop.Enabled()) CmdStop_Click();
  m_services.dialogs.MessageBox(text::kLogWriteFailed.arg(m_log->Path(), m_logFailure),
                                Dialogs::Icon::Warning, text::kTitle);
}

void FormMain::ClosingSteps() {
  const bool answered = std::exchange(m_answered, false);
  if (StopRequested) {
    m_heartBeatTimer->SetEnabled(true);
    CmdDisconnect.SetEnabled(true);
    StatusBar.SetPanel(1, {});
    StopDone = true;
  } else if (CmdStop.Enabled() && (answered || m_requestDeferred) && !m_timerDnld->Enabled()) {
    // Only the answer to the request in flight asks for the next one, or a request that fell
    // due while a reply was open.
    m_requestDeferred = false;
    m_timerDnld->SetEnabled(true);
  }
}

void FormMain::StartDeadline() { Restart(*m_answerTimer, kDataRequestTimeout); }

void FormMain::AnswerTimer_Timer() {
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
  GiveUpReply();
  if (!unanswered || !CmdStop.Enabled() || m_socket->State() != Socket::sckConnected) {
    ClosingSteps();
    return;
  }
  AppendToTerminal(txtout(), text::kNoAnswer.arg(kDataRequestTimeout.count() / 1000) + text::kCrLf);
  emit DataRequestRepeated();
  TimerDnld_Timer();
}

void FormMain::GiveUpReply() {
  // Whatever part of an answer came is given up unacknowledged; the exchange sends it again.
  std::vector<Event> given;
  m_reader.GiveUp(given);
  for (const Event& event : given) ShowGivenUp(event);
  m_replyRecords.clear();
  m_restTimer->SetEnabled(false);
}

bool FormMain::Busy() const { return m_waitDepth > 0 || m_socket->HandlerRunning(); }

void FormMain::PumpEvents() {
  ++m_waitDepth;
  m_services.platform.DoEvents();
  --m_waitDepth;
}

void FormMain::ResetReceivePath() {
  ++m_connection;
  m_reader.Reset();
  m_replyRecords.clear();
  m_requestOutstanding = false;
  m_answered = false;
  m_requestDeferred = false;
  m_answerTimer->SetEnabled(false);
  m_restTimer->SetEnabled(false);
  // A request armed by the old connection's last answer is not the next one's first.
  m_timerDnld->SetEnabled(false);
  m_logFailed = false;
}

}  // namespace vorlan
