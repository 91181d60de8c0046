#include "session/pacer.h"

#include <algorithm>
#include <utility>

#include "platform/platform.h"
#include "platform/timer.h"
#include "session/connection.h"
#include "session/running.h"

namespace vorlan::session {

Pacer::Pacer(Platform& platform, Connection& connection, int& handlers)
    : m_platform(platform), m_connection(connection), m_handlers(handlers), m_rxTimer(platform.CreateTimer()) {
  connect(m_rxTimer.get(), &Timer::Tick, this, &Pacer::RxTimer_Timer);
}

Pacer::~Pacer() { m_outgoing.clear(); }

void Pacer::SetPace(std::chrono::milliseconds pace) {
  m_pace = pace;
  m_rxTimer->SetInterval(int(pace.count()));
}

void Pacer::Send(QByteArray frame, std::function<bool()> mayWrite, std::function<void()> then) {
  auto out = std::make_unique<Outgoing>();
  out->frame = std::move(frame);
  out->connection = m_connection.Number();
  out->mayWrite = std::move(mayWrite);
  out->then = std::move(then);
  if (!Paced()) {
    Write(*out);
    return;
  }
  out->pace = m_platform.CreateTimer();
  out->pace->SetInterval(int(m_pace.count()));
  Outgoing* raw = out.get();
  connect(out->pace.get(), &Timer::Tick, this, [this, raw] { TxTimer_Timer(raw); });
  out->pace->SetEnabled(true);
  const bool first = m_outgoing.empty();
  m_outgoing.push_back(std::move(out));
  if (first) emit TxPacing(true);
}

void Pacer::TxTimer_Timer(Outgoing* out) {
  const Running running(m_handlers);
  const auto it = std::ranges::find_if(m_outgoing, [out](const auto& o) { return o.get() == out; });
  if (it == m_outgoing.end()) return;
  std::unique_ptr<Outgoing> taken = std::move(*it);
  m_outgoing.erase(it);
  taken->pace->SetEnabled(false);
  if (m_outgoing.empty()) emit TxPacing(false);
  Write(*taken);
  // The timer that ticked goes once its tick has returned.
  taken->pace.release()->deleteLater();
  emit FrameDone();
}

void Pacer::Write(Outgoing& out) {
  // A frame built for a connection that ended meanwhile is not for the next one.
  if (out.connection != m_connection.Number()) return;
  if (out.mayWrite && !out.mayWrite()) return;
  // A send that fails (the link went down) shows through the socket's own events.
  m_connection.Write(out.frame);
  emit FrameSent(out.frame);
  if (out.then) out.then();
}

void Pacer::HoldArrival(QByteArray text, std::vector<qsizetype> pieces) {
  if (!Paced()) {
    emit ArrivalDue(text, pieces);
    return;
  }
  m_arrival = std::move(text);
  m_arrivalPieces = std::move(pieces);
  m_arrivalWaiting = true;
  m_arrivalConnection = m_connection.Number();
  emit RxPacing(true);
  m_rxTimer->SetEnabled(true);
}

void Pacer::RxTimer_Timer() {
  const Running running(m_handlers);
  m_rxTimer->SetEnabled(false);
  if (!m_arrivalWaiting) return;
  m_arrivalWaiting = false;
  emit RxPacing(false);
  const QByteArray text = std::exchange(m_arrival, {});
  const std::vector<qsizetype> pieces = std::exchange(m_arrivalPieces, {});
  if (m_arrivalConnection != m_connection.Number()) {  // the link went while it waited
    emit ArrivalDropped();
    return;
  }
  emit ArrivalDue(text, pieces);
}

}  // namespace vorlan::session
