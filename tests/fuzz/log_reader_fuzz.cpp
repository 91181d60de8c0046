// The log reader under any file, and every log the program can write read back unchanged.
// The input is read as a file as it stands (also repeated to 1 MiB, timed), as the records of a
// log to write (split at ETX, each marked "<BAD>:" when its length is odd), and appended to.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include <algorithm>
#include <vector>

#include "logging/log_reader.h"
#include "logging/record_log.h"

using vorlan::logging::LogLine;
using vorlan::logging::LogReader;

namespace {

[[noreturn]] void Fail(const char* what, qint64 detail) {
  std::fprintf(stderr, "log reader: %s (%lld)\n", what, static_cast<long long>(detail));
  std::abort();
}

// Any file: every line lies in the file after the one before, starts on the line its number
// says, and a record runs from STX to its only ETX, followed by CR LF.
void ReadAnyFile(QByteArrayView file) {
  LogReader reader(file);
  qsizetype before = 0;
  qint64 lineNumber = 1;
  size_t records = 0;
  size_t others = 0;
  while (const std::optional<LogLine> line = reader.Next()) {
    const qsizetype start = line->bytes.data() - file.data();
    if (reader.Position() <= before) Fail("no progress at", before);
    if (start < before || start + line->bytes.size() > reader.Position()) Fail("line out of place", start);
    const qsizetype lineStart = before;
    if (line->line != lineNumber) Fail("wrong line number at", lineStart);
    if (line->isRecord) {
      ++records;
      const QByteArrayView r = line->bytes;
      if (r.size() < 2 || r.front() != 0x02 || r.back() != 0x03) Fail("record not STX..ETX", start);
      if (r.first(r.size() - 1).contains(0x03)) Fail("ETX inside a record", start);
      if (!file.sliced(start + r.size()).startsWith("\r\n")) Fail("record without CR LF", start);
      if (line->markedBad != (start - lineStart == 6)) Fail("marker misread", start);
    } else {
      ++others;
      if (line->bytes.contains('\n')) Fail("LF inside another line", start);
    }
    before = std::min(reader.Position(), file.size());
    lineNumber += std::count(file.begin() + lineStart, file.begin() + before, '\n');
  }
  if (before < file.size()) Fail("stopped early at", before);
  const vorlan::logging::LogContents contents = vorlan::logging::ReadLog(file);
  if (contents.records.size() != records || contents.others.size() != others) {
    Fail("ReadLog counts differ", qint64(records));
  }
}

// A log written by the program: read back record for record, byte for byte.
void ReadWrittenLog(QByteArrayView data) {
  std::vector<QByteArray> records;
  QByteArray file;
  for (QByteArrayView rest = data; !rest.isEmpty();) {
    const qsizetype etx = rest.indexOf(0x03);
    const QByteArrayView body = etx < 0 ? rest : rest.first(etx);
    rest = etx < 0 ? QByteArrayView() : rest.sliced(etx + 1);
    records.push_back(QByteArray(1, 0x02) + body.toByteArray() + QByteArray(1, 0x03));
    file += vorlan::logging::RecordLine(records.back(), body.size() % 2 == 1);
  }
  LogReader reader(file);
  qint64 line = 1;
  for (const QByteArray& record : records) {
    const std::optional<LogLine> read = reader.Next();
    if (!read || !read->isRecord) Fail("written record not read as one, line", line);
    if (read->bytes != record) Fail("record changed, line", line);
    if (read->line != line) Fail("wrong line number", line);
    if (read->markedBad != (record.size() % 2 == 1)) Fail("marker lost, line", line);
    line += std::count(record.begin(), record.end(), '\n') + 1;
  }
  if (reader.Next()) Fail("more lines than written", line);
}

// A file that ends anywhere, a record appended as the log appends it: read as that record.
void AppendToAnyFile(QByteArrayView file) {
  using namespace vorlan::logging;
  const QByteArray record = "\x02" "APPENDED\r\n\x03";
  const LogContents read = ReadLog(file.toByteArray() + LineEndBeforeAppending(file, true).toByteArray() + RecordLine(record, false));
  if (read.records.size() != ReadLog(file).records.size() + 1 || read.records.back().record != record) {
    Fail("appended record not read as itself, records", qint64(read.records.size()));
  }
}

// Processor time, which a busy machine cannot stretch: 50 ms + 1 us a byte is ten times linear
// reading of 1 MiB under the sanitizers, under half of searching to the end from each short line.
void ReadInLinearTime(QByteArrayView input) {
  if (input.isEmpty()) return;
  const QByteArray file = input.toByteArray().repeated((qsizetype{1} << 20) / input.size() + 1);
  const std::clock_t start = std::clock();
  for (LogReader reader(file); reader.Next();) {
  }
  const double seconds = double(std::clock() - start) / CLOCKS_PER_SEC;
  if (seconds > 0.05 + 1e-6 * double(file.size())) Fail("slow reading, ms", qint64(seconds * 1e3));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const auto bytes = QByteArrayView(reinterpret_cast<const char*>(data), qsizetype(size));
  ReadAnyFile(bytes);
  ReadWrittenLog(bytes);
  AppendToAnyFile(bytes);
  ReadInLinearTime(bytes);
  return 0;
}
