#include "journalwriter.h"

#include "readingstore.h"
#include "sqlitestatement.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <sqlite3.h>

#include <memory>

namespace {
bool isBusy(int rc)
{
    return (rc & 0xFF) == SQLITE_BUSY || (rc & 0xFF) == SQLITE_LOCKED;
}
} // namespace

// Every statement the writer runs, prepared once.
struct JournalWriter::Statements
{
    explicit Statements(sqlite3 *db)
        : beginSession(db, "INSERT INTO sessions(id, started, host, pid) VALUES(?1, ?2, ?3, ?4)"),
          endSession(db, "UPDATE sessions SET ended = ?1, closed_normally = ?2 WHERE id = ?3"),
          dropBatches(db, "DELETE FROM batches WHERE session = ?1"),
          dropItems(db, "DELETE FROM items WHERE session = ?1"),
          dropSession(db, "DELETE FROM sessions WHERE id = ?1"),
          dropCursors(db, "DELETE FROM publish_cursors WHERE session = ?1"),
          createItem(db, "INSERT OR REPLACE INTO items(session, number, kind, name) "
                         "VALUES(?1, ?2, ?3, ?4)"),
          renameItem(db, "UPDATE items SET name = ?1 WHERE session = ?2 AND number = ?3"),
          deleteBatches(db, "DELETE FROM batches WHERE session = ?1 AND item = ?2"),
          deleteItem(db, "DELETE FROM items WHERE session = ?1 AND number = ?2"),
          deleteItemCursors(db,
                            "DELETE FROM publish_cursors WHERE session = ?1 AND item = ?2"),
          clearItem(db, "UPDATE items SET readings = 0, exported = 0, publish_from = 0 "
                        "WHERE session = ?1 AND number = ?2"),
          setActive(db, "UPDATE sessions SET active_item = ?1 WHERE id = ?2"),
          setExported(db, "UPDATE items SET exported = ?1 WHERE session = ?2 AND number = ?3"),
          setCount(db, "UPDATE items SET readings = ?1 WHERE session = ?2 AND number = ?3"),
          insertRow(db, "INSERT INTO batches(session, item, first, count, data) "
                        "VALUES(?1, ?2, ?3, ?4, ?5)"),
          updateRow(db, "UPDATE batches SET count = ?1, data = ?2 WHERE id = ?3"),
          setMeter(db, "UPDATE items SET meter = ?1 WHERE session = ?2 AND number = ?3"),
          setPublishFrom(db,
                         "UPDATE items SET publish_from = ?1 WHERE session = ?2 AND number = ?3"),
          dropStaleCursors(db, "DELETE FROM publish_cursors WHERE target IN "
                               "(SELECT id FROM publish_targets WHERE used < ?1)"),
          dropStaleTargets(db, "DELETE FROM publish_targets WHERE used < ?1")
    {
    }
    bool isValid() const
    {
        for (const SqliteStatement *s :
             {&beginSession, &endSession, &dropBatches, &dropItems, &dropSession, &dropCursors,
              &createItem, &renameItem, &deleteBatches, &deleteItem, &deleteItemCursors,
              &clearItem, &setActive, &setExported, &setCount, &insertRow, &updateRow, &setMeter,
              &setPublishFrom, &dropStaleCursors, &dropStaleTargets})
            if (!s->isValid())
                return false;
        return true;
    }

    SqliteStatement beginSession, endSession, dropBatches, dropItems, dropSession, dropCursors,
        createItem, renameItem, deleteBatches, deleteItem, deleteItemCursors, clearItem, setActive,
        setExported, setCount, insertRow, updateRow, setMeter, setPublishFrom, dropStaleCursors,
        dropStaleTargets;
};

JournalWriter::JournalWriter(const QString &path, Listener listener)
    : m_path(path), m_listener(std::move(listener))
{
    m_thread = std::thread([this] { run(); });
}

JournalWriter::~JournalWriter()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stop = true;
    }
    m_wake.notify_all();
    m_thread.join();
    closeConnection();
}

void JournalWriter::enqueueLocked(JournalOp &&op)
{
    if (m_queue.empty())
        m_oldestPosted = std::chrono::steady_clock::now();
    m_queue.push_back(std::move(op));
}

void JournalWriter::post(JournalOp op)
{
    if (m_failed.load() && op.kind != JournalOp::EndSession)
        return;
    bool wasEmpty;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        wasEmpty = m_queue.empty();
        enqueueLocked(std::move(op));
        ++m_postedSeq;
    }
    if (wasEmpty)
        m_wake.notify_one();
}

