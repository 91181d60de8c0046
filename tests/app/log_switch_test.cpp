#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QSignalSpy>

#include "support/form_fixture.h"
#include "hex.h"
#include "support/fake_exchange.h"
#include "logging/record_log.h"

namespace vorlan {
namespace {

using namespace std::chrono_literals;

class LogSwitchRig : public FormRig {
 public:
  explicit LogSwitchRig(QDateTime start) : FormRig(std::move(start)) {}
  QByteArray Read(const QString& name) const {
    QFile file(LogsPath() + "/" + name);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
  }
  FakeExchange& Exchange() {
    if (!m_exchange) m_exchange = std::make_unique<FakeExchange>(m_platform, Peer());
    return *m_exchange;
  }
  std::unique_ptr<FakeExchange> m_exchange;
};

class LogSwitchTest : public ::testing::Test {};

TEST_F(LogSwitchTest, AtTheTopOfTheHourTheDownloadMovesToANewFile) {
  LogSwitchRig rig(QDateTime(QDate(2026, 3, 5), QTime(14, 59, 59, 500)));
  rig.LoadAndConnect("1");
  FakeExchange& exchange = rig.Exchange();
  // The first request goes out at 14:59:59.650 and is answered a second later, while the
  // switch waits for the stop: its record still goes to the old file.
  exchange.delay = 1000ms;
  exchange.QueueReply('B', "\x02" "DURING\x03");
  exchange.QueueReply('C', "\x02" "AFTER\x03");
  rig.m_form.CmdDnld_Click();
  rig.m_platform.RunFor(5s);
  EXPECT_EQ(Hex(rig.Read("03051459.log")), Hex("\x02" "DURING\x03\r\n"));
  EXPECT_EQ(Hex(rig.Read("03051500.log")), Hex("\x02" "AFTER\x03\r\n"));
  EXPECT_EQ(rig.m_form.txtout().Text().count("DURING"), 0) << "the RAW Data view was cleared";
  EXPECT_TRUE(rig.m_form.CmdStop.Enabled()) << "the download runs again";
  EXPECT_EQ(exchange.Acks(), 2);
  EXPECT_EQ(rig.m_platform.Stalls(), 0);
}

// A tick that falls inside the handling of an arrival cannot wait for the stop there; the
// switch follows at the next tick instead of being lost for the hour.
TEST_F(LogSwitchTest, SwitchDueDuringAnArrivalHappensAtTheNextTick) {
  LogSwitchRig rig(QDateTime(QDate(2026, 3, 5), QTime(14, 59, 59, 500)));
  rig.LoadAndConnect("1");
  // Ticks fall at .750 and .000; this arrival's lamp flash covers 14:59:59.990 to 15:00:00.040.
  rig.m_platform.At(490ms, [&] { rig.Peer().PeerSend(FakeExchange::Status("1", '2')); });
  rig.Exchange();
  // The stop is confirmed by the heartbeat's reply, 3 s after the tick that found it due.
  rig.m_platform.RunFor(4s);
  EXPECT_TRUE(rig.m_form.CurrentLogFile().Path().endsWith("03051500.log"));
  EXPECT_TRUE(QFile::exists(rig.LogsPath() + "/03051500.log"));
}

TEST_F(LogSwitchTest, MidnightStartsAFileOfTheNewDay) {
  LogSwitchRig rig(QDateTime(QDate(2026, 3, 5), QTime(23, 59, 58)));
  rig.LoadAndConnect("1");
  rig.Exchange();
  rig.m_form.CmdDnld_Click();
  rig.m_platform.RunFor(6s);
  EXPECT_TRUE(QFile::exists(rig.LogsPath() + "/03060000.log"));
  EXPECT_TRUE(rig.m_form.CurrentLogFile().Path().endsWith("03060000.log"));
}

TEST_F(LogSwitchTest, AFileOfTheNewHourThatExistsAlreadyMeansNoSwitch) {
  LogSwitchRig rig(QDateTime(QDate(2026, 3, 5), QTime(14, 59, 58)));
  QFile existing(rig.LogsPath() + "/03051500.log");
  ASSERT_TRUE(existing.open(QIODevice::WriteOnly));
  existing.close();
  rig.LoadAndConnect("1");
  rig.Exchange();
  QSignalSpy stops(&rig.m_form.Session(), &session::Session::StopStarted);
  QSignalSpy switches(&rig.m_form.Session(), &session::Session::LogSwitching);
  rig.m_platform.RunFor(5s);
  EXPECT_TRUE(rig.m_form.CurrentLogFile().Path().endsWith("03051459.log"));
  EXPECT_EQ(stops.size(), 0);
  EXPECT_EQ(switches.size(), 0);
}

// Without a link no reply can confirm a stop: the file is switched without stopping and
// restarting, and nothing hangs.
TEST_F(LogSwitchTest, WhileTheLinkIsDownTheFileIsSwitchedWithoutWaiting) {
  LogSwitchRig rig(QDateTime(QDate(2026, 3, 5), QTime(14, 59, 50)));
  rig.LoadAndConnect("1");
  rig.m_form.CmdDnld_Click();  // the download was running when the link went
  rig.Peer().PeerClose();
  rig.m_platform.RunFor(20s);
  EXPECT_EQ(rig.m_platform.Stalls(), 0);
  EXPECT_TRUE(QFile::exists(rig.LogsPath() + "/03051500.log"));
  EXPECT_TRUE(rig.m_form.CurrentLogFile().IsOpen());
  EXPECT_FALSE(rig.m_form.CmdStop.Enabled());
  EXPECT_TRUE(rig.m_form.CmdConnect.Enabled());
}

// An exchange that stops answering: the switch waits a bounded time, then goes on.
TEST_F(LogSwitchTest, SilentExchangeHoldsTheSwitchOnlyABoundedTime) {
  LogSwitchRig rig(QDateTime(QDate(2026, 3, 5), QTime(14, 59, 50)));
  rig.LoadAndConnect("1");
  rig.Exchange().silent = true;
  rig.m_platform.RunFor(30s);
  EXPECT_TRUE(rig.m_form.CurrentLogFile().Path().endsWith("03051500.log"));
}

// The new hour's file cannot be opened while a data request is in flight: its answer is not
// acknowledged (no file would hold it) and the operator is told why. A removed folder is made
// again, as any write makes it, and the answer goes to the new file.
TEST_F(LogSwitchTest, NoReplyIsAcknowledgedWithoutAFileToHoldIt) {
  for (const bool dangling : {true, false}) {
    LogSwitchRig rig(QDateTime(QDate(2026, 3, 5), QTime(14, 59, 58)));
    rig.LoadAndConnect("1");
    FakeExchange& exchange = rig.Exchange();
    exchange.silent = true;  // the stop is confirmed by the request's deadline at 15:00:08.1
    rig.m_form.CmdDnld_Click();
    if (dangling) {
      ASSERT_TRUE(QFile::link(rig.LogsPath() + "/gone", rig.LogsPath() + "/03051500.log"));
    } else {
      QDir(rig.LogsPath()).removeRecursively();
    }
    rig.m_platform.At(11s, [&] {
      rig.Peer().PeerSend(QByteArray("\x16" "2000010" "1" "L" "\x02" "LATE\x03" "z"));
    });
    rig.m_platform.RunFor(12s);
    const bool acknowledged = rig.Peer().Sent().contains(frame::DataAcknowledgement("1", 'L'));
    EXPECT_EQ(acknowledged, !dangling);
    EXPECT_EQ(rig.Read("03051500.log"), dangling ? "<missing>" : "\x02" "LATE\x03\r\n");
    ASSERT_EQ(rig.m_dialogs.boxes.size(), dangling ? 2U : 0U);
    if (!dangling) continue;
    EXPECT_EQ(rig.m_dialogs.boxes[0].title, "VORLAN");
    EXPECT_TRUE(rig.m_dialogs.boxes[0].text.contains("symbolic link"));
    EXPECT_TRUE(rig.m_dialogs.boxes[1].text.contains("no log file is open"));
    EXPECT_FALSE(rig.m_form.CmdStop.Enabled());
    EXPECT_FALSE(rig.Read("03051459.log").contains("LATE"));
  }
}

// Against an exchange that answers at once the switch starts at the top of the hour, as soon as
// the step under way is done; what is acknowledged after the stop is confirmed is in the new file.
TEST_F(LogSwitchTest, StartsOnTimeAgainstAnExchangeThatAnswersAtOnce) {
  LogSwitchRig rig(QDateTime(QDate(2026, 3, 5), QTime(14, 59, 58)));
  rig.LoadAndConnect("1");
  FakeExchange& exchange = rig.Exchange();
  exchange.delay = 0ms;
  QByteArray all;
  for (int i = 0; i < 30; ++i) {
    exchange.QueueReply(char('A' + i % 26), "\x02" "CALL." + QByteArray::number(i) + "\x03");
    all += "\x02" "CALL." + QByteArray::number(i) + "\x03\r\n";
  }
  const session::Session& session = rig.m_form.Session();
  QDateTime started;
  bool confirmed = false;
  QByteArray afterStop;
  QObject::connect(&session, &session::Session::StopStarted, [&] { started = rig.m_platform.Now(); });
  QObject::connect(&session, &session::Session::StopCompleted, [&] { confirmed = true; });
  QObject::connect(&session, &session::Session::RecordLogged, [&](const QByteArray& record) {
    if (confirmed) afterStop += record + "\r\n";
  });
  rig.m_form.CmdDnld_Click();
  rig.m_platform.RunFor(10s);
  const qint64 late = QDateTime(QDate(2026, 3, 5), QTime(15, 0)).msecsTo(started);
  EXPECT_TRUE(late >= 0 && late <= 200) << late << " ms";
  EXPECT_FALSE(afterStop.isEmpty());
  EXPECT_EQ(Hex(rig.Read("03051500.log")), Hex(afterStop));
  EXPECT_EQ(Hex(rig.Read("03051459.log") + rig.Read("03051500.log")), Hex(all));
}

// The link goes while the switch waits for the stop: no download is started on a dead link, and
// the window is left as the close left it, ready to connect.
TEST_F(LogSwitchTest, LinkLostDuringTheWaitLeavesTheWindowReadyToConnect) {
  LogSwitchRig rig(QDateTime(QDate(2026, 3, 5), QTime(14, 59, 59, 500)));
  rig.LoadAndConnect("1");
  rig.Exchange().silent = true;
  rig.m_form.CmdDnld_Click();
  rig.m_platform.At(1500ms, [&] { rig.Peer().PeerClose(); });
  rig.m_platform.RunFor(15s);
  EXPECT_TRUE(rig.m_form.CmdConnect.Enabled());
  EXPECT_TRUE(rig.m_form.cmdquit.Enabled());
  EXPECT_FALSE(rig.m_form.CmdStop.Enabled());
  EXPECT_FALSE(rig.m_form.CmdDisconnect.Enabled());
  EXPECT_EQ(rig.m_form.StatusBar.Panel(1), "  PBX Disconnected!  ");
}

}  // namespace
}  // namespace vorlan
