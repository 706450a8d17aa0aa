// The recording journal's cost and its recovery:
//  - live intake through the real window to a million readings, without and
//    with the journal, in the same run (intake_rate_nojournal_1e6, intake_rate_journal_1e6);
//  - the journal's size per reading of that recording;
//  - bringing an unclosed session back: the journal's load of 10^6 and 10^7
//    readings into items, and the whole window start with a restored 10^6.
#include "benchjournal.h"
#include "datamodel.h"
#include "journal.h"
#include "kv930resources.h"
#include "prompt.h"
#include "tvitemmodel.h"
#include "widget.h"

#include <QAction>
#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QMetaMethod>
#include <QPluginLoader>
#include <QTemporaryDir>
#include <QTreeView>

#include <cstdio>
#include <memory>

namespace {

void runEventLoop()
{
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    QCoreApplication::sendPostedEvents();
}

// Lets the window's prompts pass without a person.
class SilentPrompt : public Prompt
{
public:
    void information(QWidget *, const QString &text) override
    {
        std::printf("(message) %s\n", qPrintable(text));
    }
    void warning(QWidget *, const QString &text) override
    {
        std::printf("(warning) %s\n", qPrintable(text));
    }
};

qint64 journalBytes(const QString &folder)
{
    qint64 bytes = 0;
    for (const QFileInfo &file : QDir(folder).entryInfoList({QStringLiteral("journal.sqlite*")}))
        bytes += file.size();
    return bytes;
}

// Live intake as bench_intake drives it: the fake meter's display signal in
// batches of 1000 with a turn of the event loop between, up to a million
// readings. The rate is that of the 10^5 readings before the millionth: over
// 10^4 (bench_intake's stretch, a few tens of milliseconds here) whether a view
// update or a journal commit happens to fall inside decides the figure.
// Returns readings/s, or -1 on failure.
double intakeRate(QObject *fake, std::unique_ptr<Widget> &window)
{
    window->resize(1000, 600);
    window->show();
    runEventLoop();
    auto *connectAction = window->findChild<QAction *>(QStringLiteral("actionConnect"));
    auto *startAction = window->findChild<QAction *>(QStringLiteral("actionStart"));
    connectAction->trigger();
    for (int i = 0; i < 100 && !startAction->isEnabled(); ++i)
        runEventLoop();
    startAction->trigger();
    if (!window->isAcquiring())
        return -1;

    const QMetaMethod emitDisplay = fake->metaObject()->method(
        fake->metaObject()->indexOfMethod("emitDisplay(QString,double,int,QDateTime)"));
    const QString units[3] = {QStringLiteral("dBm"), QStringLiteral("uW"), QStringLiteral("mW")};
    const QDateTime meterTime(QDate(2026, 3, 4), QTime(10, 0));
    const int total = 1000000;
    const int measured = 100000;
    QElapsedTimer clock;
    clock.start();
    qint64 stretchStart = 0;
    for (int held = 0; held < total;) {
        if (held == total - measured)
            stretchStart = clock.nsecsElapsed();
        for (int i = 0; i < 1000; ++i, ++held) {
            const double microwatts = 500.0 + (held % 97) * 0.37;
            emitDisplay.invoke(fake, Qt::DirectConnection, Q_ARG(QString, units[held % 3]),
                               Q_ARG(double, microwatts), Q_ARG(int, 1550),
                               Q_ARG(QDateTime, meterTime));
        }
        runEventLoop();
    }
    const double seconds = (clock.nsecsElapsed() - stretchStart) / 1e9;
    if (window->activeItemData()->dataCount() != total)
        return -1;
    return measured / seconds;
}

// What the window's thread pays per live reading: the copy into the writer's
// batch, one reading at a time (the difference of the same loop without it).
double copyNsPerReading(const QString &folder)
{
    Journal journal(folder);
    if (!journal.open())
        return -1;
    journal.beginSession();
    const int item = journal.createItem(ItemData::Measure, QStringLiteral("Measure1"));
    ReadingStore source;
    ReadingStore::Fields f = meterFields(ReadingStore::UW);
    const int n = 300000;
    for (int i = 0; i < n; ++i) {
        f.dateTime.ms = 1770000000000LL + i * 100LL;
        f.values[0] = 500.0 + i % 97;
        source.append(f);
    }
    QElapsedTimer clock;
    ReadingStore plain;
    clock.start();
    for (int i = 0; i < n; ++i)
        plain.append(source.fields(i));
    const qint64 without = clock.nsecsElapsed();
    ReadingStore journaled;
    clock.restart();
    for (int i = 0; i < n; ++i) {
        journaled.append(source.fields(i));
        journal.appendReadings(item, journaled);
    }
    const qint64 with = clock.nsecsElapsed();
    journal.flush(60000);
    return double(with - without) / n;
}

// A slow recording commits each reading on its own: the writer merges them
// into rows of a few kilobytes. Bytes per reading of n such commits.
double bytesPerSingleCommit(const QString &folder, int n)
{
    {
        Journal journal(folder);
        if (!journal.open())
            return -1;
        journal.beginSession();
        const int item = journal.createItem(ItemData::Measure, QStringLiteral("Measure1"));
        ReadingStore store;
        ReadingStore::Fields f = meterFields(ReadingStore::DBm);
        for (int i = 0; i < n; ++i) {
            f.dateTime.ms = 1770000000000LL + i * 200LL;
            f.dmmDateTime.ms = 1770000000000LL + i / 300 * 60000LL;
            f.values[0] = 500.0 + (i % 97) * 0.37;
            f.values[1] = f.values[0] / 1000.0;
            f.values[2] = -3.0 + (i % 89) * 0.01;
            store.append(f);
            journal.appendReadings(item, store);
            journal.flush();
        }
    }
    return double(journalBytes(folder)) / n;
}

// The journal's part of a restart: open, find the unclosed session, read it.
double journalLoadMs(const QString &folder, qint64 expected)
{
    QElapsedTimer clock;
    clock.start();
    Journal journal(folder);
    if (!journal.open())
        return -1;
    const std::optional<JournalSession> session = journal.takeOverUnfinished();
    const double ms = clock.nsecsElapsed() / 1e6;
    if (!session || session->readingCount() != expected) {
        std::fprintf(stderr, "restored %lld readings, expected %lld\n",
                     session ? session->readingCount() : -1LL, expected);
        return -1;
    }
    return ms;
}

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // With TZ unset glibc looks the zone file up for every local time the fake
    // driver stamps (about 14 us each here); the program's own cost is measured.
    if (!qEnvironmentVariableIsSet("TZ"))
        qputenv("TZ", ":/etc/localtime");
    QApplication app(argc, argv);
    kv930InitResources();

