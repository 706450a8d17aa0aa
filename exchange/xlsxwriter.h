#pragma once

#include <QString>
#include <QStringList>

class DataModel;
class TableSource;

// Writer of Excel workbooks (.xlsx, Office Open XML), laid out as the .xls
// export lays out its sheets: the header texts in row 1, the table's cells
// from A2; numbers as number cells, column B as real date-time cells
// formatted "yyyy-mm-dd hh:mm:ss" wherever the row has a time a spreadsheet
// can hold (text otherwise), columns C onwards as text in the text format
// "@", column widths fitted to the content. A sheet holds 1,048,576 rows, so
// longer tables continue on "Sheet2", "Sheet3" ... each starting with the
// same header row.
//
// The workbook is streamed: rows are formatted and deflated in blocks (on
// several threads when the source allows it) and written as they are done,
// so memory stays the same whatever the number of rows. Texts are written
// inline in their cells; no shared string table grows with the rows.
namespace xlsx {

// Rows of one sheet, header included.
constexpr int kSheetRows = 1048576;
// Data rows of one sheet below its header row.
constexpr int kDataRowsPerSheet = kSheetRows - 1;

// Writes the header row and every row of the source to a new workbook at
// path, beside the target first and renamed into place only when complete,
// so a failure never leaves a partial file nor harms an existing one. False
// with a reason in *errorMessage (when given) when the file was not written.
bool writeTable(const QString &path, const QStringList &headers, const TableSource &source,
                QString *errorMessage = nullptr);

// The rows the reading table shows (its store, in its row order) under the
// table's header, as the window's export writes them; needs no widgets.
bool writeReadings(const QString &path, const DataModel &table, QString *errorMessage = nullptr);

} // namespace xlsx
