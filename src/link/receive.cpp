// The receive path: every arrival from the exchange is classified, reported and, for a data
// reply, cut into records that are formatted, logged, shown and counted before the reply is
// acknowledged. Nothing is acknowledged that is not in the log file.
#include <limits>

#include "app/dialogs.h"
#include "app/form_main.h"
#include "app/platform.h"
#include "app/socket.h"
#include "app/texts.h"
#include "app/timer.h"
#include "link/frame.h"
#include "logging/record_log.h"

namespace vorlan {
namespace {

using frame::ETX;
using frame::STX;
using frame::SYN;

// Positions of the first STX and of the first ETX after it, or -1.
std::pair<qsizetype, qsizetype> FindRecord(const QByteArray& buffer) {
  const qsizetype stx = buffer.indexOf(STX);
  if (stx < 0) return {-1, -1};
  return {stx, buffer.indexOf(ETX, stx + 1)};
}

QString Shown(const QByteArray& bytes) {
  if (bytes.size() <= kMaxErrorText) return QString::fromLatin1(bytes);
  return QString::fromLatin1(bytes.left(kMaxErrorText)) +
         QStringLiteral("... (%1 characters)").arg(bytes.size());
}

}  // namespace

void FormMain::Socket_DataArrival() {
  if (m_socket->State() == Socket::sckClosed) {
    ClosingSteps(Arrival::Reply);
    return;
  }
  QByteArray text = m_socket->GetData();
  FlashRxLed();
  ShowReceivedHex(text.left(frame::kDataHeaderLength));

  // A data reply's header that came short is completed by what follows, unless that starts a
  // reply of its own or turns out not to be a data reply after all.
  if (!m_heldHeader.isEmpty()) {
    const QByteArray joined = m_heldHeader + text;
    m_heldHeader.clear();
    if (!text.startsWith(SYN) && joined[1] == '2') {
      text = joined;
    } else {
      ReportUnrecognised();
    }
  }
  // One arrival may hold the end of one reply and the start of the next: each is handled as an
  // arrival of its own, so that every data reply is acknowledged with its own block character.
  do {
    const bool continuation = !text.startsWith(SYN) && m_dataReplyOpen;
    const qsizetype end = FirstReplyEnd(text, continuation);
    const QByteArray piece = text.left(end);
    text.remove(0, end);
    ClosingSteps(ProcessArrival(piece, continuation));
  } while (!text.isEmpty());
}

qsizetype FormMain::FirstReplyEnd(const QByteArray& text, bool continuation) const {
  // Every reply starts with SYN, and records hold text, not control characters: the next SYN
  // starts the next reply. A data reply's header is not searched, since its positions 3 to 10
  // may hold any byte.
  const bool dataHeader =
      !continuation && text.size() >= frame::kDataHeaderLength && text[1] == '2';
  const qsizetype next = text.indexOf(SYN, dataHeader ? frame::kDataHeaderLength : 1);
  return next < 0 ? text.size() : next;
}

FormMain::Arrival FormMain::ProcessArrival(const QByteArray& reply, bool continuation) {
  if (continuation) {
    // The network split the data reply: this is its rest.
    RecordBuffer.append(reply);
    if (TakeRecords() && m_waitingReplies == 0) DropNonRecordText();
    return Arrival::Continuation;
  }
  if (frame::IsDataReplyPrefix(reply)) {
    m_heldHeader = reply;
    return Arrival::HeldHeader;
  }

  const frame::Reply r = frame::ClassifyReply(reply, DeviceId());
  m_dataReplyOpen = r.kind == frame::ReplyKind::DataReply;
  switch (r.kind) {
    case frame::ReplyKind::BufferEmpty:
      StatusBar.SetPanel(2, text::kBufferEmpty);
      m_timerDnld->SetInterval(int(kRetryDataRequest.count()));
      break;
    case frame::ReplyKind::PortBusy:
      StatusBar.SetPanel(2, text::kPortBusy);
      m_timerDnld->SetInterval(int(kRetryDataRequest.count()));
      break;
    case frame::ReplyKind::ChecksumError:
      StatusBar.SetPanel(2, text::kChecksumError);
      m_timerDnld->SetInterval(int(kRetryDataRequest.count()));
      break;
    case frame::ReplyKind::StatusOk: StatusBar.SetPanel(2, text::kStatusOk); break;
    case frame::ReplyKind::DataReply: DataReply(r.blockChar, r.records); break;
    case frame::ReplyKind::Unrecognised: ReportUnrecognised(); break;
  }
  return Arrival::Reply;
}

void FormMain::DataReply(char blockChar, const QByteArray& records) {
  StatusBar.SetPanel(2, text::kProcessing);
  m_logFailed = false;
  BlockChar = blockChar;
  AckCheck = frame::AcknowledgementCheck(DeviceId(), BlockChar);
  const quint64 abandonedBefore = m_abandoned;
  // A single character left by the reply before was its unexamined last one.
  if (RecordBuffer.size() == 1) RecordBuffer.clear();
  RecordBuffer.append(records);
  if (!TakeRecords()) return;

  if (HoldsIncompleteRecord()) {
    // The rest may still be on its way: let later arrivals in until it is here, the text is
    // given up, the link goes, or the wait runs out.
    ++m_waitingReplies;
    {
      Socket::NestedDelivery nested(*m_socket);
      m_services.platform.WaitUntil(
          [&] {
            return !HoldsIncompleteRecord() || m_abandoned != abandonedBefore || m_logFailed ||
                   m_socket->State() != Socket::sckConnected;
          },
          kContinuationWait);
    }
    --m_waitingReplies;
  }
  if (m_logFailed || m_abandoned != abandonedBefore) return;
  if (m_socket->State() != Socket::sckConnected) return;
  // What may still be pending is the start of a record that the next reply completes; the
  // exchange counts it as delivered only with that reply.
  DropNonRecordText();

  OutFrame = frame::DataAcknowledgement(DeviceId(), blockChar);
  SendFrame(OutFrame);
  StatusBar.SetPanel(2, {});
  m_timerDnld->SetInterval(int(kNextDataRequest.count()));
}

bool FormMain::HoldsIncompleteRecord() const {
  const auto [stx, etx] = FindRecord(RecordBuffer);
  return stx >= 0 && etx < 0;
}

bool FormMain::TakeRecords() {
  do {
    TakeOneRecord();
    if (m_logFailed) return false;
    m_services.platform.DoEvents();
  } while (RecordBuffer.size() > 1 && FindRecord(RecordBuffer).second >= 0);

  if (HoldsIncompleteRecord() &&
      RecordBuffer.size() - FindRecord(RecordBuffer).first > kMaxPendingRecord) {
    AbandonPending(RecordBuffer);
  }
  return true;
}

bool FormMain::TakeOneRecord() {
  const auto [stx, etx] = FindRecord(RecordBuffer);
  if (stx < 0 || etx < 0) return false;
  CurrentRecord = RecordBuffer.mid(stx, etx - stx + 1);
  CurrentRecord.replace(' ', '.');
  m_services.platform.DoEvents();

  FormatData(CurrentRecord);
  if (!WriteLogRecord(CurrentRecord)) {
    LogWriteFailed();
    return false;
  }
  AppendToTerminal(txtout(), (BadRecord ? text::kBadPrefix : QStringLiteral(" ")) +
                                 QString::fromLatin1(CurrentRecord) + text::kCrLf);
  // The count starts again at 0 past its largest value rather than overflow.
  RecordCount = RecordCount == std::numeric_limits<qint32>::max() ? 0 : RecordCount + 1;
  StatusBar.SetPanel(3, text::kRecords + QString::number(RecordCount));
  FormOutput.SetCaption(text::kRawCaptionRecords + QString::number(RecordCount) +
                        text::kRawCaptionDevice + cbDeviceID.Text());
  RecordBuffer.remove(0, etx + 1);
  return true;
}

void FormMain::DropNonRecordText() {
  // A lone STX may be the start of a record whose rest follows; it is kept until then.
  if (RecordBuffer.contains(STX)) return;
  // The one character after a reply's last record is not examined; more text without a record
  // start can never become a record, so it is shown rather than kept.
  if (RecordBuffer.size() > 1) {
    AppendToTerminal(txtout(), text::kErrorPrefix + Shown(RecordBuffer) + text::kCrLf);
  }
  RecordBuffer.clear();
}

void FormMain::ReportUnrecognised() {
  m_dataReplyOpen = false;
  AbandonPending(RecordBuffer);
}

void FormMain::AbandonPending(const QByteArray& shown) {
  AppendToTerminal(txtout(), text::kErrorPrefix + Shown(shown) + text::kCrLf);
  if (!RecordBuffer.isEmpty()) ++m_abandoned;
  RecordBuffer.clear();
  m_dataReplyOpen = false;
}

bool FormMain::WriteLogRecord(const QByteArray& record) {
  QString failure;
  const auto result = m_log->WriteRecord(record, BadRecord, &failure);
  if (result != logging::RecordLog::WriteResult::Failed) return true;
  m_logFailure = failure;
  return false;
}

void FormMain::LogWriteFailed() {
  // The reply is not acknowledged: the exchange keeps its records until the log takes them.
  m_logFailed = true;
  RecordBuffer.clear();
  m_dataReplyOpen = false;
  if (CmdStop.Enabled()) CmdStop_Click();
  m_services.dialogs.MessageBox(text::kLogWriteFailed.arg(m_log->Path(), m_logFailure),
                                Dialogs::Icon::Warning, text::kTitle);
}

void FormMain::ClosingSteps(Arrival arrival) {
  if (StopRequested) {
    m_heartBeatTimer->SetEnabled(true);
    CmdDisconnect.SetEnabled(true);
    StatusBar.SetPanel(1, {});
    StopDone = true;
  } else if (CmdStop.Enabled() && arrival == Arrival::Reply && m_waitingReplies == 0) {
    // Only a whole reply asks for the next request; the rest of a reply, or a reply that is
    // still waiting for its rest, must not bring a second request while one is outstanding.
    m_timerDnld->SetEnabled(true);
  }
}

}  // namespace vorlan
