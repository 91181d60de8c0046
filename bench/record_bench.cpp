// Cost of the tool's own work per record: cut out of a data reply, formatted, logged, appended
// to the RAW Data view (visible, with its widget). The platform runs in virtual time, so the
// 50 ms lamp flashes of the protocol take no real time and only our work is measured.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QDir>
#include <QTemporaryDir>

#include "app/form_main.h"
#include "platform/dialogs.h"
#include "platform/settings_store.h"
#include "platform/socket.h"
#include "platform/timer.h"
#include "support/virtual_platform.h"
#include "ui/form_main_window.h"

namespace {

using namespace std::chrono_literals;

class NoDialogs : public vorlan::Dialogs {
 public:
  void MessageBox(const QString&, Icon, const QString&) override {}
  QString OpenFile(const OpenFileRequest&) override { return {}; }
};

// A 120-byte record: call type, two plain items and a data type 6 item with blanks inside.
QByteArray Record(int i) {
  QByteArray r =
      "\x02"
      "00"
      "03"
      "0110" +
      QByteArray::number(1000000000 + i) + "0220EXT 4711 TRUNK 0012" +
      "0631"
      "20260305143000 - 20260305143512" +
      "0942CALLER 0049 30 1234567 \xE9\xFC ROUTE 7 END";
  r += QByteArray(119 - r.size(), 'x') + "\x03";
  return r;
}

void BM_RecordWork(benchmark::State& state) {
  const int perReply = int(state.range(0));
  QTemporaryDir dir;
  QDir(dir.path()).mkdir("logs");
  vorlan::VirtualPlatform platform(QDateTime(QDate(2026, 3, 5), QTime(14, 10)));
  vorlan::SettingsStore settings(dir.filePath("VORLAN.ini"));
  NoDialogs dialogs;
  vorlan::FormMain form({platform, settings, dialogs, dir.path()});
  vorlan::FormMainWindow window(form, dialogs);
  form.Form_Load();
  form.TxtMaxTime.SetText("300");
  form.cbDeviceID.SetText("1");
  form.txtHost.SetText("127.0.0.1");
  form.CmdConnect_Click();
  vorlan::VirtualSocket& peer = *platform.SocketAt(0);
  peer.PeerAccept();
  platform.RunFor(1ms);

  QByteArray reply = QByteArray(
                         "\x16"
                         "2000010"
                         "1") +
                     'A';
  for (int i = 0; i < perReply; ++i) reply += Record(i);
  for (auto _ : state) {
    peer.PeerSend(reply);
    platform.RunFor(1000ms);
    // The views follow their models once per turn of the event loop; that turn is ours too.
    QCoreApplication::processEvents();
  }
  state.SetItemsProcessed(state.iterations() * perReply);
  state.counters["us_per_record"] = benchmark::Counter(
      double(state.iterations()) * perReply,
      benchmark::Counter::kIsRate | benchmark::Counter::kInvert, benchmark::Counter::kIs1000);
  if (form.RecordCount() < perReply) state.SkipWithError("records were not taken");
}
// Fixed iteration counts, so that an instruction count (valgrind --tool=callgrind) of a run is
// comparable between builds: 5,000 records for each size.
BENCHMARK(BM_RecordWork)->Arg(1)->Iterations(5000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_RecordWork)->Arg(10)->Iterations(500)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_RecordWork)->Arg(50)->Iterations(100)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
