#include "store/call_rows.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include "format/call_csv.h"
#include "format/record_formatter.h"

namespace vorlan::store {
namespace {

QString TextOf(QByteArrayView bytes) {
  QString text = QString::fromLatin1(bytes.data(), bytes.size());
  text.replace(QChar(0), QChar(QChar::ReplacementCharacter));
  return text;
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

QByteArray Stamp(const QDateTime& at) {
  return at.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")).toLatin1();
}

}  // namespace

QByteArray ItemsJson(QByteArrayView record) {
  QJsonArray items;
  for (const auto& [type, data] : format::RecordItems(record)) {
    items.append(QJsonObject{{"type", type}, {"data", TextOf(data)}});
  }
  return QJsonDocument(items).toJson(QJsonDocument::Compact);
}

QByteArray CopyRow(const QByteArray& exchange, QByteArrayView record, bool markedBad,
                   const QByteArray& logFile, qint64 logLine) {
  QByteArray line;
  line.reserve(record.size() * 4 + 128);
  Field(line, exchange);
  line += "\\\\x" + record.toByteArray().toHex() + '\t';
  Field(line, markedBad ? "t" : "f");
  Field(line, TextOf(format::CallType(record)).toUtf8());
  if (const std::optional<format::CallTimes> times = format::RecordCallTimes(record)) {
    Field(line, Stamp(times->start));
    Field(line, Stamp(times->end));
    Field(line, QByteArray::number(times->talkSeconds));
  } else {
    Null(line);
    Null(line);
    Null(line);
  }
  Field(line, ItemsJson(record));
  Field(line, logFile);
  Field(line, QByteArray::number(logLine));
  line.back() = '\n';
  return line;
}

}  // namespace vorlan::store
