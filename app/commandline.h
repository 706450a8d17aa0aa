#pragma once

#include "startoptions.h"

#include <QString>
#include <QStringList>

// The program's command line: --help, --version, --drivers DIR, --import FILE,
// --no-journal.
// Qt's own options (-platform, -style, -display ...) pass through to
// QApplication.
struct CommandLine
{
    enum class Outcome
    {
        Run,        // start the window with options
        Help,       // print the usage and leave
        Version,    // print the version and leave
        UsageError, // print error and usage, leave with kUsageErrorStatus
    };
    static constexpr int kUsageErrorStatus = 2;

    Outcome outcome = Outcome::Run;
    StartOptions options;
    // Run without the recording journal, whatever the settings say.
    bool noJournal = false;
    QString error;
};

// The arguments as the process got them, program name first.
QStringList commandLineArguments(int argc, char *argv[]);

// Reads the arguments (program name first). Needs no application object, so
// that help, version and usage errors never need a display.
CommandLine parseCommandLine(const QStringList &arguments);

// Prints what an outcome other than Run shows (help and version on standard
// output, an error and the usage on standard error) and returns the exit
// status. Needs a QCoreApplication for the program's name.
int finishCommandLine(const CommandLine &commandLine);
