#pragma once

#include "headlessrecorder.h"
#include "startoptions.h"

#include <QString>
#include <QStringList>

// The program's command line: --help, --version, --drivers DIR, --import FILE,
// --no-journal, --meter ID, --rate N, --wavelength NM, --mqtt URL,
// --station NAME; the headless recorder's --headless, --item NAME,
// --duration SECONDS, --count N, --export FILE, --mqtt-drain SECONDS;
// --list-meters.
// Qt's own options (-platform, -style, -display ...) pass through to
// QApplication.
struct CommandLine
{
    enum class Outcome
    {
        Run,        // start the window with options
        Headless,   // record without a window (headless)
        ListMeters, // print the meters that can be opened and leave
        Help,       // print the usage and leave
        Version,    // print the version and leave
        UsageError, // print error and usage, leave with kUsageErrorStatus
    };
    static constexpr int kUsageErrorStatus = 2;

    Outcome outcome = Outcome::Run;
    StartOptions options;
    // Run without the recording journal, whatever the settings say.
    bool noJournal = false;
    // Publishing: the broker and the station instead of those set (empty: as set).
    QString mqttUrl;
    QString station;
    // For Headless (applicationDir, driverFolder and journal are filled in
    // when the run starts).
    HeadlessOptions headless;
    QString error;
};

// The arguments as the process got them, program name first.
QStringList commandLineArguments(int argc, char *argv[]);

// Reads the arguments (program name first). Needs no application object, so
// that help, version and usage errors never need a display.
CommandLine parseCommandLine(const QStringList &arguments);

// The publishing options of this run: kv930.conf's, with the broker and the
// station the command line gives instead.
PublishOptions publishOptions(const CommandLine &commandLine);

// Prints what an outcome other than Run shows (help and version on standard
// output, an error and the usage on standard error) and returns the exit
// status. Needs a QCoreApplication for the program's name.
int finishCommandLine(const CommandLine &commandLine);
