// Statistics and CSV files at scale: taking readings into the figures, the
// figures of a zoom window, and writing and reading CSV files of 10^6 and 10^7
// readings, the 10^7 export also while another process keeps one core busy.
#include "csvreader.h"
#include "csvwriter.h"
#include "datamodel.h"
#include "itemfigures.h"
#include "judge.h"
#include "reading.h"
#include "readingstore.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <random>
#include <sys/prctl.h>
#include <unistd.h>
#include <vector>

namespace {

// Processor time of this process: on a machine shared with other work the
// wall-clock figures grow, this does not.
double cpuMs()
{
    timespec t;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

void report(const char *name, double value, const char *unit)
{
    std::printf("BENCH %s %.3f %s\n", name, value, unit);
    std::fflush(stdout);
}

// A day-long recording: a laser near -3 dBm with noise, the unit cycling,
// the wavelength switching now and then, 1% over or under range.
void fill(ReadingStore &store, int count)
{
    std::mt19937 random(930);
    std::normal_distribution<double> noise(0.0, 0.05);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    const QString over = QStringLiteral("    OL"), under = QStringLiteral("   -OL");
    WallTime t;
    t.kind = WallTime::Local;
    t.ms = qint64(19845) * 86400000; // 2024-05-02
    WallTime meter = t;
    ReadingStore::Fields r;
    for (int i = 0; i < count; ++i) {
        t.ms += 100;
        meter.ms = t.ms - t.ms % 60000;
        const double u = unit(random);
        r.overload = u < 0.005 ? 1 : u < 0.01 ? -1 : 0;
        const double dBm = r.overload > 0 ? 16.019 : r.overload < 0 ? -50.0 : -3.0 + noise(random);
        r.values[ReadingStore::DBm] = dBm;
        r.values[ReadingStore::MW] = std::pow(10.0, dBm / 10.0);
        r.values[ReadingStore::UW] = r.values[ReadingStore::MW] * 1000.0;
        const qint8 decimals[3] = {1, 3, 2};
        for (int k = 0; k < 3; ++k) {
            r.decimals[k] = r.overload != 0 ? qint8(-1) : decimals[k];
            r.texts[k] = r.overload > 0 ? over : r.overload < 0 ? under : QString();
        }
        r.unit = ReadingStore::Unit((i / 10) % 3);
        r.waveLength = (i / 100000) % 3 == 2 ? 1310 : 1550;
        r.dateTime = t;
        r.dmmDateTime = meter;
        store.append(r);
    }
}

void statistics(const ReadingStore &store, const char *updateName, const char *zoomName)
{
    analysis::Judge judge;
    judge.setDBmLimits({-3.1, -2.9});
    analysis::ItemFigures figures;
    QElapsedTimer timer;
    timer.start();
    figures.follow(store, judge);
    const double ns = double(timer.nsecsElapsed()) / store.size();
    if (updateName)
        report(updateName, ns, "ns");

    // Zoom windows of every size, at the wavelength of their newest reading.
    std::mt19937 random(15);
    std::uniform_int_distribution<int> index(0, store.size() - 1);
    std::vector<double> ms;
    qint64 counted = 0;
    for (int k = 0; k < 200; ++k) {
        int a = index(random), b = index(random);
        if (k % 4 == 0) {
            a = 0;
            b = store.size() - 1 - k; // nearly all
        }
        const int first = std::min(a, b), last = std::max(a, b);
        timer.restart();
        const analysis::PowerStats s =
            figures.range(store, judge, first, last, store.waveLength(last));
        ms.push_back(double(timer.nsecsElapsed()) / 1e6);
        counted += s.count;
    }
    // The median: on a machine shared with other work the slowest of 200
    // queries measures the other work as well.
    std::sort(ms.begin(), ms.end());
    std::printf("  200 zoom windows: median %.3f ms, 90%% within %.3f ms, slowest %.3f ms "
                "(%lld readings counted); the figures take %lld bytes\n",
                ms[ms.size() / 2], ms[ms.size() * 9 / 10], ms.back(),
                static_cast<long long>(counted), static_cast<long long>(figures.memoryBytes()));
    report(zoomName, ms[ms.size() / 2], "ms");
}

bool csvFiles(const ReadingStore &store, const QString &path, const char *exportName,
              const char *importName)
{
    DataModel table;
    table.setStore(&store);
    analysis::Judge judge;
    judge.setReference(1550, -3.0);
    judge.setLossLimits({-0.1, 0.1});
    auto derived = [&](int i) {
        const analysis::Sample s = analysis::sampleAt(store, i);
        csv::Derived d;
        d.verdict = analysis::verdictText(judge.verdict(s, &d.lossDB));
        return d;
    };
    QElapsedTimer timer;
    timer.start();
    double cpu = cpuMs();
    QString error;
    if (!csv::writeReadings(path, table, derived, &error)) {
        std::fprintf(stderr, "export failed: %s\n", qPrintable(error));
        return false;
    }
    const qint64 exportMs = timer.elapsed();
    const double exportCpu = cpuMs() - cpu;
    std::printf("  %s: %.1f MB\n", qPrintable(path), QFile(path).size() / 1e6);
    report(exportName, double(exportMs), "ms");
    // Processor time of all threads, the kernel's writing included.
    report(qPrintable(QStringLiteral("%1_cpu").arg(QLatin1String(exportName))), exportCpu, "ms");
    if (!importName)
        return QFile::remove(path);

    timer.restart();
    cpu = cpuMs();
    const csv::ReadResult back = csv::readReadings(path);
    const qint64 importMs = timer.elapsed();
    const double importCpu = cpuMs() - cpu;
    if (!back.ok || back.readings.size() != store.size()) {
        std::fprintf(stderr, "import failed: %s\n", qPrintable(back.errorMessage));
        return false;
    }
    report(importName, double(importMs), "ms");
    report(qPrintable(QStringLiteral("%1_cpu").arg(QLatin1String(importName))), importCpu, "ms");
    return QFile::remove(path);
}

// Another process keeping one core busy while this object lives: the
// program itself, started with "spin". It dies with this process, and on its
// own after two minutes.
class BusyProcess
{
public:
    BusyProcess()
    {
        m_process.start(QCoreApplication::applicationFilePath(), {QStringLiteral("spin")});
        m_started = m_process.waitForReadyRead(10000);
    }
    ~BusyProcess()
    {
        m_process.kill();
        m_process.waitForFinished(10000);
    }
    bool isSpinning() const { return m_started && m_process.state() == QProcess::Running; }
    // Processor time the process has used, from /proc/<pid>/stat.
    double cpuSeconds() const
    {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(m_process.processId()));
        if (!stat.open(QIODevice::ReadOnly))
            return -1;
        const QByteArray text = stat.readAll();
        const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
        if (fields.size() < 13)
            return -1;
        return (fields.at(11).toDouble() + fields.at(12).toDouble()) / sysconf(_SC_CLK_TCK);
    }

    static int spin()
    {
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        std::puts("spinning");
        std::fflush(stdout);
        QElapsedTimer clock;
        clock.start();
        volatile unsigned long counter = 0;
        while (clock.elapsed() < 120000)
            for (int i = 0; i < 1000000; ++i)
                counter = counter + 1;
        return 0;
    }

private:
    QProcess m_process;
    bool m_started = false;
};

} // namespace

