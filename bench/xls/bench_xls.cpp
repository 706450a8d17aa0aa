// Export and import time of .xls workbooks for 65,535 readings (one full
// sheet) and 200,000 readings (four sheets).
#include "biffworkbook.h"
#include "importrow.h"
#include "xlsreader.h"
#include "xlswriter.h"

#include "dmmdata.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QStandardItemModel>
#include <QTemporaryDir>
#include <QTextStream>

#include <freexl.h>

#include <cstdio>
#include <memory>

namespace {

// Display values as the reading table shows live readings.
std::unique_ptr<QStandardItemModel> readingTable(int rows)
{
    auto model = std::make_unique<QStandardItemModel>(rows, 5);
    const QDateTime start(QDate(2024, 5, 1), QTime(8, 0));
    const QString units[] = {QStringLiteral("uW"), QStringLiteral("mW"), QStringLiteral("dBm")};
    for (int r = 0; r < rows; ++r) {
        const QString unit = units[r % 3];
        QString value;
        if (r % 997 == 0)
            value = QStringLiteral("    OL");
        else if (unit == QLatin1String("dBm"))
            value = QString::number(-3.0 - (r % 500) / 100.0, 'f', 2);
        else if (unit == QLatin1String("mW"))
            value = QString::number(0.5 + (r % 1000) / 10000.0, 'f', 3);
        else
            value = QString::number(500.0 + (r % 1000) / 10.0, 'f', 1);
        model->setData(model->index(r, 0), r + 1);
        model->setData(model->index(r, 1), start.addSecs(r).toString("yyyy-MM-dd hh:mm:ss"));
        model->setData(model->index(r, 2), value);
        model->setData(model->index(r, 3), unit);
        model->setData(model->index(r, 4),
                       r % 2 ? QStringLiteral("1550nm") : QStringLiteral("1310nm"));
    }
    return model;
}

void report(const char *name, qint64 value, const char *unit)
{
    std::printf("BENCH %s %lld %s\n", name, static_cast<long long>(value), unit);
    std::fflush(stdout);
}

bool run(int readings, const QString &path)
{
    const auto model = readingTable(readings);
    const QStringList headers{"No.", "Time", "Value", "Unit", "WaveLength"};

    QElapsedTimer timer;
    timer.start();
    QString error;
    if (!xls::writeTable(path, headers, *model, &error)) {
        std::fprintf(stderr, "export failed: %s\n", qPrintable(error));
        return false;
    }
    const qint64 exportMs = timer.elapsed();

    // Import as the program does it: read the rows, build the readings.
    timer.restart();
    const xls::ReadResult read = xls::readRows(path);
    std::vector<std::unique_ptr<DmmData>> items;
    items.reserve(size_t(read.rows.size()));
    for (const QVariantList &row : read.rows)
        items.emplace_back(readingFromRow(row));
    const qint64 importMs = timer.elapsed();
    if (read.status != xls::ReadStatus::Ok || int(items.size()) != readings) {
        std::fprintf(stderr, "import read %zu of %d readings\n", items.size(), readings);
        return false;
    }
    const QByteArray exportName = QStringLiteral("xls_export_%1").arg(readings).toLatin1();
    const QByteArray importName = QStringLiteral("xls_import_%1").arg(readings).toLatin1();
    report(exportName.constData(), exportMs, "ms");
    report(importName.constData(), importMs, "ms");

    // Where the import time goes: FreeXL's metadata open (the validity
    // check), the record walk, and FreeXL's full read (the fallback).
    timer.restart();
    const void *handle = nullptr;
    freexl_open_info(QFile::encodeName(path).constData(), &handle);
    if (handle)
        freexl_close(handle);
    const qint64 infoMs = timer.elapsed();
    timer.restart();
    const xls::BiffWorkbook book = xls::readBiffWorkbook(xls::workbookStream(path));
    const qint64 walkMs = timer.elapsed();
    timer.restart();
    const xls::ReadResult freexl = xls::readRowsWithFreeXL(path);
    const qint64 freexlMs = timer.elapsed();
    if (!book.ok || freexl.rows.size() != read.rows.size())
        return false;
    report(QStringLiteral("xls_import_open_info_%1").arg(readings).toLatin1().constData(), infoMs,
           "ms");
    report(QStringLiteral("xls_import_walk_%1").arg(readings).toLatin1().constData(), walkMs, "ms");
    report(QStringLiteral("xls_import_freexl_%1").arg(readings).toLatin1().constData(), freexlMs,
           "ms");
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    if (!dir.isValid())
        return 1;
    bool ok = true;
    for (int readings : {65535, 200000})
        ok = run(readings, dir.filePath(QStringLiteral("bench-%1.xls").arg(readings))) && ok;
    return ok ? 0 : 1;
}
