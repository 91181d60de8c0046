#include "platform/winsock_errors.h"

#include <gtest/gtest.h>

#include "platform/socket_error_text.h"

namespace vorlan {
namespace {

TEST(WinsockErrors, QtFailuresMapToTheirUsualNumbers) {
  using E = QAbstractSocket::SocketError;
  struct Row {
    E error;
    bool linked;
    int number;
  };
  const Row rows[] = {
      {E::ConnectionRefusedError, false, 10061}, {E::HostNotFoundError, false, 11001},
      {E::SocketTimeoutError, false, 10060},     {E::RemoteHostClosedError, true, 10054},
      {E::NetworkError, false, 10051},           {E::NetworkError, true, 10050},
      {E::SocketAccessError, false, 10013},      {E::SocketResourceError, true, 10055},
      {E::AddressInUseError, false, 10048},      {E::SocketAddressNotAvailableError, false, 10049},
      {E::UnknownSocketError, true, 10053},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(WinsockErrorNumber(row.error, row.linked), row.number)
        << int(row.error) << (row.linked ? " linked" : " connecting");
  }
}

// What the window's box and the collector's line say: what happened, naming the host where it
// is the thing to check, and the socket layer's words only where they tell which cause it was.
TEST(SocketErrorText, SaysWhatHappenedAndWhatToCheck) {
  const struct {
    int number;
    const char *starts, *check;
    bool detailShown;
  } rows[] = {
      {10061, "Connection rejected...\r\n", "SMDR port is enabled and that pbx.lan is", false},
      {11001, "The host name \"pbx.lan\" could not be found.\r\n", "IP address", false},
      {10060, "pbx.lan did not answer", "a route leads to it", false},
      {10054, "The exchange reset the connection.\r\n", "exchange is running", false},
      {10051, "No route leads from this computer to pbx.lan.\r\n", "its route to", true},
      {10050, "The network failed while connected to pbx.lan.", "network", true},
      {10053, "The connection to pbx.lan failed.\r\n", "network connection", true},
  };
  for (const auto& row : rows) {
    const QString lines = DescribeSocketError(row.number, "pbx.lan", "What Qt said").Lines();
    EXPECT_TRUE(lines.startsWith(row.starts) && lines.contains(row.check)) << lines.toStdString();
    EXPECT_EQ(lines.contains("(What Qt said)"), row.detailShown) << lines.toStdString();
    // The box: a refused connection reads exactly as operators know it.
    EXPECT_EQ(IpErrorDescription(row.number, "pbx.lan", "What Qt said"),
              row.number == 10061 ? QStringLiteral("Connection rejected...") : lines);
  }
}

}  // namespace
}  // namespace vorlan
