#include "request_stream.h"

#include "link/frame.h"
#include "link/pbx_frames.h"

namespace pbxsim {

std::vector<RequestStream::Piece> RequestStream::Feed(QByteArrayView bytes) {
  m_pending.append(bytes);
  std::vector<Piece> pieces;
  qsizetype pos = 0;  // removed from the front once at the end, so a long read stays linear
  auto skipTo = [&](qsizetype next) {
    if (next <= pos) return;
    const QByteArrayView skipped = QByteArrayView(m_pending).sliced(pos, next - pos);
    if (!pieces.empty() && !pieces.back().isFrame) {
      pieces.back().bytes.append(skipped);
    } else {
      pieces.push_back({skipped.toByteArray(), false});
    }
    pos = next;
  };

  for (;;) {
    const qsizetype syn = m_pending.indexOf(vorlan::frame::SYN, pos);
    skipTo(syn < 0 ? m_pending.size() : syn);
    if (m_pending.size() - pos < 2) break;
    const qsizetype length = vorlan::frame::RequestLength(m_pending[pos + 1]);
    if (length == 0) {
      skipTo(pos + 1);
      continue;
    }
    if (m_pending.size() - pos < length) break;
    pieces.push_back({m_pending.sliced(pos, length), true});
    pos += length;
  }
  m_pending.remove(0, pos);
  return pieces;
}

}  // namespace pbxsim
