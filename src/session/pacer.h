#pragma once

#include <QByteArray>
#include <QObject>

#include <chrono>
#include <deque>
#include <functional>
#include <memory>
#include <vector>

namespace vorlan {
class Platform;
class Timer;
}  // namespace vorlan

namespace vorlan::session {

class Connection;

// The pace of the lamps, an option the window turns on: each frame out and each arrival in
// waits this long (its lamp is lit meanwhile) before it is written or read. With no pace a
// frame is written and an arrival read at once.
class Pacer : public QObject {
  Q_OBJECT

 public:
  Pacer(Platform& platform, Connection& connection, int& handlers);
  ~Pacer() override;
  Q_DISABLE_COPY_MOVE(Pacer)

  void SetPace(std::chrono::milliseconds pace);
  bool Paced() const { return m_pace.count() > 0; }

  // Writes `frame` after its pace, on this connection only: `mayWrite`, asked at its time, may
  // hold it back; `then` runs once it is written.
  void Send(QByteArray frame, std::function<bool()> mayWrite = {},
            std::function<void()> then = {});
  // An arrival waits its pace; ArrivalDue brings it back, unless the link went meanwhile.
  void HoldArrival(QByteArray text, std::vector<qsizetype> pieces);
  bool ArrivalWaiting() const { return m_arrivalWaiting; }
  bool FramesWaiting() const { return !m_outgoing.empty(); }

 signals:
  // A frame waits its pace (on), then is written or dropped (off); the same for arrivals.
  void TxPacing(bool on);
  void RxPacing(bool on);
  void FrameSent(const QByteArray& frame);
  void ArrivalDue(const QByteArray& text, const std::vector<qsizetype>& pieces);
  // An arrival of a connection that ended while it waited was dropped.
  void ArrivalDropped();
  // A paced frame was written or dropped: the step it belonged to may have ended.
  void FrameDone();

 private:
  struct Outgoing {
    std::unique_ptr<Timer> pace;
    QByteArray frame;
    quint64 connection = 0;
    std::function<bool()> mayWrite;
    std::function<void()> then;
  };
  void Write(Outgoing& out);
  void TxTimer_Timer(Outgoing* out);
  void RxTimer_Timer();

  Platform& m_platform;
  Connection& m_connection;
  int& m_handlers;
  std::chrono::milliseconds m_pace{0};
  std::deque<std::unique_ptr<Outgoing>> m_outgoing;
  std::unique_ptr<Timer> m_rxTimer;
  QByteArray m_arrival;
  std::vector<qsizetype> m_arrivalPieces;
  bool m_arrivalWaiting = false;
  quint64 m_arrivalConnection = 0;
};

}  // namespace vorlan::session
