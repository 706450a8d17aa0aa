#pragma once

#include "reportcolumn.h"

#include <QList>
#include <QString>
#include <QVector>
#include <functional>

class QAbstractItemModel;
class QVariant;
class TableSource;

// The paged PDF report of a reading table: a first page carrying only its
// page label, then table pages with a time stamp, a page label "n/total", a
// header row of the column titles and one line per table row. Every vertical
// position is a multiple of the row height, which comes from the painter's
// default font; the texts themselves are set in 12 points.
namespace pdf {

struct Layout
{
    int margin = 0;       // left margin, page width / 20
    int right = 0;        // right border R = page width - margin
    int contentWidth = 0; // page width - 2 * margin
    int rowHeight = 0;    // h: 2 x the default font's line height
    int rowsPerPage = 0;  // (page height - 5h) / h, at least 1
    int tablePages = 0;   // P; the document is labelled with P + 1 pages
    QVector<int> colX;    // left edge of each printed column
    QVector<int> colW;    // width of each printed column
};

// Computes the layout the writer uses (exposed for tests and callers that
// want to preview the page count). Columns beyond the shorter of columnCount
// and columns.size() are not printed. A page too small for even one row still
// gets one row per page, and weights summing to zero share the width equally.
Layout computeLayout(int pageWidth, int pageHeight, int rowHeight, int rowCount,
                     const QList<ReportColumn> &columns, int columnCount);

// The text a table cell shows in the report: integers in decimal, text as is,
// date-times as "yyyy-MM-dd hh:mm:ss", anything else by its string conversion.
QString cellText(const QVariant &value);

// Writes the report of the model's display texts to path (A4, the PDF
// writer's default resolution and margins). progress(done, total) is called
// with the number of table rows written so far; returning false cancels.
// The file appears only when the whole report was written: on failure or
// cancel nothing is left at path (an existing file there is kept as it was),
// false is returned and *error says why.
bool writeReport(const QString &path, const QAbstractItemModel &model,
                 const QList<ReportColumn> &columns,
                 const std::function<bool(int, int)> &progress = {}, QString *error = nullptr);

// The same for the rows of a table source, each cell shown as
// TableCell::displayText gives it.
bool writeReport(const QString &path, const TableSource &source, const QList<ReportColumn> &columns,
                 const std::function<bool(int, int)> &progress = {}, QString *error = nullptr);

} // namespace pdf
