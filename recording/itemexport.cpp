// SPDX-License-Identifier: MIT
#include "itemexport.h"

#include "csvwriter.h"
#include "datamodel.h"
#include "judge.h"
#include "pdfreport.h"
#include "readingtablesource.h"
#include "sample.h"
#include "xlswriter.h"
#include "xlsxwriter.h"

#include <QDir>
#include <QFileInfo>

namespace itemexport {

bool canWrite(FileFormat format)
{
    switch (format) {
    case FileFormat::Xls:
    case FileFormat::Xlsx:
    case FileFormat::Csv:
    case FileFormat::Pdf:
        return true;
    case FileFormat::Jpg:
    case FileFormat::Unknown:
        break;
    }
    return false;
}

const QList<ReportColumn> &reportColumns()
{
    static const QList<ReportColumn> columns = {{QStringLiteral("No."), QRect(), 2},
                                                {QStringLiteral("Time"), QRect(), 3},
                                                {QStringLiteral("Value"), QRect(), 3},
                                                {QStringLiteral("Unit"), QRect(), 2},
                                                {QStringLiteral("WaveLength"), QRect(), 2}};
    return columns;
}

Result writeXls(const QString &fileName, const DataModel &rows)
{
    Result result;
    if (!xls::writerAvailable()) {
        result.error = QStringLiteral("no spreadsheet writer");
        return result;
    }
    const ReadingTableSource source(rows);
    result.written = source.rowCount();
    result.ok = xls::writeTable(QDir::toNativeSeparators(fileName), readingTableHeaders(), source,
                                &result.error);
    return result;
}

Result writeXlsx(const QString &fileName, const DataModel &rows)
{
    Result result;
    result.written = rows.rowCount();
    result.ok = xlsx::writeReadings(fileName, rows, &result.error);
    return result;
}

Result writeCsv(const QString &fileName, const DataModel &rows, const analysis::Judge &judge)
{
    Result result;
    result.written = rows.rowCount();
    const ReadingStore *store = rows.store();
    auto derived = [&judge, store](int index) {
        const analysis::Sample sample = analysis::sampleAt(*store, index);
        csv::Derived d;
        d.verdict = analysis::verdictText(judge.verdict(sample, &d.lossDB));
        return d;
    };
    result.ok = csv::writeReadings(fileName, rows, derived, &result.error);
    return result;
}

Result writePdf(const QString &fileName, const DataModel &rows, const Progress &progress)
{
    Result result;
    auto onProgress = [&](int done, int total) {
        if (progress && !progress(done, total))
            result.cancelled = true;
        return !result.cancelled;
    };
    const ReadingTableSource source(rows);
    result.written = source.rowCount();
    result.ok = pdf::writeReport(fileName, source, reportColumns(), onProgress, &result.error);
    return result;
}

Result write(const QString &fileName, const DataModel &rows, const analysis::Judge &judge,
             const Progress &progress)
{
    switch (exchange::fileFormatOf(fileName)) {
    case FileFormat::Xls:
        return writeXls(fileName, rows);
    case FileFormat::Xlsx:
        return writeXlsx(fileName, rows);
    case FileFormat::Csv:
        return writeCsv(fileName, rows, judge);
    case FileFormat::Pdf:
        return writePdf(fileName, rows, progress);
    case FileFormat::Jpg:
    case FileFormat::Unknown:
        break;
    }
    Result result;
    result.error = QStringLiteral("unknown file type");
    return result;
}

} // namespace itemexport
