#include "store/backlog.h"

#include <algorithm>

namespace vorlan::store {

void Backlog::Update(const std::vector<LogFileState>& files, qint64 now) {
  std::map<QString, File> tracked;
  m_bytes = 0;
  m_oldest.reset();
  for (const LogFileState& state : files) {
    File& file = tracked[state.name];
    if (const auto known = m_files.find(state.name); known != m_files.end()) {
      file = std::move(known->second);
    }
    std::deque<Arrival>& arrivals = file.arrivals;
    if (state.size < file.size) {
      // Cut back: what it held past its new end was never there.
      while (!arrivals.empty() && arrivals.back().offset >= state.size) arrivals.pop_back();
    } else if (state.size > file.size &&
               (arrivals.empty() || now - arrivals.back().at >= file.spacing)) {
      arrivals.push_back(
          {file.size, file.size == 0 && !m_looked ? std::min(state.openedAt, now) : now});
    }
    file.size = state.size;
    while (arrivals.size() >= 2 && arrivals[1].offset <= state.stored) arrivals.pop_front();
    if (arrivals.size() > kMostArrivals) {
      std::deque<Arrival> kept;
      for (size_t i = 0; i < arrivals.size(); i += 2) kept.push_back(arrivals[i]);
      arrivals = std::move(kept);
      file.spacing = (arrivals.back().at - arrivals.front().at) / qint64(arrivals.size() - 1);
    }
    if (state.stored < state.size) {
      m_bytes += state.size - state.stored;
      if (!arrivals.empty()) {
        m_oldest = std::min(m_oldest.value_or(arrivals.front().at), arrivals.front().at);
      }
    }
  }
  m_files = std::move(tracked);
  m_looked = true;
}

}  // namespace vorlan::store
