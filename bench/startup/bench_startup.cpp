// Start-up to the first shown window: from just before the main window is
// built (plugin scan included) to its first paint, with the program's own
// drivers. Each start runs in a fresh process, since a loaded plugin stays
// loaded; the median of several starts is reported.
#include "kv930resources.h"
#include "prompt.h"
#include "widget.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <QWindow>

#include <algorithm>
#include <cstdio>
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

int oneStart(int argc, char *argv[])
{
    QApplication app(argc, argv);
    kv930InitResources();
    QTemporaryDir folder; // options.xml of this start goes here, not into the build tree
    if (!folder.isValid() ||
        !QFile::link(QStringLiteral(KV930_LIB_DIR), folder.filePath(QStringLiteral("Lib"))))
        return 2;

    QElapsedTimer clock;
    FirstPaint probe(clock);
    app.installEventFilter(&probe);
    clock.start();
    auto window = std::make_unique<Widget>(folder.path(), std::make_unique<Prompt>());
    probe.window = window.get();
    window->show();
    QTimer::singleShot(30000, &app, &QCoreApplication::quit);
    app.exec();
    if (!window->pluginsComplete() || probe.paintedNs < 0)
        return 3;
    std::printf("%.3f %.3f\n", probe.exposedNs / 1e6, probe.paintedNs / 1e6);
    return 0;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    if (argc > 1 && qstrcmp(argv[1], childFlag) == 0)
        return oneStart(argc, argv);

    QCoreApplication app(argc, argv);
    const int starts = 5;
    std::vector<double> exposed, painted;
    for (int i = 0; i < starts; ++i) {
        QProcess child;
        child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        child.start(QCoreApplication::applicationFilePath(), {QString::fromLatin1(childFlag)});
        if (!child.waitForFinished(60000) || child.exitStatus() != QProcess::NormalExit ||
            child.exitCode() != 0) {
            std::fprintf(stderr, "start %d failed (exit code %d)\n", i + 1, child.exitCode());
            return 1;
        }
        const QList<QByteArray> figures = child.readAllStandardOutput().simplified().split(' ');
        if (figures.size() != 2)
            return 1;
        exposed.push_back(figures.at(0).toDouble());
        painted.push_back(figures.at(1).toDouble());
        std::printf("start %d: exposed after %.1f ms, painted after %.1f ms\n", i + 1,
                    exposed.back(), painted.back());
    }
    std::printf("BENCH startup_to_expose %.1f ms\n", median(exposed));
    std::printf("BENCH startup_to_window %.1f ms\n", median(painted));
    return 0;
}
