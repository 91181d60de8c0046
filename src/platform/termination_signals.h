#pragma once

#include <QObject>

class QSocketNotifier;

namespace vorlan {

// Turns the requests to end the program (SIGTERM, SIGINT and SIGHUP; Ctrl+C or Ctrl+Break on
// Windows) into a signal on the event loop, so that the program can end its work in order. A
// second request ends the process at once with 128 + the signal's number, from the handler
// itself: it works even when the event loop does not come round again. SIGPIPE is ignored.
class TerminationSignals : public QObject {
  Q_OBJECT

 public:
  TerminationSignals();
  ~TerminationSignals() override;
  Q_DISABLE_COPY_MOVE(TerminationSignals)

  // The name of the signal that asked, such as "SIGTERM".
  static const char* Name(int number);

 signals:
  void Requested(int number);

 private:
  void Deliver();

  QSocketNotifier* m_notifier = nullptr;
};

}  // namespace vorlan
