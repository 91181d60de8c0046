#include "collect/store_status.h"

#include <QRegularExpression>

namespace vorlan::collect {
namespace {

// "12.5 s", "7 min", "3 h 5 min", as the forwarder words an age.
std::optional<qint64> AgeMs(const QString& text) {
  static const QRegularExpression kAge(
      QStringLiteral(R"(^(?:(\d+(?:\.\d+)?) s|(?:(\d+) h )?(\d+) min)$)"));
  const QRegularExpressionMatch m = kAge.match(text);
  if (!m.hasMatch()) return std::nullopt;
  if (m.hasCaptured(1)) return qint64(m.captured(1).toDouble() * 1000);
  return (m.captured(2).toLongLong() * 60 + m.captured(3).toLongLong()) * 60000;
}

}  // namespace

void ReadStoreReport(StoreStatus& status, const QString& text, qint64 now) {
  if (text.startsWith(QLatin1String("connected to the store"))) {
    status.reachable = true;
    return;
  }
  if (text.startsWith(QLatin1String("cannot reach the store"))) {
    status.reachable = false;
    return;
  }
  static const QRegularExpression kProgress(QStringLiteral(
      R"(^store: (\d+) rows loaded in the last minute \(\d+ records already there\); )"
      R"((?:all logged records stored|(\d+) bytes of the log files not yet loaded)"
      R"((?:, the oldest record among them logged (.+) ago)?)$)"));
  const QRegularExpressionMatch m = kProgress.match(text);
  if (!m.hasMatch()) return;
  status.rowsLoaded += m.captured(1).toLongLong();
  status.backlogBytes = m.captured(2).toLongLong();
  status.oldestSince.reset();
  if (status.backlogBytes > 0) {
    // Without an age the bytes are at least as old as this report.
    status.oldestSince = now - AgeMs(m.captured(3)).value_or(0);
  }
}

}  // namespace vorlan::collect
