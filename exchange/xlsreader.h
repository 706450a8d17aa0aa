#pragma once

#include <QString>
#include <QVariantList>
#include <QVector>

#include <functional>

// Reader of classic .xls workbooks (BIFF8, and BIFF5/7 of Excel 95).
//
// The table is sheet 1 without its first row (the header, whatever it
// holds). Every further row with any cell in A..E is one row of the table,
// read as exactly five cells: cells it lacks are empty (an invalid QVariant);
// rows without any cell in A..E are skipped. The table goes on onto the next
// sheet only when the sheet before it is full (its rows reach the last row a
// sheet has, as the export fills 65,535 readings per sheet) and that sheet's
// first row repeats sheet 1's header; that row is skipped too.
//
// Cell values: date, date-time and time cells as QDateTime (a time alone on
// 1899-12-30, as spreadsheets count it), text as QString, numbers as their
// shortest decimal text ("1", "0.501").
namespace xls {

enum class ReadStatus
{
    Ok,
    ReaderUnavailable, // the reading library cannot run
    OpenFailed, // not a readable .xls (missing, truncated, encrypted, other format, no sheet); no
                // row was read
    ReadFailed, // a failure after some rows were already handed out
    Cancelled,  // progress said stop
};

// Receives the table's rows one at a time, in order: always five cells.
using RowSink = std::function<void(const QVariantList &cells)>;

struct ReadSummary
{
    ReadStatus status = ReadStatus::OpenFailed;
    qint64 rows = 0; // rows handed to the sink
    QString errorMessage;
};

// Called now and then with how far the reading is (bytes of the workbook
// stream walked, of total); returning false stops it.
using ReadProgress = std::function<bool(qint64 done, qint64 total)>;

// Streams the table of the workbook at path to sink, row by row; nothing
// but the sheet being read is held in memory.
ReadSummary readTable(const QString &path, const RowSink &sink,
                      const ReadProgress &progress = ReadProgress());

struct ReadResult
{
    ReadStatus status = ReadStatus::OpenFailed;
    QVector<QVariantList> rows; // the table's rows, five cells each
    QString errorMessage;
};

// The whole table at once, on top of readTable.
ReadResult readRows(const QString &path);

// False only when the reading library cannot be started.
bool readerAvailable();

} // namespace xls
