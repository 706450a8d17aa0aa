// SPDX-License-Identifier: MIT
#include "itemexport.h"

#include "csvwriter.h"
#include "datamodel.h"
#include "judge.h"
#include "pdfreport.h"
#include "readingtablesource.h"
#include "sample.h"
#include "xlswriter.h"

#include <QDir>
#include <QFileInfo>

namespace itemexport {

Format formatOfFile(const QString &fileName)
{
    const QString suffix = QFileInfo(fileName).suffix().toLower();
    if (suffix == QLatin1String("xls"))
        return Format::Xls;
    if (suffix == QLatin1String("csv"))
        return Format::Csv;
    if (suffix == QLatin1String("pdf"))
        return Format::Pdf;
    return Format::Unknown;
}

QString suffixOf(Format format)
{
    switch (format) {
    case Format::Xls:
        return QStringLiteral("xls");
    case Format::Csv:
        return QStringLiteral("csv");
    case Format::Pdf:
        return QStringLiteral("pdf");
    case Format::Unknown:
        break;
    }
    return QString();
}

const QStringList &sheetHeaders()
{
    static const QStringList headers = {QStringLiteral("No."), QStringLiteral("Time"),
                                        QStringLiteral("Value"), QStringLiteral("Unit"),
                                        QStringLiteral("WaveLength")};
    return headers;
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
    result.written = rows.rowCount();
    if (!xls::writerAvailable()) {
        result.error = QStringLiteral("no spreadsheet writer");
        return result;
    }
    result.ok = xls::writeTable(QDir::toNativeSeparators(fileName), sheetHeaders(),
                                ReadingTableSource(rows), &result.error);
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
    result.written = rows.rowCount();
    auto onProgress = [&](int done, int total) {
        if (progress && !progress(done, total))
            result.cancelled = true;
        return !result.cancelled;
    };
    result.ok = pdf::writeReport(fileName, ReadingTableSource(rows), reportColumns(), onProgress,
                                 &result.error);
    return result;
}

Result write(const QString &fileName, const DataModel &rows, const analysis::Judge &judge,
             const Progress &progress)
{
    switch (formatOfFile(fileName)) {
    case Format::Xls:
        return writeXls(fileName, rows);
    case Format::Csv:
        return writeCsv(fileName, rows, judge);
    case Format::Pdf:
        return writePdf(fileName, rows, progress);
    case Format::Unknown:
        break;
    }
    Result result;
    result.error = QStringLiteral("unknown file type");
    return result;
}

} // namespace itemexport
