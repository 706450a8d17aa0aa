// Writes a sample export and the CSV a spreadsheet should show for it, for
// check-office-suites.sh (not a CTest test: CI has no office suites).
//
// Usage: xls_sample_export OUT.xls EXPECTED.csv [READINGS]
// With READINGS the table has that many generated readings (use more than
// 65,535 to get several sheets); otherwise the sample readings of the tests.
// The expected CSV holds every sheet's rows one after the other.
#include "xlstesthelpers.h"
#include "xlswriter.h"

#include <QCoreApplication>
#include <QTextStream>

static QString csvField(const QString &s)
{
    QString q = s;
    q.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QLatin1Char('"') + q + QLatin1Char('"');
}

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 3)
        return 2;
    QVector<TableRow> rows = sampleRows();
    if (args.size() > 3) {
        rows.clear();
        const QDateTime start(QDate(2024, 5, 1), QTime(8, 0));
        for (int i = 0, n = args.at(3).toInt(); i < n; ++i)
            rows.append({i + 1, start.addSecs(i).toString("yyyy-MM-dd hh:mm:ss"),
                         QString::number(-3.0 - (i % 500) / 100.0, 'f', 2), QStringLiteral("dBm"),
                         i % 2 ? QStringLiteral("1550nm") : QStringLiteral("0nm")});
    }
    auto model = tableModel(rows);
    QString error;
    if (!xls::writeTable(args.at(1), tableHeaders(), *model, &error)) {
        QTextStream(stderr) << "export failed: " << error << '\n';
        return 1;
    }

    QFile csv(args.at(2));
    if (!csv.open(QIODevice::WriteOnly | QIODevice::Text))
        return 1;
    QTextStream out(&csv);
#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
    out.setCodec("UTF-8"); // Qt 6 writes UTF-8 by default
#endif
    auto header = [&] { out << tableHeaders().join(QLatin1Char(',')) << '\n'; };
    for (int i = 0; i < rows.size(); ++i) {
        if (i % xls::kDataRowsPerSheet == 0)
            header();
        const TableRow &t = rows.at(i);
        // Date-time cells show in the column's "yyyy-MM-dd hh:mm:ss" format.
        QString time = t.time;
        if (time.size() == 16 && QDateTime::fromString(time, "yyyy-MM-dd hh:mm").isValid())
            time += QStringLiteral(":00");
        out << t.no << ',' << csvField(time) << ',' << csvField(t.value) << ',' << csvField(t.unit)
            << ',' << csvField(t.waveLength) << '\n';
    }
    if (rows.isEmpty())
        header();
    return 0;
}
