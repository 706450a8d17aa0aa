// Export and import time of .xls workbooks: 65,535 readings (one full sheet),
// 200,000 (four sheets), 10^6 (16 sheets) and 10^7 (153 sheets), and of .xlsx
// workbooks at 10^6 (one sheet) and 10^7 (ten sheets), with the memory the
// export and the import take beyond what the process held before.
//
// Both run as the window runs them: the export reads the rows from an item's
// readings through the reading table, the import streams rows from the file
// into a new item.
#include "biffworkbook.h"
#include "importrow.h"
#include "tablesource.h"
#include "xlsreader.h"
#include "xlswriter.h"
#include "xlsxreader.h"
#include "xlsxwriter.h"

#include "datamodel.h"
#include "itemdata.h"
#include "reading.h"
#include "readingtablesource.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <freexl.h>

#include <cstdio>
#include <ctime>
#include <memory>

namespace {

const QString kUnits[] = {QStringLiteral("uW"), QStringLiteral("mW"), QStringLiteral("dBm")};
const QDateTime kStart(QDate(2024, 5, 1), QTime(8, 0));

QString valueText(int r)
{
    const QString &unit = kUnits[r % 3];
    if (r % 997 == 0)
        return QStringLiteral("    OL");
    if (unit == QLatin1String("dBm"))
        return QString::number(-3.0 - (r % 500) / 100.0, 'f', 2);
    if (unit == QLatin1String("mW"))
        return QString::number(0.5 + (r % 1000) / 10000.0, 'f', 3);
    return QString::number(500.0 + (r % 1000) / 10.0, 'f', 1);
}

// An item holding the readings, as the window holds them: texts as the meter
// gives them, live time stamps one second apart.
std::unique_ptr<ItemData> itemOf(int rows)
{
    auto item = std::make_unique<ItemData>(QStringLiteral("Measure1"), ItemData::Measure);
    Reading r;
    for (int i = 0; i < rows; ++i) {
        r.unit = kUnits[i % 3];
        r.textUW = r.textMW = r.textDBm = valueText(i);
        r.valueUW = r.textUW.toDouble();
        r.valueMW = r.valueUW / 1000.0;
        r.valueDBm = r.valueUW;
        r.waveLength = i % 2 ? 1550 : 1310;
        r.dateTime = kStart.addSecs(i);
        item->addReading(r);
    }
    return item;
}

void report(const QString &name, qint64 value, const char *unit)
{
    std::printf("BENCH %s %lld %s\n", qPrintable(name), static_cast<long long>(value), unit);
    std::fflush(stdout);
}

// Resident memory now and the peak since the last reset, in kB.
qint64 statusKb(const char *field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith(field))
            return line.mid(int(qstrlen(field))).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

void resetPeak()
{
    QFile clear(QStringLiteral("/proc/self/clear_refs"));
    if (clear.open(QIODevice::WriteOnly))
        clear.write("5");
}

// Processor time of the process so far, in ms: next to the wall-clock
// figures, it tells how much of an operation's time was spent waiting for a
// processor on a busy machine.
qint64 cpuMs()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return qint64(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
}

// What an operation takes beyond what was resident before it, in MB.
class ExtraMemory
{
public:
    ExtraMemory()
    {
        resetPeak();
        m_before = statusKb("VmRSS:");
    }
    qint64 megabytes() const { return (statusKb("VmHWM:") - m_before) / 1024; }

private:
    qint64 m_before;
};

using TableReader = xls::ReadSummary (*)(const QString &, const xls::RowSink &,
                                         const xls::ReadProgress &);

// Import as the window does it, into a new item; the number of readings made.
qint64 importReadings(const QString &path, xls::ReadStatus *status,
                      TableReader readTable = xls::readTable)
{
    ItemData item(QStringLiteral("Import1"), ItemData::Import);
    const xls::ReadSummary read = readTable(
        path, [&item](const QVariantList &cells) { item.addReading(fieldsOfRow(cells)); }, {});
    *status = read.status;
    return item.dataCount();
}

const QStringList kHeaders{"No.", "Time", "Value", "Unit", "WaveLength"};

bool run(int readings, const QString &path, const QString &suffix, bool diagnostics)
{
    QElapsedTimer timer;
    QString error;
    bool written = false;
    qint64 exportMb = 0;
    qint64 exportMs = 0;
    qint64 exportCpuMs = 0;
    {
        // The export reads the table's rows from the readings, as the window does.
        const std::unique_ptr<ItemData> item = itemOf(readings);
        DataModel table;
        table.setStore(&item->readings());
        const qint64 cpu = cpuMs();
        timer.start();
        ExtraMemory memory;
        written = xls::writeTable(path, kHeaders, ReadingTableSource(table), &error);
        exportMb = memory.megabytes();
        exportMs = timer.elapsed();
        exportCpuMs = cpuMs() - cpu;
    }
    if (!written) {
        std::fprintf(stderr, "export failed: %s\n", qPrintable(error));
        return false;
    }

    qint64 cpu = cpuMs();
    timer.restart();
    xls::ReadStatus status = xls::ReadStatus::OpenFailed;
    qint64 imported = 0;
    qint64 importMb = 0;
    {
        ExtraMemory memory;
        imported = importReadings(path, &status);
        importMb = memory.megabytes();
    }
    const qint64 importMs = timer.elapsed();
    const qint64 importCpuMs = cpuMs() - cpu;
    if (status != xls::ReadStatus::Ok || imported != readings) {
        std::fprintf(stderr, "import read %lld of %d readings\n", static_cast<long long>(imported),
                     readings);
        return false;
    }
    report(QStringLiteral("xls_export_") + suffix, exportMs, "ms");
    report(QStringLiteral("xls_import_") + suffix, importMs, "ms");
    report(QStringLiteral("xls_export_cpu_") + suffix, exportCpuMs, "ms");
    report(QStringLiteral("xls_import_cpu_") + suffix, importCpuMs, "ms");
    report(QStringLiteral("xls_export_memory_") + suffix, exportMb, "MB");
    report(QStringLiteral("xls_import_memory_") + suffix, importMb, "MB");
    report(QStringLiteral("xls_file_size_") + suffix, QFile(path).size() / (1024 * 1024), "MB");
    if (!diagnostics)
        return true;

    // Where the import time went before: FreeXL's metadata open, the record
    // walk over the whole stream in memory, and FreeXL's full read.
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
    if (!book.ok || freexl.rows.size() != readings)
        return false;
    report(QStringLiteral("xls_import_open_info_") + suffix, infoMs, "ms");
    report(QStringLiteral("xls_import_walk_") + suffix, walkMs, "ms");
    report(QStringLiteral("xls_import_freexl_") + suffix, freexlMs, "ms");
    return true;
}

// The same for .xlsx: the export as the window makes it (the function a
// caller without widgets calls), then the import into a new item.
bool runXlsx(int readings, const QString &path, const QString &suffix)
{
    QElapsedTimer timer;
    QString error;
    bool written = false;
    qint64 exportMb = 0;
    qint64 exportMs = 0;
    qint64 exportCpuMs = 0;
    {
        const std::unique_ptr<ItemData> item = itemOf(readings);
        DataModel table;
        table.setStore(&item->readings());
        const qint64 cpu = cpuMs();
        timer.start();
        ExtraMemory memory;
        written = xlsx::writeReadings(path, table, &error);
        exportMb = memory.megabytes();
        exportMs = timer.elapsed();
        exportCpuMs = cpuMs() - cpu;
    }
    if (!written) {
        std::fprintf(stderr, "xlsx export failed: %s\n", qPrintable(error));
        return false;
    }
    const qint64 cpu = cpuMs();
    timer.restart();
    xls::ReadStatus status = xls::ReadStatus::OpenFailed;
    qint64 imported = 0;
    qint64 importMb = 0;
    {
        ExtraMemory memory;
        imported = importReadings(path, &status, xlsx::readTable);
        importMb = memory.megabytes();
    }
    const qint64 importMs = timer.elapsed();
    const qint64 importCpuMs = cpuMs() - cpu;
    if (status != xls::ReadStatus::Ok || imported != readings) {
        std::fprintf(stderr, "xlsx import read %lld of %d readings\n",
                     static_cast<long long>(imported), readings);
        return false;
    }
    report(QStringLiteral("xlsx_export_") + suffix, exportMs, "ms");
    report(QStringLiteral("xlsx_import_") + suffix, importMs, "ms");
    report(QStringLiteral("xlsx_export_cpu_") + suffix, exportCpuMs, "ms");
    report(QStringLiteral("xlsx_import_cpu_") + suffix, importCpuMs, "ms");
    report(QStringLiteral("xlsx_export_memory_") + suffix, exportMb, "MB");
    report(QStringLiteral("xlsx_import_memory_") + suffix, importMb, "MB");
    report(QStringLiteral("xlsx_file_size_") + suffix, QFile(path).size() / (1024 * 1024), "MB");
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    // As the program does at start (app/main.cpp): local times without a
    // file system call each.
    if (!qEnvironmentVariableIsSet("TZ"))
        qputenv("TZ", ":/etc/localtime");
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    if (!dir.isValid())
        return 1;
    // KV930_BENCH_XLS_MIN and _MAX pick the sizes run, of both formats (MAX=1000000 skips 10^7;
    // MIN=10000000 measures 10^7 alone, in a process that held nothing more
    // before, so that its memory figures are not hidden by freed memory).
    const qint64 min = qEnvironmentVariableIntValue("KV930_BENCH_XLS_MIN");
    const qint64 max = qEnvironmentVariableIsSet("KV930_BENCH_XLS_MAX")
                           ? qEnvironmentVariable("KV930_BENCH_XLS_MAX").toLongLong()
                           : 10000000;
    // KV930_BENCH_XLSX_ONLY=1 measures the .xlsx workbooks alone.
    const bool xlsxOnly = qEnvironmentVariableIntValue("KV930_BENCH_XLSX_ONLY") != 0;
    bool ok = true;
    struct Case
    {
        int readings;
        const char *suffix;
        bool diagnostics;
    };
    const Case cases[] = {{65535, "65535", true},
                          {200000, "200000", true},
                          {1000000, "1e6", false},
                          {10000000, "1e7", false}};
    for (const Case &c : cases) {
        if (c.readings > max || c.readings < min)
            continue;
        const QString path = dir.filePath(QStringLiteral("bench-%1.xls").arg(c.suffix));
        if (!xlsxOnly) {
            ok = run(c.readings, path, QLatin1String(c.suffix), c.diagnostics) && ok;
            QFile::remove(path);
        }
        if (c.readings >= 1000000) {
            const QString xlsx = dir.filePath(QStringLiteral("bench-%1.xlsx").arg(c.suffix));
            ok = runXlsx(c.readings, xlsx, QLatin1String(c.suffix)) && ok;
            QFile::remove(xlsx);
        }
    }
    return ok ? 0 : 1;
}
