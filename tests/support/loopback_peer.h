#pragma once

#include <QHostAddress>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>

#if !defined(Q_OS_WIN)
#include <sys/socket.h>
#endif

// The far end of a real loopback connection, served on the test's own event loop.
class LoopbackPeer : public QObject {
 public:
  explicit LoopbackPeer(const QHostAddress& address = QHostAddress::LocalHost) {
    m_server.listen(address, 0);
    QObject::connect(&m_server, &QTcpServer::newConnection, this, [this] {
      m_connection = m_server.nextPendingConnection();
      QObject::connect(m_connection, &QTcpSocket::readyRead, this,
                       [this] { m_received.append(m_connection->readAll()); });
    });
  }

  quint16 Port() const { return m_server.serverPort(); }
  bool Listening() const { return m_server.isListening(); }
  bool Connected() const {
    return m_connection && m_connection->state() == QAbstractSocket::ConnectedState;
  }
  void Send(const QByteArray& bytes) {
    m_connection->write(bytes);
    m_connection->flush();
  }
  void Close() {
    m_connection->flush();
    m_connection->disconnectFromHost();
  }
  // Ends the connection with a reset (RST) instead of a FIN, as a crashed exchange does.
  void Reset() {
#if !defined(Q_OS_WIN)
    const linger abrupt{1, 0};
    ::setsockopt(int(m_connection->socketDescriptor()), SOL_SOCKET, SO_LINGER, &abrupt,
                 sizeof abrupt);
#endif
    m_connection->abort();
  }
  const QByteArray& Received() const { return m_received; }

 private:
  QTcpServer m_server;
  QPointer<QTcpSocket> m_connection;
  QByteArray m_received;
};
