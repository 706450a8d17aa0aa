#pragma once

#include "xlsreader.h"

#include <QByteArray>
#include <QString>
#include <QVariant>
#include <QVector>

// The cells of a BIFF8 workbook read straight from its records, the fast
// path of xls::readRows (FreeXL converts every date cell by counting days one
// at a time, which dominates the import of large sheets).
//
// The walk accepts only what it reads reliably: a BIFF8 workbook stream with
// consistent records. Anything else (older BIFF versions, encryption, records
// too short for their kind, a shared string that is not there ...) makes it
// give up, and the caller reads the file with FreeXL instead.
namespace xls {

struct BiffSheet
{
    // Used rows, indexed by row number; each row up to its last non-empty
    // cell, empty cells inside a row as an invalid QVariant.
    QVector<QVariantList> rows;
};

struct BiffWorkbook
{
    bool ok = false;
    QString errorMessage;      // why the walk gave up
    QVector<BiffSheet> sheets; // in the order of the workbook's sheet list
};

// The "Workbook" stream of an OLE2 compound file; empty when there is none
// or the container cannot be read.
QByteArray workbookStream(const QString &path);

// Whether a workbook stream starts as a BIFF8 workbook (its first record is a
// BOF of version 0x0600); older versions start otherwise.
bool isBiff8Stream(const QByteArray &stream);

// Reads a workbook stream. Cell values as xls::readRows hands them out.
BiffWorkbook readBiffWorkbook(const QByteArray &stream);

// Whether a number format shows its number as a date, a time or both:
// y, d, h or s outside quoted text, brackets and escaped characters; m alone
// (month or minute) only together with one of them.
bool isDateFormat(const QString &format);

// A number as its shortest decimal text ("1", "0.501").
QString numberText(double v);

// Serial days of the 1900 or 1904 date system to a date-time, to the nearest
// second; a time alone (less than one day) on 1899-12-30. Invalid when the
// serial lies outside 0 .. 9999-12-31.
QDateTime serialDateTime(double serial, bool date1904);

// The two ways xls::readRows reads a workbook, for comparing them: with
// FreeXL alone, and through the record walk (status OpenFailed when the walk
// gives up).
ReadResult readRowsWithFreeXL(const QString &path);
ReadResult readRowsNative(const QString &path);

} // namespace xls