void JournalWriter::append(qint64 session, int item, qint64 first, const ReadingStore &store,
                           int from, int to)
{
    if (m_failed.load() || from >= to)
        return;
    bool wasEmpty;
    qint64 added = 0;
    if (to - from <= 64) {
        // Live readings come one or a few at a time: they join the newest
        // batch of the same item while it waits for its commit.
        std::lock_guard<std::mutex> lock(m_mutex);
        wasEmpty = m_queue.empty();
        for (int i = from; i < to; ++i, ++first) {
            JournalOp *op = m_queue.empty() ? nullptr : &m_queue.back();
            if (!op || op->kind != JournalOp::Append || op->session != session ||
                op->item != item || op->value + op->count != first || op->count >= MaxOpReadings) {
                JournalOp fresh;
                fresh.kind = JournalOp::Append;
                fresh.session = session;
                fresh.item = item;
                fresh.value = first;
                enqueueLocked(std::move(fresh));
                op = &m_queue.back();
            }
            const int before = op->bytes.size();
            op->encoder.add(op->bytes, store.fields(i));
            added += op->bytes.size() - before;
            ++op->count;
        }
        ++m_postedSeq;
        m_queuedBytes += added;
    } else {
        // A whole file or session at once: encode outside the lock.
        std::deque<JournalOp> ops;
        for (int i = from; i < to; ++i, ++first) {
            if (ops.empty() || ops.back().count >= MaxOpReadings) {
                ops.emplace_back();
                ops.back().kind = JournalOp::Append;
                ops.back().session = session;
                ops.back().item = item;
                ops.back().value = first;
                ops.back().bytes.reserve(int(MaxOpReadings) * 40);
            }
            ops.back().encoder.add(ops.back().bytes, store.fields(i));
            ++ops.back().count;
        }
        for (const JournalOp &op : ops)
            added += op.bytes.size();
        std::lock_guard<std::mutex> lock(m_mutex);
        wasEmpty = m_queue.empty();
        for (JournalOp &op : ops)
            enqueueLocked(std::move(op));
        ++m_postedSeq;
        m_queuedBytes += added;
    }
    if (wasEmpty)
        m_wake.notify_one();
}

bool JournalWriter::flush(int timeoutMs)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    const quint64 target = m_postedSeq;
    m_hurry = true;
    m_wake.notify_one();
    const bool done = m_committed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                           [&] { return m_doneSeq >= target; });
    return done && !m_failed.load();
}

void JournalWriter::fail(const QString &reason)
{
    if (!m_failed.exchange(true) && m_listener)
        m_listener(Event::Failed, reason);
}

QString JournalWriter::openConnection()
{
    const int rc =
        sqlite3_open_v2(m_path.toUtf8().constData(), &m_db, SQLITE_OPEN_READWRITE, nullptr);
    if (rc != SQLITE_OK)
        return m_db ? sqliteMessage(m_db) : QString::fromUtf8(sqlite3_errstr(rc));
    sqlite3_busy_timeout(m_db, BusyTimeoutMs);
    // FULL: every commit reaches the disk, so that a power cut, not only a
    // killed program, loses no more than the last commit interval.
    if (sqliteExec(m_db, "PRAGMA synchronous=FULL; PRAGMA journal_size_limit=8388608;") !=
        SQLITE_OK)
        return sqliteMessage(m_db);
    m_sql = std::make_unique<Statements>(m_db);
    if (!m_sql->isValid())
        return sqliteMessage(m_db);
    return QString();
}

void JournalWriter::closeConnection()
{
    m_sql.reset();
    sqlite3_close(m_db);
    m_db = nullptr;
    m_tails.clear();
}

void JournalWriter::writeEndAfterFailure(const std::deque<JournalOp> &ops)
{
    for (const JournalOp &op : ops) {
        if (op.kind != JournalOp::EndSession)
            continue;
        // A small update often fits where a large batch did not, and a fresh
        // connection gets past a broken one.
        bool written = false;
        for (int attempt = 0; attempt < 2 && !written; ++attempt) {
            if (!m_db && !openConnection().isEmpty()) {
                closeConnection();
                continue;
            }
            written = commit(std::deque<JournalOp>{op}) == 0;
            if (!written)
                closeConnection();
        }
        if (!written) {
            // An empty file needs no room for data.
            QFile marker(closedMarkerPath(m_path, op.session));
            marker.open(QIODevice::WriteOnly);
        }
    }
}

