#include "platform/socket_error_text.h"

#include "platform/winsock_errors.h"

namespace vorlan {
namespace {

struct Entry {
  int number;
  bool withDetail;       // the socket layer's words tell more than ours (which of several causes)
  const char* happened;  // %1: the host
  const char* check;
};

// Where one number stands for several causes, the socket layer's description names the one.
const Entry kEntries[] = {
    {wsa::kConnectionRefused, false, "Connection rejected...",
     "Check that the exchange's SMDR port is enabled and that %1 is the exchange's address."},
    {wsa::kHostNotFound, false, "The host name \"%1\" could not be found.",
     "Check the name's spelling, or type the exchange's IP address instead."},
    {wsa::kTryAgain, true, "The host name \"%1\" could not be looked up now.",
     "Check this computer's name server settings, or type the exchange's IP address instead."},
    {wsa::kTimedOut, false, "%1 did not answer the connection attempt in time.",
     "Check that %1 is the exchange's address, that the exchange is switched on, and that a "
     "route leads to it from this computer (cables, VPN, firewalls)."},
    {wsa::kConnectionReset, false, "The exchange reset the connection.",
     "It may have restarted, or given its SMDR port to another program; check that the "
     "exchange is running, then connect again."},
    {wsa::kNetworkUnreachable, true, "No route leads from this computer to %1.",
     "Check the address, this computer's network connection and its route to the exchange "
     "(gateway, VPN)."},
    {wsa::kHostUnreachable, true, "No route leads from this computer to %1.",
     "Check the address, this computer's network connection and its route to the exchange "
     "(gateway, VPN)."},
    {wsa::kNetworkDown, true, "The network failed while connected to %1.",
     "Check this computer's network connection and the exchange's, then connect again."},
    {wsa::kAccessDenied, true, "This computer did not allow a connection to %1.",
     "Check the firewall of this computer and the rights of this program."},
    {wsa::kNoBufferSpace, true, "This computer had no resources left for the connection.",
     "Close programs that hold many connections, or restart this computer."},
    {wsa::kAddressInUse, true, "No local address was free for the connection to %1.",
     "Check this computer's network settings."},
    {wsa::kAddressNotAvailable, true, "No local address was free for the connection to %1.",
     "Check this computer's network settings."},
};

// The host where the text names it.
QString Filled(const char* text, const QString& host) {
  const QString filled = QString::fromLatin1(text);
  return filled.contains(QLatin1String("%1")) ? filled.arg(host) : filled;
}

}  // namespace

QString SocketErrorText::Lines() const {
  QString lines = happened;
  if (!check.isEmpty()) lines += QStringLiteral("\r\n") + check;
  if (!detail.isEmpty()) lines += QStringLiteral("\r\n(") + detail + QLatin1Char(')');
  return lines;
}

SocketErrorText DescribeSocketError(int number, const QString& host, const QString& detail) {
  for (const Entry& entry : kEntries) {
    if (entry.number != number) continue;
    return {Filled(entry.happened, host), Filled(entry.check, host),
            entry.withDetail ? detail : QString()};
  }
  return {QStringLiteral("The connection to %1 failed.").arg(host),
          QStringLiteral("Check the address and this computer's network connection."), detail};
}

QString IpErrorDescription(int number, const QString& host, const QString& detail) {
  const SocketErrorText text = DescribeSocketError(number, host, detail);
  return number == wsa::kConnectionRefused ? text.happened : text.Lines();
}

}  // namespace vorlan
