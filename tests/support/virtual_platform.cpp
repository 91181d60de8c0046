#include "support/virtual_platform.h"

#include "platform/timer.h"
#include "support/loop_guard.h"

#include <algorithm>

namespace vorlan {
namespace {

using std::chrono::milliseconds;

class VirtualTimer final : public Timer {
 public:
  explicit VirtualTimer(VirtualPlatform& platform) : m_platform(platform) {}
  ~VirtualTimer() override { StopCountdown(); }

 protected:
  void StartCountdown() override {
    StopCountdown();
    m_pending = m_platform.Schedule(milliseconds(Interval()), this, [this] {
      m_pending = 0;
      Expired();
    });
  }
  void StopCountdown() override {
    if (m_pending != 0) m_platform.Cancel(m_pending);
    m_pending = 0;
  }

 private:
  VirtualPlatform& m_platform;
  quint64 m_pending = 0;
};

}  // namespace

VirtualPlatform::VirtualPlatform(QDateTime start) : m_start(std::move(start)) {}

VirtualPlatform::~VirtualPlatform() = default;

std::unique_ptr<Timer> VirtualPlatform::CreateTimer() {
  return std::make_unique<VirtualTimer>(*this);
}

std::unique_ptr<Socket> VirtualPlatform::CreateSocket() {
  auto socket = std::make_unique<VirtualSocket>(*this);
  m_sockets.emplace_back(socket.get());
  return socket;
}

VirtualSocket* VirtualPlatform::SocketAt(size_t index) const {
  return index < m_sockets.size() ? m_sockets[index].data() : nullptr;
}

QDateTime VirtualPlatform::Now() const { return m_start.addMSecs(m_now.count()); }

quint64 VirtualPlatform::Schedule(milliseconds due, QObject* context, std::function<void()> task) {
  const quint64 id = ++m_seq;
  const Key key{m_now + due, id};
  m_tasks.emplace(key, Task{context, context != nullptr, std::move(task)});
  m_keyOf.emplace(id, key);
  return id;
}

void VirtualPlatform::Cancel(quint64 id) {
  const auto it = m_keyOf.find(id);
  if (it == m_keyOf.end()) return;
  m_tasks.erase(it->second);
  m_keyOf.erase(it);
}

void VirtualPlatform::Post(QObject* context, std::function<void()> task) {
  Schedule(milliseconds(0), context, std::move(task));
}

void VirtualPlatform::At(milliseconds delay, std::function<void()> task) {
  Schedule(delay, nullptr, std::move(task));
}

bool VirtualPlatform::RunOneDue(quint64 seqLimit) {
  for (auto it = m_tasks.begin(); it != m_tasks.end() && it->first.first <= m_now; ++it) {
    if (it->first.second > seqLimit) continue;
    Task task = std::move(it->second);
    m_keyOf.erase(it->first.second);
    m_tasks.erase(it);
    if (!task.hasContext || task.context) {
      const loop_guard::InHandler handler;
      task.run();
    }
    return true;
  }
  return false;
}

void VirtualPlatform::DoEvents() {
  loop_guard::PumpEntered("the virtual platform's DoEvents");
  if (m_forbidPump && m_forbidPump()) ++m_nestedPumps;
  RunPending();
}

void VirtualPlatform::RunPending() {
  // Only what was pending when the pump was called, as the real event loop does.
  const quint64 seqLimit = m_seq;
  while (RunOneDue(seqLimit)) {
  }
}

bool VirtualPlatform::AdvanceTo(milliseconds until) {
  if (m_tasks.empty()) return false;
  const milliseconds next = m_tasks.begin()->first.first;
  if (next > until) return false;
  if (next > m_now) m_now = next;
  return true;
}

bool VirtualPlatform::WaitUntil(const std::function<bool()>& done, milliseconds limit) {
  loop_guard::PumpEntered("the virtual platform's WaitUntil");
  if (m_forbidPump && m_forbidPump()) ++m_nestedPumps;
  const milliseconds deadline = limit == kForever ? milliseconds::max() : m_now + limit;
  for (;;) {
    DoEvents();
    if (done()) return true;
    if (RunOneDue(m_seq)) continue;
    if (!AdvanceTo(deadline)) {
      if (deadline == milliseconds::max()) {
        ++m_stalls;  // a real program would hang here for ever
        return false;
      }
      // A wait nested in this one may have run past its deadline; time never goes back.
      m_now = std::max(m_now, deadline);
      DoEvents();
      return done();
    }
  }
}

void VirtualPlatform::RunFor(milliseconds duration) {
  loop_guard::PumpEntered("the virtual platform's RunFor");
  const milliseconds end = m_now + duration;
  for (;;) {
    RunPending();
    if (RunOneDue(m_seq)) continue;
    if (!AdvanceTo(end)) break;
  }
  m_now = std::max(m_now, end);
  RunPending();
}

VirtualSocket::VirtualSocket(VirtualPlatform& platform) : Socket(platform) {}

void VirtualSocket::Connect() {
  if (State() != sckClosed) return;
  ++m_connectAttempts;
  m_attemptedHost = RemoteHost();
  m_attemptedPort = RemotePort();
  SetState(sckConnecting);
}

void VirtualSocket::Close() {
  SetState(sckClosed);
  DiscardReceived();
}

bool VirtualSocket::SendData(const QByteArray& bytes) {
  if (State() != sckConnected) return false;
  m_sent.append(bytes);
  emit Sending(bytes);
  return true;
}

void VirtualSocket::PeerAccept() {
  if (State() == sckConnecting) ReportConnected();
}

void VirtualSocket::PeerRefuse(int number) {
  if (State() == sckConnecting) ReportError(number, QStringLiteral("Connection refused"));
}

void VirtualSocket::PeerSend(const QByteArray& bytes) {
  if (State() == sckConnected) ReportReceived(bytes);
}

void VirtualSocket::PeerClose() {
  if (State() == sckConnected) ReportPeerClosed();
}

void VirtualSocket::PeerFail(int number, const QString& description) {
  if (State() != sckClosed && State() != sckError) ReportError(number, description);
}

QByteArray VirtualSocket::TakeSent() {
  QByteArray sent;
  sent.swap(m_sent);
  return sent;
}

}  // namespace vorlan
