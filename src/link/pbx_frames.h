#pragma once

#include <QByteArray>
#include <QByteArrayView>

#include <optional>

// The exchange's side of the link: the replies it builds and the requests it reads.
// Shares the check byte with the tool's frames, so both ends agree by construction.
namespace vorlan::frame {

// Result digit of a status reply (frame type "3").
enum class StatusResult : char {
  BufferEmpty = '1',
  StatusOk = '2',
  ChecksumError = '3',
  PortBusy = '4',
};

// SYN "3" "000030" ID result check: 11 bytes.
QByteArray StatusReply(char deviceId, StatusResult result);

// SYN "2", a six-digit count of the bytes after the header, the device ID, the block character,
// then the records. With a trailer the reply ends in a check byte over everything after the
// SYN; a reply that stops inside a record must not have one, or it would land inside that record.
QByteArray DataReply(char deviceId, char blockChar, QByteArrayView records, bool withTrailer);

enum class RequestKind { Data, Acknowledgement, Disconnect, StatusMonitor };

// Length of a request frame, told by its type character (the frame's second byte); 0 when the
// character starts no request.
qsizetype RequestLength(char type);

struct Request {
  RequestKind kind = RequestKind::Data;
  char deviceId = 0;
  char blockChar = 0;  // acknowledgement only
  bool checkOk = false;
};

// Reads one whole request frame (SYN, type, ..., check). Only the type, the device ID, the block
// character and the check byte are examined. Empty when the bytes are not a request's length.
std::optional<Request> ParseRequest(QByteArrayView frame);

const char* RequestKindName(RequestKind kind);

}  // namespace vorlan::frame
