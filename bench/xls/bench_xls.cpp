// Export and import time of .xls workbooks: 65,535 readings (one full sheet),
// 200,000 (four sheets), 10^6 (16 sheets) through a table model as the window
// exports today, and 10^7 (153 sheets) from a row source, with the memory the
// export and the import take beyond what the process held before.
//
// The import is timed as the window runs it: rows streamed from the file,
// each turned into a reading, which is then handed on (here: deleted, as a
// compact store would after taking its values).
#include "biffworkbook.h"
#include "importrow.h"
#include "tablesource.h"
#include "xlsreader.h"
#include "xlswriter.h"

#include "dmmdata.h"

#include <QAbstractTableModel>
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

// "yyyy-MM-dd hh:mm:ss" of the reading taken r seconds after 08:00 on
// 2024-05-01, made without the local time zone (so the model costs little
// next to the writer).
QString timeText(int r)
{
    const qint64 secs = 8 * 3600 + qint64(r);
    const QDate day = kStart.date().addDays(secs / 86400);
    const int s = int(secs % 86400);
    char text[24];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", day.year(), day.month(),
                  day.day(), s / 3600, s / 60 % 60, s % 60);
    return QString::fromLatin1(text);
}

QString waveText(int r)
{
    return r % 2 ? QStringLiteral("1550nm") : QStringLiteral("1310nm");
}

// Display values as the reading table shows live readings, made on demand.
class ReadingTable : public QAbstractTableModel
{
public:
    explicit ReadingTable(int rows) : m_rows(rows) {}
    int rowCount(const QModelIndex & = QModelIndex()) const override { return m_rows; }
    int columnCount(const QModelIndex & = QModelIndex()) const override { return 5; }
    QVariant data(const QModelIndex &index, int role) const override
    {
        if (role != Qt::DisplayRole)
            return QVariant();
        const int r = index.row();
        switch (index.column()) {
        case 0:
            return r + 1;
        case 1:
            return timeText(r);
        case 2:
            return valueText(r);
        case 3:
            return kUnits[r % 3];
        default:
            return waveText(r);
        }
    }

private:
    int m_rows;
};

// The same rows from a row source, times as wall-clock milliseconds.
class ReadingSource : public TableSource
{
public:
    explicit ReadingSource(int rows)
        : m_rows(rows), m_start(wallClockMsecs(kStart.date(), kStart.time()))
    {
    }
    int rowCount() const override { return m_rows; }
    void row(int r, RowCells &out) const override
    {
        out.cells[0].setNumber(r + 1);
        out.cells[1].setTime(m_start + qint64(r) * 1000, true);
        out.cells[2].setText(valueText(r));
        out.cells[3].setText(kUnits[r % 3]);
        out.cells[4].setText(waveText(r));
    }

private:
    int m_rows;
    qint64 m_start;
};

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

// Import as the window does it; the number of readings made.
qint64 importReadings(const QString &path, xls::ReadStatus *status)
{
    qint64 readings = 0;
    const xls::ReadSummary read = xls::readTable(path, [&readings](const QVariantList &cells) {
        std::unique_ptr<DmmData> reading(readingFromRow(cells));
        readings += reading ? 1 : 0;
    });
    *status = read.status;
    return readings;
}

const QStringList kHeaders{"No.", "Time", "Value", "Unit", "WaveLength"};

bool run(int readings, const QString &path, const QString &suffix, bool fromModel, bool diagnostics)
{
    QElapsedTimer timer;
    QString error;
    bool written = false;
    qint64 exportMb = 0;
    qint64 cpu = cpuMs();
    timer.start();
    if (fromModel) {
        const ReadingTable model(readings);
        ExtraMemory memory;
        written = xls::writeTable(path, kHeaders, model, &error);
        exportMb = memory.megabytes();
    } else {
        const ReadingSource source(readings);
        ExtraMemory memory;
        written = xls::writeTable(path, kHeaders, source, &error);
        exportMb = memory.megabytes();
    }
    const qint64 exportMs = timer.elapsed();
    const qint64 exportCpuMs = cpuMs() - cpu;
    if (!written) {
        std::fprintf(stderr, "export failed: %s\n", qPrintable(error));
        return false;
    }

    cpu = cpuMs();
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
    // KV930_BENCH_XLS_MIN and _MAX pick the sizes run (MAX=1000000 skips 10^7;
    // MIN=10000000 measures 10^7 alone, in a process that held nothing more
    // before, so that its memory figures are not hidden by freed memory).
    const qint64 min = qEnvironmentVariableIntValue("KV930_BENCH_XLS_MIN");
    const qint64 max = qEnvironmentVariableIsSet("KV930_BENCH_XLS_MAX")
                           ? qEnvironmentVariable("KV930_BENCH_XLS_MAX").toLongLong()
                           : 10000000;
    bool ok = true;
    struct Case
    {
        int readings;
        const char *suffix;
        bool fromModel;
        bool diagnostics;
    };
    const Case cases[] = {{65535, "65535", true, true},
                          {200000, "200000", true, true},
                          {1000000, "1e6", true, false},
                          {10000000, "1e7", false, false}};
    for (const Case &c : cases) {
        if (c.readings > max || c.readings < min)
            continue;
        const QString path = dir.filePath(QStringLiteral("bench-%1.xls").arg(c.suffix));
        ok = run(c.readings, path, QLatin1String(c.suffix), c.fromModel, c.diagnostics) && ok;
        QFile::remove(path);
    }
    return ok ? 0 : 1;
}
