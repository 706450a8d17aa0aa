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
        SetActive, // item: the active item's number, -1 for none
        Append,    // value: index of the first reading; bytes: count records
        Exported   // value: readings covered by the last export
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
    static constexpr std::chrono::milliseconds CommitDelay{100};
    static constexpr quint32 MaxOpReadings = 4096;
    // Small rows of one item are merged up to this size, so that a slow
    // recording does not cost a table row per reading.
    static constexpr int MergeBytes = 16 * 1024;

    // onFailure runs on the writer thread, once, when the journal cannot be
    // written any more; from then on everything posted is dropped.
    JournalWriter(const QString &path, std::function<void(const QString &)> onFailure);
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
    bool openConnection();
    // 0 on success, else the SQLite result code of the failure.
    int commit(const std::deque<JournalOp> &ops);
    int apply(const JournalOp &op);
    int writeTail(qint64 session, int item, Tail &tail);
    void fail(const QString &reason);
    void enqueueLocked(JournalOp &&op);

    QString m_path;
    std::function<void(const QString &)> m_onFailure;
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

    // Writer thread only.
    QHash<QPair<qint64, int>, Tail> m_tails;
    QHash<QPair<qint64, int>, qint64> m_counts;

    std::thread m_thread;
};
