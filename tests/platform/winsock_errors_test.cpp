#include "platform/winsock_errors.h"

#include <gtest/gtest.h>

namespace vorlan {
namespace {

TEST(WinsockErrors, QtFailuresMapToTheirUsualNumbers) {
  using E = QAbstractSocket::SocketError;
  struct Row {
    E error;
    const char* qtText;
    int number;
  };
  const Row rows[] = {
      {E::ConnectionRefusedError, "Connection refused", 10061},
      {E::HostNotFoundError, "Host not found", 11001},
      {E::SocketTimeoutError, "Socket operation timed out", 10060},
      {E::RemoteHostClosedError, "The remote host closed the connection", 10054},
      {E::NetworkError, "Network unreachable", 10051},
      {E::NetworkError, "Host unreachable", 10065},
      {E::NetworkError, "Connection reset by peer", 10054},
      {E::NetworkError, "Unknown network failure", 10050},
      {E::SocketAccessError, "", 10013},
      {E::SocketResourceError, "", 10055},
      {E::AddressInUseError, "", 10048},
      {E::SocketAddressNotAvailableError, "", 10049},
      {E::UnknownSocketError, "", 10053},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(WinsockErrorNumber(row.error, row.qtText), row.number) << row.qtText;
    // Every number the socket can report has a readable description of its own.
    EXPECT_FALSE(WinsockErrorDescription(row.number).startsWith("Socket error"))
        << row.number;
  }
  EXPECT_EQ(WinsockErrorDescription(12345), "Socket error 12345");
}

}  // namespace
}  // namespace vorlan
