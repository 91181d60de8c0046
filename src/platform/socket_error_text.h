#pragma once

#include <QString>

namespace vorlan {

// A socket failure in words a person can act on, the same in the window and the collector:
// what happened, what to check, and what the system said where that adds to both.
struct SocketErrorText {
  QString happened;
  QString check;
  QString detail;  // the socket layer's own description, or empty

  // The three as lines, CR LF between them.
  QString Lines() const;
};

// `number` is the Windows Sockets number the socket reported, `host` the name or address it
// was connecting to, `detail` the socket layer's description of the failure.
SocketErrorText DescribeSocketError(int number, const QString& host, const QString& detail);

// The description the IP-Error box shows above "Number ": a refused connection reads exactly
// "Connection rejected...", as operators know it; every other failure its lines.
QString IpErrorDescription(int number, const QString& host, const QString& detail);

}  // namespace vorlan
