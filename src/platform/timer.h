#pragma once

#include <QObject>

namespace vorlan {

// A timer as the program uses it: it ticks every Interval() milliseconds while it is enabled and
// its interval is not 0. Switching it on, or setting a non-zero interval while it is on, starts a
// fresh countdown; switching it off or setting 0 stops it. A tick never comes early. Setting
// Enabled to the value it already has changes nothing.
class Timer : public QObject {
  Q_OBJECT

 public:
  bool Enabled() const { return m_enabled; }
  void SetEnabled(bool enabled);
  int Interval() const { return m_interval; }
  void SetInterval(int milliseconds);  // a negative interval counts as 0

 signals:
  void Tick();

 protected:
  Timer() = default;
  bool Running() const { return m_enabled && m_interval > 0; }
  // Starts a countdown of Interval() ms, replacing any running one.
  virtual void StartCountdown() = 0;
  virtual void StopCountdown() = 0;
  // Called by the implementation when a countdown has run out: starts the next period, then
  // runs the handlers (which may change the timer, or wait and let it tick again).
  void Expired();

 private:
  void Rearm();

  bool m_enabled = false;
  int m_interval = 0;
};

}  // namespace vorlan
