#pragma once

#include <QtGlobal>

#include <chrono>

// The link's port and timings, in one place.
namespace vorlan {

using namespace std::chrono_literals;

inline constexpr int kPbxPort = 60010;

inline constexpr std::chrono::milliseconds kHeartbeatInterval = 2500ms;
inline constexpr std::chrono::milliseconds kHeartbeatAfterStop = 3000ms;
inline constexpr std::chrono::milliseconds kFirstDataRequest = 100ms;
inline constexpr std::chrono::milliseconds kNextDataRequest = 1ms;
inline constexpr std::chrono::milliseconds kRetryDataRequest = 3000ms;
// Answers in a row that are no reply before the next data request waits kRetryDataRequest.
inline constexpr int kUnrecognisedBeforeBackOff = 3;
inline constexpr std::chrono::milliseconds kDownloadDesignInterval = 1000ms;
inline constexpr std::chrono::milliseconds kLogTick = 250ms;
// How long a lamp is lit for a frame out or an arrival in the window. Frames go out, and
// arrivals are read, once their lamp has been lit this long.
inline constexpr std::chrono::milliseconds kLampFlash = 50ms;
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
// A timer that falls due while a step of the record path is under way looks again this much
// later.
inline constexpr std::chrono::milliseconds kLookAgain = 10ms;
// How long the hourly switch waits for the exchange to confirm the stop of the download.
inline constexpr std::chrono::milliseconds kSwitchStopWait = 10000ms;

// The limits a session without a person watching it keeps (the window leaves them off: the
// operator sees the link and acts). A connection attempt that takes this long is given up.
inline constexpr std::chrono::milliseconds kConnectLimit = 30000ms;
// A linked exchange answers the heartbeat every few seconds; one silent this long is gone.
inline constexpr std::chrono::milliseconds kSilenceLimit = 60000ms;
// How long the exchange has to close the connection after the disconnect request.
inline constexpr std::chrono::milliseconds kCloseLimit = 5000ms;
// How long the end of a session waits for the exchange to confirm the stop of the download.
inline constexpr std::chrono::milliseconds kStopLimit = 10000ms;
// From the end of a collector's session asked to the end, whatever the exchange does: past it
// the connection is closed from our side (the exchange keeps the records of a reply we did not
// acknowledge). The service's TimeoutStopSec lies above it.
inline constexpr std::chrono::milliseconds kEndDeadline = 12000ms;

}  // namespace vorlan