int main(int argc, char **argv)
{
    if (argc > 1 && qstrcmp(argv[1], "spin") == 0)
        return BusyProcess::spin();
    QCoreApplication app(argc, argv);
    // "small" runs the 10^6 figures only.
    const bool small = app.arguments().contains(QStringLiteral("small"));
    QTemporaryDir dir;
    bool ok = true;
    {
        ReadingStore store;
        fill(store, 1000000);
        statistics(store, "stats_update_1e6", "stats_zoom_1e6");
        ok = csvFiles(store, dir.filePath(QStringLiteral("1e6.csv")), "csv_export_1e6",
                      "csv_import_1e6") &&
             ok;
    }
    if (!small) {
        ReadingStore store;
        fill(store, 10000000);
        statistics(store, nullptr, "stats_zoom_1e7");
        ok = csvFiles(store, dir.filePath(QStringLiteral("1e7.csv")), "csv_export_1e7", nullptr) &&
             ok;
        // The same on a machine where another process keeps one core busy.
        BusyProcess busy;
        if (!busy.isSpinning()) {
            std::fprintf(stderr, "the busy process did not start\n");
            return 1;
        }
        const double busyBefore = busy.cpuSeconds();
        ok = csvFiles(store, dir.filePath(QStringLiteral("1e7.csv")), "csv_export_1e7_busy",
                      nullptr) &&
             ok;
        std::printf("  the busy process used %.1f s of processor time meanwhile\n",
                    busy.cpuSeconds() - busyBefore);
    }
    return ok ? 0 : 1;
}
