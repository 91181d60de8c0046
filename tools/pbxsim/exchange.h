#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <chrono>
#include <deque>
#include <optional>
#include <vector>

#include "random.h"
#include "request_stream.h"

namespace pbxsim {

// How the exchange answers, and how it misbehaves. Shares are probabilities per request.
struct Behaviour {
  int recordsPerReply = 4;
  std::optional<char> deviceId;          // answer with this ID instead of the request's
  double busyShare = 0;                  // port-busy (with trailing bytes) instead of an answer
  double checksumErrorShare = 0;         // checksum-error although the request was sound
  double garbageShare = 0;               // random bytes instead of an answer
  double splitRecordShare = 0;           // a data reply's last record continues in a second reply
  int splitWrites = 1;                   // data replies written in this many pieces, cut at random
  std::vector<int> splitAt;              // cut data replies at these offsets instead
  bool splitStatusReplies = false;       // cut status replies too
  std::chrono::milliseconds pause{100};  // between the pieces, and before a continuation reply
  double controlBytesShare = 0;          // records whose text holds SYN, STX, CR, LF, SYN "2"
  std::optional<char> lastChar;          // this byte as every data reply's last character
  double ignoreShare = 0;                // data requests that get no answer at all
  double closeInRecordShare = 0;         // data replies cut inside a record, then the link closed
  int endlessRecordAfter = -1;           // after this many answers, a record with no ETX
  int closeAfter = -1;     // close the connection after this many answers (0: at once)
  int silentAfter = -1;    // answer nothing more after this many answers
  int closeBeforeAck = 0;  // close right after a connection's Nth data reply, its ack unread
  std::optional<std::chrono::milliseconds> gapAfterEtx;  // pause in data replies after an ETX
};

// What the exchange does, in order. The server carries each one out.
struct Action {
  enum class Kind {
    Received,  // a request frame came in (bytes, label)
    Garbage,   // bytes that start no request came in
    Send,      // write bytes after waiting delay
    Deliver,   // a record has been acknowledged and leaves the queue
    Close,     // close the connection once everything before it is written
    Note,      // something worth telling the user (label)
  };
  Kind kind = Kind::Note;
  QByteArray bytes;
  QString label;
  std::chrono::milliseconds delay{0};
};

// The exchange's side of the link, with no socket: request bytes in, actions out.
//
// Records leave the queue only when the reply that carries them is acknowledged, matched by its
// block character. Until then, each data request gets the same reply again, byte for byte.
// A record split across two replies is delivered when the second reply is acknowledged; an
// acknowledgement covers every unacknowledged reply sent before it too, since the tool answers
// the two replies of a split record with the later one's block character. When the connection
// goes, unacknowledged replies are forgotten and their records go out whole on the next one;
// when the exchange cut it before reading an acknowledgement, the first data reply of the next
// one carries exactly the records of the answer that was cut.
class Exchange {
 public:
  Exchange(Behaviour behaviour, quint32 seed);

  void Enqueue(const QByteArray& record);

  std::vector<Action> Open();
  std::vector<Action> Receive(QByteArrayView bytes);
  void Closed();

  qsizetype Queued() const { return static_cast<qsizetype>(m_queue.size()); }
  qsizetype Unacknowledged() const { return static_cast<qsizetype>(m_outstanding.size()); }

 private:
  struct SentReply {
    QByteArray frame;
    char blockChar = 0;
    int completes = 0;  // queued records whose ETX this reply carries
    bool continuation = false;
  };

  void Handle(const QByteArray& frame, std::vector<Action>& out);
  bool Misbehave(char deviceId, std::vector<Action>& out);
  bool Answer(std::vector<Action>& out, const QByteArray& frame, const QString& label, bool isData,
              std::chrono::milliseconds delay = {});
  void SendNewReply(char deviceId, std::vector<Action>& out);
  void CutBeforeAck(std::vector<Action>& out);
  void Resend(std::vector<Action>& out);
  void Acknowledge(char blockChar, std::vector<Action>& out);
  char NextBlockChar();
  std::vector<qsizetype> CutPoints(qsizetype size);
  qsizetype CutAfterEtx(const QByteArray& frame);
  bool Silent() const;

  Behaviour m_behaviour;
  Random m_random;
  std::deque<QByteArray> m_queue;
  std::vector<SentReply> m_outstanding;
  RequestStream m_stream;
  int m_blockCounter = 0;
  int m_answers = 0;      // in this connection
  int m_dataReplies = 0;  // in this connection
  int m_repeat = 0;       // queued records of an answer cut off before its acknowledgement
  bool m_closing = false;
};

}  // namespace pbxsim