QString JournalWriter::closedMarkerPath(const QString &journalPath, qint64 session)
{
    return QFileInfo(journalPath).dir().filePath(QStringLiteral("session-%1.closed").arg(session));
}

void JournalWriter::run()
{
    const QString openError = openConnection();
    if (!openError.isEmpty())
        fail(openError);
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        m_wake.wait(lock, [&] { return m_stop || m_hurry || !m_queue.empty(); });
        if (!m_queue.empty() && !m_stop && !m_hurry) {
            // Let more gather, but never hold the oldest change longer than the delay.
            m_wake.wait_until(lock, m_oldestPosted + CommitDelay,
                              [&] { return m_stop || m_hurry; });
        }
        m_hurry = false;
        std::deque<JournalOp> ops;
        ops.swap(m_queue);
        const quint64 taken = m_postedSeq;
        const bool stopping = m_stop;
        lock.unlock();

        if (m_failed.load()) {
            writeEndAfterFailure(ops);
        } else if (!ops.empty()) {
            const int rc = commit(ops);
            if (rc == 0) {
                qint64 bytes = 0;
                for (const JournalOp &op : ops)
                    bytes += op.bytes.size();
                m_queuedBytes -= bytes;
                if (m_waiting.exchange(false) && m_listener)
                    m_listener(Event::Writing, QString());
            } else if (isBusy(rc) && !stopping) {
                // Another program holds the journal's write lock (the busy
                // timeout has passed): say so once, and try again, ahead of
                // whatever was posted meanwhile.
                if (!m_waiting.exchange(true) && m_listener)
                    m_listener(Event::Waiting, QString::fromUtf8(sqlite3_errstr(rc)));
                std::this_thread::sleep_for(std::chrono::milliseconds(200));
                lock.lock();
                for (auto it = ops.rbegin(); it != ops.rend(); ++it)
                    m_queue.push_front(std::move(*it));
                m_oldestPosted = std::chrono::steady_clock::now() - CommitDelay;
                continue;
            } else {
                fail(QString::fromUtf8(sqlite3_errstr(rc)));
                m_queuedBytes = 0;
            }
        }

        lock.lock();
        m_doneSeq = taken;
        m_committed.notify_all();
        if (stopping && m_queue.empty())
            break;
    }
}

int JournalWriter::commit(const std::deque<JournalOp> &ops)
{
    int rc = sqliteExec(m_db, "BEGIN IMMEDIATE");
    if (rc != SQLITE_OK)
        return rc;
    m_counts.clear();
    for (const JournalOp &op : ops) {
        rc = apply(op);
        if (rc != 0)
            break;
    }
    if (rc == 0) {
        for (auto it = m_tails.begin(); it != m_tails.end() && rc == 0; ++it) {
            if (it->dirty)
                rc = writeTail(it.key().first, it.key().second, *it);
        }
    }
    if (rc == 0) {
        SqliteStatement &setCount = m_sql->setCount;
        for (auto it = m_counts.cbegin(); it != m_counts.cend() && rc == 0; ++it) {
            const int done =
                setCount.bind(1, it.value()).bind(2, it.key().first).bind(3, it.key().second).run();
            rc = done == SQLITE_DONE ? 0 : done;
        }
    }
    if (rc == 0) {
        rc = sqliteExec(m_db, "COMMIT");
        if (rc == SQLITE_OK) {
            // Rows that grew past the merge size are finished: forget their bytes.
            for (auto it = m_tails.begin(); it != m_tails.end();) {
                if (it->bytes.size() >= MergeBytes)
                    it = m_tails.erase(it);
                else
                    ++it;
            }
            return 0;
        }
    }
    sqliteExec(m_db, "ROLLBACK");
    // What the tails say may not be in the file: new rows from here on.
    m_tails.clear();
    return rc;
}

int JournalWriter::writeTail(qint64 session, int item, Tail &tail)
{
    int rc;
    if (tail.rowId == 0) {
        rc = m_sql->insertRow.bind(1, session)
                 .bind(2, item)
                 .bind(3, tail.first)
                 .bind(4, tail.count)
                 .bindBlob(5, tail.bytes)
                 .run();
        tail.rowId = sqlite3_last_insert_rowid(m_db);
    } else {
        rc = m_sql->updateRow.bind(1, tail.count).bindBlob(2, tail.bytes).bind(3, tail.rowId).run();
    }
    tail.dirty = false;
    return rc == SQLITE_DONE ? 0 : rc;
}

