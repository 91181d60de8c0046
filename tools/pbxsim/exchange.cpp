#include "exchange.h"

#include <algorithm>
#include <utility>

#include "link/frame.h"
#include "link/pbx_frames.h"

namespace pbxsim {

using vorlan::frame::RequestKind;
using vorlan::frame::StatusResult;

namespace {

constexpr QByteArrayView kBlockChars = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ";
constexpr qsizetype kLongestGarbage = 16;

Action Note(const QString& text) { return {Action::Kind::Note, {}, text, {}}; }

}  // namespace

Exchange::Exchange(Behaviour behaviour, quint32 seed)
    : m_behaviour(std::move(behaviour)), m_random(seed) {
  m_behaviour.recordsPerReply = std::max(1, m_behaviour.recordsPerReply);
}

void Exchange::Enqueue(const QByteArray& record) {
  if (record.size() < 3 || !m_random.Chance(m_behaviour.controlBytesShare)) {
    m_queue.push_back(record);
    return;
  }
  // Record text may hold any byte but ETX; these once cut records apart.
  static const QByteArray kSyn("\x16");
  static const QByteArray kControl[] = {kSyn, "\x02", "\r\n", kSyn + "2", kSyn + "3000030"};
  QByteArray text = record;
  const qsizetype at = m_random.Between(1, text.size() - 2);
  text.insert(at, kControl[m_random.Between(0, std::size(kControl) - 1)]);
  m_queue.push_back(text);
}

std::vector<Action> Exchange::Open() {
  m_stream.Reset();
  m_outstanding.clear();
  m_answers = 0;
  m_dataReplies = 0;
  m_closing = false;
  if (m_behaviour.closeAfter != 0) return {};
  m_closing = true;
  return {{Action::Kind::Close, {}, QStringLiteral("closing at once"), {}}};
}

void Exchange::Closed() {
  m_stream.Reset();
  m_outstanding.clear();
  m_closing = true;
}

std::vector<Action> Exchange::Receive(QByteArrayView bytes) {
  std::vector<Action> out;
  if (m_closing) return out;
  const int cutAfter = m_behaviour.closeBeforeAck;
  for (RequestStream::Piece& piece : m_stream.Feed(bytes)) {
    const int before = m_dataReplies;
    if (piece.isFrame) {
      Handle(piece.bytes, out);
    } else {
      out.push_back({Action::Kind::Garbage, piece.bytes, QStringLiteral("garbage"), {}});
    }
    if (cutAfter > 0 && before < cutAfter && m_dataReplies >= cutAfter) CutBeforeAck(out);
    if (m_closing) break;
  }
  return out;
}

void Exchange::Handle(const QByteArray& frame, std::vector<Action>& out) {
  const auto request = vorlan::frame::ParseRequest(frame);
  if (!request) return;  // the stream only hands on frames of a request's length
  QString label = QString::fromLatin1(vorlan::frame::RequestKindName(request->kind));
  if (!request->checkOk) label += QStringLiteral(" (check byte wrong)");
  out.push_back({Action::Kind::Received, frame, label, {}});

  const char id = m_behaviour.deviceId.value_or(request->deviceId);
  if (!request->checkOk) {
    Answer(out, vorlan::frame::StatusReply(id, StatusResult::ChecksumError),
           QStringLiteral("checksum-error"), false);
    return;
  }
  switch (request->kind) {
    case RequestKind::Acknowledgement: Acknowledge(request->blockChar, out); return;
    case RequestKind::Disconnect:
      out.push_back({Action::Kind::Close, {}, QStringLiteral("disconnect requested"), {}});
      m_closing = true;
      return;
    case RequestKind::StatusMonitor:
      if (!Misbehave(id, out)) {
        Answer(out, vorlan::frame::StatusReply(id, StatusResult::StatusOk),
               QStringLiteral("status-ok"), false);
      }
      return;
    case RequestKind::Data:
      if (m_repeat > 0 && m_outstanding.empty()) {
        // The tool may have logged a cut answer's records already: they answer the first data
        // request, unchanged and unspoilt, on every connection until they are acknowledged.
        SendNewReply(id, out);
        return;
      }
      if (Misbehave(id, out)) return;
      if (m_random.Chance(m_behaviour.ignoreShare)) {
        out.push_back(Note(QStringLiteral("ignoring this data request")));
        return;
      }
      if (m_behaviour.endlessRecordAfter >= 0 && m_answers == m_behaviour.endlessRecordAfter) {
        // A record that never ends: 256 KiB with no ETX, which the tool must give up.
        ++m_answers;
        out.push_back(
            {Action::Kind::Send,
             vorlan::frame::DataReply(
                 id, '!', QByteArray(1, '\x02') + QByteArray(qsizetype{256} * 1024, 'x'), false),
             QStringLiteral("data-reply (endless record)"),
             {}});
        return;
      }
      if (!m_outstanding.empty()) {
        Resend(out);
      } else if (m_queue.empty()) {
        Answer(out, vorlan::frame::StatusReply(id, StatusResult::BufferEmpty),
               QStringLiteral("buffer-empty"), false);
      } else {
        SendNewReply(id, out);
      }
      return;
  }
}

// The tool has the whole answer and acknowledges it, but the exchange never reads that: nothing
// is delivered, and the next connection starts with these records again.
void Exchange::CutBeforeAck(std::vector<Action>& out) {
  m_repeat = 0;
  for (const SentReply& reply : m_outstanding) m_repeat += reply.completes;
  if (m_closing) return;
  out.push_back({Action::Kind::Close,
                 {},
                 QStringLiteral("closing after data reply %1, before reading its acknowledgement")
                     .arg(m_dataReplies),
                 {}});
  m_closing = true;
}

bool Exchange::Silent() const {
  return m_behaviour.silentAfter >= 0 && m_answers >= m_behaviour.silentAfter;
}

// Decides, once per request, whether the exchange answers it wrongly instead.
bool Exchange::Misbehave(char deviceId, std::vector<Action>& out) {
  if (Silent()) {
    out.push_back(Note(QStringLiteral("not answering")));
    return true;
  }
  if (m_random.Chance(m_behaviour.garbageShare)) {
    QByteArray garbage;
    const qint64 length = m_random.Between(1, kLongestGarbage);
    for (qint64 i = 0; i < length; ++i) garbage.append(static_cast<char>(m_random.Between(0, 255)));
    if (garbage[0] == vorlan::frame::SYN) garbage[0] = '?';
    Answer(out, garbage, QStringLiteral("garbage"), false);
    return true;
  }
  if (m_random.Chance(m_behaviour.busyShare)) {
    Answer(out, vorlan::frame::StatusReply(deviceId, StatusResult::PortBusy) + "\r\n",
           QStringLiteral("port-busy"), false);
    return true;
  }
  if (m_random.Chance(m_behaviour.checksumErrorShare)) {
    Answer(out, vorlan::frame::StatusReply(deviceId, StatusResult::ChecksumError),
           QStringLiteral("checksum-error"), false);
    return true;
  }
  return false;
}

// Right after one of a data reply's ETX, at random; 0 when it has none. The last byte is left
// out: a check byte may happen to be ETX.
qsizetype Exchange::CutAfterEtx(const QByteArray& frame) {
  std::vector<qsizetype> ends;
  for (qsizetype i = vorlan::frame::kDataHeaderLength; i + 1 < frame.size(); ++i) {
    if (frame[i] == vorlan::frame::ETX) ends.push_back(i + 1);
  }
  if (ends.empty()) return 0;
  return ends[m_random.Between(0, static_cast<qint64>(ends.size()) - 1)];
}

std::vector<qsizetype> Exchange::CutPoints(qsizetype size) {
  std::vector<qsizetype> cuts;
  if (!m_behaviour.splitAt.empty()) {
    for (int at : m_behaviour.splitAt) {
      if (at > 0 && at < size) cuts.push_back(at);
    }
  } else {
    const qsizetype wanted = std::min<qsizetype>(m_behaviour.splitWrites - 1, size - 1);
    while (static_cast<qsizetype>(cuts.size()) < wanted) {
      const qsizetype at = m_random.Between(1, size - 1);
      if (std::find(cuts.begin(), cuts.end(), at) == cuts.end()) cuts.push_back(at);
    }
  }
  std::sort(cuts.begin(), cuts.end());
  cuts.erase(std::unique(cuts.begin(), cuts.end()), cuts.end());
  return cuts;
}

// Writes one answer, in pieces when asked to. Returns false when nothing may be sent any more.
bool Exchange::Answer(std::vector<Action>& out, const QByteArray& frame, const QString& label,
                      bool isData, std::chrono::milliseconds delay) {
  if (m_closing || Silent()) return false;
  const bool split = (isData || m_behaviour.splitStatusReplies) &&
                     (m_behaviour.splitWrites > 1 || !m_behaviour.splitAt.empty());
  std::vector<qsizetype> cuts = split ? CutPoints(frame.size()) : std::vector<qsizetype>{};
  // As when TCP has to send the rest of a reply again: a read ends at a record's end.
  const qsizetype gapAt = isData && m_behaviour.gapAfterEtx ? CutAfterEtx(frame) : 0;
  if (gapAt > 0 && std::find(cuts.begin(), cuts.end(), gapAt) == cuts.end()) {
    cuts.insert(std::upper_bound(cuts.begin(), cuts.end(), gapAt), gapAt);
  }
  if (cuts.empty()) {
    out.push_back({Action::Kind::Send, frame, label, delay});
  } else {
    qsizetype from = 0;
    const int pieces = static_cast<int>(cuts.size()) + 1;
    for (int i = 0; i < pieces; ++i) {
      const qsizetype to = i + 1 < pieces ? cuts[i] : frame.size();
      out.push_back({Action::Kind::Send, frame.sliced(from, to - from),
                     QStringLiteral("%1 (piece %2/%3)").arg(label).arg(i + 1).arg(pieces),
                     i == 0          ? delay
                     : from == gapAt ? *m_behaviour.gapAfterEtx
                                     : m_behaviour.pause});
      from = to;
    }
  }
  ++m_answers;
  if (isData) ++m_dataReplies;
  if (m_behaviour.closeAfter >= 0 && m_answers >= m_behaviour.closeAfter) {
    out.push_back(
        {Action::Kind::Close, {}, QStringLiteral("closing after %1 answers").arg(m_answers), {}});
    m_closing = true;
  }
  return true;
}

void Exchange::SendNewReply(char deviceId, std::vector<Action>& out) {
  const auto perReply = static_cast<size_t>(m_behaviour.recordsPerReply);
  const bool repeat = m_repeat > 0;
  const size_t count = std::min(repeat ? static_cast<size_t>(m_repeat) : perReply, m_queue.size());
  QByteArray records;
  for (size_t i = 0; i + 1 < count; ++i) records.append(m_queue[i]);
  const QByteArray& last = m_queue[count - 1];

  // A reply the link is cut after goes whole, so that the tool holds every record it carries.
  const int cutAfter = m_behaviour.closeBeforeAck;
  const bool whole = repeat || (cutAfter > 0 && m_dataReplies + 2 >= cutAfter);
  // The first part must keep at least STX and one more byte: the tool drops a lone leftover byte.
  if (whole || last.size() < 3 || !m_random.Chance(m_behaviour.splitRecordShare)) {
    SentReply reply{{}, NextBlockChar(), static_cast<int>(count), false};
    reply.frame = vorlan::frame::DataReply(deviceId, reply.blockChar, records + last, true);
    if (m_behaviour.lastChar) reply.frame.back() = *m_behaviour.lastChar;
    if (!repeat && m_random.Chance(m_behaviour.closeInRecordShare)) {
      // Cut inside the last record, then gone: nothing of this reply is delivered.
      const qsizetype cut = reply.frame.size() - 1 - m_random.Between(1, last.size() - 2);
      out.push_back({Action::Kind::Send,
                     reply.frame.first(cut),
                     QStringLiteral("data-reply (cut inside a record)"),
                     {}});
      out.push_back({Action::Kind::Close, {}, QStringLiteral("closing inside a record"), {}});
      m_closing = true;
      return;
    }
    if (Answer(out, reply.frame,
               repeat ? QStringLiteral("data-reply (again, after the cut)")
                      : QStringLiteral("data-reply"),
               true)) {
      m_outstanding.push_back(reply);
    }
    return;
  }

  const qsizetype cut = m_random.Between(2, last.size() - 1);
  SentReply head{{}, NextBlockChar(), static_cast<int>(count) - 1, false};
  head.frame = vorlan::frame::DataReply(deviceId, head.blockChar, records + last.first(cut), false);
  if (!Answer(out, head.frame, QStringLiteral("data-reply (last record continues)"), true)) return;
  m_outstanding.push_back(head);

  const size_t extra = std::min(perReply - 1, m_queue.size() - count);
  QByteArray rest = last.sliced(cut);
  for (size_t i = 0; i < extra; ++i) rest.append(m_queue[count + i]);
  SentReply tail{{}, NextBlockChar(), static_cast<int>(1 + extra), true};
  tail.frame = vorlan::frame::DataReply(deviceId, tail.blockChar, rest, true);
  if (m_behaviour.lastChar) tail.frame.back() = *m_behaviour.lastChar;
  // Sent unasked: the tool holds back its acknowledgement until the record is complete.
  if (Answer(out, tail.frame, QStringLiteral("data-reply (continuation)"), true,
             m_behaviour.pause)) {
    m_outstanding.push_back(tail);
  }
}

void Exchange::Resend(std::vector<Action>& out) {
  out.push_back(Note(QStringLiteral("re-sending %1 unacknowledged repl%2")
                         .arg(m_outstanding.size())
                         .arg(m_outstanding.size() == 1 ? "y" : "ies")));
  for (const SentReply& reply : m_outstanding) {
    const auto delay = reply.continuation ? m_behaviour.pause : std::chrono::milliseconds{};
    if (!Answer(out, reply.frame, QStringLiteral("data-reply (again)"), true, delay)) return;
  }
}

void Exchange::Acknowledge(char blockChar, std::vector<Action>& out) {
  const auto acked = std::find_if(m_outstanding.begin(), m_outstanding.end(),
                                  [&](const SentReply& r) { return r.blockChar == blockChar; });
  if (acked == m_outstanding.end()) {
    out.push_back(Note(QStringLiteral("acknowledgement of block %1 matches no reply; ignored")
                           .arg(static_cast<quint8>(blockChar), 2, 16, QLatin1Char('0'))));
    return;
  }
  for (auto it = m_outstanding.begin(); it != acked + 1; ++it) {
    for (int i = 0; i < it->completes; ++i) {
      out.push_back({Action::Kind::Deliver, m_queue.front(), QStringLiteral("delivered"), {}});
      m_queue.pop_front();
    }
  }
  m_outstanding.erase(m_outstanding.begin(), acked + 1);
  m_repeat = 0;
}

char Exchange::NextBlockChar() {
  const int n = m_blockCounter++;
  return kBlockChars[n % kBlockChars.size()];
}

}  // namespace pbxsim
