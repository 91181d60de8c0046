#pragma once

#include <QString>

#include <chrono>

#include "platform/program.h"
#include "session/timings.h"

// The system's own texts and timings, in one place.
namespace vorlan {

namespace text {
inline const QString kNoAnswer =
    QStringLiteral(" ->: No answer to the data request in %1 s; sending it again");
inline const QString& kTitle = kProgramName;
inline const QString kAlreadyLogged =
    QStringLiteral(" ->: Records already logged before the link was lost; acknowledged again");
inline const QString kSomeAlreadyLogged = QStringLiteral(
    " ->: %1 of the reply's %2 records already logged before the link was lost; not logged again");
inline const QString kForeignDeviceId =
    QStringLiteral(" ->: The exchange answers as device %1 while Device ID is %2");
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
