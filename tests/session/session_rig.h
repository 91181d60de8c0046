#pragma once

#include <QDir>
#include <QSignalSpy>
#include <QTemporaryDir>

#include "session/session.h"
#include "support/fake_exchange.h"
#include "support/virtual_platform.h"

namespace vorlan::session {

using namespace std::chrono_literals;

// A session in virtual time with a logs folder of its own and the exchange played by the test.
struct SessionRig {
  explicit SessionRig(Session::Options options = {},
                      QDateTime start = QDateTime(QDate(2026, 3, 5), QTime(14, 37, 20)))
      : platform(start), session(platform, Logs(), options) {
    platform.ForbidPumpWhile([this] { return session.InHandler(); });
    session.SetHost("127.0.0.1");
    session.SetDeviceId("1");
    session.SetMaxTime("100");
  }
  QString Logs() {
    QDir(dir.path()).mkpath("logs");
    return dir.filePath("logs");
  }
  VirtualSocket& Peer() { return *platform.SocketAt(0); }
  // Connect pressed and the exchange accepting.
  void Link() {
    session.Connect();
    Peer().PeerAccept();
    platform.RunFor(1ms);
  }
  QStringList LogFiles() const { return QDir(dir.filePath("logs")).entryList({"*.log"}); }

  QTemporaryDir dir;
  VirtualPlatform platform;
  Session session;
};

}  // namespace vorlan::session
