#pragma once

#include <gtest/gtest.h>

#include <QByteArray>
#include <QObject>

#include <chrono>

#include "link/frame.h"
#include "session/session.h"
#include "support/virtual_platform.h"

namespace vorlan {

// What a test sees of a session's record path through its signals: the arrivals it has read,
// the frames waiting their pace, and when each frame went out.
class SessionWatch {
 public:
  SessionWatch(session::Session& session, VirtualPlatform& platform) : m_platform(platform) {
    QObject::connect(&session, &session::Session::Arrived, &m_context, [this](const QByteArray&) {
      ++m_read;
      m_lastAt = m_platform.Elapsed();
    });
    QObject::connect(&session, &session::Session::TxPacing, &m_context,
                     [this](bool on) { m_pacing = on; });
    QObject::connect(&session, &session::Session::FrameSent, &m_context,
                     [this](const QByteArray& frame) {
                       (frame.size() > 1 && frame[1] == '1' ? m_requestAt : m_lastAt) =
                           m_platform.Elapsed();
                     });
  }

  // Sends `bytes` as the exchange and runs until the session has read them and written what it
  // answers (an acknowledgement after its pace); the next request is not waited for.
  void Arrive(VirtualSocket& peer, const QByteArray& bytes) {
    using namespace std::chrono_literals;
    const int before = m_read;
    peer.PeerSend(bytes);
    m_platform.RunFor(1ms);
    // Bounded: an arrival of a link that went meanwhile is never read.
    int ms = 0;
    for (; (m_read == before || m_pacing) && ms < 30000; ++ms) m_platform.RunFor(1ms);
    EXPECT_LT(ms, 30000) << "the arrival was not read, or a frame stayed paced, for 30 s";
  }

  // Runs until the next data request is written, at most `limit`; how long after the arrival
  // read last or the frame written last it was armed (its pace taken off), or -1 ms if none.
  std::chrono::milliseconds NextRequest(std::chrono::milliseconds pace,
                                        std::chrono::milliseconds limit) {
    using namespace std::chrono_literals;
    const auto since = m_requestAt;
    for (auto left = limit; m_requestAt == since && left > 0ms; left -= 1ms) m_platform.RunFor(1ms);
    return m_requestAt == since ? -1ms : m_requestAt - m_lastAt - pace;
  }

 private:
  VirtualPlatform& m_platform;
  QObject m_context;
  int m_read = 0;
  bool m_pacing = false;
  std::chrono::milliseconds m_lastAt{-1};
  std::chrono::milliseconds m_requestAt{-1};
};

}  // namespace vorlan
