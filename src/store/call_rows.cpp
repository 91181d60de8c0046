#include "store/call_rows.h"

#include <QDate>
#include <QLocale>
#include <QTime>

#include <array>

#include "format/call_csv.h"
#include "format/record_formatter.h"

namespace vorlan::store {
namespace {

// Latin-1 bytes as UTF-8, NUL as U+FFFD: PostgreSQL text cannot hold a NUL.
void AppendText(QByteArray& out, QByteArrayView bytes) {
  for (const char c : bytes) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte == 0) {
      out += "\xEF\xBF\xBD";
    } else if (byte < 0x80) {
      out += c;
    } else {
      out += char(0xC0 | (byte >> 6));
      out += char(0x80 | (byte & 0x3F));
    }
  }
}

// A JSON string of Latin-1 bytes. Written by hand: it runs once per item of every record.
void AppendJsonString(QByteArray& out, QByteArrayView bytes) {
  static constexpr char kHex[] = "0123456789abcdef";
  out += '"';
  for (const char c : bytes) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte == '"' || byte == '\\') {
      out += '\\';
      out += c;
    } else if (byte != 0 && byte < 0x20) {
      out += "\\u00";
      out += kHex[byte >> 4];
      out += kHex[byte & 0xF];
    } else {
      AppendText(out, QByteArrayView(&c, 1));
    }
  }
  out += '"';
}

// COPY text: backslash, tab, LF and CR are escaped; everything else goes as it is.
void Field(QByteArray& line, QByteArrayView utf8) {
  for (const char c : utf8) {
    switch (c) {
      case '\\': line += "\\\\"; break;
      case '\t': line += "\\t"; break;
      case '\n': line += "\\n"; break;
      case '\r': line += "\\r"; break;
      default: line += c;
    }
  }
  line += '\t';
}

void Null(QByteArray& line) { line += "\\N\t"; }

// yyyy-MM-dd hh:mm:ss: written digit by digit, as it runs twice for every record. The times
// read from a record have years 1 to 9999.
using StampText = std::array<char, 19>;

StampText Stamp(const QDateTime& at) {
  const QDate date = at.date();
  const QTime time = at.time();
  StampText text{};
  const auto put = [&text](std::size_t at, int value, int digits) {
    for (int i = digits - 1; i >= 0; --i, value /= 10)
      text[at + std::size_t(i)] = char('0' + value % 10);
  };
  put(0, date.year(), 4);
  text[4] = '-';
  put(5, date.month(), 2);
  text[7] = '-';
  put(8, date.day(), 2);
  text[10] = ' ';
  put(11, time.hour(), 2);
  text[13] = ':';
  put(14, time.minute(), 2);
  text[16] = ':';
  put(17, time.second(), 2);
  return text;
}

void Field(QByteArray& line, const StampText& stamp) {
  line.append(stamp.data(), qsizetype(stamp.size()));
  line += '\t';
}

// The type as JSON writes it and jsonb reads it back: the shortest text of the same number
// (6, 0.6); numeric has no negative zero.
QByteArray TypeText(double type) {
  return type == 0 ? QByteArray("0")
                   : QByteArray::number(type, 'g', QLocale::FloatingPointShortest);
}

// Not in the item keys: the times (type 6) and the dialled number (type 2), each call's own,
// which no one looks calls up by; as a new key of the item index at every insert, the
// dialled number alone made most of the index's cost to the load.
bool Keyed(double type) { return type != 2 && type != 6; }

// The items as JSON and, the keyed ones, as the elements of a text[] in its text form,
// "type:data" each: the keys the item index holds.
void AppendItems(QByteArrayView record, QByteArray& json, QByteArray* keys) {
  json += '[';
  if (keys) *keys += '{';
  for (const auto& [type, data] : format::RecordItems(record)) {
    if (json.size() > 1) json += ',';
    const QByteArray typeText = TypeText(type);
    json += "{\"type\":" + typeText + ",\"data\":";
    AppendJsonString(json, data);
    json += '}';
    if (!keys || !Keyed(type)) continue;
    if (keys->size() > 1) *keys += ',';
    QByteArray key = typeText + ':';
    AppendText(key, data);
    *keys += '"';
    for (const char c : key) {
      if (c == '"' || c == '\\') *keys += '\\';
      *keys += c;
    }
    *keys += '"';
  }
  json += ']';
  if (keys) *keys += '}';
}

}  // namespace

QByteArray ItemsJson(QByteArrayView record) {
  QByteArray json;
  AppendItems(record, json, nullptr);
  return json;
}

QByteArray CopyRow(const QByteArray& exchange, QByteArrayView record, bool markedBad,
                   const QByteArray& logFile, qint64 logLine, QByteArrayView lineKey,
                   const QByteArray& journal, RowFacts* facts) {
  QByteArray line;
  line.reserve(record.size() * 4 + 128);
  Field(line, exchange);
  line += "\\\\x" + record.toByteArray().toHex() + '\t';
  Field(line, markedBad ? "t" : "f");
  QByteArray callType;
  AppendText(callType, format::CallType(record));
  Field(line, callType);
  const std::optional<format::CallTimes> times = format::RecordCallTimes(record);
  if (facts) {
    facts->timed = times.has_value();
    if (times) {
      const QDate day = times->start.date();
      facts->hour = ((qint64(day.year()) * 100 + day.month()) * 100 + day.day()) * 100 +
                    times->start.time().hour();
      facts->talkSeconds = times->talkSeconds;
    }
  }
  const StampText start = times ? Stamp(times->start) : StampText{};
  if (times) {
    Field(line, start);
    Field(line, Stamp(times->end));
    Field(line, QByteArray::number(times->talkSeconds));
  } else {
    Null(line);
    Null(line);
    Null(line);
  }
  QByteArray json;
  QByteArray keys;
  AppendItems(record, json, &keys);
  Field(line, json);
  Field(line, logFile);
  Field(line, QByteArray::number(logLine));
  line += "\\\\x" + lineKey.toByteArray().toHex() + '\t';
  Field(line, journal);
  if (times) {
    line.append(start.data(), 8);
    line += "01\t";
  } else {
    Null(line);
  }
  Field(line, keys);
  line.back() = '\n';
  return line;
}

}  // namespace vorlan::store
