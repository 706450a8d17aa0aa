// SPDX-License-Identifier: MIT
// bench/report with the project's bench/targets: a run's figures given as met
// or missed (relative targets and units included), and the README's table
// written between its markers from the same run.
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

namespace {

struct Run
{
    int status = -1;
    QString out;
};

Run report(const QStringList &arguments)
{
    QProcess process;
    process.start(QStringLiteral("python3"),
                  QStringList{QStringLiteral(KV930_SOURCE_DIR "/bench/report")} + arguments);
    Run r;
    if (process.waitForFinished(60000) && process.exitStatus() == QProcess::NormalExit)
        r.status = process.exitCode();
    r.out = QString::fromUtf8(process.readAllStandardOutput() + process.readAllStandardError());
    return r;
}

// The summary's line of a figure.
QString line(const QString &out, const QString &figure)
{
    for (const QString &l : out.split(QLatin1Char('\n')))
        if (l.startsWith(figure + QLatin1Char(' ')))
            return l.simplified();
    return QString();
}

} // namespace

class TestBenchReport : public QObject
{
    Q_OBJECT
private slots:
    void figuresAreMetOrMissed()
    {
        QTemporaryDir dir;
        const QString figures = dir.filePath(QStringLiteral("figures.txt"));
        QFile file(figures);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("# Run of a test machine.\n"
                   "BENCH intake_rate_1e4 500000 readings/s\n"
                   "BENCH intake_rate_1e7 300000 readings/s\n" // under 1e4 / 1.3
                   "BENCH view_update_1e7 2.5 ms\n"
                   "BENCH chart_zoom_1e7 1.5 s\n" // the target is in ms
                   "BENCH stats_update_1e6 25 ns\n");
        file.close();

        const Run check = report({QStringLiteral("check"), figures});
        QCOMPARE(check.status, 2);
        QVERIFY2(line(check.out, "view_update_1e7").contains(QLatin1String(" met ")),
                 qPrintable(check.out));
        QVERIFY(line(check.out, "intake_rate_1e7").contains(QLatin1String("MISSED")));
        QVERIFY(line(check.out, "intake_rate_1e7").contains(QLatin1String("(384,615)")));
        QVERIFY(line(check.out, "chart_zoom_1e7").contains(QLatin1String("unit differs")));
        QVERIFY(line(check.out, "stats_update_1e6").contains(QLatin1String("no target")));
        const QString missed = check.out.section(QLatin1String("MISSED TARGETS (2):"), 1);
        QVERIFY2(missed.contains(QLatin1String("intake_rate_1e7 = 300000 readings/s")) &&
                     missed.contains(QLatin1String("chart_zoom_1e7 = 1.5 s")),
                 qPrintable(check.out));

        // The README's table from the same run, between its markers only.
        const QString readme = dir.filePath(QStringLiteral("README.md"));
        QFile text(readme);
        QVERIFY(text.open(QIODevice::WriteOnly));
        text.write("before\n<!-- benchmark table: written by bench/report from bench/targets and "
                   "a run -->\nold\n<!-- end of the benchmark table -->\nafter\n");
        text.close();
        QCOMPARE(report({QStringLiteral("readme"), figures, readme}).status, 0);
        QVERIFY(text.open(QIODevice::ReadOnly));
        const QString table = QString::fromUtf8(text.readAll());
        QVERIFY(table.startsWith(QLatin1String("before\n")));
        QVERIFY(table.endsWith(QLatin1String("-->\nafter\n")));
        QVERIFY(!table.contains(QLatin1String("\nold\n")));
        QVERIFY(table.contains(QLatin1String("Run of a test machine.")));
        QVERIFY(table.contains(QLatin1String("| `view_update_1e7` |")));
        QVERIFY(table.contains(QLatin1String("| 300,000 readings/s |")));
        QVERIFY(table.contains(QLatin1String("| **missed** |")));
    }
};

QTEST_GUILESS_MAIN(TestBenchReport)
#include "tst_benchreport.moc"
