#include "platform/qt_platform.h"

#include "platform/socket.h"
#include "platform/timer.h"
#include "platform/winsock_errors.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTcpSocket>
#include <QTimer>

#if defined(Q_OS_LINUX)
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace vorlan {
namespace {

// Qt's timers may fire a little early, even precise ones under some dispatchers; this one
// measures its own countdown and waits out any remainder, so a tick is never early.
class QtTimer final : public Timer {
 public:
  QtTimer() {
    m_timer.setSingleShot(true);
    m_timer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&m_timer, &QTimer::timeout, this, [this] { OnTimeout(); });
  }

 protected:
  void StartCountdown() override {
    m_started.start();
    m_timer.start(Interval());
  }
  void StopCountdown() override { m_timer.stop(); }

 private:
  void OnTimeout() {
    const qint64 remainingNs = qint64(Interval()) * 1'000'000 - m_started.nsecsElapsed();
    if (remainingNs > 0) {
      m_timer.start(int((remainingNs + 999'999) / 1'000'000));
      return;
    }
    Expired();
  }

  QTimer m_timer;
  QElapsedTimer m_started;
};

class QtSocket final : public Socket {
  Q_DISABLE_COPY_MOVE(QtSocket)

 public:
  explicit QtSocket(Platform& platform) : Socket(platform) {
    // Qt stops reading from the network while its own buffer is full; together with our cap on
    // unread bytes this bounds what a flooding peer can make us hold.
    m_tcp.setReadBufferSize(qint64{64} * 1024);
    QObject::connect(&m_tcp, &QTcpSocket::connected, this, [this] {
      // Small frames, each waited for by the other side: an acknowledgement and the next request
      // written a moment apart must not wait for the peer's delayed ACK (40 ms a reply).
      m_tcp.setSocketOption(QAbstractSocket::LowDelayOption, 1);
      KeepProbe();
      ReportConnected();
    });
    QObject::connect(&m_tcp, &QTcpSocket::readyRead, this, [this] { ReadMore(); });
    QObject::connect(&m_tcp, &QTcpSocket::disconnected, this, [this] { OnDisconnected(); });
    QObject::connect(&m_tcp, &QTcpSocket::errorOccurred, this,
                     [this](QAbstractSocket::SocketError e) { OnError(e); });
    QObject::connect(&m_tcp, &QTcpSocket::stateChanged, this,
                     [this](QAbstractSocket::SocketState s) { OnStateChanged(s); });
  }

  ~QtSocket() override {
    m_tcp.disconnect(this);
    m_tcp.abort();
    DropProbe();
  }

  void Connect() override {
    if (State() != sckClosed) return;
    SetState(sckResolvingHost);
    m_tcp.connectToHost(RemoteHost(), quint16(RemotePort()));
  }

  void Close() override {
    SetState(sckClosed);
    if (m_tcp.state() == QAbstractSocket::ConnectedState) m_tcp.flush();
    m_tcp.abort();
    DropProbe();
    DiscardReceived();
  }

  bool SendData(const QByteArray& bytes) override {
    if (State() != sckConnected) return false;
    const bool whole = m_tcp.write(bytes) == bytes.size();
    // Out now, not once the event loop comes round: what the step does next (putting a list on
    // disk, say) must not hold up the exchange. A failure shows through the socket's events.
    // To an exchange that has closed its side it waits for the loop, which finds the close
    // first: written now, it would be answered with a reset and the close reported as one.
    if (!PeerEnded()) m_tcp.flush();
    return whole;
  }

 protected:
  void ReadMore() override {
    if (State() != sckConnected && State() != sckClosing) return;
    const qint64 take = std::min<qint64>(UnreadRoom(), m_tcp.bytesAvailable());
    if (take > 0) ReportReceived(m_tcp.read(take));
  }

 private:
  void OnStateChanged(QAbstractSocket::SocketState s) {
    // Only the steps of an attempt are mirrored; connected, closing and closed are reported
    // through their events.
    if (State() == sckResolvingHost && s == QAbstractSocket::ConnectingState) {
      SetState(sckConnecting);
    }
  }

  void OnDisconnected() {
    if (State() == sckConnected) {
      ReadMore();
      ReportPeerClosed();
    }
    DropProbe();
  }

  void OnError(QAbstractSocket::SocketError error) {
    // Qt reads a reset as the end of the stream; the system still knows which it was. A peer
    // that ends the connection in order is a Close, not an error.
    if (error == QAbstractSocket::RemoteHostClosedError) {
      if (State() != sckConnected || !PeerReset()) return;
      ReadMore();
      DropProbe();
      ReportError(wsa::kConnectionReset, QStringLiteral("Connection reset by peer"));
      return;
    }
    if (State() == sckClosed || State() == sckError) return;
    // Qt's own description goes along: where one number stands for several causes, it names
    // the one.
    const bool linked = State() == sckConnected || State() == sckClosing;
    ReportError(WinsockErrorNumber(error, linked), m_tcp.errorString());
  }

  // A second descriptor of the connection, so that its state can still be asked once Qt has
  // closed its own; the connection ends when both are closed.
  void KeepProbe() {
#if defined(Q_OS_LINUX)
    DropProbe();
    const qintptr fd = m_tcp.socketDescriptor();
    if (fd >= 0) m_probe = ::fcntl(int(fd), F_DUPFD_CLOEXEC, 0);
#endif
  }

  void DropProbe() {
#if defined(Q_OS_LINUX)
    if (m_probe >= 0) ::close(m_probe);
    m_probe = -1;
#endif
  }

  // The peer reset the connection (an RST, not a FIN): it is closed without having been shut
  // down in order.
  bool PeerReset() const {
#if defined(Q_OS_LINUX)
    tcp_info info{};
    socklen_t size = sizeof info;
    return m_probe >= 0 && ::getsockopt(m_probe, IPPROTO_TCP, TCP_INFO, &info, &size) == 0 &&
           info.tcpi_state == TCP_CLOSE;
#else
    return false;
#endif
  }

  // The peer has closed its side of the connection, or the connection is gone.
  bool PeerEnded() const {
#if defined(Q_OS_LINUX)
    tcp_info info{};
    socklen_t size = sizeof info;
    return m_probe >= 0 && ::getsockopt(m_probe, IPPROTO_TCP, TCP_INFO, &info, &size) == 0 &&
           info.tcpi_state != TCP_ESTABLISHED;
#else
    return false;
#endif
  }

  QTcpSocket m_tcp;
  int m_probe = -1;
};

}  // namespace

std::unique_ptr<Timer> QtPlatform::CreateTimer() { return std::make_unique<QtTimer>(); }

std::unique_ptr<Socket> QtPlatform::CreateSocket() { return std::make_unique<QtSocket>(*this); }

QDateTime QtPlatform::Now() const { return QDateTime::currentDateTime(); }

void QtPlatform::Post(QObject* context, std::function<void()> task) {
  QMetaObject::invokeMethod(context, std::move(task), Qt::QueuedConnection);
}

}  // namespace vorlan
