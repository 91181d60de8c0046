#include <gtest/gtest.h>

#include <QFile>

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
  EXPECT_TRUE(rig.m_form.TimerLog().Enabled());
  EXPECT_EQ(rig.m_form.HeartBeatTimer().Interval(), 3000);
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
  rig.m_platform.RunFor(5s);
  EXPECT_TRUE(rig.m_form.CurrentLogFile().Path().endsWith("03051459.log"));
  EXPECT_FALSE(rig.m_form.StopRequested());
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
  EXPECT_TRUE(rig.m_form.TimerLog().Enabled());
}

// An exchange that stops answering: the switch waits a bounded time, then goes on.
TEST_F(LogSwitchTest, SilentExchangeHoldsTheSwitchOnlyABoundedTime) {
  LogSwitchRig rig(QDateTime(QDate(2026, 3, 5), QTime(14, 59, 50)));
  rig.LoadAndConnect("1");
  rig.Exchange().silent = true;
  rig.m_platform.RunFor(30s);
  EXPECT_TRUE(rig.m_form.CurrentLogFile().Path().endsWith("03051500.log"));
  EXPECT_TRUE(rig.m_form.TimerLog().Enabled());
}

TEST_F(LogSwitchTest, AFailedOpenWarnsAndLeavesTheTimerAndDownloadOff) {
  LogSwitchRig rig(QDateTime(QDate(2026, 3, 5), QTime(14, 59, 58)));
  rig.LoadAndConnect("1");
  rig.Exchange();
  rig.m_form.CmdDnld_Click();
  QDir(rig.LogsPath()).removeRecursively();  // the switch does not create the folder
  rig.m_platform.RunFor(6s);
  ASSERT_EQ(rig.m_dialogs.boxes.size(), 1u);
  EXPECT_EQ(rig.m_dialogs.boxes[0].title, "VORLAN");
  EXPECT_TRUE(rig.m_dialogs.boxes[0].text.startsWith("Path not found"));
  EXPECT_FALSE(rig.m_form.TimerLog().Enabled());
  EXPECT_FALSE(rig.m_form.CmdStop.Enabled());
  EXPECT_FALSE(rig.m_form.CurrentLogFile().IsOpen());
  EXPECT_FALSE(QDir(rig.LogsPath()).exists());
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
