#pragma once

#include <QByteArrayView>
#include <QLocale>
#include <QString>

#include <vector>

// Turns one call record into the labelled text of the Formatted Output window, and decides
// whether the over-long-call alarm flags it.
namespace vorlan::format {

// One data item of a record: its type as read by the leading-number rule, and its data.
struct DataItem {
  double type = 0;
  QByteArrayView data;
};

// The record's data items, from its tenth character on, as FormatData walks them (at least
// one; an item whose length reads as negative or as a fraction ends the walk before it).
std::vector<DataItem> RecordItems(QByteArrayView record);

// A data type as the Formatted Output window shows it: 06 as 6, a field ".6" as 0.6.
QString TypeText(double type);

// Characters 4 and 5 of the record, its call type; fewer where the record ends sooner.
QByteArrayView CallType(QByteArrayView record);

// The record's flag, the one verdict that the log's "<BAD>:" mark, the CSV and the Import table
// all show: its last data type 6 item decides (CallFlagged); a record without one is not judged,
// so not flagged.
bool FlaggedByAlarm(QByteArrayView record, const QString& maxTime);

// The window's whole text for the record: its data items from its tenth character on, each data
// type 6 item with its time lines unless the alarm flags it.
//
// An item whose length reads as negative or as a fraction ends the record's formatting at that
// item: what came before stands, the item and anything after it are not shown.
QString FormatData(QByteArrayView record, const QString& maxTime,
                   const QLocale& locale = QLocale());

}  // namespace vorlan::format
