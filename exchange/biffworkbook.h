#pragma once

#include "xlsreader.h"

#include <QByteArray>
#include <QString>
#include <QVariant>
#include <QVector>

#include <functional>
#include <memory>

// The cells of a BIFF5/7 or BIFF8 workbook read straight from its records,
// streamed from the file: the globals (formats, shared strings, the sheet
// list) are read once, then each sheet on demand, and only columns A..E of
// it are kept (the import reads nothing else). Memory stays within a small
// multiple of what the file itself holds: the shared strings packed as
// UTF-16, and one sheet's five columns (at most 65,536 rows) at a time.
//
// The walk accepts only what it reads reliably: records whose lengths fit
// the stream, cells within the format's limits (256 columns; 65,536 rows is
// what a cell's row field holds), shared strings that are there. Anything
// else refuses the workbook with a reason.
namespace xls {

class BiffReaderPrivate;

class BiffReader
{
public:
    // Rows of a sheet in ascending order, each with its cells in A..E
    // (empty cells as invalid QVariants); rows without any such cell are not
    // handed out. Returning false stops the sheet.
    using RowFn = std::function<bool(quint32 row, const QVariantList &cells)>;

    // The workbook stream of an OLE2 compound file ("Workbook", or "Book"
    // of older versions); null with *error set when there is none.
    static std::unique_ptr<BiffReader> openFile(const QString &path, QString *error);
    // A workbook stream held in memory (the caller keeps it alive).
    static std::unique_ptr<BiffReader> openStream(const QByteArray &stream, QString *error);

    ~BiffReader();
    BiffReader(const BiffReader &) = delete;
    BiffReader &operator=(const BiffReader &) = delete;

    int sheetCount() const;
    bool isWorksheet(int sheet) const;
    // Walks one sheet and hands out its rows; false with errorMessage() on a
    // damaged sheet (before any of its rows was handed out). A sheet whose
    // walk would start or run inside the records walked for another sheet is
    // refused, and so are rows beyond what the file's size can hold (a row
    // costs a cell record of at least 12 bytes).
    bool readSheet(int sheet, const RowFn &rows);
    QString errorMessage() const;
    // How far the walk is into the workbook stream, and its length.
    qint64 streamPosition() const;
    qint64 streamSize() const;

private:
    explicit BiffReader(std::unique_ptr<BiffReaderPrivate> d);
    std::unique_ptr<BiffReaderPrivate> d;
};

struct BiffSheet
{
    // Used rows, indexed by row number; each row up to its last non-empty
    // cell within A..E, empty cells inside a row as an invalid QVariant.
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

// Reads every sheet of a workbook stream at once (for tests and comparisons).
// Cell values as xls::readRows hands them out.
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

// The two ways of reading a workbook's table, for comparing them: with
// FreeXL alone, and through the record walk that xls::readRows uses.
ReadResult readRowsWithFreeXL(const QString &path);
ReadResult readRowsNative(const QString &path);

} // namespace xls
