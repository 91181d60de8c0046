#pragma once

#include <QString>

#include <chrono>

#include "platform/program.h"

// The system's own texts and timings, in one place.
namespace vorlan {

using namespace std::chrono_literals;

inline constexpr int kPbxPort = 60010;

// Timings of the link.
inline constexpr std::chrono::milliseconds kHeartbeatInterval = 2500ms;
inline constexpr std::chrono::milliseconds kHeartbeatAfterStop = 3000ms;
inline constexpr std::chrono::milliseconds kFirstDataRequest = 100ms;
inline constexpr std::chrono::milliseconds kNextDataRequest = 1ms;
inline constexpr std::chrono::milliseconds kRetryDataRequest = 3000ms;
inline constexpr std::chrono::milliseconds kDownloadDesignInterval = 1000ms;
inline constexpr std::chrono::milliseconds kLogTick = 250ms;
inline constexpr double kLampFlashSeconds = 0.05;
// How long closing the program waits for the exchange to end the connection before closing it
// from our side.
inline constexpr std::chrono::milliseconds kShutdownWait = 5000ms;
// A data reply has no length: where it stops right after its header or a record's ETX, or on an
// STX, it may be whole or the network may bring the rest later (a retransmission takes 200 ms
// or more). It is acknowledged once nothing more has come for kReplyEndGrace where the
// connection's replies have ended just so before, and for kReplyRestWait otherwise (the first
// reply of a connection, or an exchange whose replies end with a last character).
inline constexpr std::chrono::milliseconds kReplyEndGrace = 300ms;
inline constexpr std::chrono::milliseconds kReplyRestWait = 2000ms;
// The deadline of a data request: by then its answer, and the rest of a data reply, must have
// come. What is still open is given up, unacknowledged, and the request is sent again.
inline constexpr std::chrono::milliseconds kDataRequestTimeout = 10000ms;
// A timer that falls due while a handler is half done looks again this much later.
inline constexpr std::chrono::milliseconds kLookAgain = 10ms;
// The records logged last that a reply sent again after a cut is checked against.
inline constexpr qsizetype kRecentRecords = 256;
// How long the hourly switch waits for the exchange to confirm the stop of the download.
inline constexpr std::chrono::milliseconds kSwitchStopWait = 10000ms;

namespace text {
inline const QString kNoAnswer =
    QStringLiteral(" ->: No answer to the data request in %1 s; sending it again");
inline const QString& kTitle = kProgramName;
inline const QString kAlreadyLogged =
    QStringLiteral(" ->: Records already logged before the link was lost; acknowledged again");
inline const QString kSomeAlreadyLogged = QStringLiteral(
    " ->: %1 of the reply's %2 records already logged before the link was lost; not logged again");
inline const QString kRecordCut = QStringLiteral(
    " ->: Error A record of %1 characters: the log keeps its first %2 and its ETX, %3 were "
    "dropped");

// Status panel 1.
inline const QString kAttempting = QStringLiteral("  Attempting Connection...  ");
inline const QString kConnected = QStringLiteral("  Connected to PBX...  ");
inline const QString kClosing = QStringLiteral("  Closing Socket Connection...  ");
inline const QString kDisconnected = QStringLiteral("  PBX Disconnected!  ");
inline const QString kStatusMonitor = QStringLiteral("  Status Monitor...  ");
inline const QString kDataRequest = QStringLiteral("  PBX Data Request...  ");
inline const QString kStopping = QStringLiteral("  Stopping DownLoad...  ");

// Status panel 2.
inline const QString kPleaseWait = QStringLiteral("Please Wait...");
inline const QString kBufferEmpty = QStringLiteral("PBX Buffer Empty...");
inline const QString kPortBusy = QStringLiteral("PBX Port Busy..");
inline const QString kChecksumError = QStringLiteral("CheckSum Error");
inline const QString kStatusOk = QStringLiteral("Status Monitor OK...");
inline const QString kProcessing = QStringLiteral("Processing Packet...");

// Status panel 3 and the RAW Data window's caption.
inline const QString kRecords = QStringLiteral("Records = ");
inline const QString kRawCaptionRecords = QStringLiteral("Vorlan(RAW Data) Records = ");
inline const QString kRawCaptionDevice = QStringLiteral("  Device ID = ");

// Socket errors.
inline const QString kIpErrorTitle = QStringLiteral("IP-Error");
inline const QString kConnectionRejected = QStringLiteral("Connection rejected...");
inline const QString kNumber = QStringLiteral("Number ");

// Echo prefixes of the RAW Data view.
inline const QString kSentPrefix = QStringLiteral("<- : ");
inline const QString kReceivedPrefix = QStringLiteral(" ->: ");
inline const QString kErrorPrefix = QStringLiteral(" ->: Error ");
inline const QString kBadPrefix = QStringLiteral(" <BAD>:");
inline const QString kCrLf = QStringLiteral("\r\n");

// Log file failures.
inline const QString kLogWriteFailed = QStringLiteral(
    "A call record could not be written to the log file %1 (%2). The download was stopped; the "
    "exchange keeps the records that were not acknowledged.");

// Windows.
inline const QString kRawCaption = QStringLiteral("VORLAN: RAW Data");
inline const QString kFormattedCaption = QStringLiteral("VORLAN: Formatted Output");
}  // namespace text

// Settings: application, sections and keys.
namespace setting {
inline const QString& kApp = kProgramName;
inline const QString kProperties = QStringLiteral("Properties");
inline const QString kPropertiesRead = QStringLiteral("properties");
inline const QString kSettings = QStringLiteral("Settings");
}  // namespace setting

}  // namespace vorlan
