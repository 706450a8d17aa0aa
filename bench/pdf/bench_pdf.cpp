// Time to write the PDF report of a full item (65,535 readings).
#include "pdfreport.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QGuiApplication>
#include <QStandardItemModel>
#include <QTemporaryDir>
#include <cstdio>

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);

    const int count = 65535;
    QStandardItemModel model(0, 5);
    const QDateTime start(QDate(2024, 3, 5), QTime(8, 0, 0));
    for (int i = 0; i < count; ++i) {
        QList<QStandardItem *> row;
        for (int c = 0; c < 5; ++c)
            row.append(new QStandardItem);
        row[0]->setData(i + 1, Qt::DisplayRole);
        row[1]->setData(start.addSecs(i).toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")),
                        Qt::DisplayRole);
        row[2]->setData(QString::number(-3.0 - (i % 1000) / 1000.0, 'f', 3), Qt::DisplayRole);
        row[3]->setData(QStringLiteral("dBm"), Qt::DisplayRole);
        row[4]->setData(QStringLiteral("1550nm"), Qt::DisplayRole);
        model.appendRow(row);
    }
    const QList<ReportColumn> columns{{QStringLiteral("No."), QRect(), 2},
                                      {QStringLiteral("Time"), QRect(), 3},
                                      {QStringLiteral("Value"), QRect(), 3},
                                      {QStringLiteral("Unit"), QRect(), 2},
                                      {QStringLiteral("WaveLength"), QRect(), 2}};

    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("bench.pdf"));
    QString error;
    QElapsedTimer timer;
    timer.start();
    const bool ok = pdf::writeReport(file, model, columns, {}, &error);
    const qint64 ms = timer.elapsed();
    if (!ok) {
        std::fprintf(stderr, "report failed: %s\n", qPrintable(error));
        return 1;
    }
    std::printf("%d readings, %lld bytes\n", count, QFileInfo(file).size());
    std::printf("BENCH pdf_report_65535 %lld ms\n", ms);
    return 0;
}
