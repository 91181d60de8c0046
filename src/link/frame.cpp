#include "link/frame.h"

namespace vorlan::frame {
namespace {

quint8 Xor(QByteArrayView bytes) {
  quint8 x = 0;
  for (char c : bytes) x ^= static_cast<quint8>(c);
  return x;
}

quint8 FirstCode(QByteArrayView deviceId) {
  return deviceId.isEmpty() ? 0 : static_cast<quint8>(deviceId.front());
}

// Builds SYN, type, code field, device ID, payload, check byte.
QByteArray Build(char type, QByteArrayView code, QByteArrayView deviceId, QByteArrayView payload) {
  QByteArray frame;
  frame.reserve(3 + code.size() + deviceId.size() + payload.size());
  frame.append(SYN).append(type).append(code).append(deviceId).append(payload);
  const char folded[] = {type, static_cast<char>(FirstCode(deviceId))};
  const quint8 check = CheckByte(QByteArrayView(folded, 2)) ^ Xor(code) ^ Xor(payload);
  frame.append(static_cast<char>(check));
  return frame;
}

Reply Kind(ReplyKind kind) {
  Reply reply;
  reply.kind = kind;
  return reply;
}

QByteArray StatusReply(QByteArrayView deviceId, char result) {
  return Build('3', "000030", deviceId, QByteArrayView(&result, 1));
}

}  // namespace

quint8 CheckByte(QByteArrayView body) { return Xor(body) ^ 0xFF; }

QByteArray DataRequest(QByteArrayView deviceId) { return Build('1', "000020", deviceId, {}); }

QByteArray StatusMonitorRequest(QByteArrayView deviceId) {
  static constexpr char payload[] = {'0', '0', ACK};
  return Build('5', "000050", deviceId, QByteArrayView(payload, 3));
}

QByteArray DisconnectRequest(QByteArrayView deviceId) {
  return Build('6', "000030", deviceId, QByteArrayView(&ACK, 1));
}

QByteArray DataAcknowledgement(QByteArrayView deviceId, char blockChar) {
  const char payload[] = {blockChar, ACK};
  return Build('4', "000040", deviceId, QByteArrayView(payload, 2));
}

quint8 AcknowledgementCheck(QByteArrayView deviceId, char blockChar) {
  return static_cast<quint8>(blockChar) ^ FirstCode(deviceId) ^ 0xC9;
}

Reply ClassifyReply(QByteArrayView text, QByteArrayView deviceId) {
  if (text == StatusReply(deviceId, '1')) return Kind(ReplyKind::BufferEmpty);
  const QByteArray busy = StatusReply(deviceId, '4').chopped(1);
  if (text.startsWith(busy)) return Kind(ReplyKind::PortBusy);
  if (text == StatusReply(deviceId, '3')) return Kind(ReplyKind::ChecksumError);
  if (text == StatusReply(deviceId, '2')) return Kind(ReplyKind::StatusOk);
  if (text.size() >= kDataHeaderLength && text[0] == SYN && text[1] == '2') {
    return {ReplyKind::DataReply, text[kDataHeaderLength - 1],
            text.sliced(kDataHeaderLength).toByteArray()};
  }
  return Kind(ReplyKind::Unrecognised);
}

bool IsDataReplyPrefix(QByteArrayView text) {
  if (text.isEmpty() || text.size() >= kDataHeaderLength) return false;
  return text[0] == SYN && (text.size() == 1 || text[1] == '2');
}

char ForeignDeviceId(QByteArrayView text, QByteArrayView deviceId) {
  if (text.size() < kDataHeaderLength) return 0;
  const char id = text[8];
  const char result = text[9];
  if (!deviceId.isEmpty() && id == deviceId[0]) return 0;
  if (result < '1' || result > '4') return 0;
  const QByteArray same = StatusReply(QByteArrayView(&id, 1), result);
  const bool whole = result == '4' ? text.startsWith(same.chopped(1)) : text == same;
  return whole ? id : '\0';
}

const char* ReplyKindName(ReplyKind kind) {
  switch (kind) {
    case ReplyKind::BufferEmpty: return "buffer-empty";
    case ReplyKind::PortBusy: return "port-busy";
    case ReplyKind::ChecksumError: return "checksum-error";
    case ReplyKind::StatusOk: return "status-OK";
    case ReplyKind::DataReply: return "data reply";
    case ReplyKind::Unrecognised: return "unrecognised";
  }
  return "?";
}

}  // namespace vorlan::frame
