#pragma once

#include "itemdata.h"
#include "readingstore.h"

#include <QDateTime>
#include <QHash>
#include <QObject>
#include <QString>
#include <QVector>

#include <memory>
#include <optional>
#include <vector>

class JournalWriter;
class QLockFile;
struct sqlite3;

// One item of a journaled session.
struct JournalItem
{
    int number = 0; // the item's number within its session
    ItemData::DataType kind = ItemData::Measure;
    QString name;
    QString meter;    // the ID of the meter that recorded into it; empty for none
    int exported = 0; // readings covered by the item's last export
    ReadingStore readings;
};

// A session read back: the item tree of one run of the program.
struct JournalSession
{
    qint64 id = 0;
    QDateTime started;
    QDateTime ended;                // null when the program did not close it
    int activeItem = -1;            // number of the active item, -1 for none
    std::vector<JournalItem> items; // in the order they were made
    bool damaged = false;           // some readings could not be read back
    bool resumed = false;           // takeOverUnfinished: this run goes on recording into it

    qint64 readingCount() const;
};

// A past session as File > Recent Recordings lists it.
struct JournalSessionInfo
{
    qint64 id = 0;
    QDateTime started;
    QDateTime ended;
    bool closedNormally = false;
    int items = 0; // measurement items, and the downloaded readings when there are any
    qint64 readings = 0;
};

// The recording journal: every change to the item tree and every reading, kept
// in an SQLite file so that a crash, a power cut or a killed program loses at
// most the last CommitDelay of readings. Use it from one thread (the window's);
// the disk is written by a thread of the journal's own and nothing here waits
// for it, except open(), the start-up reads and flush().
//
// One run of the program is a session. Each session holds a lock file beside
// the journal, so that a second copy of the program never takes over a session
// whose program still runs; a session without a living owner that was never
// closed is the one a restart brings back.
class Journal : public QObject
{
    Q_OBJECT
public:
    static constexpr int KeepDays = 30;
    // While another program holds the file, queued readings stop growing at
    // about this size; later ones stay in their items until it is free.
    static constexpr qint64 WaitingQueueBytes = 64 * 1024 * 1024;
    // The integrity check at open gives up after this long on a large journal.
    static constexpr int CheckTimeMs = 1500;

    enum class State
    {
        Recording, // what is handed over reaches the disk within the commit delay
        Waiting,   // another program holds the file: kept in memory, written when it is free
        Off        // nothing more is written in this run
    };

    explicit Journal(const QString &folder, QObject *parent = nullptr);
    // Commits what is queued (waiting for the disk), then releases the session.
    ~Journal() override;

    // Opens the journal in the folder, creating both when needed; a folder on
    // a network file system is replaced by a local one (networkFolder() then
    // names the one given). A file that is not a journal, or fails SQLite's
    // quick check, is moved aside under a dated name and a fresh journal
    // begun; movedAsidePath() then says where it went. A damaged file that
    // another running copy has open is left alone. False when no journal can
    // be kept; errorString() says why.
    bool open();
    QString errorString() const { return m_error; }
    QString movedAsidePath() const { return m_movedAside; }
    QString filePath() const;
    QString folder() const { return m_folder; }
    QString networkFolder() const { return m_networkFolder; }

    // Start-up, after takeOverUnfinished: drops finished sessions that ended
    // more than days ago, and finished ones without readings. A session that
    // was never finished is never dropped here, nor one holding recorded
    // readings a publisher (journaloutbox.h) has not had acknowledged yet;
    // publish targets unused for as long go first. Returns how many go.
    int pruneOlderThan(int days);
    // Readings that the last pruneOlderThan kept only because they were never
    // published.
    qint64 keptUnpublished() const { return m_keptUnpublished; }
    // Start-up: the newest session whose program ended without closing it
    // and that holds readings, loaded. Unless it was damaged (resumed false),
    // this run carries on recording into it; other such sessions are closed
    // (they stay listed in recentSessions) and empty ones dropped.
    std::optional<JournalSession> takeOverUnfinished();
    // Starts a session of this run, unless one was taken over.
    void beginSession();
    qint64 sessionId() const { return m_session; }
    // Changes are accepted (Recording or Waiting).
    bool isRecording() const;
    State state() const;
    // Why the journal is Waiting or Off.
    QString stateReason() const { return m_stateReason; }

    // Changes of the item tree; items are named by the numbers createItem gives.
    int createItem(ItemData::DataType kind, const QString &name);
    void renameItem(int item, const QString &name);
    // The ID of the meter recording into the item.
    void setItemMeter(int item, const QString &meter);
    // The item's first count readings were copied into it (a recording
    // reopened, a tree restored into a new session), not recorded: they are
    // not published again.
    void setPublishFrom(int item, int count);
    void deleteItem(int item);
    void clearItem(int item);
    void setActiveItem(int item); // -1 for none
    // Copies the readings the item holds beyond those given before; when the
    // store holds fewer than that, it was emptied and is written again.
    // While Waiting with WaitingQueueBytes queued, nothing is copied: the
    // readings stay in the item, and readingsWanted() asks for them again
    // once the file is free.
    void appendReadings(int item, const ReadingStore &readings);
    int readingsGiven(int item) const { return m_given.value(item, 0); }
    void markExported(int item, int count);
    // The program is closing: from now on everything is copied, however much is queued.
    void holdNothingBack() { m_holdNothingBack = true; }
    // The window closed normally: the session is finished (tried even when
    // the journal could not be written any more).
    void endSession();
    void setWaitingQueueLimit(qint64 bytes) { m_waitingQueueLimit = bytes; }
    qint64 queuedBytes() const;

    // Waits until everything so far is on disk; false on time-out or failure.
    bool flush(int timeoutMs = 10000);

    // Finished sessions and sessions whose program is gone, newest first,
    // ended within KeepDays (or not ended), holding readings; this run's own
    // is left out.
    QVector<JournalSessionInfo> recentSessions() const;
    std::optional<JournalSession> loadSession(qint64 id) const;

signals:
    // The journal could not be written; recording goes on in memory only.
    // Emitted once, on the object's thread.
    void writeFailed(const QString &reason);
    // state() or stateReason() changed.
    void stateChanged();
    // Readings were held back while Waiting: hand every item's over again.
    void readingsWanted();

private:
    enum class OpenResult
    {
        Ok,
        Damaged,
        Failed
    };
    OpenResult openFile();
    int addLaterLayout();
    void closeFile();
    bool moveAside();
    bool anotherCopyRunning() const;
    void goOff(const QString &reason);
    QString lockPath(qint64 session) const;
    std::unique_ptr<QLockFile> lockSession(qint64 session) const;

    QString m_folder;
    QString m_error;
    QString m_movedAside;
    QString m_networkFolder;
    QString m_stateReason;
    bool m_off = false;
    bool m_waiting = false;
    bool m_heldBack = false;
    bool m_holdNothingBack = false;
    qint64 m_waitingQueueLimit = WaitingQueueBytes;
    sqlite3 *m_db = nullptr; // start-up and listing reads; the writer has its own
    std::unique_ptr<JournalWriter> m_writer;
    qint64 m_session = 0;
    bool m_ended = false;
    std::unique_ptr<QLockFile> m_sessionLock;
    // Sessions of dead programs this run closes or drops: kept locked so that
    // no other copy starting meanwhile takes them over.
    std::vector<std::unique_ptr<QLockFile>> m_heldLocks;
    QHash<int, int> m_given; // item number -> readings handed to the writer
    int m_nextItem = 1;
    qint64 m_keptUnpublished = 0;
};
