// A measured download against the PBX simulator: 200 data replies of one record each, timed
// from the first data request to the last acknowledgement, compared with 200 times the
// protocol's own minimum cycle (three 50 ms lamp flashes, request, reply and acknowledgement,
// plus the 1 ms to the next request).
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <cstdio>

#include "app/form_main.h"
#include "app/texts.h"
#include "platform/dialogs.h"
#include "support/test_platform.h"
#include "platform/settings_store.h"
#include "platform/socket.h"
#include "platform/timer.h"
#include "support/sim_process.h"

namespace {

class NoDialogs : public vorlan::Dialogs {
 public:
  void MessageBox(const QString& text, Icon, const QString&) override {
    std::fprintf(stderr, "message: %s\n", qPrintable(text));
  }
  QString OpenFile(const OpenFileRequest&) override { return {}; }
};

}  // namespace

int main(int argc, char** argv) {
  using namespace std::chrono_literals;
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QCoreApplication app(argc, argv);
  constexpr int kReplies = 200;

  QTemporaryDir dir;
  QDir(dir.path()).mkdir("logs");
  vorlan::QtTestPlatform platform;
  vorlan::SettingsStore settings(dir.filePath("VORLAN.ini"));
  NoDialogs dialogs;
  vorlan::FormMain form({platform, settings, dialogs, dir.path()});
  vorlan::SimProcess sim(
      platform, "127.0.8.1",
      {"--seed", "3", "--records", QString::number(kReplies), "--per-reply", "1"},
      dir.filePath("transcript.jsonl"));
  if (!sim.Started()) {
    std::fprintf(stderr, "the simulator did not start\n");
    return 1;
  }
  form.Form_Load();
  // VORLAN_TRACE=1: the same download with the traffic trace written beside the log.
  form.mnuTrace_Click(!qEnvironmentVariableIsEmpty("VORLAN_TRACE"));
  form.txtHost.SetText("127.0.8.1");
  form.cbDeviceID.SetText("1");
  form.CmdConnect_Click();
  if (!platform.WaitUntil([&] { return form.StatusBar.Panel(1) == vorlan::text::kConnected; },
                          10s)) {
    std::fprintf(stderr, "no connection\n");
    return 1;
  }

  // From the first data request on the wire to the last acknowledgement on the wire.
  QElapsedTimer clock;
  qint64 lastAckNs = 0;
  int acks = 0;
  form.CmdDnld_Click();
  platform.WaitUntil([&] { return form.StatusBar.Panel(1) == vorlan::text::kDataRequest; }, 5s);
  // The tick's handler returns once the request is on the wire.
  clock.start();
  platform.WaitUntil(
      [&] {
        // Checked between handlers: an acknowledgement built is one already written.
        if (form.OutFrame().size() == 12 && form.OutFrame()[1] == '4' && form.RecordCount() > acks) {
          acks = form.RecordCount();
          lastAckNs = clock.nsecsElapsed();
        }
        return acks >= kReplies;
      },
      120s);
  const double measured = double(lastAckNs) / 1e9;
  const double minimum = kReplies * 0.151 - 0.001;  // no wait after the last acknowledgement
  std::printf("records: %d\nmeasured: %.3f s\nprotocol minimum: %.3f s\nratio: %.4f\n",
              form.RecordCount(), measured, minimum, measured / minimum);
  return form.RecordCount() >= kReplies ? 0 : 1;
}
