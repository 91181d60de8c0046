#include "server.h"

#include <QDateTime>
#include <QTcpSocket>

namespace pbxsim {

Server::Server(Exchange& exchange, Transcript& transcript, Printer print, QObject* parent)
    : QObject(parent), m_exchange(exchange), m_transcript(transcript), m_print(std::move(print)) {
  m_pauseTimer.setSingleShot(true);
  m_pauseTimer.setTimerType(Qt::PreciseTimer);
  connect(&m_pauseTimer, &QTimer::timeout, this, &Server::Pump);
  connect(&m_server, &QTcpServer::newConnection, this, &Server::OnNewConnection);
}

bool Server::Listen(const QHostAddress& address, quint16 port, QString* error) {
  if (m_server.listen(address, port)) return true;
  *error = m_server.errorString();
  return false;
}

void Server::OnNewConnection() {
  while (QTcpSocket* socket = m_server.nextPendingConnection()) {
    const QString peer =
        QStringLiteral("%1:%2").arg(socket->peerAddress().toString()).arg(socket->peerPort());
    if (m_socket) {
      m_print(QStringLiteral("-- turning away %1: a connection is already being served").arg(peer));
      socket->close();
      socket->deleteLater();
      continue;
    }
    m_socket = socket;
    // Each write leaves as its own segment, so a reply cut in pieces arrives in pieces.
    socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    connect(socket, &QTcpSocket::readyRead, this, &Server::OnReadyRead);
    connect(socket, &QTcpSocket::disconnected, this, &Server::OnDisconnected);
    m_print(QStringLiteral("-- connected: %1").arg(peer));
    m_transcript.Event(QDateTime::currentDateTimeUtc(), QStringLiteral("connected"), peer);
    Carry(m_exchange.Open());
  }
}

void Server::OnReadyRead() {
  if (!m_socket || sender() != m_socket) return;
  Carry(m_exchange.Receive(m_socket->readAll()));
}

void Server::OnDisconnected() {
  if (!m_socket || sender() != m_socket) return;
  m_exchange.Closed();
  m_writes.clear();
  m_pauseTimer.stop();
  m_socket->deleteLater();
  m_socket = nullptr;
  m_print(QStringLiteral("-- closed (%1 queued)").arg(m_exchange.Queued()));
  m_transcript.Event(QDateTime::currentDateTimeUtc(), QStringLiteral("closed"));
}

void Server::Carry(const std::vector<Action>& actions) {
  const QDateTime now = QDateTime::currentDateTimeUtc();
  for (const Action& action : actions) {
    switch (action.kind) {
      case Action::Kind::Received:
      case Action::Kind::Garbage:
        Show(QStringLiteral("rx"), action.bytes, action.label);
        m_transcript.Frame(now, true, action.label, action.bytes);
        break;
      case Action::Kind::Send:
        m_writes.push_back({action.bytes, action.label, action.delay});
        break;
      case Action::Kind::Close: m_writes.push_back({{}, action.label, {}, true}); break;
      case Action::Kind::Deliver:
        ++m_delivered;
        m_print(QStringLiteral("== delivered %1").arg(SpacedHex(action.bytes)));
        m_transcript.Delivered(now, action.bytes);
        break;
      case Action::Kind::Note:
        m_print(QStringLiteral("-- %1").arg(action.label));
        m_transcript.Event(now, QStringLiteral("note"), action.label);
        break;
    }
  }
  Pump();
}

void Server::Pump() {
  while (m_socket && !m_writes.empty() && !m_pauseTimer.isActive()) {
    if (m_writes.front().delay.count() > 0 && !m_writes.front().waited) {
      m_writes.front().waited = true;
      m_pauseTimer.start(m_writes.front().delay);
      return;
    }
    const Write next = m_writes.front();
    m_writes.pop_front();
    if (next.close) {
      m_print(QStringLiteral("-- %1").arg(next.label));
      m_transcript.Event(QDateTime::currentDateTimeUtc(), QStringLiteral("closing"), next.label);
      m_writes.clear();
      m_socket->disconnectFromHost();  // emits disconnected, perhaps right away
      return;
    }
    m_socket->write(next.bytes);
    Show(QStringLiteral("tx"), next.bytes, next.label);
    m_transcript.Frame(QDateTime::currentDateTimeUtc(), false, next.label, next.bytes);
  }
}

void Server::Show(const QString& direction, const QByteArray& bytes, const QString& label) {
  m_print(QStringLiteral("%1 %2  | %3").arg(direction, SpacedHex(bytes), label));
}

}  // namespace pbxsim
