// Start-up to the first shown window: from just before the main window is
// built (plugin scan and the recording journal included) to its first paint,
// with the program's own drivers; and the same start with an unclosed
// session of 10^6 readings to restore. Each start runs in a fresh process,
// since a loaded plugin stays loaded; the median of several starts is
// reported.
#include "benchjournal.h"
#include "itemdata.h"
#include "kv930resources.h"
#include "prompt.h"
#include "widget.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEvent>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <QWindow>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>
#include <vector>

namespace {

const char childFlag[] = "--one-start";

// Notes the first paint the main window receives.
class FirstPaint : public QObject
{
public:
    explicit FirstPaint(const QElapsedTimer &clock) : m_clock(clock) {}
    QWidget *window = nullptr;
    qint64 exposedNs = -1;
    qint64 paintedNs = -1;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (!window)
            return false;
        if (event->type() == QEvent::Expose && exposedNs < 0 && window->windowHandle() &&
            watched == static_cast<QObject *>(window->windowHandle()))
            exposedNs = m_clock.nsecsElapsed();
        if (event->type() == QEvent::Paint && paintedNs < 0 && watched == window) {
            paintedNs = m_clock.nsecsElapsed();
            QTimer::singleShot(0, qApp, &QCoreApplication::quit);
        }
        return false;
    }

private:
    const QElapsedTimer &m_clock;
};

// The restore's message is answered at once: a start is timed, not a reader.
class SilentPrompt : public Prompt
{
public:
    void information(QWidget *, const QString &) override {}
    void warning(QWidget *, const QString &text) override
    {
        std::fprintf(stderr, "warning: %s\n", qPrintable(text));
    }
};

// One start with the journal in journalFolder; restoredReadings is what the
// start must bring back (0: nothing). A start without anything to restore
// ends with the window closed normally, as a user's run ends.
int oneStart(int argc, char *argv[], const QString &journalFolder, qint64 restoredReadings)
{
    QApplication app(argc, argv);
    kv930InitResources();
    QTemporaryDir folder; // options.xml of this start goes here, not into the build tree
    if (!folder.isValid() ||
        !QFile::link(QStringLiteral(KV930_LIB_DIR), folder.filePath(QStringLiteral("Lib"))))
        return 2;
    JournalOptions journal;
    journal.folder = journalFolder;

    QElapsedTimer clock;
    FirstPaint probe(clock);
    app.installEventFilter(&probe);
    clock.start();
    auto window =
        std::make_unique<Widget>(folder.path(), std::make_unique<SilentPrompt>(), journal);
    probe.window = window.get();
    window->show();
    QTimer::singleShot(60000, &app, &QCoreApplication::quit);
    app.exec();
    if (!window->pluginsComplete() || probe.paintedNs < 0 || !window->journal())
        return 3;
    const qint64 held = window->activeItemData() ? window->activeItemData()->dataCount() : -1;
    if (held != restoredReadings) {
        std::fprintf(stderr, "the start shows %lld readings, not %lld\n",
                     static_cast<long long>(held), static_cast<long long>(restoredReadings));
        return 4;
    }
    if (restoredReadings == 0)
        window->close();
    std::printf("%.3f %.3f\n", probe.exposedNs / 1e6, probe.paintedNs / 1e6);
    return 0;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// Runs starts in fresh processes: each with the journal folder prepare()
// returns. Fills the median times to the first expose and the first paint.
bool measureStarts(int starts, qint64 restoredReadings, const std::function<QString(int)> &prepare,
                   double *exposedMs, double *paintedMs)
{
    std::vector<double> exposed, painted;
    for (int i = 0; i < starts; ++i) {
        const QString journal = prepare(i);
        if (journal.isEmpty())
            return false;
        QProcess child;
        child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        child.start(QCoreApplication::applicationFilePath(),
                    {QString::fromLatin1(childFlag), journal, QString::number(restoredReadings)});
        if (!child.waitForFinished(120000) || child.exitStatus() != QProcess::NormalExit ||
            child.exitCode() != 0) {
            std::fprintf(stderr, "start %d failed (exit code %d)\n", i + 1, child.exitCode());
            return false;
        }
        const QList<QByteArray> figures = child.readAllStandardOutput().simplified().split(' ');
        if (figures.size() != 2)
            return false;
        exposed.push_back(figures.at(0).toDouble());
        painted.push_back(figures.at(1).toDouble());
        std::printf("start %d: exposed after %.1f ms, painted after %.1f ms\n", i + 1,
                    exposed.back(), painted.back());
    }
    *exposedMs = median(exposed);
    *paintedMs = median(painted);
    return true;
}

bool copyFolder(const QString &from, const QString &to)
{
    if (!QDir().mkpath(to))
        return false;
    for (const QFileInfo &file : QDir(from).entryInfoList(QDir::Files)) {
        if (!QFile::copy(file.filePath(), QDir(to).filePath(file.fileName())))
            return false;
    }
    return true;
}

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    if (argc > 3 && qstrcmp(argv[1], childFlag) == 0)
        return oneStart(argc, argv, QString::fromLocal8Bit(argv[2]),
                        QByteArray(argv[3]).toLongLong());

    QCoreApplication app(argc, argv);
    QTemporaryDir work;
    if (!work.isValid())
        return 1;
    double exposed = 0, painted = 0;

    // One journal for all starts, as a user's: the first start makes it.
    const QString journal = work.filePath(QStringLiteral("journal"));
    if (!measureStarts(
            5, 0, [&](int) { return journal; }, &exposed, &painted))
        return 1;
    std::printf("BENCH startup_to_expose %.1f ms\n", exposed);
    std::printf("BENCH startup_to_window %.1f ms\n", painted);
    std::fflush(stdout);

    // A program that died with 10^6 readings recorded: each start restores a
    // fresh copy of its journal.
    const QString crashed = work.filePath(QStringLiteral("crashed"));
    if (!writeUnclosedSession(crashed, 1000000)) {
        std::fprintf(stderr, "cannot write the unclosed session\n");
        return 1;
    }
    auto copy = [&](int i) {
        const QString folder = work.filePath(QStringLiteral("restore-%1").arg(i));
        return copyFolder(crashed, folder) ? folder : QString();
    };
    if (!measureStarts(3, 1000000, copy, &exposed, &painted))
        return 1;
    std::printf("BENCH startup_restore_1e6 %.1f ms\n", painted);
    return 0;
}
