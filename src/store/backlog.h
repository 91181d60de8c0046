#pragma once

#include <QString>

#include <deque>
#include <map>
#include <optional>
#include <vector>

// How far the store is behind the log files, in bytes and in time: for the bytes of each file
// beyond the stored position, when they were first seen, so that the age of the oldest record
// logged but not yet stored can be told. Pure: the caller passes the times, in milliseconds.
namespace vorlan::store {

struct LogFileState {
  QString name;
  qint64 size = 0;
  qint64 stored = 0;    // the store's position in it
  qint64 openedAt = 0;  // when the log began the file (its name says)
};

class Backlog {
 public:
  // A pass's view of every log file. The bytes of a file seen for the first time count from
  // now, except at the first look, where they are older than this program: they count from
  // when their file was begun, the earliest they can have been logged.
  void Update(const std::vector<LogFileState>& files, qint64 now);

  qint64 Bytes() const { return m_bytes; }
  // When the oldest byte not yet stored was first seen; nothing when all is stored.
  std::optional<qint64> OldestSince() const { return m_oldest; }

 private:
  struct Arrival {
    qint64 offset;  // the bytes from here on were first seen
    qint64 at;
  };
  // A long outage adds an arrival per look: past this many, every other one goes (the bytes
  // they dated count from the arrival before, a little older), and new ones are kept only as
  // far apart as those left.
  static constexpr size_t kMostArrivals = 1024;

  struct File {
    qint64 size = 0;
    std::deque<Arrival> arrivals;
    qint64 spacing = 0;
  };
  std::map<QString, File> m_files;
  bool m_looked = false;
  qint64 m_bytes = 0;
  std::optional<qint64> m_oldest;
};

}  // namespace vorlan::store
