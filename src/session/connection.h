#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

#include <chrono>
#include <memory>
#include <vector>

#include "platform/socket.h"

namespace vorlan {
class Platform;
class Timer;
}  // namespace vorlan

namespace vorlan::session {

// The link: the socket to the exchange, the connection's number (a step of a connection that
// ended stops there), and the limits a session without a person watching keeps: how long an
// attempt, a silence and a close may take. A limit of 0 is none.
class Connection : public QObject {
  Q_OBJECT

 public:
  enum class Limit { Connect, Silence, Close };
  struct Limits {
    std::chrono::milliseconds connect{0};
    std::chrono::milliseconds silence{0};
    std::chrono::milliseconds close{0};
  };

  Connection(Platform& platform, int& handlers);
  ~Connection() override;
  Q_DISABLE_COPY_MOVE(Connection)

  void SetLimits(const Limits& limits) { m_limits = limits; }

  // A connection attempt to `host`, unless the socket is still in use; false then.
  bool Open(const QString& host);
  // The disconnect request is on its way: the exchange has the close limit to end the link.
  void Closing();
  // Ends the connection here: the socket is closed and nothing of it goes on.
  void Drop();
  void Write(const QByteArray& frame) { m_socket->SendData(frame); }
  QByteArray Read(std::vector<qsizetype>* pieces) { return m_socket->GetData(pieces); }

  bool Linked() const { return m_socket->State() == Socket::sckConnected; }
  bool Closed() const { return m_socket->State() == Socket::sckClosed; }
  quint64 Number() const { return m_number; }
  qint64 Unread() const { return m_socket->Unread(); }
  bool HandlerRunning() const { return m_socket->HandlerRunning(); }
  // The exchange accepted the current attempt (its Connect event came), linked or not.
  bool Accepted() const { return m_accepted; }
  // Arrivals wait while a step of the record path is under way.
  void HoldArrivals(bool hold);

 signals:
  void Up();
  void PeerClosed();
  void Failed(int number, const QString& description);
  // An arrival to be read; `closed` when the socket reports closed by then (nothing to read).
  void Arrival(bool closed);
  void LimitPassed(vorlan::session::Connection::Limit limit);

 private:
  void Socket_Connect();
  void SilenceTick();
  void StopWatching();

  int& m_handlers;
  Limits m_limits;
  std::unique_ptr<Socket> m_socket;
  std::unique_ptr<Timer> m_connectTimer;
  std::unique_ptr<Timer> m_closeTimer;
  // Ticks every second while linked; anything that arrives starts the count again.
  std::unique_ptr<Timer> m_silenceTimer;
  int m_silentSeconds = 0;
  quint64 m_number = 0;
  bool m_accepted = false;
  // Destroyed before the socket.
  std::unique_ptr<Socket::HoldDelivery> m_hold;
};

}  // namespace vorlan::session
