#include "platform/winsock_errors.h"

namespace vorlan {

int WinsockErrorNumber(QAbstractSocket::SocketError error, bool linked) {
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
    case E::NetworkError: return linked ? wsa::kNetworkDown : wsa::kNetworkUnreachable;
    case E::OperationError: return wsa::kInvalidArgument;
    case E::TemporaryError: return wsa::kTryAgain;
    default: return wsa::kConnectionAborted;
  }
}

}  // namespace vorlan
