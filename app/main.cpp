#include "commandline.h"
#include "kv930resources.h"
#include "kv930version.h"
#include "prompt.h"
#include "termination.h"
#include "widget.h"

#include <QApplication>

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
    if (commandLine.outcome != CommandLine::Outcome::Run) {
        // Help, version and usage errors need no display.
        QCoreApplication app(argc, argv);
        return finishCommandLine(commandLine);
    }

    QApplication a(argc, argv);
    kv930InitResources();
    closeWindowsOnTerminationSignals();
    StartOptions options = commandLine.options;
    options.journal =
        commandLine.noJournal ? JournalOptions::disabled() : JournalOptions::fromSettings();
    Widget w(QCoreApplication::applicationDirPath(), options, std::make_unique<Prompt>());
    w.show();
    return a.exec();
}
