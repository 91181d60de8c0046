// The reply reader under every byte stream and every split of it into arrivals. The input is a
// device ID selector, then arrivals, each a length byte and that many bytes.
#include <cstdint>
#include <cstdlib>
#include <cstdio>

#include "link/frame.h"
#include "link/reply_reader.h"

using vorlan::link::ReplyReader;
using Kind = ReplyReader::EventKind;

namespace {

[[noreturn]] void Fail(const char* what, qint64 detail) {
  std::fprintf(stderr, "reply reader: %s (%lld)\n", what, static_cast<long long>(detail));
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const char deviceId = static_cast<char>('0' + (data[0] & 3));
  ReplyReader reader;
  QByteArray stream;
  std::vector<ReplyReader::Event> events;
  bool replyOpen = false;
  size_t at = 1;
  while (at < size) {
    const size_t length = std::min<size_t>(data[at] + 1u, size - at - 1);
    ++at;
    const auto arrival = QByteArrayView(reinterpret_cast<const char*>(data + at),
                                        static_cast<qsizetype>(length));
    at += length;
    stream.append(arrival);
    events.clear();
    if (length == 0) {
      reader.GiveUp(events);  // the receive path's time-outs
    } else {
      reader.Feed(arrival, deviceId, events);
    }
    for (const ReplyReader::Event& e : events) {
      switch (e.kind) {
        case Kind::Record:
          if (e.bytes.size() < 2 || e.bytes.front() != vorlan::frame::STX ||
              e.bytes.back() != vorlan::frame::ETX)
            Fail("a record does not run from STX to ETX", e.bytes.size());
          if (e.bytes.indexOf(vorlan::frame::ETX) != e.bytes.size() - 1)
            Fail("a record holds an ETX before its end", e.bytes.size());
          if (e.bytes.size() > ReplyReader::kMaxRecord + 1) Fail("a record over the limit", 0);
          if (!replyOpen) Fail("a record outside a data reply", e.offset);
          if (!e.continuation && !e.cut && stream.mid(e.offset, e.bytes.size()) != e.bytes)
            Fail("a record is not the span of the stream it claims", e.offset);
          break;
        case Kind::DataHeader:
          if (e.continuation && !replyOpen) Fail("a continuation with no reply open", 0);
          replyOpen = true;
          break;
        case Kind::DataReplyEnd:
          if (!replyOpen) Fail("a data reply acknowledged twice, or never opened", 0);
          if (e.blocks.isEmpty()) Fail("an acknowledgement without a block character", 0);
          replyOpen = false;
          break;
        case Kind::StatusReply:
          if (e.bytes.size() != 10 && e.bytes.size() != 11) Fail("a status reply's length", 0);
          break;
        case Kind::Unrecognised:
        case Kind::RecordGivenUp:
          if (e.bytes.size() > ReplyReader::kMaxShownText) Fail("shown text unbounded", 0);
          break;
      }
    }
    if (reader.Held() > ReplyReader::kMaxRecord + 16) Fail("held bytes grow", reader.Held());
  }
  return 0;
}
