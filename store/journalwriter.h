#pragma once

#include "journalrecord.h"

#include <QByteArray>
#include <QHash>
#include <QString>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

class ReadingStore;
struct sqlite3;

// One change to be written, in the order the window made it.
struct JournalOp
{
    enum Kind
    {
        BeginSession, // value: start time (ms since the epoch), text: host
        EndSession,   // value: end time; marks the session closed normally
        CloseSession, // value: end time; a session whose program died, not resumed
        DropSession,  // the session and everything in it
        CreateItem,   // value: kind, text: name
        RenameItem,   // text: name
        DeleteItem,
        ClearItem,
        SetActive,       // item: the active item's number, -1 for none
        Append,          // value: index of the first reading; bytes: count records
        Exported,        // value: readings covered by the last export
        SetMeter,        // text: the ID of the meter recording into the item
        PublishFrom,     // value: readings at the item's start that were copied, not recorded
        DropStaleTargets // value: publish targets unused since then (ms) go
    };
    Kind kind = BeginSession;
    qint64 session = 0;
    int item = 0;
    qint64 value = 0;
    QString text;
    QByteArray bytes;
    quint32 count = 0;
    journalrecord::SegmentEncoder encoder;
};

// The journal's writer thread. The window's thread posts changes and copies
// of new readings (a few tens of nanoseconds each, never waiting for the
// disk); the thread commits whatever has gathered in one transaction, at the
// latest CommitDelay after the oldest change was posted.
class JournalWriter
{
public:
    // What the writer tells its owner, on the writer's thread.
    enum class Event
    {
        Failed,  // the journal cannot be written any more (once)
        Waiting, // another program has held the file's write lock for BusyTimeoutMs
        Writing  // commits reach the file again after Waiting
    };
    using Listener = std::function<void(Event, const QString &reason)>;

    static constexpr std::chrono::milliseconds CommitDelay{100};
    // How long a commit waits for another program's write lock before the
    // writer reports Waiting; it goes on trying, each attempt as long.
    static constexpr int BusyTimeoutMs = 3000;
    static constexpr quint32 MaxOpReadings = 4096;
    // Small rows of one item are merged up to this size, so that a slow
    // recording does not cost a table row per reading.
    static constexpr int MergeBytes = 16 * 1024;

    // After Failed everything posted is dropped, except the end of a
    // session: that is still tried, on a fresh connection if need be, and
    // when even that fails (a full disk) an empty file at closedMarkerPath()
    // says it, so that a clean close is not taken for a crash at the next start.
    JournalWriter(const QString &path, Listener listener);
    static QString closedMarkerPath(const QString &journalPath, qint64 session);
    // Commits what was posted (one attempt), then stops.
    ~JournalWriter();
    JournalWriter(const JournalWriter &) = delete;
    JournalWriter &operator=(const JournalWriter &) = delete;

    void post(JournalOp op);
    // Encodes readings [from, to) of store as the item's readings from index first on.
    void append(qint64 session, int item, qint64 first, const ReadingStore &store, int from,
                int to);
    // Waits until everything posted so far is committed; false on time-out or failure.
    bool flush(int timeoutMs);
    bool hasFailed() const { return m_failed.load(); }
    // Another program holds the file: nothing has been committed for BusyTimeoutMs.
    bool isWaiting() const { return m_waiting.load(); }
    // Bytes of encoded readings posted and not yet committed.
    qint64 queuedBytes() const { return m_queuedBytes.load(); }

private:
    struct Tail
    {
        qint64 rowId = 0; // 0: not written yet
        qint64 first = 0;
        quint32 count = 0;
        QByteArray bytes; // the whole row, version byte first
        bool dirty = false;
    };

    struct Statements;

    void run();
    // An empty text on success, else why the file cannot be written.
    QString openConnection();
    void closeConnection();
    void writeEndAfterFailure(const std::deque<JournalOp> &ops);
    // 0 on success, else the SQLite result code of the failure.
    int commit(const std::deque<JournalOp> &ops);
    int apply(const JournalOp &op);
    int writeTail(qint64 session, int item, Tail &tail);
    void fail(const QString &reason);
    void enqueueLocked(JournalOp &&op);

    QString m_path;
    Listener m_listener;
    sqlite3 *m_db = nullptr;
    std::unique_ptr<Statements> m_sql;

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_committed;
    std::deque<JournalOp> m_queue;
    std::chrono::steady_clock::time_point m_oldestPosted;
    quint64 m_postedSeq = 0;
    quint64 m_doneSeq = 0;
    bool m_stop = false;
    bool m_hurry = false;
    std::atomic<bool> m_failed{false};
    std::atomic<bool> m_waiting{false};
    std::atomic<qint64> m_queuedBytes{0};

    // Writer thread only.
    QHash<QPair<qint64, int>, Tail> m_tails;
    QHash<QPair<qint64, int>, qint64> m_counts;

    std::thread m_thread;
};
