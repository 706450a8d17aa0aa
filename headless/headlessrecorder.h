// SPDX-License-Identifier: MIT
#pragma once

#include "journaloptions.h"
#include "publishoptions.h"

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QStringList>

#include <cstdio>
#include <memory>

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
    QStringList meters;         // SPECs; empty: the default meter
    QString itemName;           // empty: MeasureN as the window names items
    double durationSeconds = 0; // 0: no time limit
    qint64 count = 0;           // 0: no count limit
    QString exportFile;         // empty: no export
    JournalOptions journal;
    PublishOptions publishing; // no URL: no publishing
    double drainSeconds = 30;  // at the end, wait at most this long for the broker
};

// Records without a window: connects the meter, records into a new item until
// the duration, the count or a termination signal ends it, exports the item
// and ends its journal session. Progress goes to stderr once a second, one
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

private:
    bool bindMeter();
    void startRecording();
    void readingAppended(ItemData *item, int count);
    void printProgress(bool final);
    // Ends the recording (once); failure, when set, is said and makes the
    // exit status non-zero, but what was recorded is still exported.
    void finish(const QString &failure = QString());
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
    MeterLink *m_meter = nullptr;
    ItemData *m_item = nullptr;
    QTimer *m_progressTimer = nullptr;
    QElapsedTimer m_clock;
    bool m_recordingStarted = false;
    bool m_finished = false;
    QString m_failure;
    int m_status = 0;
    bool m_terminal = false;
    std::unique_ptr<Publisher> m_publisher;
    QEventLoop *m_drainLoop = nullptr; // while waiting for the broker at the end
};

// Prints one line per meter that can be opened now: its SPEC, a tab, a
// description. Returns the exit status.
int listMeters(const QString &applicationDir, const QString &driverFolder);
