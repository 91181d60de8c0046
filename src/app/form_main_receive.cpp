// The receive path: every arrival from the exchange is read by the connection's reply reader,
// and what it finds is reported, formatted, logged, shown and counted; a data reply is
// acknowledged only once its records are on disk.
#include <QScopeGuard>

#include <limits>
#include <utility>

#include "app/form_main.h"
#include "app/texts.h"
#include "link/frame.h"
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

}  // namespace

void FormMain::Socket_DataArrival() {
  if (m_socket->State() == Socket::sckClosed) {
    ClosingSteps(false);
    return;
  }
  const quint64 connection = m_connection;
  std::vector<qsizetype> pieces;
  const QByteArray text = m_socket->GetData(&pieces);
  // A reply read before the request in flight was sent cannot be its answer.
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
  bool answered = false;
  for (const Event& event : events) {
    if (!HandleReaderEvent(event, connection, answered)) return;
  }

  if (!m_continuationWait && (m_reader.AwaitingContinuation() || m_reader.ReplyMayEnd())) {
    if (!AwaitRestOfReply(connection, answered)) return;
  }
  ClosingSteps(answered);
}

bool FormMain::AwaitRestOfReply(quint64 connection, bool& answered) {
  // Let later arrivals in while the reply may go on: for the rest of an open record, or, where
  // the reply could end or go on with another record, for a moment. One wait at a time: an
  // arrival inside it that leaves the reply open does not wait again.
  m_continuationWait = true;
  // Also when the connection ends inside the wait: the next one must be able to wait again.
  const auto clear = qScopeGuard([this] { m_continuationWait = false; });
  const QDateTime started = m_services.platform.Now();
  while (m_reader.AwaitingContinuation() || m_reader.ReplyMayEnd()) {
    const qint64 consumed = m_reader.Consumed();
    const auto limit = m_reader.AwaitingContinuation() ? kContinuationWait : kReplyEndGrace;
    bool moved = false;
    {
      Socket::NestedDelivery nested(*m_socket);
      moved = m_services.platform.WaitUntil(
          [&] {
            return connection != m_connection || m_logFailed || m_reader.Consumed() != consumed;
          },
          limit);
    }
    if (connection != m_connection) return false;
    if (m_logFailed) break;
    if (moved && started.msecsTo(m_services.platform.Now()) < kDataRequestTimeout.count()) continue;
    std::vector<Event> events;
    if (m_reader.ReplyMayEnd()) {
      m_reader.EndReply(events);
    } else {
      m_reader.GiveUp(events);
    }
    for (const Event& event : events) {
      if (!HandleReaderEvent(event, connection, answered)) return false;
    }
    return true;
  }
  return true;
}

bool FormMain::HandleReaderEvent(const Event& event, quint64 connection, bool& answered) {
  switch (event.kind) {
    case EventKind::StatusReply: StatusReply(event.bytes, answered); break;
    case EventKind::DataHeader:
      if (!event.continuation) {
        StatusBar.SetPanel(2, text::kProcessing);
        m_logFailed = false;
        m_replyReadAfter = m_arrivalReadAfter;
        m_replyLines.clear();  // of a reply that was given up
      }
      BlockChar = event.blockChar;
      AckCheck = frame::AcknowledgementCheck(DeviceId(), BlockChar);
      break;
    case EventKind::Record:
      if (m_logFailed) break;  // the rest of a reply that cannot be logged
      return TakeRecord(event.bytes, connection);
    case EventKind::DataReplyEnd:
      if (m_logFailed) break;
      return AcknowledgeDataReply(event.blocks, connection, answered);
    case EventKind::Unrecognised:
      AppendToTerminal(txtout(), text::kErrorPrefix + text::kCrLf);
      break;
    case EventKind::RecordGivenUp: ShowGivenUp(event); break;
  }
  return connection == m_connection;
}

void FormMain::StatusReply(const QByteArray& reply, bool& answered) {
  const frame::Reply r = frame::ClassifyReply(reply, DeviceId());
  switch (r.kind) {
    case frame::ReplyKind::BufferEmpty: StatusBar.SetPanel(2, text::kBufferEmpty); break;
    case frame::ReplyKind::PortBusy: StatusBar.SetPanel(2, text::kPortBusy); break;
    case frame::ReplyKind::ChecksumError: StatusBar.SetPanel(2, text::kChecksumError); break;
    case frame::ReplyKind::StatusOk: StatusBar.SetPanel(2, text::kStatusOk); break;
    default: AppendToTerminal(txtout(), text::kErrorPrefix + text::kCrLf); return;
  }
  if (r.kind != frame::ReplyKind::StatusOk) {
    m_timerDnld->SetInterval(int(kRetryDataRequest.count()));
  }
  if (TakeAnswer(m_arrivalReadAfter)) answered = true;
}

