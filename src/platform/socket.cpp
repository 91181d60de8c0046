#include "platform/socket.h"

#include "platform/platform.h"

#include <algorithm>

namespace vorlan {

Socket::Socket(Platform& platform) : m_platform(platform) {}

Socket::~Socket() = default;

QByteArray Socket::GetData(std::vector<qsizetype>* pieces) {
  QByteArray bytes;
  bytes.swap(m_unread);
  if (pieces) *pieces = std::move(m_pieces);
  m_pieces.clear();
  if (!bytes.isEmpty()) ReadMore();
  return bytes;
}

void Socket::ReportConnected() {
  m_state = sckConnected;
  Queue({EventKind::Connect, 0, {}});
}

void Socket::ReportReceived(const QByteArray& bytes) {
  if (bytes.isEmpty()) return;
  m_unread.append(bytes);
  m_pieces.push_back(bytes.size());
  // One arrival covers whatever came in before it is delivered.
  const bool pending = std::any_of(m_events.begin(), m_events.end(),
                                   [](const Event& e) { return e.kind == EventKind::DataArrival; });
  if (!pending) Queue({EventKind::DataArrival, 0, {}});
}

void Socket::ReportPeerClosed() {
  m_state = sckClosing;
  Queue({EventKind::Close, 0, {}});
}

void Socket::ReportError(int number, const QString& description) {
  m_state = sckError;
  Queue({EventKind::Error, number, description});
}

void Socket::DiscardReceived() {
  m_unread.clear();
  m_pieces.clear();
  std::erase_if(m_events, [](const Event& e) { return e.kind == EventKind::DataArrival; });
}

void Socket::Queue(Event event) {
  m_events.push_back(std::move(event));
  ScheduleDispatch();
}

bool Socket::MayDeliver() const {
  return m_handlerDepth == 0;
}

void Socket::ScheduleDispatch() {
  if (m_dispatchScheduled || m_events.empty() || !MayDeliver()) return;
  m_dispatchScheduled = true;
  m_platform.Post(this, [this] { Dispatch(); });
}

void Socket::Dispatch() {
  m_dispatchScheduled = false;
  if (m_events.empty() || !MayDeliver()) return;
  Event event = std::move(m_events.front());
  m_events.pop_front();

  ++m_handlerDepth;
  switch (event.kind) {
    case EventKind::Connect: emit ConnectEvent(); break;
    case EventKind::DataArrival:
      // Skipped when an earlier handler already took these bytes.
      if (!m_unread.isEmpty()) emit DataArrivalEvent(m_unread.size());
      break;
    case EventKind::Close: emit CloseEvent(); break;
    case EventKind::Error: emit ErrorEvent(event.number, event.description); break;
  }
  --m_handlerDepth;
  ScheduleDispatch();
}

}  // namespace vorlan
