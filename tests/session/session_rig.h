#pragma once

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>

#include "hex.h"
#include "session/session.h"
#include "support/fake_exchange.h"
#include "support/session_watch.h"
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

// SYN, "2" and seven characters: a data reply's header without its block character.
inline const QByteArray kHeader = QByteArray("\x16" "2" "000010" "1");

// Paced as the window paces it, so that arrivals and frames interleave as they do there.
struct PacedRig : SessionRig {
  explicit PacedRig(QDateTime start = QDateTime(QDate(2026, 3, 5), QTime(14, 37, 20)))
      : SessionRig(Session::Options{kLampFlash, {}, false}, std::move(start)) {}
  // Linked, the download running and its first data request sent.
  void StartDownload() {
    Link();
    session.StartDownload();
    platform.RunFor(150ms);
    ASSERT_EQ(Hex(Peer().TakeSent()), "16 31 30 30 30 30 32 30 31 FD");
  }
  void SendAt(std::chrono::milliseconds delay, const QByteArray& bytes) {
    platform.At(delay, [this, bytes] { Peer().PeerSend(bytes); });
  }
  // Until what it brings is done: its pace, and an acknowledgement's.
  void Arrive(const QByteArray& bytes) { watch.Arrive(Peer(), bytes); }
  QByteArray Log() {
    QFile file(Logs() + "/03051437.log");
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<no log file>");
  }

  SessionWatch watch{session, platform};
};

}  // namespace vorlan::session
