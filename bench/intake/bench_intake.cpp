// Readings per second through the live intake path of the real window (item,
// table, chart and reading panel) at 10^4 to 10^7 held readings, the resident
// memory each held reading costs, what one shown update costs at 10^7 rows,
// and how long making such an item active again takes.
//
// Every rate is timed over a stretch of at least a second, with the chart tab
// shown and the table following the newest row, so that each stretch holds
// some ten view updates (the window shows a burst every 100 ms): a stretch
// shorter than that interval would time mostly the item and hardly any view.
// Each size is an item of its own, filled to the size and then timed, since
// a second of intake adds some 10^5 readings to whatever it starts from.
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
#include <QHeaderView>
#include <QMetaMethod>
#include <QPluginLoader>
#include <QScrollBar>
#include <QTabWidget>
#include <QTableView>
#include <QTemporaryDir>
#include <QThread>
#include <QTreeView>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <unistd.h>
#include <vector>

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

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

// Counts the paints a widget receives.
class PaintCounter : public QObject
{
public:
    int paints = 0;

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Paint)
            ++paints;
        return false;
    }
};

// Feeds readings through the fake driver's display signal, as the meter does.
class Feeder
{
public:
    explicit Feeder(QObject *fake) : m_fake(fake)
    {
        const int index =
            fake->metaObject()->indexOfMethod("emitDisplay(QString,double,int,QDateTime)");
        m_emit = fake->metaObject()->method(index);
    }
    bool isValid() const { return m_emit.isValid(); }

    void one()
    {
        // A laser near -3 dBm with a little ripple.
        static const QString units[3] = {QStringLiteral("dBm"), QStringLiteral("uW"),
                                         QStringLiteral("mW")};
        static const QDateTime meterTime(QDate(2026, 3, 4), QTime(10, 0));
        const double microwatts = 500.0 + (m_count % 97) * 0.37;
        m_emit.invoke(m_fake, Qt::DirectConnection, Q_ARG(QString, units[m_count % 3]),
                      Q_ARG(double, microwatts), Q_ARG(int, 1550), Q_ARG(QDateTime, meterTime));
        ++m_count;
    }
    // A burst, then a turn of the event loop: the views catch up as they
    // would between the driver's bursts.
    void batch()
    {
        for (int i = 0; i < Batch; ++i)
            one();
        runEventLoop();
    }
    qint64 count() const { return m_count; }

    static constexpr int Batch = 1000;

private:
    QObject *m_fake;
    QMetaMethod m_emit;
    qint64 m_count = 0;
};

