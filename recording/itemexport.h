// SPDX-License-Identifier: MIT
#pragma once

#include "fileformat.h"
#include "reportcolumn.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <functional>

class DataModel;
namespace analysis {
class Judge;
}

// Writing an item's readings to a file, the same for the window and the
// headless recorder. The rows come from a reading table (DataModel): what the
// table shows is what is written, and the number of rows written is what the
// file holds, however many readings arrive meanwhile.
namespace itemexport {

using exchange::FileFormat;
// The formats an item can be written to by name (the chart picture needs the window).
bool canWrite(FileFormat format);

// The five columns of the report.
const QList<ReportColumn> &reportColumns();

struct Result
{
    bool ok = false;
    bool cancelled = false;
    int written = 0; // rows the file holds, from the first on
    QString error;
};

// Progress of a long write (rows done, rows in all); false cancels.
using Progress = std::function<bool(int done, int total)>;

Result writeXls(const QString &fileName, const DataModel &rows);
Result writeXlsx(const QString &fileName, const DataModel &rows);
// Loss and verdict columns come from judge.
Result writeCsv(const QString &fileName, const DataModel &rows, const analysis::Judge &judge);
// Needs a QGuiApplication (fonts).
Result writePdf(const QString &fileName, const DataModel &rows, const Progress &progress = {});
// By the file's suffix.
Result write(const QString &fileName, const DataModel &rows, const analysis::Judge &judge,
             const Progress &progress = {});

} // namespace itemexport
