#include "platform/winsock_errors.h"

namespace vorlan {

int WinsockErrorNumber(QAbstractSocket::SocketError error, const QString& errorString) {
  using E = QAbstractSocket::SocketError;
  switch (error) {
    case E::ConnectionRefusedError: return wsa::kConnectionRefused;
    case E::RemoteHostClosedError: return wsa::kConnectionReset;
    case E::HostNotFoundError: return wsa::kHostNotFound;
    case E::SocketAccessError: return wsa::kAccessDenied;
    case E::SocketResourceError: return wsa::kNoBufferSpace;
    case E::SocketTimeoutError: return wsa::kTimedOut;
    case E::DatagramTooLargeError: return wsa::kMessageTooLong;
    case E::AddressInUseError: return wsa::kAddressInUse;
    case E::SocketAddressNotAvailableError: return wsa::kAddressNotAvailable;
    case E::UnsupportedSocketOperationError: return wsa::kOperationNotSupported;
    case E::NetworkError: {
      const QString text = errorString.toLower();
      if (text.contains(QLatin1String("host unreachable"))) return wsa::kHostUnreachable;
      if (text.contains(QLatin1String("network unreachable"))) return wsa::kNetworkUnreachable;
      if (text.contains(QLatin1String("reset"))) return wsa::kConnectionReset;
      return wsa::kNetworkDown;
    }
    case E::OperationError: return wsa::kInvalidArgument;
    case E::TemporaryError: return wsa::kTryAgain;
    default: return wsa::kConnectionAborted;
  }
}

QString WinsockErrorDescription(int number) {
  switch (number) {
    case wsa::kInterrupted: return QStringLiteral("Interrupted function call");
    case wsa::kAccessDenied: return QStringLiteral("Permission denied");
    case wsa::kInvalidArgument: return QStringLiteral("Invalid argument");
    case wsa::kMessageTooLong: return QStringLiteral("Message too long");
    case wsa::kOperationNotSupported: return QStringLiteral("Operation not supported");
    case wsa::kAddressInUse: return QStringLiteral("Address already in use");
    case wsa::kAddressNotAvailable: return QStringLiteral("Cannot assign requested address");
    case wsa::kNetworkDown: return QStringLiteral("Network is down");
    case wsa::kNetworkUnreachable: return QStringLiteral("Network is unreachable");
    case wsa::kConnectionAborted: return QStringLiteral("Software caused connection abort");
    case wsa::kConnectionReset: return QStringLiteral("Connection reset by peer");
    case wsa::kNoBufferSpace: return QStringLiteral("No buffer space available");
    case wsa::kNotConnected: return QStringLiteral("Socket is not connected");
    case wsa::kTimedOut: return QStringLiteral("Connection timed out");
    case wsa::kConnectionRefused: return QStringLiteral("Connection refused");
    case wsa::kHostDown: return QStringLiteral("Host is down");
    case wsa::kHostUnreachable: return QStringLiteral("No route to host");
    case wsa::kHostNotFound: return QStringLiteral("Host not found");
    case wsa::kTryAgain: return QStringLiteral("Nonauthoritative host not found; try again");
    case wsa::kNoRecovery: return QStringLiteral("This is a nonrecoverable error");
    case wsa::kNoData: return QStringLiteral("Valid name, no data record of requested type");
    default: return QStringLiteral("Socket error %1").arg(number);
  }
}

}  // namespace vorlan
