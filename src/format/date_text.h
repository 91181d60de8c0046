#pragma once

#include <QDate>
#include <QLocale>
#include <QString>
#include <QStringView>
#include <QTime>

// How the Formatted Output window shows a call's start and end: the locale's general date
// format, that is the short date, a blank and the long time.
namespace vorlan::format {

// The short date, with a two-digit year widened to four: record years run from 1930 to 2029
// and beyond, and "30" would not tell 1930 from 2030.
QString ShortDatePattern(const QLocale& locale);

// The long time without its time-zone field: the stamps carry no zone, so naming one would be
// a claim the record does not make.
QString LongTimePattern(const QLocale& locale);

// Drops every time-zone field ("t" outside quotes) from a pattern, together with the brackets
// around it and the separator that joined it to the rest.
QString WithoutTimeZone(QStringView pattern);

// Short date, a blank, long time; a time of exactly midnight shows the date alone.
QString GeneralDateText(QDate date, QTime time, const QLocale& locale);

}  // namespace vorlan::format
