#pragma once

#include <QString>

// Settings of the virtual meter, read from virtualmeter.ini beside the plugin
// when that file exists. Out-of-range values fall back to the defaults' range.
struct MeterConfig
{
    double rate = 5.0;                    // live readings per second
    QString unit = QStringLiteral("dBm"); // "uW", "mW", "dBm" or "cycle"
    int waveLength = 1550;                // nm
    double powerDBm = -3.0;               // laser power around which readings drift
    double rangeEventChance = 0.01;       // share of over/under range live readings
    int storedCount = 300;                // readings in the meter's memory
    int burstSize = 10;                   // stored readings per transfer burst
    int burstIntervalMs = 20;             // pause between bursts
    int openDelayMs = 50;                 // time until opened() follows open()
    bool threaded = false;                // emit from a thread of the plugin's own

    // Faults to inject.
    bool unplugMidDownload = false; // converter vanishes halfway through a transfer
    bool stopMidTransfer = false;   // transfer stops halfway without a word
    int announceExtra = 0;          // storeNum total exceeds what is sent by this much
    int sendExtra = 0;              // this many readings more than announced
    int nullEvery = 0;              // every n-th reading is a null pointer
    int nonFiniteEvery = 0;         // every n-th reading holds NaN or infinity
    int unknownUnitEvery = 0;       // every n-th reading has an unknown unit

    static MeterConfig load(const QString &iniPath);
};
