// SPDX-License-Identifier: MIT
#pragma once

#include "itemtree.h"
#include "journaloptions.h"
#include "judge.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QString>

#include <memory>

class Journal;
class JournalKeeper;
struct JournalSession;
class MeterCatalogue;
class MeterLink;
struct MeterOptions;

// The recording core: one recording's item tree, its meters and its journal,
// without any widget. The window and the headless recorder are two faces of
// it: they ask it to do things and follow its signals (and the tree's).
//
// Road of a live reading: driver -> MeterLink -> ItemTree (item) -> the
// tree's listeners (views, journal, statistics).
class Recording : public QObject
{
    Q_OBJECT
public:
    // The names of the tree's two group rows, as the face shows them.
    Recording(const QString &storeName, const QString &liveName, QObject *parent = nullptr);
    ~Recording() override;

    ItemTree &tree() { return *m_tree; }
    const ItemTree &tree() const { return *m_tree; }

    // --- Meters ---
    // What binding the meter drivers found.
    struct DriverScan
    {
        bool complete = false;    // the KV930 set: all four interfaces
        QString missing;          // the interfaces that are not there, comma separated
        QString scannedDirectory; // where they were looked for
    };
    // Binds the KV930 driver set from Lib in applicationDir (or from
    // driverFolder when given) as the recording's first meter, and reads what
    // the folder's other drivers say of themselves.
    DriverScan bindDrivers(const QString &applicationDir, const QString &driverFolder = QString());
    // The drivers of the scanned folder and the meters present now; null
    // before bindDrivers.
    const MeterCatalogue *catalogue() const { return m_catalogue.get(); }
    // The first meter (the chosen one); null when none is bound.
    MeterLink *meter() const { return m_meters.isEmpty() ? nullptr : m_meters.first(); }
    // Every meter of the recording, the chosen one first.
    const QList<MeterLink *> &meters() const { return m_meters; }
    // The meter an ID names ("virtual", "pm100@/dev/usbtmc0", ...): the
    // KV930 set bound by bindDrivers, or a meter its driver makes now. Not
    // opened yet. Null with *error saying why.
    MeterLink *addMeter(const QString &meterId, const MeterOptions &options, QString *error);
    // Makes the meter the ID names the first one, in place of the first
    // (which goes unless it is the KV930 set, which stays bound for later).
    bool selectMeter(const QString &meterId, const MeterOptions &options, QString *error);
    // Closes and forgets a meter (not the KV930 set's binding).
    void removeMeter(MeterLink *meter);

    // --- Recording journal ---
    enum class JournalMode
    {
        RestoreUnfinished, // the window: a session left unfinished comes back
        NewSession,        // the headless recorder: always a session of its own
    };
    struct JournalStart
    {
        enum Outcome
        {
            Off,      // not wanted
            Failed,   // wanted but cannot be kept; error says why
            Fresh,    // a new session began
            Restored, // an unfinished session came back into the tree
        } outcome = Off;
        QString folder;
        QString error;
        QString movedAside;    // a damaged journal went here
        QString networkFolder; // the data folder is on a network: the journal is kept locally
        qint64 readings = 0;   // restored
        int items = 0;         // restored items with readings
        bool damaged = false;  // some readings could not be read back
    };
    // Opens the journal and starts this run's session. Items already in the
    // tree are journaled as they are, unless a restored tree replaces them.
    JournalStart startJournal(const JournalOptions &options, JournalMode mode);
    // Null when the journal is off or could not be opened.
    Journal *journal() const { return m_journal.get(); }
    JournalKeeper *journalKeeper() const { return m_keeper.get(); }
    bool journalRecording() const;

    // A past session read back from the journal, added below Live Data as
    // items of their own (named "name (when)"). Returns the first new item.
    struct Reopened
    {
        ItemData *first = nullptr;
        qint64 readings = 0;
        int items = 0;
    };
    Reopened reopenSession(JournalSession &session, const QString &when);

    // --- Exports ---
    // The first count readings of item are in a file now (an earlier export
    // of more of them still counts).
    void noteExported(const ItemData *item, int count);
    int exportedCount(const ItemData *item) const { return m_exported.value(item, 0); }
    // Readings recorded or downloaded and never exported, and in how many
    // items (imported and reopened readings are not at risk).
    qint64 unexportedReadings(int *itemCount = nullptr) const;

    // --- Analysis ---
    // References and limits, read from and saved to the user's configuration.
    analysis::Judge &judge() { return m_judge; }
    const analysis::Judge &judge() const { return m_judge; }
    void loadAnalysisSettings();
    void saveAnalysisSettings() const;

    // --- Ending ---
    // The user closed the recording: every reading is written and the
    // session ended, so that the next start does not bring it back.
    void closeNormally();
    // The run ends without a normal close (a termination signal with readings
    // never exported): every reading is written and the session left open
    // for the next start to restore.
    void keepForNextStart();

signals:
    // The journal stopped recording (a write failed); readings stay in memory.
    void journalFailed(const QString &reason);

private:
    void restoreSession(JournalSession &session);
    void forget(const ItemData *item);

    MeterLink *makeMeter(const QString &meterId, const MeterOptions &options, QString *error);

    std::unique_ptr<ItemTree> m_tree;
    std::unique_ptr<MeterCatalogue> m_catalogue;
    MeterLink *m_kv930 = nullptr; // the KV930 set, bound once
    QList<MeterLink *> m_meters;  // children of this object
    std::unique_ptr<Journal> m_journal;
    std::unique_ptr<JournalKeeper> m_keeper;
    QHash<const ItemData *, int> m_exported;
    analysis::Judge m_judge;
};
