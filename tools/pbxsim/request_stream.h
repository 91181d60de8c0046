#pragma once

#include <QByteArray>
#include <QByteArrayView>

#include <vector>

namespace pbxsim {

// Cuts the tool's byte stream into request frames. TCP keeps no frame boundaries: a request
// may come in pieces or several in one read. A request is told by its type character; bytes
// that start none are passed on as garbage and the stream picks up again at the next SYN.
// At most one unfinished request (13 bytes) is ever held.
class RequestStream {
 public:
  struct Piece {
    QByteArray bytes;
    bool isFrame = false;  // false: garbage skipped on the way to the next SYN
  };

  std::vector<Piece> Feed(QByteArrayView bytes);
  void Reset() { m_pending.clear(); }
  qsizetype Pending() const { return m_pending.size(); }

 private:
  QByteArray m_pending;
};

}  // namespace pbxsim
