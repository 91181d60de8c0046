#include "app/imported_records.h"

#include <gtest/gtest.h>

#include <QPersistentModelIndex>

#include "call_records.h"
#include "format/record_formatter.h"

namespace vorlan {
namespace {

using records::Item;
using records::Record;
using records::Times;

// Lines 1 to 7: talk times 312, 30 (marked), none (line 3 is not a record), 120 (a record with
// CR LF inside, two lines), 50.
const QByteArray kCall1 = Record("03", Times("20261207120000", "20261207120512"));
const QByteArray kCall2 = Record("01", Times("20261207110000", "20261207110030"));
const QByteArray kCall4 = Record("02", Item(4, "TRUNK"));
const QByteArray kCall5 = Record("01", Item(1, "a\r\nb") + Times("20261207100000", "20261207100200"));
const QByteArray kCall7 = Record("04", Times("20261207130000", "20261207130050"));
const QByteArray kFile = kCall1 + "\r\n<BAD>:" + kCall2 + "\r\ngarbage\r\n" + kCall4 + "\r\n" +
                         kCall5 + "\r\n" + kCall7 + "\r\n";

std::unique_ptr<ImportedRecords> Imported(const QString& maxTime = "100") {
  return std::make_unique<ImportedRecords>("f.log", kFile, maxTime);
}

std::vector<qint64> ShownLines(const ImportedRecords& table) {
  std::vector<qint64> lines;
  for (int row = 0; row < table.rowCount(); ++row) {
    lines.push_back(table.data(table.index(row, ImportedRecords::Line)).toLongLong());
  }
  return lines;
}

struct SortCase {
  const char* name;
  int column;
  Qt::SortOrder order;
  std::vector<qint64> lines;
};

// Equal keys keep the file's order either way; rows without times come last either way.
const SortCase kSorts[] = {
    {"LineDown", ImportedRecords::Line, Qt::DescendingOrder, {7, 5, 4, 2, 1}},
    {"CallType", ImportedRecords::CallType, Qt::AscendingOrder, {2, 5, 4, 1, 7}},
    {"Start", ImportedRecords::Start, Qt::AscendingOrder, {5, 2, 1, 7, 4}},
    {"EndDown", ImportedRecords::End, Qt::DescendingOrder, {7, 1, 2, 5, 4}},
    {"TalkTime", ImportedRecords::TalkTime, Qt::AscendingOrder, {2, 7, 5, 1, 4}},
    {"TalkTimeDown", ImportedRecords::TalkTime, Qt::DescendingOrder, {1, 5, 7, 2, 4}},
    {"OverMaxDown", ImportedRecords::OverMax, Qt::DescendingOrder, {1, 5, 2, 4, 7}},
    {"MarkedDown", ImportedRecords::MarkedBad, Qt::DescendingOrder, {2, 1, 4, 5, 7}},
};

class ImportedSort : public ::testing::TestWithParam<SortCase> {};

TEST_P(ImportedSort, OrdersRowsByTheColumn) {
  const auto table = Imported();
  table->sort(GetParam().column, GetParam().order);
  EXPECT_EQ(ShownLines(*table), GetParam().lines);
}

INSTANTIATE_TEST_SUITE_P(Import, ImportedSort, ::testing::ValuesIn(kSorts),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ImportedRecords, ShowEachRecordAndFollowTheMaximum) {
  const auto table = Imported();
  ASSERT_EQ(ShownLines(*table), (std::vector<qint64>{1, 2, 4, 5, 7}));
  ASSERT_EQ(table->OtherLines().size(), 1u);
  EXPECT_EQ(table->OtherLines()[0].line, 3);
  EXPECT_EQ(table->Summary(),
            "5 records: 2 over the maximum now, 1 marked <BAD>:. 1 line is not a record.");
  const auto cell = [&](int row, int column) {
    return table->data(table->index(row, column)).toString();
  };
  EXPECT_EQ(cell(0, ImportedRecords::CallType), "03");
  EXPECT_EQ(cell(0, ImportedRecords::Start), "2026-12-07 12:00:00");
  EXPECT_EQ(cell(0, ImportedRecords::End), "2026-12-07 12:05:12");
  EXPECT_EQ(cell(0, ImportedRecords::TalkTime), "00:05:12");
  EXPECT_EQ(cell(0, ImportedRecords::OverMax), "yes");
  EXPECT_EQ(cell(1, ImportedRecords::MarkedBad), "<BAD>:");
  EXPECT_EQ(cell(2, ImportedRecords::Start), "");

  // A selected row follows its record through a sort.
  const QPersistentModelIndex selected = table->index(4, ImportedRecords::Line);  // line 7
  table->sort(ImportedRecords::TalkTime, Qt::DescendingOrder);
  EXPECT_EQ(selected.row(), 2);
  EXPECT_EQ(selected.data().toString(), "7");

  table->sort(ImportedRecords::Line, Qt::AscendingOrder);
  table->SetFlaggedOnly(true);
  EXPECT_EQ(ShownLines(*table), (std::vector<qint64>{1, 2, 5}));
  table->SetMaxTime("40");
  EXPECT_EQ(ShownLines(*table), (std::vector<qint64>{1, 2, 5, 7}));
  EXPECT_EQ(table->headerData(ImportedRecords::OverMax, Qt::Horizontal).toString(), "Over 40 s");

  // The record as the Formatted Output window shows it, with the maximum of now.
  EXPECT_EQ(table->FormattedText(3), format::FormatData(kCall7, "40"));
  EXPECT_EQ(table->FormattedText(2), format::FormatData(kCall5, "40"));
  EXPECT_TRUE(table->FormattedText(4).isEmpty());

  const format::CsvRecord marked = table->CsvRecordAt(1);
  EXPECT_EQ(marked.line, 2);
  EXPECT_TRUE(marked.markedBad);
  EXPECT_EQ(marked.flaggedNow, std::optional(false));
  EXPECT_EQ(marked.record.toByteArray(), kCall2);
  table->SetFlaggedOnly(false);
  table->SetMaxTime("");
  EXPECT_EQ(table->CsvRecordAt(0).flaggedNow, std::nullopt) << "no maximum, nothing to judge by";
  EXPECT_EQ(table->CsvRecordAt(3).record.toByteArray(), kCall5);
}

// A file that would take the table over what it may keep is not kept at all; the files before
// it stay whole.
TEST(ImportedRecordsLimit, AFileOverTheLimitIsLeftOutWhole) {
  ImportedRecords table("100", 4096);
  ASSERT_TRUE(table.AddFile("a.log", kFile));
  const qint64 kept = table.KeptBytes();
  EXPECT_FALSE(table.AddFile("b.log", kFile.repeated(40)));
  EXPECT_EQ(table.KeptBytes(), kept);
  EXPECT_EQ(table.FileNames(), QStringList{"a.log"});
  EXPECT_EQ(table.Summary(),
            "5 records: 2 over the maximum now, 1 marked <BAD>:. 1 line is not a record.");
  EXPECT_EQ(table.CsvRecordAt(4).record.toByteArray(), kCall7);
}

}  // namespace
}  // namespace vorlan
