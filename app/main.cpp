#include "commandline.h"
#include "headlessrecorder.h"
#include "itemexport.h"
#include "kv930resources.h"
#include "kv930version.h"
#include "prompt.h"
#include "termination.h"
#include "widget.h"

#include <QApplication>

namespace {
// Records without a window: no QApplication and no display. A PDF report
// needs fonts and a paint device, so that run gets a QGuiApplication on the
// offscreen platform, made here rather than asked of the user.
int runHeadless(int argc, char *argv[], const CommandLine &commandLine)
{
    HeadlessOptions options = commandLine.headless;
    options.driverFolder = commandLine.options.driverFolder;
    options.journal =
        commandLine.noJournal ? JournalOptions::disabled() : JournalOptions::fromSettings();
    std::unique_ptr<QCoreApplication> app;
    if (exchange::fileFormatOf(options.exportFile) == exchange::FileFormat::Pdf) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        app = std::make_unique<QGuiApplication>(argc, argv);
    } else {
        app = std::make_unique<QCoreApplication>(argc, argv);
    }
    options.applicationDir = QCoreApplication::applicationDirPath();
    options.publishing = publishOptions(commandLine);
    HeadlessRecorder recorder(options);
    return recorder.run();
}
} // namespace

int main(int argc, char *argv[])
{
    // Without TZ, glibc looks at /etc/localtime again on every conversion to
    // or from local time, a file system call each time. Naming the same file
    // keeps the zone and makes a conversion some fifteen times cheaper, which
    // counts where times are made by the million (importing long tables).
    if (!qEnvironmentVariableIsSet("TZ"))
        qputenv("TZ", ":/etc/localtime");
    QCoreApplication::setApplicationName(QStringLiteral("kv930"));
    QCoreApplication::setApplicationVersion(QStringLiteral(KV930_VERSION));
    const CommandLine commandLine = parseCommandLine(commandLineArguments(argc, argv));
    switch (commandLine.outcome) {
    case CommandLine::Outcome::Run:
        break;
    case CommandLine::Outcome::Headless:
        return runHeadless(argc, argv, commandLine);
    case CommandLine::Outcome::ListMeters: {
        QCoreApplication app(argc, argv);
        return listMeters(QCoreApplication::applicationDirPath(), commandLine.options.driverFolder);
    }
    default: {
        // Help, version and usage errors need no display.
        QCoreApplication app(argc, argv);
        return finishCommandLine(commandLine);
    }
    }

    QApplication a(argc, argv);
    kv930InitResources();
    onTerminationSignals([] { QApplication::closeAllWindows(); });
    StartOptions options = commandLine.options;
    options.rememberMeter = true;
    options.journal =
        commandLine.noJournal ? JournalOptions::disabled() : JournalOptions::fromSettings();
    options.publishing = publishOptions(commandLine);
    Widget w(QCoreApplication::applicationDirPath(), options, std::make_unique<Prompt>());
    w.show();
    return a.exec();
}
