#pragma once

#include "platform/socket.h"
#include "support/test_platform.h"

#include <QPointer>

#include <map>
#include <vector>

namespace vorlan {

class VirtualSocket;

// The platform in virtual time, for tests: a queue of tasks ordered by due time. Time moves only
// when a wait has nothing left to do now, and then jumps straight to the next due task, so the
// 2500 ms heartbeat or an hour of log switching runs in microseconds and the same way each time.
class VirtualPlatform : public TestPlatform {
 public:
  explicit VirtualPlatform(QDateTime start = QDateTime(QDate(2026, 1, 1), QTime(12, 0)));
  ~VirtualPlatform() override;

  std::unique_ptr<Timer> CreateTimer() override;
  std::unique_ptr<Socket> CreateSocket() override;
  void DoEvents() override;
  bool WaitUntil(const std::function<bool()>& done,
                 std::chrono::milliseconds limit = kForever) override;
  QDateTime Now() const override;
  void Post(QObject* context, std::function<void()> task) override;

  // For tests. Runs `task` once `delay` of virtual time has passed from now.
  void At(std::chrono::milliseconds delay, std::function<void()> task);
  // Lets `duration` of virtual time pass, running everything that falls due.
  void RunFor(std::chrono::milliseconds duration);
  // Virtual time since the platform was made.
  std::chrono::milliseconds Elapsed() const { return m_now; }
  // Waits that could never end: nothing was left to run and the condition did not hold.
  int Stalls() const { return m_stalls; }
  // While `inHandler` holds, the event pump must not be entered: a wait there would nest an event
  // loop inside a handler. Each time it is, NestedPumps() counts it.
  void ForbidPumpWhile(std::function<bool()> inHandler) { m_forbidPump = std::move(inHandler); }
  int NestedPumps() const { return m_nestedPumps; }
  void ForgetNestedPumps() { m_nestedPumps = 0; }
  // The sockets made so far, in order.
  VirtualSocket* SocketAt(size_t index) const;

  // Timers use these; they are not for tests.
  quint64 Schedule(std::chrono::milliseconds due, QObject* context, std::function<void()> task);
  void Cancel(quint64 id);

 private:
  struct Task {
    QPointer<QObject> context;
    bool hasContext = false;
    std::function<void()> run;
  };
  // Key: due time, then order of scheduling.
  using Key = std::pair<std::chrono::milliseconds, quint64>;

  bool RunOneDue(quint64 seqLimit);
  // What is pending now, run as the event loop would (the test driving time, not a pump).
  void RunPending();
  bool AdvanceTo(std::chrono::milliseconds until);

  QDateTime m_start;
  std::chrono::milliseconds m_now{0};
  quint64 m_seq = 0;
  std::map<Key, Task> m_tasks;
  std::map<quint64, Key> m_keyOf;
  int m_stalls = 0;
  std::function<bool()> m_forbidPump;
  int m_nestedPumps = 0;
  std::vector<QPointer<VirtualSocket>> m_sockets;
};

// A socket whose far end the test plays: it sees what the program sent and decides when the
// peer accepts, refuses, sends or closes. Each Peer call reports at the current virtual time.
class VirtualSocket final : public Socket {
  Q_OBJECT

 public:
  explicit VirtualSocket(VirtualPlatform& platform);

  void Connect() override;
  void Close() override;
  bool SendData(const QByteArray& bytes) override;

  void PeerAccept();
  void PeerRefuse(int number);
  void PeerSend(const QByteArray& bytes);
  void PeerClose();
  void PeerFail(int number, const QString& description);

  int ConnectAttempts() const { return m_connectAttempts; }
  QString AttemptedHost() const { return m_attemptedHost; }
  int AttemptedPort() const { return m_attemptedPort; }
  // Everything the program has sent; TakeSent empties it.
  const QByteArray& Sent() const { return m_sent; }
  QByteArray TakeSent();

 signals:
  // Emitted for every SendData that went out; a scripted peer can answer from here.
  void Sending(const QByteArray& bytes);

 private:
  QByteArray m_sent;
  int m_connectAttempts = 0;
  QString m_attemptedHost;
  int m_attemptedPort = 0;
};

}  // namespace vorlan
