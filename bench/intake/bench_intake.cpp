// Readings per second through the live intake path of the real window (item,
// table, chart and reading panel) while the item grows to ten million
// readings, the resident memory each held reading costs, and how long making
// such an item active again takes.
#include "datamodel.h"
#include "itemdata.h"
#include "kv930resources.h"
#include "prompt.h"
#include "widget.h"

#include <QAction>
#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QMetaMethod>
#include <QPluginLoader>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTextStream>
#include <QTreeView>

#include <cstdio>
#include <memory>
#include <unistd.h>

namespace {

// Resident set size in bytes, from /proc/self/statm (second field, pages).
qint64 residentBytes()
{
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly))
        return -1;
    const QList<QByteArray> fields = statm.readAll().simplified().split(' ');
    if (fields.size() < 2)
        return -1;
    return fields.at(1).toLongLong() * sysconf(_SC_PAGESIZE);
}

// Lets queued work (chart repaints, table layout) run as it would between
// readings in a real session.
void runEventLoop()
{
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    QCoreApplication::sendPostedEvents();
}

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // With TZ unset glibc looks at /etc/localtime again for every local time,
    // which makes each QDateTime::currentDateTime() in the fake driver cost
    // some 14 us here: that would measure the driver's clock, not the window.
    if (qEnvironmentVariableIsEmpty("TZ"))
        qputenv("TZ", ":/etc/localtime");
    QApplication app(argc, argv);
    kv930InitResources();

    // The window reads its plugins from <folder>/Lib and keeps options.xml
    // beside them: a throw-away folder keeps the build tree clean.
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

    auto window = std::make_unique<Widget>(folder.path(), std::make_unique<Prompt>());
    if (!window->pluginsComplete()) {
        std::fprintf(stderr, "the window did not bind the fake meter\n");
        return 1;
    }
    window->resize(1000, 600);
    window->show();
    runEventLoop();

    auto *connectAction = window->findChild<QAction *>(QStringLiteral("actionConnect"));
    auto *startAction = window->findChild<QAction *>(QStringLiteral("actionStart"));
    connectAction->trigger();
    for (int i = 0; i < 100 && !startAction->isEnabled(); ++i)
        runEventLoop();
    startAction->trigger();
    if (!window->isAcquiring()) {
        std::fprintf(stderr, "acquisition did not start\n");
        return 1;
    }

    // One cached method instead of a name lookup per reading.
    const int methodIndex =
        fake->metaObject()->indexOfMethod("emitDisplay(QString,double,int,QDateTime)");
    const QMetaMethod emitDisplay = fake->metaObject()->method(methodIndex);
    if (!emitDisplay.isValid()) {
        std::fprintf(stderr, "fake meter has no emitDisplay\n");
        return 1;
    }
    const QString units[3] = {QStringLiteral("dBm"), QStringLiteral("uW"), QStringLiteral("mW")};
    const QDateTime meterTime(QDate(2026, 3, 4), QTime(10, 0));

    const int batch = 1000;     // readings between two turns of the event loop
    const int measured = 10000; // the rate at a mark is that of the 10^4 readings before it
    const int marks[] = {10000, 100000, 1000000, 10000000};
    const char *markNames[] = {"1e4", "1e5", "1e6", "1e7"};
    const int markCount = argc > 1 && QByteArray(argv[1]) == "--quick" ? 3 : 4;
    const qint64 residentBefore = residentBytes();

    QElapsedTimer clock;
    int held = 0;
    int markIndex = 0;
    qint64 stretchStartNs = -1;
    clock.start();
    while (markIndex < markCount) {
        const int mark = marks[markIndex];
        if (held == mark - measured)
            stretchStartNs = clock.nsecsElapsed();
        for (int i = 0; i < batch; ++i, ++held) {
            // A laser near -3 dBm with a little ripple.
            const double microwatts = 500.0 + (held % 97) * 0.37;
            emitDisplay.invoke(fake, Qt::DirectConnection, Q_ARG(QString, units[held % 3]),
                               Q_ARG(double, microwatts), Q_ARG(int, 1550),
                               Q_ARG(QDateTime, meterTime));
        }
        runEventLoop();
        if (held == mark) {
            const double seconds = (clock.nsecsElapsed() - stretchStartNs) / 1e9;
            std::printf("BENCH intake_rate_%s %.0f readings/s\n", markNames[markIndex],
                        measured / seconds);
            if (mark >= 1000000) {
                runEventLoop();
                std::printf("BENCH memory_per_reading_%s %.0f bytes\n", markNames[markIndex],
                            double(residentBytes() - residentBefore) / held);
            }
            std::fflush(stdout);
            ++markIndex;
        }
    }

    window->findChild<QAction *>(QStringLiteral("actionStop"))->trigger();
    runEventLoop();
    const int rows = window->readingModel()->rowCount();
    const int itemCount = window->activeItemData() ? window->activeItemData()->dataCount() : -1;
    if (rows != held || itemCount != held) {
        std::fprintf(stderr, "lost readings: fed %d, table %d, item %d\n", held, rows, itemCount);
        return 1;
    }
    std::printf("%d readings held in %.1f s\n", held, clock.elapsed() / 1000.0);

    // Another item, then the big one again: the table and the chart are
    // refilled and drawn.
    auto *tree = window->findChild<QTreeView *>(QStringLiteral("tvItems"));
    const QModelIndex big = tree->currentIndex();
    window->findChild<QTabWidget *>(QStringLiteral("tabWidget"))->setCurrentIndex(1);
    QMetaObject::invokeMethod(window.get(), "newItem", Q_ARG(QString, QStringLiteral("Other")),
                              Q_ARG(ItemData::DataType, ItemData::Measure));
    runEventLoop();
    clock.restart();
    QMetaObject::invokeMethod(window.get(), "itemSetToActive", Q_ARG(QModelIndex, big));
    window->repaint();
    runEventLoop();
    const double switchMs = clock.nsecsElapsed() / 1e6;
    if (window->readingModel()->rowCount() != held) {
        std::fprintf(stderr, "the item did not come back whole\n");
        return 1;
    }
    std::printf("BENCH switch_item_%s %.0f ms\n", markNames[markCount - 1], switchMs);
    window.reset();
    return 0;
}
