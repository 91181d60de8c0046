#pragma once

#include <QByteArray>
#include <QByteArrayView>

// The link's frames: every request the tool sends and every reply it recognises.
// Frames are bytes, one per character; nothing here touches a socket or a widget.
namespace vorlan::frame {

inline constexpr char SYN = 0x16;
inline constexpr char ACK = 0x06;
inline constexpr char STX = 0x02;
inline constexpr char ETX = 0x03;

// Length of a data reply's header: SYN, "2", seven characters, the block character.
inline constexpr qsizetype kDataHeaderLength = 10;

// Complement of the XOR of the given characters (the frame without its SYN and check byte).
quint8 CheckByte(QByteArrayView body);

// The device ID is the combo box's text and goes into the frame as it stands. Only its first
// character is folded into the check byte; an empty ID adds no character and folds in 0, so
// for the one-character IDs of the protocol the check byte is the plain rule over the body.
QByteArray DataRequest(QByteArrayView deviceId);
QByteArray StatusMonitorRequest(QByteArrayView deviceId);
QByteArray DisconnectRequest(QByteArrayView deviceId);
QByteArray DataAcknowledgement(QByteArrayView deviceId, char blockChar);

// Check byte of a data acknowledgement: block character ^ device ID ^ 0xC9.
quint8 AcknowledgementCheck(QByteArrayView deviceId, char blockChar);

enum class ReplyKind { BufferEmpty, PortBusy, ChecksumError, StatusOk, DataReply, Unrecognised };

struct Reply {
  ReplyKind kind = ReplyKind::Unrecognised;
  char blockChar = 0;  // data reply only: its 10th character
  QByteArray records;  // data reply only: everything from its 11th character on
};

// Classifies the text of one arrival against the current device ID. The first test that holds
// decides: buffer-empty, port-busy, checksum-error, status-OK, data reply. A data reply needs
// its whole 10-character header; a shorter text starting SYN "2" is unrecognised.
Reply ClassifyReply(QByteArrayView text, QByteArrayView deviceId);

// True when the text could still become a data reply's header once more bytes arrive.
bool IsDataReplyPrefix(QByteArrayView text);

const char* ReplyKindName(ReplyKind kind);

// A status reply that is whole and well formed (check byte right; port-busy: its first 10
// characters) but carries another device ID than `deviceId`: that ID, else 0. Such a reply is
// still unrecognised; this only names why.
char ForeignDeviceId(QByteArrayView text, QByteArrayView deviceId);

}  // namespace vorlan::frame
