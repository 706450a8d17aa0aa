#pragma once

#include "journaloptions.h"
#include "publishoptions.h"

#include <QString>

// What a run of the program is started with besides its own folder; filled
// from the command line (commandline.h), read by the window.
struct StartOptions
{
    // Meter drivers are looked for here instead of in Lib beside the program.
    QString driverFolder;
    // Imported into a new item once the window is up, as the Import action would.
    QString importFile;
    // The recording journal; the program takes the user's settings unless
    // --no-journal is given, windows made by tests keep none.
    JournalOptions journal = JournalOptions::disabled();
    // Publishing to a broker: off (no URL) unless the program's settings or
    // command line ask for it; File > Publishing... changes it.
    PublishOptions publishing;
};
