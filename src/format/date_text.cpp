#include "format/date_text.h"

namespace vorlan::format {
namespace {

bool IsJoiner(QChar c) { return c == u' ' || c == u',' || c == u'\u00A0' || c == u'\u202F'; }

}  // namespace

QString ShortDatePattern(const QLocale& locale) {
  const QString pattern = locale.dateFormat(QLocale::ShortFormat);
  QString widened;
  widened.reserve(pattern.size() + 2);
  bool quoted = false;
  for (qsizetype i = 0; i < pattern.size(); ++i) {
    const QChar c = pattern[i];
    if (c == u'\'') quoted = !quoted;
    if (quoted || c != u'y') {
      widened += c;
      continue;
    }
    qsizetype run = 1;
    while (i + run < pattern.size() && pattern[i + run] == u'y') ++run;
    widened += QString(run == 2 ? 4 : run, u'y');
    i += run - 1;
  }
  return widened;
}

QString LongTimePattern(const QLocale& locale) {
  return WithoutTimeZone(locale.timeFormat(QLocale::LongFormat));
}

QString WithoutTimeZone(QStringView pattern) {
  QString out = pattern.toString();
  bool quoted = false;
  for (qsizetype i = 0; i < out.size();) {
    if (out[i] == u'\'') quoted = !quoted;
    if (quoted || out[i] != u't') {
      ++i;
      continue;
    }
    qsizetype from = i;
    qsizetype to = i;
    while (to < out.size() && out[to] == u't') ++to;
    if (from > 0 && to < out.size() &&
        ((out[from - 1] == u'(' && out[to] == u')') ||
         (out[from - 1] == u'[' && out[to] == u']'))) {
      --from;
      ++to;
    }
    if (from > 0 && IsJoiner(out[from - 1])) {
      while (from > 0 && IsJoiner(out[from - 1])) --from;
    } else if (from == 0) {
      while (to < out.size() && IsJoiner(out[to])) ++to;
    }
    out.remove(from, to - from);
    i = from;
  }
  return out.trimmed();
}

QString GeneralDateText(QDate date, QTime time, const QLocale& locale) {
  QString text = locale.toString(date, ShortDatePattern(locale));
  if (time != QTime(0, 0)) text += u' ' + locale.toString(time, LongTimePattern(locale));
  return text;
}

}  // namespace vorlan::format
