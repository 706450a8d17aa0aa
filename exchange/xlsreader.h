#pragma once

#include <QString>
#include <QVariantList>
#include <QVector>

// Reader of classic .xls workbooks on FreeXL.
//
// Hands back the used cells of sheet 1 as rows of values, its first row (the
// header) removed, followed by the rows of every further sheet whose first
// row equals sheet 1's, so that workbooks whose table continues on further
// sheets read back whole. Cell values: date, date-time and time cells as
// QDateTime (a time alone on 1899-12-30, as spreadsheets count it), text as
// QString, numbers as their shortest decimal text ("1", "0.501"), empty
// cells inside a row as an invalid QVariant.
namespace xls {

enum class ReadStatus
{
    Ok,
    ReaderUnavailable, // the reading library cannot run
    OpenFailed, // not a readable .xls (missing, truncated, encrypted, other format, no sheet)
    ReadFailed, // a failure while reading cells; the rows read so far are kept
};

struct ReadResult
{
    ReadStatus status = ReadStatus::OpenFailed;
    QVector<QVariantList> rows; // data rows, header rows removed
    int skippedRows = 0;        // rows with fewer than five cells (wholly empty rows are not rows)
    QString errorMessage;
};

ReadResult readRows(const QString &path);

} // namespace xls
