// The session in virtual time, with the fuzzer as the exchange. The input's first byte chooses
// the window's pace (the lamps) or none (the collector's); each operation after it is one byte
// and its arguments: send an arrival, let time pass, close the link and connect again, Stop or
// DownLoad. Whatever is sent, the session keeps at most one data request in flight, sends none
// between a data reply and its acknowledgement, acknowledges no more data replies than were
// begun, and holds bounded text.
#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "link/frame.h"
#include "support/session_probe.h"
#include "support/virtual_platform.h"

using namespace vorlan;
using namespace std::chrono_literals;

namespace {

[[noreturn]] void Fail(const char* what, long long detail) {
  std::fprintf(stderr, "receive path: %s (%lld)\n", what, detail);
  std::abort();
}

qsizetype Count(const QByteArray& in, QByteArrayView what) {
  qsizetype n = 0;
  for (qsizetype at = in.indexOf(what); at >= 0; at = in.indexOf(what, at + 1)) ++n;
  return n;
}

struct Reader {
  const uint8_t* data;
  size_t size;
  size_t at = 0;
  bool More() const { return at < size; }
  uint8_t Byte() { return at < size ? data[at++] : 0; }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static int argc = 1;
  static char name[] = "receive_path_fuzz";
  static char* argv[] = {name, nullptr};
  static QCoreApplication app(argc, argv);
  static QTemporaryDir dir(QDir::tempPath() + "/vorlan-fuzz-XXXXXX");

  QDir(dir.path()).mkpath("logs");
  Reader in{data, size};
  VirtualPlatform platform(QDateTime(QDate(2026, 3, 5), QTime(14, 37, 20)));
  const std::chrono::milliseconds pace = (in.Byte() & 1) != 0 ? kLampFlash : 0ms;
  session::Session session(platform, dir.filePath("logs"), session::Session::Options{pace, {}, false});
  platform.ForbidPumpWhile([&] { return session.InHandler(); });
  session.SetDeviceId("1");
  session.SetHost("127.0.0.1");
  const auto linked = [&] { return session.LinkState() == session::Session::Link::Linked; };
  const auto running = [&] {
    return session.DownloadState() == session::Session::Download::Running;
  };

  const QByteArray dataRequest = frame::DataRequest("1");
  const QByteArray ackStart = QByteArray("\x16" "4000040" "1");
  VirtualSocket* peerSocket = nullptr;  // one socket, connected again after each close
  qsizetype sentBase = 0;                // where this connection's traffic starts
  QByteArray peerStream;   // what the exchange sent on this connection
  bool requestWritten = false;  // on this connection
  std::chrono::milliseconds lastRequestWritten{};
  bool arrivalSinceRequest = true;

  auto connectAgain = [&] {
    session.Connect();
    peerSocket = platform.SocketAt(0);
    sentBase = peerSocket->Sent().size();
    peerSocket->PeerAccept();
    platform.RunFor(1ms);
    if (linked() && !running()) session.StartDownload();
    peerStream.clear();
    requestWritten = false;
    arrivalSinceRequest = true;
  };
  connectAgain();
  // Checked at every write, nested ones included: with no pace, an answer and the next request
  // come within one step of the clock.
  QObject::connect(peerSocket, &VirtualSocket::Sending, [&](const QByteArray& bytes) {
    if (qEnvironmentVariableIsSet("FUZZ_TRACE"))
      std::fprintf(stderr, "%lld ms: written %s\n", (long long)platform.Elapsed().count(),
                   bytes.toHex(' ').constData());
    if (bytes != dataRequest) return;
    if (session::SessionProbe::ReplyOpen(session))
      Fail("a data request sent between a data reply and its acknowledgement", bytes.size());
    // A second data request with nothing from the exchange in between is a request piled up,
    // unless the first went unanswered for the whole time-out.
    const std::chrono::milliseconds now = platform.Elapsed();
    if (requestWritten && !arrivalSinceRequest && now - lastRequestWritten < kDataRequestTimeout)
      Fail("a data request sent before the last one was answered", (now - lastRequestWritten).count());
    requestWritten = true;
    lastRequestWritten = now;
    arrivalSinceRequest = false;
  });

  // Checked after every 10 ms of virtual time.
  auto check = [&] {
    const QByteArray sent = peerSocket->Sent().mid(sentBase);
    if (Count(sent, ackStart) > Count(peerStream, QByteArray("\x16" "2")))
      Fail("more acknowledgements than data replies", Count(sent, ackStart));
    if (session::SessionProbe::Held(session) > link::ReplyReader::kMaxRecord + 16)
      Fail("held text grows", session::SessionProbe::Held(session));
    if (platform.NestedPumps() > 0)
      Fail("an event loop ran inside a handler of the session", platform.NestedPumps());
  };
  auto advance = [&](std::chrono::milliseconds span) {
    for (auto left = span; left > 0ms; left -= std::min(left, 10ms)) {
      platform.RunFor(std::min(left, 10ms));
      check();
    }
  };

  while (in.More()) {
    VirtualSocket& peer = *peerSocket;
    const uint8_t op = in.Byte();
    switch (op % 8) {
      case 0:
      case 1:
      case 2:
      case 3: {
        QByteArray arrival;
        const int length = 1 + in.Byte();
        for (int i = 0; i < length && in.More(); ++i) arrival.append(char(in.Byte()));
        if (peer.State() == Socket::sckConnected) {
          peerStream += arrival;
          peer.PeerSend(arrival);
          if (qEnvironmentVariableIsSet("FUZZ_TRACE"))
            std::fprintf(stderr, "%lld ms: sent by the exchange %s\n",
                         (long long)platform.Elapsed().count(), arrival.toHex(' ').constData());
          arrivalSinceRequest = true;
        }
        advance(std::chrono::milliseconds(op >> 3));
        break;
      }
      case 4: advance(std::chrono::milliseconds(50 * in.Byte())); break;
      case 5:
        if (peer.State() == Socket::sckConnected) peer.PeerClose();
        advance(5ms);
        connectAgain();
        break;
      case 6:
        if (linked() && running()) session.StopDownload();
        advance(std::chrono::milliseconds(op >> 3));
        break;
      case 7:
        if (linked() && !running()) session.StartDownload();
        advance(std::chrono::milliseconds(op >> 3));
        break;
    }
  }
  advance(20s);
  return 0;
}
