#pragma once

#include <QByteArrayView>
#include <QLocale>
#include <QString>

#include <vector>

// Turns one call record into the labelled text of the Formatted Output window and decides the
// record's BadRecord flag through its data type 6 items.
namespace vorlan::format {

struct FormatResult {
  QString text;    // the window's whole new text; empty when the window is hidden
  bool badRecord;  // the new BadRecord value
};

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

// Walks the record's data items from its tenth character on. Every data type 6 item is judged
// (FormatRecordFields), visible or not, and the last one decides; a record without one leaves
// badRecord as it was.
//
// An item whose length reads as negative or as a fraction ends the record's formatting at that
// item: what came before stands, the item and anything after it are not shown.
FormatResult FormatData(QByteArrayView record, bool visible, const QString& maxTime, bool badRecord,
                        const QLocale& locale = QLocale());

}  // namespace vorlan::format
