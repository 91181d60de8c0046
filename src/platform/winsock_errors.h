#pragma once

#include <QAbstractSocket>
#include <QString>

namespace vorlan {

// Socket failures are reported to the program as Windows Sockets error numbers, which is what
// operators quote and what the program's messages were written for.
namespace wsa {
inline constexpr int kInterrupted = 10004;
inline constexpr int kAccessDenied = 10013;
inline constexpr int kInvalidArgument = 10022;
inline constexpr int kMessageTooLong = 10040;
inline constexpr int kOperationNotSupported = 10045;
inline constexpr int kAddressInUse = 10048;
inline constexpr int kAddressNotAvailable = 10049;
inline constexpr int kNetworkDown = 10050;
inline constexpr int kNetworkUnreachable = 10051;
inline constexpr int kConnectionAborted = 10053;
inline constexpr int kConnectionReset = 10054;
inline constexpr int kNoBufferSpace = 10055;
inline constexpr int kNotConnected = 10057;
inline constexpr int kTimedOut = 10060;
inline constexpr int kConnectionRefused = 10061;
inline constexpr int kHostDown = 10064;
inline constexpr int kHostUnreachable = 10065;
inline constexpr int kHostNotFound = 11001;
inline constexpr int kTryAgain = 11002;
inline constexpr int kNoRecovery = 11003;
inline constexpr int kNoData = 11004;
}  // namespace wsa

// The Windows Sockets number for a failure Qt reports. Qt folds every failure of the network
// itself into one code; `linked` tells the connection attempt that found no way to the
// exchange (an unreachable network or host) from a connection that failed while it was up.
// A reset is not among these: Qt reads it as the end of the stream, and the socket tells it
// apart itself.
int WinsockErrorNumber(QAbstractSocket::SocketError error, bool linked);

}  // namespace vorlan
