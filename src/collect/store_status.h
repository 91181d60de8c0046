#pragma once

#include <QString>

#include <optional>

namespace vorlan::collect {

// The store's health as the forwarder tells it: its reports are the only view of it the
// collector has. Reachable follows each connect and each failure at once; rows and the backlog
// come with the forwarder's progress line, once a minute while there is something to say.
struct StoreStatus {
  bool reachable = false;
  qint64 rowsLoaded = 0;  // since the start
  qint64 backlogBytes = 0;
  std::optional<qint64> oldestSince;  // when the oldest record not loaded was logged, in ms
};

// Takes one report of the forwarder, made at `now` (ms since the epoch); others are left alone.
void ReadStoreReport(StoreStatus& status, const QString& text, qint64 now);

}  // namespace vorlan::collect
