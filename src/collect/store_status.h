#pragma once

#include <QtGlobal>

#include <optional>

namespace vorlan::collect {

// The store's health as the forwarder keeps it (read from its status once a second), without
// the store's headers: the metrics need no libpq.
struct StoreStatus {
  bool reachable = false;
  qint64 rowsLoaded = 0;  // since the start
  qint64 backlogBytes = 0;
  std::optional<qint64> oldestSince;  // when the oldest record not loaded was logged, in ms
};

}  // namespace vorlan::collect