// One reading after a quiet spell is shown at once: the time from the
// reading to the table scrolled to its new row and the shown tab repainted.
// The median of several.
double viewUpdateMs(Feeder &feed, QTableView *table, QWidget *shown, int repeats)
{
    PaintCounter counter;
    shown->installEventFilter(&counter);
    QScrollBar *bar = table->verticalScrollBar();
    std::vector<double> ms;
    for (int k = 0; k < repeats; ++k) {
        QElapsedTimer quiet;
        quiet.start();
        while (quiet.elapsed() < 150) { // longer than the 100 ms view interval
            runEventLoop();
            QThread::msleep(5);
        }
        const int paints = counter.paints;
        const int maximum = bar->maximum();
        QElapsedTimer clock;
        clock.start();
        feed.one();
        while ((counter.paints == paints || bar->maximum() == maximum ||
                bar->value() != bar->maximum()) &&
               clock.elapsed() < 10000)
            QCoreApplication::processEvents(QEventLoop::AllEvents);
        ms.push_back(clock.nsecsElapsed() / 1e6);
    }
    shown->removeEventFilter(&counter);
    return median(ms);
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
    Feeder feed(fake);
    if (!feed.isValid()) {
        std::fprintf(stderr, "fake meter has no emitDisplay\n");
        return 1;
    }

    auto window = std::make_unique<Widget>(folder.path(), std::make_unique<Prompt>());
    if (!window->pluginsComplete()) {
        std::fprintf(stderr, "the window did not bind the fake meter\n");
        return 1;
    }
    window->resize(1000, 600);
    window->show();
    auto *tabs = window->findChild<QTabWidget *>(QStringLiteral("tabWidget"));
    auto *table = window->findChild<QTableView *>(QStringLiteral("tv"));
    auto *chart = window->findChild<QWidget *>(QStringLiteral("chart"));
    tabs->setCurrentWidget(window->findChild<QWidget *>(QStringLiteral("tabChart")));
    runEventLoop();

    auto *connectAction = window->findChild<QAction *>(QStringLiteral("actionConnect"));
    auto *startAction = window->findChild<QAction *>(QStringLiteral("actionStart"));
    connectAction->trigger();
    for (int i = 0; i < 100 && !startAction->isEnabled(); ++i)
        runEventLoop();

    const qint64 marks[] = {10000, 100000, 1000000, 10000000};
    const char *markNames[] = {"1e4", "1e5", "1e6", "1e7"};
    const int markCount = argc > 1 && QByteArray(argv[1]) == "--quick" ? 3 : 4;
    PaintCounter chartPaints;
    chart->installEventFilter(&chartPaints);

    QElapsedTimer total;
    total.start();
    for (int m = 0; m < markCount; ++m) {
        // A new item for each size (the first is the window's own Measure1).
        if (m > 0)
            QMetaObject::invokeMethod(window.get(), "newItem",
                                      Q_ARG(QString, QStringLiteral("Size %1").arg(markNames[m])),
                                      Q_ARG(ItemData::DataType, ItemData::Measure));
        startAction->trigger();
        if (!window->isAcquiring()) {
            std::fprintf(stderr, "acquisition did not start\n");
            return 1;
        }
        const qint64 residentBefore = residentBytes();
        const qint64 start = feed.count();
        while (feed.count() - start < marks[m])
            feed.batch();
        if (marks[m] >= 1000000)
            std::printf("BENCH memory_per_reading_%s %.0f bytes\n", markNames[m],
                        double(residentBytes() - residentBefore) / marks[m]);

        const int paintsBefore = chartPaints.paints;
        const int scrolledBefore = table->verticalScrollBar()->value();
        QElapsedTimer stretch;
        stretch.start();
        const qint64 stretchStart = feed.count();
        while (stretch.elapsed() < 1000)
            feed.batch();
        const double seconds = stretch.nsecsElapsed() / 1e9;
        const qint64 fed = feed.count() - stretchStart;
        // The table scrolls by pixels, rows of the header's section size.
        const int rowHeight = std::max(1, table->verticalHeader()->defaultSectionSize());
        std::printf("  %s: %lld readings in %.2f s from %lld held, %d chart repaints, the table "
                    "followed by %d rows\n",
                    markNames[m], static_cast<long long>(fed), seconds,
                    static_cast<long long>(marks[m]), chartPaints.paints - paintsBefore,
                    (table->verticalScrollBar()->value() - scrolledBefore) / rowHeight);
        std::printf("BENCH intake_rate_%s %.0f readings/s\n", markNames[m], fed / seconds);
        std::fflush(stdout);
    }

    // One shown update of the biggest item: a reading into the table, the
    // scroll to it and the repaint of the chart tab (and of the table tab).
    const char *biggest = markNames[markCount - 1];
    std::printf("BENCH view_update_%s %.2f ms\n", biggest, viewUpdateMs(feed, table, chart, 15));
    tabs->setCurrentWidget(window->findChild<QWidget *>(QStringLiteral("tab")));
    runEventLoop();
    std::printf("BENCH view_update_table_%s %.2f ms\n", biggest,
                viewUpdateMs(feed, table, table->viewport(), 15));
    std::fflush(stdout);

    window->findChild<QAction *>(QStringLiteral("actionStop"))->trigger();
    runEventLoop();
    const int rows = window->readingModel()->rowCount();
    const int itemCount = window->activeItemData() ? window->activeItemData()->dataCount() : -1;
    auto *tree = window->findChild<QTreeView *>(QStringLiteral("tvItems"));
    const QModelIndex big = tree->currentIndex();
    if (rows != itemCount || rows < marks[markCount - 1]) {
        std::fprintf(stderr, "lost readings: table %d, item %d\n", rows, itemCount);
        return 1;
    }
    std::printf("%lld readings fed in %.1f s\n", static_cast<long long>(feed.count()),
                total.elapsed() / 1000.0);

    // Another item, then the big one again: the table and the chart are
    // refilled and the chart drawn.
    tabs->setCurrentWidget(window->findChild<QWidget *>(QStringLiteral("tabChart")));
    QMetaObject::invokeMethod(window.get(), "newItem", Q_ARG(QString, QStringLiteral("Other")),
                              Q_ARG(ItemData::DataType, ItemData::Measure));
    runEventLoop();
    QElapsedTimer clock;
    clock.start();
    QMetaObject::invokeMethod(window.get(), "itemSetToActive", Q_ARG(QModelIndex, big));
    window->repaint();
    runEventLoop();
    const double switchMs = clock.nsecsElapsed() / 1e6;
    if (window->readingModel()->rowCount() != rows) {
        std::fprintf(stderr, "the item did not come back whole\n");
        return 1;
    }
    std::printf("BENCH switch_item_%s %.0f ms\n", biggest, switchMs);
    chart->removeEventFilter(&chartPaints);
    window.reset();
    return 0;
}
