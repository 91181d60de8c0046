#pragma once

#include <QHostAddress>
#include <QObject>
#include <QTcpServer>
#include <QTimer>

#include <deque>
#include <functional>

#include "exchange.h"
#include "transcript.h"

class QTcpSocket;

namespace pbxsim {

// Puts the exchange on a socket: one connection at a time, on the event thread. Answers are
// written in order; a pause before an answer holds back everything queued after it.
class Server : public QObject {
  Q_OBJECT

 public:
  using Printer = std::function<void(const QString&)>;

  Server(Exchange& exchange, Transcript& transcript, Printer print, QObject* parent = nullptr);

  bool Listen(const QHostAddress& address, quint16 port, QString* error);
  qint64 Delivered() const { return m_delivered; }

 private:
  struct Write {
    QByteArray bytes;
    QString label;
    std::chrono::milliseconds delay{0};
    bool close = false;
    bool waited = false;
  };

  void OnNewConnection();
  void OnReadyRead();
  void OnDisconnected();
  void Carry(const std::vector<Action>& actions);
  void Pump();
  void Show(const QString& direction, const QByteArray& bytes, const QString& label);

  Exchange& m_exchange;
  Transcript& m_transcript;
  Printer m_print;
  QTcpServer m_server;
  QTcpSocket* m_socket = nullptr;
  std::deque<Write> m_writes;
  QTimer m_pauseTimer;
  qint64 m_delivered = 0;
};

}  // namespace pbxsim
