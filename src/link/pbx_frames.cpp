#include "link/pbx_frames.h"

#include "link/frame.h"

namespace vorlan::frame {
namespace {

constexpr qsizetype kDeviceIdPosition = 8;
constexpr qsizetype kBlockPosition = 9;
constexpr int kMaxCount = 999999;

void AppendCheck(QByteArray& frame) {
  frame.append(static_cast<char>(CheckByte(QByteArrayView(frame).sliced(1))));
}

}  // namespace

QByteArray StatusReply(char deviceId, StatusResult result) {
  QByteArray frame;
  frame.reserve(11);
  frame.append(SYN).append("3000030").append(deviceId).append(static_cast<char>(result));
  AppendCheck(frame);
  return frame;
}

QByteArray DataReply(char deviceId, char blockChar, QByteArrayView records, bool withTrailer) {
  const qsizetype count = records.size() + (withTrailer ? 1 : 0);
  QByteArray frame;
  frame.reserve(kDataHeaderLength + count);
  frame.append(SYN).append('2');
  frame.append(QByteArray::number(qMin<qsizetype>(count, kMaxCount)).rightJustified(6, '0'));
  frame.append(deviceId).append(blockChar).append(records);
  if (withTrailer) AppendCheck(frame);
  return frame;
}

qsizetype RequestLength(char type) {
  switch (type) {
    case '1': return 10;
    case '4': return 12;
    case '5': return 13;
    case '6': return 11;
    default: return 0;
  }
}

std::optional<Request> ParseRequest(QByteArrayView frame) {
  if (frame.size() < 2 || frame[0] != SYN) return std::nullopt;
  const qsizetype length = RequestLength(frame[1]);
  if (length == 0 || frame.size() != length) return std::nullopt;
  Request request;
  switch (frame[1]) {
    case '1': request.kind = RequestKind::Data; break;
    case '4': request.kind = RequestKind::Acknowledgement; break;
    case '5': request.kind = RequestKind::StatusMonitor; break;
    default: request.kind = RequestKind::Disconnect; break;
  }
  request.deviceId = frame[kDeviceIdPosition];
  if (request.kind == RequestKind::Acknowledgement) request.blockChar = frame[kBlockPosition];
  request.checkOk = CheckByte(frame.sliced(1, length - 2)) == static_cast<quint8>(frame.back());
  return request;
}

const char* RequestKindName(RequestKind kind) {
  switch (kind) {
    case RequestKind::Data: return "data-request";
    case RequestKind::Acknowledgement: return "data-ack";
    case RequestKind::Disconnect: return "disconnect";
    case RequestKind::StatusMonitor: return "status-monitor";
  }
  return "?";
}

}  // namespace vorlan::frame
