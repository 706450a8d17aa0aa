// SPDX-License-Identifier: MIT
#pragma once

#include "imeterdriver.h"
#include "journaloptions.h"
#include "publishoptions.h"

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QStringList>

#include <cstdio>
#include <memory>
#include <vector>

class ItemData;
class MeterLink;
class Publisher;
class QEventLoop;
class QTimer;
class Recording;

// What the headless recorder is asked to do (kv930 --headless ...).
struct HeadlessOptions
{
    QString applicationDir;     // Lib is looked for beside it
    QString driverFolder;       // instead of Lib, when set
    QStringList meters;         // meter IDs; empty: the default meter
    MeterOptions meterOptions;  // rate and wavelength of every meter
    QString itemName;           // one meter: empty is MeasureN as the window names items
    double durationSeconds = 0; // 0: no time limit
    qint64 count = 0;           // 0: no count limit (per meter)
    QString exportFile;         // empty: no export; several meters: one file per item
    JournalOptions journal;
    PublishOptions publishing; // no URL: no publishing
    double drainSeconds = 30;  // at the end, wait at most this long for the broker
};

// Records without a window: connects the meters, records each into a new item
// of its own until the duration, the count or a termination signal ends it,
// exports the items and ends its journal session. Progress goes to stderr once a second, one
// summary line to stdout at the end.
class HeadlessRecorder : public QObject
{
    Q_OBJECT
public:
    // Exit statuses besides 0 (and 2 for usage errors, found before this runs).
    static constexpr int FailureStatus = 1;
    // How long a meter may take to open its link.
    static constexpr int OpenTimeoutMs = 15000;

    explicit HeadlessRecorder(HeadlessOptions options, QObject *parent = nullptr);
    ~HeadlessRecorder() override;

    // Runs the event loop until the recording is over; returns the exit status.
    int run();

    // Where the item of one of several meters is exported: "out.csv" and
    // item "pm100 1550" give "out-pm100 1550.csv" beside it.
    static QString exportPathFor(const QString &exportFile, const QString &itemName);

private:
    // One meter and the item it records into.
    struct Channel
    {
        MeterLink *meter = nullptr;
        ItemData *item = nullptr;
        bool started = false;
        bool done = false; // reached its count, or its link ended
    };

    bool bindMeters();
    Channel *channelOf(const QObject *meter);
    void startRecording(Channel &channel);
    // The channel ended (failure set: its link failed); the recording ends
    // when every channel has.
    void channelDone(Channel &channel, const QString &failure = QString());
    void readingAppended(ItemData *item, int count);
    qint64 totalReadings() const;
    void printProgress(bool final);
    // Ends the recording (once); what was recorded is exported even after a
    // failure (which makes the exit status non-zero).
    void finish();
    int exportAndEnd();
    void fail(const QString &reason);
    // Publishing (headlesspublishing.cpp): started with the journal; at the
    // end drained, returning what the summary line says of it (empty when
    // not publishing); a termination signal ends the wait.
    void startPublishing();
    QString drainPublishing();
    void endDrain();

    HeadlessOptions m_options;
    std::unique_ptr<Recording> m_recording;
    std::vector<Channel> m_channels;
    QTimer *m_progressTimer = nullptr;
    QElapsedTimer m_clock;
    bool m_recordingStarted = false;
    bool m_finished = false;
    QStringList m_failures;
    int m_status = 0;
    bool m_terminal = false;
    std::unique_ptr<Publisher> m_publisher;
    QEventLoop *m_drainLoop = nullptr; // while waiting for the broker at the end
};

// Prints one line per meter that can be opened now: its ID, a tab, a
// description. Returns the exit status.
int listMeters(const QString &applicationDir, const QString &driverFolder);
