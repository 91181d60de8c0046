#include "link/reply_reader.h"

#include "link/frame.h"

#include <algorithm>
#include <utility>

namespace vorlan::link {
namespace {

using frame::ETX;
using frame::STX;
using frame::SYN;

constexpr QByteArrayView kStatusCode = "000030";
constexpr qsizetype kStatusLength = 11;
constexpr qsizetype kPortBusyLength = 10;

// The status reply's character at `pos` (0-based, from 2 to 9) may be `c`.
bool StatusCharFits(qsizetype pos, char c, char deviceId) {
  if (pos < 8) return c == kStatusCode[pos - 2];
  if (pos == 8) return c == deviceId;
  return c >= '1' && c <= '4';
}

// A whole status reply at the start of `text`: its length, or 0.
qsizetype LeadingStatusReply(QByteArrayView text, char deviceId) {
  if (text.size() < kPortBusyLength || text[0] != SYN || text[1] != '3') return 0;
  for (qsizetype i = 2; i < kPortBusyLength; ++i) {
    if (!StatusCharFits(i, text[i], deviceId)) return 0;
  }
  const quint8 check = frame::CheckByte(text.sliced(1, kStatusLength - 2));
  const bool checked = text.size() >= kStatusLength && quint8(text[10]) == check;
  if (text[9] == '4') return checked ? kStatusLength : kPortBusyLength;
  return checked ? kStatusLength : 0;
}

ReplyReader::Event Make(ReplyReader::EventKind kind, QByteArray bytes = {}) {
  ReplyReader::Event e{kind, std::move(bytes), 0, false, false, -1, 0, {}};
  e.size = e.bytes.size();
  return e;
}

}  // namespace

void ReplyReader::Feed(QByteArrayView arrival, char deviceId, std::vector<Event>& out) {
  if (arrival.isEmpty()) return;
  if (m_mayEnd) {
    m_mayEnd = false;
    // A reply starts: the one before had no last character.
    if (arrival[0] == SYN) EndReply(out);
  }
  if ((m_state == State::Status || m_state == State::DataHeader) && arrival[0] == SYN) {
    // A frame cut short: a status reply holds no SYN after its first character, and a header
    // whose rest begins with SYN is taken for a reply of its own.
    StartGarbage(m_frame);
    EndGarbage(out);
  }
  if (AwaitingContinuation()) {
    m_openAtBoundary = false;
    // While a record waits for its rest, a whole status reply may come between (the heartbeat
    // of a pending stop), and the exchange may complete the record in a data reply of its own.
    if (const qsizetype status = LeadingStatusReply(arrival, deviceId)) {
      out.push_back(Make(EventKind::StatusReply, arrival.first(status).toByteArray()));
      m_offset += status;
      m_recordJoined = true;  // the record's text is no longer one span of the stream
      arrival = arrival.sliced(status);
      if (arrival.isEmpty()) {
        m_openAtBoundary = true;
        return;
      }
    }
    if (arrival[0] == SYN && (arrival.size() == 1 || arrival[1] == '2')) {
      m_state = State::ContHeader;
      m_frame.clear();
    }
  }
  for (const char c : arrival) {
    Byte(c, deviceId, out);
    ++m_offset;
  }
  switch (m_state) {
    case State::Garbage: EndGarbage(out); break;
    case State::Junk: EndDataReply(out); break;
    case State::Between: m_mayEnd = true; break;
    case State::SkipRecord: m_openAtBoundary = true; break;
    case State::InRecord:
      // A lone STX may be the reply's last character or a record's start.
      if (m_record.size() == 1 && !m_recordJoined)
        m_mayEnd = true;
      else
        m_openAtBoundary = true;
      break;
    default: break;  // a partial frame, or text being skipped, is held for the next arrival
  }
}

void ReplyReader::Byte(char c, char deviceId, std::vector<Event>& out) {
  switch (m_state) {
    case State::Idle:
      if (c == SYN) {
        m_frame = QByteArray(1, SYN);
        m_state = State::Status;  // decided by the next character
      } else {
        StartGarbage(QByteArrayView(&c, 1));
      }
      return;
    case State::Garbage:
      if (c == SYN) {
        EndGarbage(out);
        Byte(c, deviceId, out);
        return;
      }
      ++m_garbageSize;
      if (m_frame.size() < kMaxShownText) m_frame.append(c);
      return;
    case State::SkipToSyn:
      if (c == SYN) {
        m_state = State::Idle;
        Byte(c, deviceId, out);
      }
      return;
    case State::Status: Status(c, deviceId, out); return;
    case State::DataHeader:
    case State::ContHeader:
      m_frame.append(c);
      if (m_state == State::ContHeader && m_frame.size() == 2 && c != '2') {
        // The lone SYN that ended the last arrival was the open record's own text: it and what
        // follows it go on in the record.
        const QByteArray text = std::exchange(m_frame, {});
        m_state = m_recordSize > 0 ? State::SkipRecord : State::InRecord;
        for (const char b : text) Byte(b, deviceId, out);
        return;
      }
      if (m_frame.size() == frame::kDataHeaderLength) {
        const bool continuation = m_state == State::ContHeader;
        const char block = m_frame.back();
        Event e = Make(EventKind::DataHeader);
        e.blockChar = block;
        e.continuation = continuation;
        out.push_back(std::move(e));
        m_frame.clear();
        if (continuation) {
          m_blocks.append(block);
          m_recordJoined = true;
          m_state = m_recordSize > 0 ? State::SkipRecord : State::InRecord;
        } else {
          m_blocks = QByteArray(1, block);
          m_state = State::Between;
        }
      }
      return;
    case State::Between:
    case State::Junk:
      if (c == STX) {
        m_record = QByteArray(1, STX);
        m_recordStart = m_offset;
        m_recordJoined = false;
        m_state = State::InRecord;
      } else if (m_state == State::Between) {
        m_state = State::Junk;  // the reply's unexamined last character
      } else if (c == SYN) {
        // Text between records is not part of them; a SYN after it starts the next reply.
        EndDataReply(out);
        Byte(c, deviceId, out);
      }
      return;
    case State::InRecord:
      m_record.append(c);
      if (c == ETX) {
        Event e = Make(EventKind::Record, m_record);
        e.continuation = m_recordJoined;
        e.offset = m_recordJoined ? -1 : m_recordStart;
        out.push_back(std::move(e));
        m_record.clear();
        m_recordJoined = false;
        m_state = State::Between;
      } else if (m_record.size() == kMaxRecord) {
        m_recordSize = m_record.size();
        m_state = State::SkipRecord;
      }
      return;
    case State::SkipRecord:
      ++m_recordSize;
      if (c == ETX) {
        m_record.back() = c;
        Event e = Make(EventKind::Record, m_record);
        e.cut = true;
        e.continuation = m_recordJoined;
        e.size = m_recordSize;
        out.push_back(std::move(e));
        m_record.clear();
        m_recordJoined = false;
        m_recordSize = 0;
        m_state = State::Between;
      }
      return;
  }
}

void ReplyReader::Status(char c, char deviceId, std::vector<Event>& out) {
  const qsizetype pos = m_frame.size();
  if (pos == 1) {
    if (c == '2') {
      m_frame.append(c);
      m_state = State::DataHeader;
      return;
    }
    if (c == '3') {
      m_frame.append(c);
      return;
    }
  } else if (pos < kStatusLength - 1 && StatusCharFits(pos, c, deviceId)) {
    m_frame.append(c);
    if (pos == kPortBusyLength - 1 && c == '4') {
      // Port busy: its first 10 characters decide; whatever follows up to the next SYN is not
      // examined.
      out.push_back(Make(EventKind::StatusReply, m_frame));
      m_frame.clear();
      m_state = State::SkipToSyn;
    }
    return;
  } else if (pos == kStatusLength - 1 && quint8(c) == frame::CheckByte(m_frame.sliced(1))) {
    m_frame.append(c);
    out.push_back(Make(EventKind::StatusReply, m_frame));
    m_frame.clear();
    m_state = State::Idle;
    return;
  }
  // Not a reply after all: what was collected is unrecognised text, up to the next SYN.
  if (c == SYN) {
    StartGarbage(m_frame);
    EndGarbage(out);
    Byte(c, deviceId, out);
  } else {
    QByteArray text = m_frame;
    text.append(c);
    StartGarbage(text);
  }
}

void ReplyReader::StartGarbage(QByteArrayView text) {
  m_frame = text.first(std::min(text.size(), kMaxShownText)).toByteArray();
  m_garbageSize = text.size();
  m_state = State::Garbage;
}

void ReplyReader::EndGarbage(std::vector<Event>& out) {
  Event e = Make(EventKind::Unrecognised, m_frame);
  e.size = m_garbageSize;
  out.push_back(std::move(e));
  m_frame.clear();
  m_garbageSize = 0;
  m_state = State::Idle;
}

void ReplyReader::EndDataReply(std::vector<Event>& out) {
  if (m_state == State::Junk) m_ending = Ending::LastChar;
  Event e = Make(EventKind::DataReplyEnd);
  e.blocks = m_blocks;
  out.push_back(std::move(e));
  m_blocks.clear();
  m_state = State::Idle;
}

void ReplyReader::EndReply(std::vector<Event>& out) {
  m_mayEnd = false;
  if (m_state == State::InRecord) {
    m_record.clear();  // the lone STX
    m_ending = Ending::LoneStx;
  } else {
    m_ending = Ending::AfterRecord;
  }
  EndDataReply(out);
}

bool ReplyReader::EndsAsBefore() const {
  if (!m_mayEnd) return false;
  return m_ending == (m_state == State::InRecord ? Ending::LoneStx : Ending::AfterRecord);
}

bool ReplyReader::InDataReply() const {
  switch (m_state) {
    case State::DataHeader:
    case State::ContHeader:
    case State::Between:
    case State::Junk:
    case State::InRecord:
    case State::SkipRecord: return true;
    default: return false;
  }
}

void ReplyReader::GiveUp(std::vector<Event>& out) {
  const QByteArray held = m_frame + m_record;
  const qint64 size = m_state == State::Garbage ? m_garbageSize : held.size();
  const qint64 offset = m_offset;
  const Ending ending = m_ending;
  const bool holding = m_state != State::Idle && m_state != State::SkipToSyn && !held.isEmpty();
  Reset();
  m_offset = offset;
  m_ending = ending;
  if (holding) {
    Event e = Make(EventKind::RecordGivenUp, held.left(kMaxShownText));
    e.size = size;
    out.push_back(std::move(e));
  }
}

}  // namespace vorlan::link
