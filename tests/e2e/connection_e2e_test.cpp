// The connection over real TCP on loopback: the exchange is a plain server of the test's own on
// port 60010 of an address of its own.
#include <gtest/gtest.h>

#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>

#include "app/form_main.h"
#include "support/test_platform.h"
#include "platform/settings_store.h"
#include "platform/socket.h"
#include "support/form_fixture.h"
#include "hex.h"

namespace vorlan {
namespace {

using namespace std::chrono_literals;

class ConnectionEndToEnd : public ::testing::Test {
 protected:
  ConnectionEndToEnd() { QDir(m_dir.path()).mkdir("logs"); }

  QTemporaryDir m_dir;
  QtTestPlatform m_platform;
  SettingsStore m_settings{m_dir.filePath("VORLAN.ini")};
  RecordingDialogs m_dialogs;
  FormMain m_form{{m_platform, m_settings, m_dialogs, m_dir.path()}};
};

TEST_F(ConnectionEndToEnd, ConnectThenDisconnectHandshake) {
  QTcpServer exchange;
  ASSERT_TRUE(exchange.listen(QHostAddress("127.0.1.1"), 60010)) << "port 60010 on 127.0.1.1";
  QTcpSocket* link = nullptr;
  QByteArray received;
  QObject::connect(&exchange, &QTcpServer::newConnection, [&] {
    link = exchange.nextPendingConnection();
    QObject::connect(link, &QTcpSocket::readyRead, [&] { received += link->readAll(); });
  });

  m_form.Form_Load();
  m_form.txtHost.SetText("127.0.1.1");
  m_form.cbDeviceID.SetText("1");
  m_form.CmdConnect_Click();
  ASSERT_TRUE(m_platform.WaitUntil(
      [&] { return m_form.StatusBar.Panel(1) == "  Connected to PBX...  "; }, 5s));
  EXPECT_TRUE(m_form.LinkLamp.On());

  // The Disconnect command turns the heartbeat off: only the disconnect request on the wire.
  m_form.CmdDisconnect_Click();
  ASSERT_TRUE(m_platform.WaitUntil([&] { return received.size() >= 11; }, 5s));
  EXPECT_EQ(Hex(received), "16 36 30 30 30 30 33 30 31 06 FD");
  EXPECT_EQ(m_form.StatusBar.Panel(1), "  Closing Socket Connection...  ");
  EXPECT_TRUE(m_form.LinkLamp.On());

  link->disconnectFromHost();
  ASSERT_TRUE(m_platform.WaitUntil(
      [&] { return m_form.StatusBar.Panel(1) == "  PBX Disconnected!  "; }, 5s));
  EXPECT_FALSE(m_form.LinkLamp.On());
  EXPECT_TRUE(m_form.CmdConnect.Enabled());
  EXPECT_TRUE(m_dialogs.boxes.empty());
}

TEST_F(ConnectionEndToEnd, RefusedConnectionShowsTheIpErrorBox) {
  m_form.Form_Load();
  m_form.txtHost.SetText("127.0.1.2");  // nothing listens there
  m_form.CmdConnect_Click();
  ASSERT_TRUE(m_platform.WaitUntil([&] { return !m_dialogs.boxes.empty(); }, 5s));
  EXPECT_EQ(m_dialogs.boxes[0].title, "IP-Error");
  EXPECT_EQ(m_dialogs.boxes[0].text, "Connection rejected...\r\nNumber 10061");
  EXPECT_TRUE(m_form.CmdConnect.Enabled());
  EXPECT_EQ(m_form.StatusBar.Panel(1), "  PBX Disconnected!  ");
  EXPECT_EQ(m_form.Session().LinkState(), session::Session::Link::Closed);
}

}  // namespace
}  // namespace vorlan
