#include "session/connection.h"

#include "platform/platform.h"
#include "platform/timer.h"
#include "session/running.h"
#include "session/timings.h"

namespace vorlan::session {

Connection::Connection(Platform& platform, int& handlers)
    : m_handlers(handlers),
      m_socket(platform.CreateSocket()),
      m_connectTimer(platform.CreateTimer()),
      m_closeTimer(platform.CreateTimer()),
      m_silenceTimer(platform.CreateTimer()) {
  m_socket->SetRemotePort(kPbxPort);
  m_silenceTimer->SetInterval(1000);
  connect(m_socket.get(), &Socket::ConnectEvent, this, &Connection::Socket_Connect);
  connect(m_socket.get(), &Socket::CloseEvent, this, [this] {
    StopWatching();
    emit PeerClosed();
  });
  connect(m_socket.get(), &Socket::ErrorEvent, this,
          [this](int number, const QString& description) {
            StopWatching();
            emit Failed(number, description);
          });
  connect(m_socket.get(), &Socket::DataArrivalEvent, this, [this] {
    m_silentSeconds = 0;
    emit Arrival(Closed());
  });
  connect(m_connectTimer.get(), &Timer::Tick, this, [this] {
    const Running running(m_handlers);
    m_connectTimer->SetEnabled(false);
    emit LimitPassed(Limit::Connect);
  });
  connect(m_closeTimer.get(), &Timer::Tick, this, [this] {
    const Running running(m_handlers);
    m_closeTimer->SetEnabled(false);
    emit LimitPassed(Limit::Close);
  });
  connect(m_silenceTimer.get(), &Timer::Tick, this, &Connection::SilenceTick);
}

Connection::~Connection() { m_hold.reset(); }

bool Connection::Open(const QString& host) {
  if (!Closed()) return false;
  m_socket->SetRemoteHost(host);
  m_socket->SetRemotePort(kPbxPort);
  ++m_number;
  m_accepted = false;
  if (m_limits.connect.count() > 0) {
    m_connectTimer->SetInterval(int(m_limits.connect.count()));
    m_connectTimer->SetEnabled(true);
  }
  m_socket->Connect();
  return true;
}

void Connection::Socket_Connect() {
  m_accepted = true;
  // A peer that accepts and at once closes or fails: its Close or Error event follows.
  if (!Linked()) return;
  m_connectTimer->SetEnabled(false);
  m_silentSeconds = 0;
  m_silenceTimer->SetEnabled(m_limits.silence.count() > 0);
  emit Up();
}

void Connection::SilenceTick() {
  const Running running(m_handlers);
  if (++m_silentSeconds * 1000LL < m_limits.silence.count()) return;
  m_silenceTimer->SetEnabled(false);
  emit LimitPassed(Limit::Silence);
}

void Connection::Closing() {
  if (m_limits.close.count() <= 0 || m_closeTimer->Enabled()) return;
  m_closeTimer->SetInterval(int(m_limits.close.count()));
  m_closeTimer->SetEnabled(true);
}

void Connection::Drop() {
  ++m_number;
  m_socket->Close();
  StopWatching();
}

void Connection::StopWatching() {
  m_connectTimer->SetEnabled(false);
  m_closeTimer->SetEnabled(false);
  m_silenceTimer->SetEnabled(false);
}

void Connection::HoldArrivals(bool hold) {
  if (!hold) {
    m_hold.reset();
  } else if (!m_hold) {
    m_hold = std::make_unique<Socket::HoldDelivery>(*m_socket);
  }
}

}  // namespace vorlan::session
