#include "store/backlog.h"

#include <algorithm>

namespace vorlan::store {

void Backlog::Update(const std::vector<LogFileState>& files, qint64 now) {
  std::map<QString, std::pair<qint64, std::deque<Arrival>>> tracked;
  m_bytes = 0;
  m_oldest.reset();
  for (const LogFileState& file : files) {
    auto& [size, arrivals] = tracked[file.name];
    if (const auto known = m_files.find(file.name); known != m_files.end()) {
      size = known->second.first;
      arrivals = std::move(known->second.second);
    } else {
      size = 0;
    }
    if (file.size < size) {
      // Cut back: what it held past its new end was never there.
      while (!arrivals.empty() && arrivals.back().offset >= file.size) arrivals.pop_back();
    } else if (file.size > size) {
      arrivals.push_back({size, size == 0 && !m_looked ? std::min(file.openedAt, now) : now});
    }
    size = file.size;
    while (arrivals.size() >= 2 && arrivals[1].offset <= file.stored) arrivals.pop_front();
    if (arrivals.size() > kMostArrivals) {
      std::deque<Arrival> kept;
      for (size_t i = 0; i < arrivals.size(); i += 2) kept.push_back(arrivals[i]);
      arrivals = std::move(kept);
    }
    if (file.stored < file.size) {
      m_bytes += file.size - file.stored;
      if (!arrivals.empty()) {
        m_oldest = std::min(m_oldest.value_or(arrivals.front().at), arrivals.front().at);
      }
    }
  }
  m_files = std::move(tracked);
  m_looked = true;
}

}  // namespace vorlan::store
