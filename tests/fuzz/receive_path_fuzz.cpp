// The whole receive path in virtual time, with the fuzzer as the exchange. Each operation of
// the input is one byte and its arguments: send an arrival, let time pass, close the link and
// connect again, press Stop or DownLoad. Whatever is sent, the tool keeps at most one data
// request in flight, sends none between a data reply and its acknowledgement, acknowledges no
// more data replies than were begun, and holds bounded text.
#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "platform/dialogs.h"
#include "app/form_main.h"
#include "platform/settings_store.h"
#include "app/texts.h"
#include "support/virtual_platform.h"
#include "link/frame.h"

using namespace vorlan;
using namespace std::chrono_literals;

namespace {

class SilentDialogs : public Dialogs {
 public:
  void MessageBox(const QString&, Icon, const QString&) override {}
  QString OpenFile(const OpenFileRequest&) override { return {}; }
};

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
  VirtualPlatform platform(QDateTime(QDate(2026, 3, 5), QTime(14, 37, 20)));
  SettingsStore settings(dir.filePath("VORLAN.ini"));
  SilentDialogs dialogs;
  FormMain form({platform, settings, dialogs, dir.path()});
  platform.ForbidPumpWhile([&] { return form.Session().InHandler(); });
  form.Form_Load();
  form.cbDeviceID.SetText("1");
  form.txtHost.SetText("127.0.0.1");

  const QByteArray dataRequest = frame::DataRequest("1");
  const QByteArray ackStart = QByteArray("\x16" "4000040" "1");
  VirtualSocket* peerSocket = nullptr;  // one socket, connected again after each close
  qsizetype sentBase = 0;                // where this connection's traffic starts
  QByteArray peerStream;   // what the exchange sent on this connection
  qsizetype requestsSeen = 0;
  std::chrono::milliseconds lastRequestWritten{};
  std::chrono::milliseconds previousRequestWritten{};
  bool arrivalSinceRequest = true;

  auto connectAgain = [&] {
    form.CmdConnect_Click();
    peerSocket = platform.SocketAt(0);
    sentBase = peerSocket->Sent().size();
    peerSocket->PeerAccept();
    platform.RunFor(1ms);
    if (form.CmdDnld.Enabled()) form.CmdDnld_Click();
    peerStream.clear();
    requestsSeen = 0;
    arrivalSinceRequest = true;
  };
  connectAgain();
  // Checked at every write, nested ones included.
  QObject::connect(peerSocket, &VirtualSocket::Sending, [&](const QByteArray& bytes) {
    if (bytes == dataRequest && form.ReplyOpen())
      Fail("a data request sent between a data reply and its acknowledgement", bytes.size());
    // Dated from its write: the check below sees it up to a step later, and an arrival pushed
    // before the write may be read after it and start the deadline anew.
    if (bytes == dataRequest) lastRequestWritten = platform.Elapsed();
    if (qEnvironmentVariableIsSet("FUZZ_TRACE"))
      std::fprintf(stderr, "%lld ms: written %s\n", (long long)platform.Elapsed().count(),
                   bytes.toHex(' ').constData());
  });

  // Checked after every 10 ms of virtual time.
  auto check = [&] {
    // A second data request with nothing from the exchange in between is a request piled up,
    // unless the first went unanswered for the whole time-out (seen to within a check's step).
    const QByteArray sent = peerSocket->Sent().mid(sentBase);
    const qsizetype requests = Count(sent, dataRequest);
    if (requests > requestsSeen) {
      if (requests > requestsSeen + 1) {
        if (qEnvironmentVariableIsSet("FUZZ_TRACE"))
          std::fprintf(stderr, "%s\n%s\n", sent.toHex(' ').constData(),
                       form.txtout().Text().toLatin1().constData());
        Fail("two data requests at once", requests);
      }
      if (!arrivalSinceRequest &&
          lastRequestWritten - previousRequestWritten < kDataRequestTimeout - 20ms) {
        if (qEnvironmentVariableIsSet("FUZZ_TRACE"))
          std::fprintf(stderr, "at %lld ms\n%s\n%s\n", (long long)platform.Elapsed().count(),
                       sent.toHex(' ').constData(), form.txtout().Text().toLatin1().constData());
        Fail("a data request sent before the last one was answered", requests);
      }
      requestsSeen = requests;
      previousRequestWritten = lastRequestWritten;
      arrivalSinceRequest = false;
    }
    if (Count(sent, ackStart) > Count(peerStream, QByteArray("\x16" "2")) &&
        qEnvironmentVariableIsSet("FUZZ_TRACE"))
      std::fprintf(stderr, "%s\n", form.txtout().Text().toLatin1().constData());
    if (Count(sent, ackStart) > Count(peerStream, QByteArray("\x16" "2")))
      Fail("more acknowledgements than data replies", Count(sent, ackStart));
    if (form.Reader().Held() > link::ReplyReader::kMaxRecord + 16)
      Fail("held text grows", form.Reader().Held());
    if (platform.NestedPumps() > 0)
      Fail("an event loop ran inside a handler of the session", platform.NestedPumps());
  };
  auto advance = [&](std::chrono::milliseconds span) {
    for (auto left = span; left > 0ms; left -= std::min(left, 10ms)) {
      platform.RunFor(std::min(left, 10ms));
      check();
    }
  };

  Reader in{data, size};
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
        if (form.CmdStop.Enabled()) form.CmdStop_Click();
        advance(std::chrono::milliseconds(op >> 3));
        break;
      case 7:
        if (form.CmdDnld.Enabled()) form.CmdDnld_Click();
        advance(std::chrono::milliseconds(op >> 3));
        break;
    }
  }
  advance(20s);
  return 0;
}
