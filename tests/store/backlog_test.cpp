#include <gtest/gtest.h>

#include "store/backlog.h"

using namespace vorlan::store;

namespace {

// One forwarder's looks at its log folder, in order; each says what the backlog then holds.
struct Look {
  const char* what;
  std::vector<LogFileState> files;  // name, size, stored, opened at
  qint64 now;
  qint64 bytes;
  std::optional<qint64> oldest;
};

TEST(BacklogTest, DatesTheOldestRecordNotYetStored) {
  const std::vector<Look> looks = {
      {"first look: from when the file was begun", {{"a.log", 100, 40, 1000}}, 5000, 60, 1000},
      {"bytes added later count from the look that saw them", {{"a.log", 150, 40, 1000}}, 6000,
       110, 1000},
      {"the older bytes stored", {{"a.log", 150, 120, 1000}}, 7000, 30, 6000},
      {"a new file counts from now, not from its name",
       {{"a.log", 150, 150, 1000}, {"b.log", 50, 0, 2000}}, 8000, 50, 8000},
      {"cut back, then grown again", {{"a.log", 150, 150, 1000}, {"b.log", 20, 0, 2000}}, 8500,
       20, 8000},
      {"", {{"a.log", 150, 150, 1000}, {"b.log", 30, 20, 2000}}, 9000, 10, 9000},
      {"all stored", {{"a.log", 150, 150, 1000}, {"b.log", 30, 30, 2000}}, 9500, 0, std::nullopt},
      {"a file that was gone is new again", {{"a.log", 160, 150, 1000}}, 9600, 160 - 150, 9600},
  };
  Backlog backlog;
  for (const Look& look : looks) {
    backlog.Update(look.files, look.now);
    EXPECT_EQ(backlog.Bytes(), look.bytes) << look.what;
    EXPECT_EQ(backlog.OldestSince(), look.oldest) << look.what;
  }
}

// A long outage: a look every 200 ms for an hour, nothing stored. What the backlog keeps stays
// bounded, and the age it tells stays close.
TEST(BacklogTest, AnOutageKeepsItsDatesBounded) {
  Backlog backlog;
  constexpr qint64 kLooks = 18000;
  for (qint64 look = 0; look < kLooks; ++look) {
    backlog.Update({{"a.log", 100 * (look + 1), 0, 0}}, 200 * look);
  }
  EXPECT_EQ(backlog.OldestSince(), 0);
  // Stored up to what the look at 1800 s saw: what is left was first seen at 1800 s.
  backlog.Update({{"a.log", 100 * kLooks, 100 * 9000, 0}}, 200 * kLooks);
  ASSERT_TRUE(backlog.OldestSince());
  EXPECT_LE(*backlog.OldestSince(), 1800000);
  EXPECT_GE(*backlog.OldestSince(), 1800000 - 30000);
}

}  // namespace
