#include "platform/termination_signals.h"

#include <QSocketNotifier>

#include <atomic>
#include <csignal>
#include <cstdlib>

#if defined(Q_OS_UNIX)
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>
#else
#include <QTimer>
#endif

namespace vorlan {
namespace {

// A signal handler reaches only globals.
// NOLINTNEXTLINE(cppcoreguidelines-avoid-non-const-global-variables)
std::atomic<int> g_requests{0};

#if defined(Q_OS_UNIX)
// The self-pipe: the handler writes the signal's number, the event loop reads it.
// NOLINTNEXTLINE(cppcoreguidelines-avoid-non-const-global-variables)
int g_pipe[2] = {-1, -1};

extern "C" void OnSignal(int number) {
  if (g_requests.fetch_add(1) > 0) _exit(128 + number);
  const auto byte = static_cast<unsigned char>(number);
  [[maybe_unused]] const ssize_t written = write(g_pipe[1], &byte, 1);
}
#else
// NOLINTNEXTLINE(cppcoreguidelines-avoid-non-const-global-variables)
std::atomic<int> g_pending{0};

extern "C" void OnSignal(int number) {
  if (g_requests.fetch_add(1) > 0) std::_Exit(128 + number);
  g_pending = number;
}
#endif

}  // namespace

TerminationSignals::TerminationSignals() {
#if defined(Q_OS_UNIX)
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_pipe) == 0) {
    m_notifier = new QSocketNotifier(g_pipe[0], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &TerminationSignals::Deliver);
    struct sigaction action = {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    // A hang-up (of the terminal, or from a service manager) asks for the same orderly stop.
    for (const int number : {SIGTERM, SIGINT, SIGHUP}) sigaction(number, &action, nullptr);
  }
  // A reader that went away (standard error into a closed pipe) is no reason to end: the
  // write fails and the program goes on.
  std::signal(SIGPIPE, SIG_IGN);
#else
  // Without a pipe to wake the loop, a timer looks for a request four times a second.
  auto* timer = new QTimer(this);
  connect(timer, &QTimer::timeout, this, &TerminationSignals::Deliver);
  timer->start(250);
  std::signal(SIGTERM, OnSignal);
  std::signal(SIGINT, OnSignal);
#endif
}

TerminationSignals::~TerminationSignals() {
#if defined(Q_OS_UNIX)
  for (const int number : {SIGTERM, SIGINT, SIGHUP, SIGPIPE}) std::signal(number, SIG_DFL);
  if (g_pipe[0] >= 0) {
    close(g_pipe[0]);
    close(g_pipe[1]);
    g_pipe[0] = g_pipe[1] = -1;
  }
#else
  std::signal(SIGTERM, SIG_DFL);
  std::signal(SIGINT, SIG_DFL);
#endif
}

void TerminationSignals::Deliver() {
#if defined(Q_OS_UNIX)
  unsigned char byte = 0;
  if (read(g_pipe[0], &byte, 1) == 1) emit Requested(byte);
#else
  if (const int number = g_pending.exchange(0)) emit Requested(number);
#endif
}

const char* TerminationSignals::Name(int number) {
  switch (number) {
    case SIGTERM: return "SIGTERM";
    case SIGINT: return "SIGINT";
#if defined(SIGHUP)
    case SIGHUP: return "SIGHUP";
#endif
    default: return "a signal";
  }
}

}  // namespace vorlan
