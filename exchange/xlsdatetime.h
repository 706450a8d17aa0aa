#pragma once

#include <QDate>
#include <QString>
#include <QTime>

namespace xls {

// Reads "yyyy-MM-dd hh:mm:ss" or, when allowMinutes, also "yyyy-MM-dd hh:mm"
// (the table's times of stored readings), strictly with two-digit fields.
// Hand-written because Qt's format parser consults the local time zone on
// every call, which dominates the cost of large sheets.
bool parseTimestamp(const QString &text, QDate *date, QTime *time, bool allowMinutes = true);

// Same for FreeXL's "YYYY-MM-DD" date and "HH:MM:SS" time texts.
QDate parseIsoDate(const QString &text);
QTime parseIsoTime(const QString &text);

} // namespace xls