bool FormMain::TakeAnswer(quint64 readAfter) {
  // The answer to the data request in flight, if there is one; a reply read before that
  // request was sent, or a late copy, answers nothing.
  if (!m_requestOutstanding || readAfter != m_requestsSent) return false;
  m_requestOutstanding = false;
  m_answerTimer->SetEnabled(false);
  return true;
}

bool FormMain::TakeRecord(const QByteArray& record, quint64 connection) {
  CurrentRecord = record;
  CurrentRecord.replace(' ', '.');
  m_services.platform.DoEvents();
  if (connection != m_connection) return false;

  FormatData(CurrentRecord);
  WriteLogRecord(CurrentRecord);
  AppendToTerminal(txtout(), (BadRecord ? text::kBadPrefix : QStringLiteral(" ")) +
                                 QString::fromLatin1(CurrentRecord) + text::kCrLf);
  // The count starts again at 0 past its largest value rather than overflow.
  RecordCount = RecordCount == std::numeric_limits<qint32>::max() ? 0 : RecordCount + 1;
  StatusBar.SetPanel(3, text::kRecords + QString::number(RecordCount));
  FormOutput.SetCaption(text::kRawCaptionRecords + QString::number(RecordCount) +
                        text::kRawCaptionDevice + cbDeviceID.Text());
  m_services.platform.DoEvents();
  return connection == m_connection;
}

bool FormMain::AcknowledgeDataReply(const QByteArray& blocks, quint64 connection, bool& answered) {
  // The exchange forgets what it is told we have: the lines must be on disk first.
  QString failure;
  const QByteArray lines = std::exchange(m_replyLines, {});
  if (m_log->WriteLines(lines, &failure) == logging::RecordLog::WriteResult::Failed ||
      !m_log->Sync(&failure)) {
    m_logFailure = failure;
    LogWriteFailed();
    return false;
  }
  // The reply that answered the request first, then a reply that completed its last record.
  for (const char block : blocks) {
    OutFrame = frame::DataAcknowledgement(DeviceId(), block);
    SendFrame(OutFrame);
    if (connection != m_connection) return false;
  }
  StatusBar.SetPanel(2, {});
  m_timerDnld->SetInterval(int(kNextDataRequest.count()));
  if (TakeAnswer(m_replyReadAfter)) answered = true;
  return true;
}

void FormMain::ShowGivenUp(const Event& event) {
  AppendToTerminal(txtout(), text::kErrorPrefix + Shown(event.bytes, event.size) + text::kCrLf);
}

void FormMain::WriteLogRecord(const QByteArray& record) {
  // The lines of a data reply go to the file together just before its acknowledgement: a reply
  // that is never acknowledged (the link went, its rest never came) leaves nothing in the log,
  // and the exchange sends its records again.
  if (m_log->IsOpen()) m_replyLines += logging::RecordLine(record, BadRecord);
}

void FormMain::LogWriteFailed() {
  // The reply is not acknowledged: the exchange keeps its records until the log takes them.
  m_logFailed = true;
  m_reader.Reset();
  if (CmdStop.Enabled()) CmdStop_Click();
  m_services.dialogs.MessageBox(text::kLogWriteFailed.arg(m_log->Path(), m_logFailure),
                                Dialogs::Icon::Warning, text::kTitle);
}

void FormMain::ClosingSteps(bool answered) {
  if (StopRequested) {
    m_heartBeatTimer->SetEnabled(true);
    CmdDisconnect.SetEnabled(true);
    StatusBar.SetPanel(1, {});
    StopDone = true;
  } else if (CmdStop.Enabled() && answered && !m_timerDnld->Enabled()) {
    // Only the answer to the request in flight asks for the next one.
    m_timerDnld->SetEnabled(true);
  }
}

void FormMain::AnswerTimer_Timer() {
  m_answerTimer->SetEnabled(false);
  if (!m_requestOutstanding) return;
  m_requestOutstanding = false;
  // Whatever part of an answer came is given up; the exchange sends it again.
  std::vector<Event> given;
  m_reader.GiveUp(given);
  for (const Event& event : given) ShowGivenUp(event);
  if (!CmdStop.Enabled() || m_socket->State() != Socket::sckConnected) return;
  AppendToTerminal(txtout(), text::kNoAnswer.arg(kDataRequestTimeout.count() / 1000) + text::kCrLf);
  TimerDnld_Timer();
}

void FormMain::ResetReceivePath() {
  ++m_connection;
  m_reader.Reset();
  m_replyLines.clear();
  m_requestOutstanding = false;
  m_answerTimer->SetEnabled(false);
  m_logFailed = false;
}

}  // namespace vorlan
