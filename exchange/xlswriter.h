#pragma once

#include <QString>
#include <QStringList>

class QAbstractItemModel;
class TableSource;

// Native writer of classic BIFF8 .xls workbooks (the OLE2 container comes from
// libgsf, the records are ours).
//
// Layout: the header texts in row 1, the table's cells from A2. Numbers
// become number cells; column B holds real date-time cells formatted
// "yyyy-MM-dd hh:mm:ss" wherever the row has a time a spreadsheet can hold
// (text cells otherwise); columns C onwards are text cells in the text format
// "@". Column widths are fitted to the content. A BIFF8 sheet holds 65,536
// rows, so longer tables continue on "Sheet2", "Sheet3" ... each starting with
// the same header row.
//
// The workbook is streamed to the file row by row: memory stays the same
// whatever the number of rows. Texts of up to 255 characters are stored in
// their cells (LABEL records); only longer ones go to the shared string table,
// which is then collected in a first pass over the rows.
namespace xls {

// Rows of one sheet, header included.
constexpr int kSheetRows = 65536;
// Data rows of one sheet below its header row.
constexpr int kDataRowsPerSheet = kSheetRows - 1;

// Writes the header row and every row of the source to a new workbook at
// path. The file is written to a temporary file beside the target and renamed
// into place only when complete, so a failure never leaves a partial file nor
// harms an existing one. Returns true only when the file was really written;
// otherwise false with a reason in *errorMessage (when given).
bool writeTable(const QString &path, const QStringList &headers, const TableSource &source,
                QString *errorMessage = nullptr);

// The same for the display values of a table model (see ModelTableSource).
bool writeTable(const QString &path, const QStringList &headers, const QAbstractItemModel &model,
                QString *errorMessage = nullptr);

// False only when the container library cannot be started.
bool writerAvailable();

} // namespace xls
