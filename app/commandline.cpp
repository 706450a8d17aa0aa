#include "commandline.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <cstdio>

namespace {

// Options QGuiApplication and QApplication take out of the arguments
// themselves: accepted here, hidden from the help, and left to them.
const char *const kQtValueOptions[] = {"platform",
                                       "platformpluginpath",
                                       "platformtheme",
                                       "plugin",
                                       "qwindowgeometry",
                                       "geometry",
                                       "qwindowtitle",
                                       "title",
                                       "qwindowicon",
                                       "icon",
                                       "session",
                                       "display",
                                       "name",
                                       "visual",
                                       "style",
                                       "stylesheet",
                                       "qmljsdebugger"};
const char *const kQtFlagOptions[] = {"reverse", "widgetcount", "sync", "nograb", "dograb"};

// One parser for reading and for the help text. A new option is one entry here
// and one line in parseCommandLine.
struct Parser
{
    QCommandLineParser parser;
    QCommandLineOption help{{QStringLiteral("h"), QStringLiteral("help")},
                            QCoreApplication::translate("CommandLine", "Show this help.")};
    QCommandLineOption version{{QStringLiteral("v"), QStringLiteral("version")},
                               QCoreApplication::translate("CommandLine", "Show the version.")};
    QCommandLineOption drivers{
        QStringLiteral("drivers"),
        QCoreApplication::translate("CommandLine",
                                    "Look for meter drivers in <folder> instead of Lib beside "
                                    "the program."),
        QCoreApplication::translate("CommandLine", "folder")};
    QCommandLineOption import{QStringLiteral("import"),
                              QCoreApplication::translate(
                                  "CommandLine",
                                  "Import <file> (.xls or CSV) into a new item once the window is "
                                  "up."),
                              QCoreApplication::translate("CommandLine", "file")};
    QCommandLineOption noJournal{
        QStringLiteral("no-journal"),
        QCoreApplication::translate("CommandLine",
                                    "Keep no recording journal in this run (readings live in "
                                    "memory only until they are exported).")};

    Parser()
    {
        parser.setApplicationDescription(QCoreApplication::translate(
            "CommandLine", "Records, charts and exports the readings of the KV930 optical "
                           "power meter."));
        // Qt's options are single-dash words ("-platform offscreen").
        parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
        parser.addOptions({help, version, drivers, import, noJournal});
        for (const char *name : kQtValueOptions) {
            QCommandLineOption qt(QString::fromLatin1(name), QString(), QStringLiteral("value"));
            qt.setFlags(QCommandLineOption::HiddenFromHelp);
            parser.addOption(qt);
        }
        for (const char *name : kQtFlagOptions) {
            QCommandLineOption qt(QString::fromLatin1(name));
            qt.setFlags(QCommandLineOption::HiddenFromHelp);
            parser.addOption(qt);
        }
    }
};

} // namespace

QStringList commandLineArguments(int argc, char *argv[])
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    return arguments;
}

CommandLine parseCommandLine(const QStringList &arguments)
{
    CommandLine result;
    Parser p;
    auto usageError = [&result](const QString &error) {
        result.outcome = CommandLine::Outcome::UsageError;
        result.error = error;
        return result;
    };
    if (!p.parser.parse(arguments))
        return usageError(p.parser.errorText());
    if (p.parser.isSet(p.help)) {
        result.outcome = CommandLine::Outcome::Help;
        return result;
    }
    if (p.parser.isSet(p.version)) {
        result.outcome = CommandLine::Outcome::Version;
        return result;
    }
    const QStringList extra = p.parser.positionalArguments();
    if (!extra.isEmpty())
        return usageError(QCoreApplication::translate("CommandLine", "Unexpected argument '%1'.")
                              .arg(extra.first()));

    result.options.driverFolder = p.parser.value(p.drivers);
    result.options.importFile = p.parser.value(p.import);
    result.noJournal = p.parser.isSet(p.noJournal);
    if (p.parser.isSet(p.drivers) && result.options.driverFolder.isEmpty())
        return usageError(
            QCoreApplication::translate("CommandLine", "The driver folder must not be empty."));
    if (p.parser.isSet(p.import) && result.options.importFile.isEmpty())
        return usageError(
            QCoreApplication::translate("CommandLine", "The file to import must not be empty."));
    return result;
}

int finishCommandLine(const CommandLine &commandLine)
{
    Parser p;
    switch (commandLine.outcome) {
    case CommandLine::Outcome::Help:
        std::fputs(qPrintable(p.parser.helpText()), stdout);
        return 0;
    case CommandLine::Outcome::Version:
        std::fprintf(stdout, "%s %s\n", qPrintable(QCoreApplication::applicationName()),
                     qPrintable(QCoreApplication::applicationVersion()));
        return 0;
    case CommandLine::Outcome::UsageError:
        std::fprintf(stderr, "%s: %s\n\n%s", qPrintable(QCoreApplication::applicationName()),
                     qPrintable(commandLine.error), qPrintable(p.parser.helpText()));
        return CommandLine::kUsageErrorStatus;
    case CommandLine::Outcome::Run:
        break;
    }
    return 0;
}
