#pragma once

#include <QByteArray>
#include <QByteArrayView>

#include <vector>

// Cuts the byte stream from the exchange into replies and records by the protocol's structure.
// Bytes go in one arrival at a time; events come out. No sockets, timers or widgets: one reader
// per connection, reset when the connection ends.
//
// A reply starts with SYN. A status reply is its 11 characters (port-busy: its first 10, and
// whatever follows up to the next SYN). A data reply is its 10-character header, records from
// STX to ETX (every byte between them is record text, SYN included), then at most one
// unexamined character. A data reply is complete at that character, or at the end of the
// arrival when no record is open in it; a record still open at the end of an arrival is
// continued by the next arrival, or by a data reply that the exchange sends to complete it.
namespace vorlan::link {

class ReplyReader {
 public:
  // A record is handed on whole up to this length. A longer one is cut: its first
  // kMaxRecord - 1 bytes and its ETX are handed on (`cut`, `size` its real length), the rest is
  // skipped, and the reply goes on as usual.
  static constexpr qsizetype kMaxRecord = qsizetype{1024} * 1024;
  // Unrecognised text is reported with at most this many of its characters.
  static constexpr qsizetype kMaxShownText = 256;

  enum class EventKind {
    StatusReply,    // `bytes`: the whole status reply (11 characters, port-busy 10)
    DataHeader,     // a data reply starts; `blockChar`; `continuation` when it completes an open
                    // record of the reply before it (sent unasked: it answers no request)
    Record,         // `bytes`: STX through ETX, as received; `offset` of its STX in the stream
                    // unless `continuation` (its text spans a continuation reply's header) or
                    // `cut` (longer than kMaxRecord; `size` is its length on the wire)
    DataReplyEnd,   // acknowledge: `blocks` holds the block characters, oldest first
    Unrecognised,   // `bytes`: the first characters of text that is no reply; `size` its length
    RecordGivenUp,  // `bytes`: the first characters of what GiveUp dropped; `size` its length
  };

  // How the data replies of this connection have ended so far. An exchange either ends every
  // reply with one unexamined character or never does; where a reply stops without one, the
  // reader cannot tell its end from a pause of the network, but the replies before can.
  enum class Ending {
    Unknown,      // no reply has ended yet
    LastChar,     // with a character after the last record (not STX)
    LoneStx,      // with an STX after the last record
    AfterRecord,  // right after the header or the last record's ETX
  };

  struct Event {
    EventKind kind;
    QByteArray bytes;
    char blockChar = 0;
    bool continuation = false;
    bool cut = false;
    qint64 offset = -1;
    qint64 size = 0;
    QByteArray blocks;
  };

  // Reads one arrival. `deviceId` is the device ID character in use.
  void Feed(QByteArrayView arrival, char deviceId, std::vector<Event>& out);

  // A record is open at the end of the last arrival, holding more than its STX: the data reply
  // waits for its rest.
  bool AwaitingContinuation() const {
    return (m_state == State::InRecord || m_state == State::SkipRecord) && m_openAtBoundary;
  }

  // The last arrival ended a data reply where more records could still follow (after its header
  // or a record, or on a lone STX) and no unexamined last character has come. An arrival that
  // starts with SYN ends it; EndReply ends it when nothing more comes.
  bool ReplyMayEnd() const { return m_mayEnd; }
  void EndReply(std::vector<Event>& out);
  // The reply may end where it stopped, and this connection's replies have ended just so: it is
  // most likely whole. Otherwise more of it is due (or the exchange changed its habit).
  bool EndsAsBefore() const;
  Ending LastEnding() const { return m_ending; }

  // A data reply has begun and has not ended or been given up: it awaits its acknowledgement.
  bool InDataReply() const;

  // Bytes read so far on this connection.
  qint64 Consumed() const { return m_offset; }

  // Anything held is dropped, and reported as given up when there was something. For a reply
  // whose rest never came: it is not acknowledged.
  void GiveUp(std::vector<Event>& out);

  // Forgets everything: a new connection starts clean.
  void Reset() { *this = ReplyReader(); }

  // Bytes held between arrivals (a partial frame or an open record).
  qsizetype Held() const { return m_frame.size() + m_record.size(); }

 private:
  enum class State {
    Idle,        // between replies
    Garbage,     // text that is no reply, up to the next SYN
    SkipToSyn,   // after a port-busy reply: ignored up to the next SYN
    Status,      // collecting a status reply
    DataHeader,  // collecting a data reply's header
    Between,     // in a data reply, after its header or a record
    Junk,        // in a data reply, after the character that follows a record
    InRecord,    // in a record
    SkipRecord,  // in a record past kMaxRecord: counted, not kept
    ContHeader,  // collecting the header of a continuation reply
  };

  void Byte(char c, char deviceId, std::vector<Event>& out);
  void Status(char c, char deviceId, std::vector<Event>& out);
  void StartGarbage(QByteArrayView text);
  void EndGarbage(std::vector<Event>& out);
  void EndDataReply(std::vector<Event>& out);

  State m_state = State::Idle;
  QByteArray m_frame;  // the status reply or header being collected; shown garbage
  qint64 m_garbageSize = 0;
  QByteArray m_record;  // the open record
  qint64 m_recordStart = -1;
  bool m_recordJoined = false;
  bool m_openAtBoundary = false;
  bool m_mayEnd = false;
  qint64 m_recordSize = 0;  // of a record being cut, as received
  Ending m_ending = Ending::Unknown;
  QByteArray m_blocks;  // block characters of the open data reply and its continuations
  qint64 m_offset = 0;  // stream position of the byte being read
};

}  // namespace vorlan::link
