#pragma once

#include "imeterdriver.h"
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
    // The meter to record from, by its ID; empty: the one kept in
    // kv930.conf when rememberMeter, else the KV930 driver set in Lib.
    QString meter;
    MeterOptions meterOptions;
    // The program keeps the meter chosen in the window in kv930.conf;
    // windows made by tests leave the user's configuration alone.
    bool rememberMeter = false;
};
