#pragma once

#include <QByteArray>

#include <chrono>
#include <deque>
#include <vector>

#include "support/virtual_platform.h"
#include "link/frame.h"

namespace vorlan {

// A scripted exchange on the far end of a VirtualSocket: it answers each request after a short
// delay, data requests from a queue of prepared replies (buffer-empty when the queue is empty),
// and closes the link after a disconnect request. Every request it got is kept.
class FakeExchange {
 public:
  FakeExchange(VirtualPlatform& platform, VirtualSocket& socket, QByteArray deviceId = "1")
      : m_platform(platform), m_socket(socket), m_id(std::move(deviceId)) {
    QObject::connect(&socket, &VirtualSocket::Sending,
                     [this](const QByteArray& bytes) { Received(bytes); });
  }

  // A data reply with this block character and records, and `lastChar` after them; each data
  // request takes the next.
  void QueueReply(char block, const QByteArray& records) {
    m_replies.push_back(QByteArray("\x16" "2000010") + m_id.left(1) + block + records + lastChar);
  }
  // Sent as it stands, split into pieces, each a separate arrival 1 ms apart.
  void QueueRaw(std::vector<QByteArray> pieces) { m_raw.push_back(std::move(pieces)); }

  static QByteArray Status(const QByteArray& id, char result) {
    QByteArray body = QByteArray("3000030") + id + result;
    return QByteArray(1, frame::SYN) + body + char(frame::CheckByte(body));
  }

  std::chrono::milliseconds delay{10};
  QByteArray lastChar = "z";
  bool silent = false;
  std::vector<QByteArray> requests;
  std::vector<std::chrono::milliseconds> requestTimes;
  int DataRequests() const { return Count('1'); }
  int StatusRequests() const { return Count('5'); }
  int Acks() const { return Count('4'); }

 private:
  int Count(char type) const {
    int n = 0;
    for (const QByteArray& r : requests) n += r.size() > 1 && r[1] == type;
    return n;
  }

  void Send(std::vector<QByteArray> pieces) {
    auto when = delay;
    for (QByteArray& piece : pieces) {
      m_platform.At(when, [this, piece] { m_socket.PeerSend(piece); });
      when += std::chrono::milliseconds(1);
    }
  }

  void Received(const QByteArray& bytes) {
    requests.push_back(bytes);
    requestTimes.push_back(m_platform.Elapsed());
    if (silent || bytes.size() < 2) return;
    switch (bytes[1]) {
      case '5':
        Send({Status(m_id, '2')});
        break;
      case '1':
        if (!m_raw.empty()) {
          Send(m_raw.front());
          m_raw.pop_front();
        } else if (!m_replies.empty()) {
          Send({m_replies.front()});
          m_replies.pop_front();
        } else {
          Send({Status(m_id, '1')});
        }
        break;
      case '6':
        m_platform.At(delay, [this] { m_socket.PeerClose(); });
        break;
      default:
        break;
    }
  }

  VirtualPlatform& m_platform;
  VirtualSocket& m_socket;
  QByteArray m_id;
  std::deque<QByteArray> m_replies;
  std::deque<std::vector<QByteArray>> m_raw;
};

}  // namespace vorlan
