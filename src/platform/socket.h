#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

#include <deque>
#include <vector>

namespace vorlan {

class Platform;

// The TCP client socket as the program uses it. Bytes go out and come back unchanged, one per
// character. Its four events are delivered from the event loop, one at a time and in the order
// they happened: while a handler of one socket event runs, or a HoldDelivery scope is open,
// the next socket event is held back until it ends.
class Socket : public QObject {
  Q_OBJECT
  Q_DISABLE_COPY_MOVE(Socket)

 public:
  // Values of State(), as the Windows Sockets control numbers them.
  enum : int {
    sckClosed = 0,
    sckOpen = 1,
    sckListening = 2,
    sckConnectionPending = 3,
    sckResolvingHost = 4,
    sckHostResolved = 5,
    sckConnecting = 6,
    sckConnected = 7,
    sckClosing = 8,  // the peer closed; received bytes can still be read
    sckError = 9,
  };

  // Received bytes held for GetData; beyond this the socket stops reading from the network
  // until the program has taken what it holds, so a flooding peer cannot grow our memory.
  static constexpr qsizetype kMaxUnread = 1 << 20;

  ~Socket() override;

  QString RemoteHost() const { return m_remoteHost; }
  void SetRemoteHost(const QString& host) { m_remoteHost = host; }
  int RemotePort() const { return m_remotePort; }
  void SetRemotePort(int port) { m_remotePort = port; }
  int State() const { return m_state; }

  // Starts a connection attempt to RemoteHost:RemotePort and returns at once. Ignored unless
  // the socket is closed.
  virtual void Connect() = 0;
  // Closes the socket at once; State() is 0 afterwards. Bytes not yet read are dropped.
  virtual void Close() = 0;
  // Queues the bytes for sending. Returns false, sending nothing, unless connected.
  virtual bool SendData(const QByteArray& bytes) = 0;
  // Returns every byte received and not yet read; `pieces`, when given, gets the sizes of the
  // network's reads that they came in, oldest first (an exchange's writes a moment apart come
  // in reads of their own, and where one ends can tell a reply from the next).
  QByteArray GetData(std::vector<qsizetype>* pieces = nullptr);
  // Bytes received and not yet taken by GetData.
  qsizetype Unread() const { return m_unread.size(); }
  // True while a handler of one of the socket's events runs (it may be waiting).
  bool HandlerRunning() const { return m_handlerDepth > 0; }

  // Holds arrivals back while a handler that is not the socket's own (a timer that ends a
  // reply) runs, as if it were one of the socket's.
  class HoldDelivery {
   public:
    explicit HoldDelivery(Socket& socket) : m_socket(socket) { ++m_socket.m_handlerDepth; }
    ~HoldDelivery() {
      --m_socket.m_handlerDepth;
      m_socket.ScheduleDispatch();
    }
    HoldDelivery(const HoldDelivery&) = delete;
    HoldDelivery& operator=(const HoldDelivery&) = delete;

   private:
    Socket& m_socket;
  };

 signals:
  void ConnectEvent();
  void CloseEvent();
  void ErrorEvent(int number, const QString& description);
  void DataArrivalEvent(qint64 bytesTotal);

 protected:
  explicit Socket(Platform& platform);

  void SetState(int state) { m_state = state; }
  // For the implementations: report what the network did. Each queues its event.
  void ReportConnected();
  void ReportReceived(const QByteArray& bytes);
  void ReportPeerClosed();
  void ReportError(int number, const QString& description);
  // Drops unread bytes and any arrival not yet delivered.
  void DiscardReceived();
  qsizetype UnreadRoom() const { return kMaxUnread - m_unread.size(); }
  // GetData made room: the implementation pulls whatever it held back.
  virtual void ReadMore() {}

 private:
  enum class EventKind { Connect, DataArrival, Close, Error };
  struct Event {
    EventKind kind;
    int number = 0;
    QString description;
  };

  void Queue(Event event);
  void ScheduleDispatch();
  void Dispatch();
  bool MayDeliver() const;

  Platform& m_platform;
  QString m_remoteHost;
  int m_remotePort = 0;
  int m_state = sckClosed;
  QByteArray m_unread;
  std::vector<qsizetype> m_pieces;
  std::deque<Event> m_events;
  bool m_dispatchScheduled = false;
  int m_handlerDepth = 0;  // socket-event handlers and HoldDelivery scopes open
};

}  // namespace vorlan