int JournalWriter::apply(const JournalOp &op)
{
    const QPair<qint64, int> key(op.session, op.item);
    auto done = [](int rc) { return rc == SQLITE_DONE ? 0 : rc; };
    Statements &sql = *m_sql;
    switch (op.kind) {
    case JournalOp::BeginSession:
        return done(sql.beginSession.bind(1, op.session)
                        .bind(2, op.value)
                        .bind(3, op.text)
                        .bind(4, op.item)
                        .run());
    case JournalOp::EndSession:
    case JournalOp::CloseSession:
        return done(sql.endSession.bind(1, op.value)
                        .bind(2, op.kind == JournalOp::EndSession ? 1 : 0)
                        .bind(3, op.session)
                        .run());
    case JournalOp::DropSession: {
        for (auto it = m_tails.begin(); it != m_tails.end();)
            it = it.key().first == op.session ? m_tails.erase(it) : std::next(it);
        int rc = done(sql.dropBatches.bind(1, op.session).run());
        if (rc == 0)
            rc = done(sql.dropItems.bind(1, op.session).run());
        if (rc == 0)
            rc = done(sql.dropSession.bind(1, op.session).run());
        if (rc == 0)
            rc = done(sql.dropCursors.bind(1, op.session).run());
        return rc;
    }
    case JournalOp::CreateItem:
        return done(sql.createItem.bind(1, op.session)
                        .bind(2, op.item)
                        .bind(3, op.value)
                        .bind(4, op.text)
                        .run());
    case JournalOp::RenameItem:
        return done(sql.renameItem.bind(1, op.text).bind(2, op.session).bind(3, op.item).run());
    case JournalOp::DeleteItem:
    case JournalOp::ClearItem: {
        m_tails.remove(key);
        m_counts.remove(key);
        int rc = done(sql.deleteBatches.bind(1, op.session).bind(2, op.item).run());
        // What a broker acknowledged of the readings that go no longer counts.
        if (rc == 0)
            rc = done(sql.deleteItemCursors.bind(1, op.session).bind(2, op.item).run());
        if (rc != 0)
            return rc;
        SqliteStatement &item = op.kind == JournalOp::DeleteItem ? sql.deleteItem : sql.clearItem;
        return done(item.bind(1, op.session).bind(2, op.item).run());
    }
    case JournalOp::SetActive:
        return done(sql.setActive.bind(1, op.item).bind(2, op.session).run());
    case JournalOp::Exported:
        return done(sql.setExported.bind(1, op.value).bind(2, op.session).bind(3, op.item).run());
    case JournalOp::SetMeter:
        return done(sql.setMeter.bind(1, op.text).bind(2, op.session).bind(3, op.item).run());
    case JournalOp::PublishFrom:
        return done(
            sql.setPublishFrom.bind(1, op.value).bind(2, op.session).bind(3, op.item).run());
    case JournalOp::DropStaleTargets: {
        const int rc = done(sql.dropStaleCursors.bind(1, op.value).run());
        return rc != 0 ? rc : done(sql.dropStaleTargets.bind(1, op.value).run());
    }
    case JournalOp::Append: {
        auto it = m_tails.find(key);
        if (it != m_tails.end() && it->first + it->count == op.value &&
            it->bytes.size() + 4 + op.bytes.size() <= MergeBytes) {
            journalrecord::appendSegmentHeader(it->bytes, op.count);
            it->bytes.append(op.bytes);
            it->count += op.count;
            it->dirty = true;
        } else {
            if (it != m_tails.end() && it->dirty) {
                const int rc = writeTail(op.session, op.item, *it);
                if (rc != 0)
                    return rc;
            }
            Tail tail;
            tail.first = op.value;
            tail.count = op.count;
            tail.bytes.reserve(4 + 1 + op.bytes.size());
            tail.bytes.append(char(journalrecord::FormatVersion));
            journalrecord::appendSegmentHeader(tail.bytes, op.count);
            tail.bytes.append(op.bytes);
            tail.dirty = true;
            m_tails.insert(key, std::move(tail));
        }
        m_counts.insert(key, op.value + op.count);
        return 0;
    }
    }
    return SQLITE_MISUSE;
}
