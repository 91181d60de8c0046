#pragma once

#include <ostream>

#include "logging/record_log.h"

namespace vorlan::logging {

// Failed expectations name the result instead of dumping the enum's bytes.
inline void PrintTo(RecordLog::WriteResult result, std::ostream* os) {
  switch (result) {
    case RecordLog::WriteResult::Written:
      *os << "Written";
      return;
    case RecordLog::WriteResult::NotOpen:
      *os << "NotOpen";
      return;
    case RecordLog::WriteResult::Failed:
      *os << "Failed";
      return;
  }
  *os << "WriteResult(" << static_cast<int>(result) << ")";
}

}  // namespace vorlan::logging
