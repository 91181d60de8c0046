#pragma once

#include "session/poller.h"
#include "session/record_step.h"
#include "session/session.h"

namespace vorlan::session {

// Invariants of the record path that no signal shows, for the fuzzers and the tests that
// assert them at every step: what the reader holds, a request in flight, a reply open.
struct SessionProbe {
  static qsizetype Held(const Session& session) { return session.m_step->Held(); }
  static bool RequestOutstanding(const Session& session) {
    return session.m_poller->RequestOutstanding();
  }
  static bool ReplyOpen(const Session& session) { return session.m_step->ReplyOpen(); }
};

}  // namespace vorlan::session