    QTemporaryDir folder;
    if (!folder.isValid() ||
        !QFile::link(QStringLiteral(KV930_FAKE_LIB_DIR), folder.filePath(QStringLiteral("Lib")))) {
        std::fprintf(stderr, "cannot prepare the application folder\n");
        return 1;
    }
    QPluginLoader loader(QStringLiteral(KV930_FAKE_LIB_DIR "/fakemeter.so"));
    QObject *fake = loader.instance();
    if (!fake) {
        std::fprintf(stderr, "fake meter missing: %s\n", qPrintable(loader.errorString()));
        return 1;
    }

    // Without the journal and with it, alternately, twice each, in the same
    // run; the better of each pair counts (other work on the machine only
    // ever slows a pass down).
    double plain = -1;
    double journaled = -1;
    const QString journalFolder = folder.filePath(QStringLiteral("journal"));
    JournalOptions options;
    options.folder = journalFolder;
    for (int round = 0; round < 2; ++round) {
        {
            auto window = std::make_unique<Widget>(folder.path(), std::make_unique<SilentPrompt>());
            plain = qMax(plain, intakeRate(fake, window));
        }
        JournalOptions fresh;
        fresh.folder = folder.filePath(QStringLiteral("journal-%1").arg(round));
        auto window = std::make_unique<Widget>(folder.path(), std::make_unique<SilentPrompt>(),
                                               round == 0 ? options : fresh);
        journaled = qMax(journaled, intakeRate(fake, window));
        if (!window->journal() || !window->journal()->flush(600000)) {
            std::fprintf(stderr, "the journal did not keep up\n");
            return 1;
        }
        // Not closed: the first one's session stays unfinished, as after a crash.
    }
    if (plain < 0 || journaled < 0) {
        std::fprintf(stderr, "intake failed\n");
        return 1;
    }
    std::printf("BENCH intake_rate_nojournal_1e6 %.0f readings/s\n", plain);
    std::printf("BENCH intake_rate_journal_1e6 %.0f readings/s\n", journaled);
    std::printf("with the journal: %.2f of the rate without\n", journaled / plain);
    // The file as the writer left it once its connection closed (log checkpointed).
    std::printf("BENCH journal_bytes_per_reading %.1f bytes\n",
                double(journalBytes(journalFolder)) / 1e6);
    std::fflush(stdout);

    // The whole restart of the window with the unclosed million.
    {
        QElapsedTimer clock;
        clock.start();
        auto window =
            std::make_unique<Widget>(folder.path(), std::make_unique<SilentPrompt>(), options);
        const double ms = clock.nsecsElapsed() / 1e6;
        if (!window->activeItemData() || window->activeItemData()->dataCount() != 1000000 ||
            window->readingModel()->rowCount() != 1000000) {
            std::fprintf(stderr, "the window did not restore the million\n");
            return 1;
        }
        std::printf("BENCH journal_restore_window_1e6 %.0f ms\n", ms);
        // Most of it is the table and chart being filled with the active item,
        // as for any item of that size that becomes active: time that alone.
        auto *tree = window->findChild<QTreeView *>(QStringLiteral("tvItems"));
        auto *activate = window->findChild<QAction *>(QStringLiteral("actionItemSetToActive"));
        const QModelIndex restored = tree->currentIndex();
        tree->setCurrentIndex(window->treeModel()->index(0, 0));
        activate->trigger();
        tree->setCurrentIndex(restored);
        clock.restart();
        activate->trigger();
        std::printf("(of which activating the restored item, table and chart: %.0f ms)\n",
                    clock.nsecsElapsed() / 1e6);
        std::fflush(stdout);
        window->journal()->flush(60000);
    }

    {
        QTemporaryDir dir;
        std::printf("BENCH journal_copy_per_reading %.0f ns\n", copyNsPerReading(dir.path()));
    }
    {
        QTemporaryDir dir;
        std::printf("BENCH journal_bytes_per_reading_single_commits %.1f bytes\n",
                    bytesPerSingleCommit(dir.path(), 3000));
    }
    for (const int n : {1000000, 10000000}) {
        QTemporaryDir dir;
        if (!writeUnclosedSession(dir.path(), n)) {
            std::fprintf(stderr, "cannot write a session of %d readings\n", n);
            return 1;
        }
        const double bytes = double(journalBytes(dir.path())) / n;
        const double ms = journalLoadMs(dir.path(), n);
        if (ms < 0)
            return 1;
        const char *name = n == 1000000 ? "1e6" : "1e7";
        std::printf("BENCH journal_recover_%s %.0f ms\n", name, ms);
        std::printf("(bulk-written session: %.1f bytes per reading)\n", bytes);
        std::fflush(stdout);
    }
    return 0;
}
