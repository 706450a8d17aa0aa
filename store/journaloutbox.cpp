#include "journaloutbox.h"

#include "journalrecord.h"
#include "sqlitestatement.h"

#include <QDateTime>
#include <QFile>

#include <sqlite3.h>

namespace {
// Acknowledgements wait this long for the journal writer's commit; the
// writer's own commits are a few milliseconds.
constexpr int BusyTimeoutMs = 2000;
} // namespace

struct JournalOutbox::Statements
{
    explicit Statements(sqlite3 *db)
        : dataVersion(db, "PRAGMA data_version"),
          pending(db, "SELECT i.session, i.number, i.name, coalesce(i.meter, ''), i.readings,"
                      " max(i.publish_from, coalesce(c.published, 0)) AS done"
                      " FROM items i JOIN sessions s ON s.id = i.session"
                      " LEFT JOIN publish_cursors c"
                      " ON c.target = ?1 AND c.session = i.session AND c.item = i.number"
                      " WHERE i.kind = 1 AND i.readings > done ORDER BY s.started, i.number"),
          // The row holding `from` (the last one starting at or before it)
          // and those after it, through the index on (session, item, first).
          rows(db, "SELECT first, count, data FROM batches WHERE session = ?1 AND item = ?2 AND"
                   " first >= coalesce((SELECT max(first) FROM batches"
                   " WHERE session = ?1 AND item = ?2 AND first <= ?3), 0) ORDER BY first"),
          acknowledge(db, "INSERT INTO publish_cursors(target, session, item, published)"
                          " SELECT ?1, ?2, ?3, ?4 WHERE EXISTS"
                          " (SELECT 1 FROM items WHERE session = ?2 AND number = ?3)"
                          " ON CONFLICT(target, session, item)"
                          " DO UPDATE SET published = max(published, excluded.published)"),
          used(db, "UPDATE publish_targets SET used = ?1 WHERE id = ?2")
    {
    }
    bool isValid() const
    {
        return dataVersion.isValid() && pending.isValid() && rows.isValid() &&
               acknowledge.isValid() && used.isValid();
    }

    SqliteStatement dataVersion, pending, rows, acknowledge, used;
};

JournalOutbox::JournalOutbox(const QString &journalPath, const QString &target)
    : m_path(journalPath), m_target(target)
{
}

JournalOutbox::~JournalOutbox()
{
    m_sql.reset();
    sqlite3_close(m_db);
}

bool JournalOutbox::open()
{
    if (m_sql)
        return true;
    const int rc = sqlite3_open_v2(QFile::encodeName(m_path).constData(), &m_db,
                                   SQLITE_OPEN_READWRITE, nullptr);
    if (rc != SQLITE_OK) {
        m_error = m_db ? sqliteMessage(m_db) : QString::fromUtf8(sqlite3_errstr(rc));
        return false;
    }
    sqlite3_busy_timeout(m_db, BusyTimeoutMs);
    // A cursor lost to a power cut costs duplicates, never readings: no sync
    // of its own on each acknowledgement.
    sqliteExec(m_db, "PRAGMA synchronous=NORMAL");
    auto sql = std::make_unique<Statements>(m_db);
    if (!sql->isValid()) {
        m_error = sqliteMessage(m_db);
        return false;
    }

    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    if (sqliteExec(m_db, "BEGIN IMMEDIATE") != SQLITE_OK) {
        m_error = sqliteMessage(m_db);
        return false;
    }
    SqliteStatement find(m_db, "SELECT id FROM publish_targets WHERE name = ?1");
    int step = find.bind(1, m_target).step();
    if (step == SQLITE_ROW) {
        m_targetId = find.int64(0);
        find.reset();
        step = sql->used.bind(1, now).bind(2, m_targetId).run();
    } else if (step == SQLITE_DONE) {
        find.reset();
        SqliteStatement add(m_db,
                            "INSERT INTO publish_targets(name, created, used) VALUES(?1, ?2, ?2)");
        step = add.bind(1, m_target).bind(2, now).run();
        m_targetId = sqlite3_last_insert_rowid(m_db);
        if (step == SQLITE_DONE) {
            // What the journal held before this target existed is not its
            // business, except sessions still running: this program's own may
            // have recorded before the publisher came to open the outbox.
            SqliteStatement before(m_db,
                                   "INSERT INTO publish_cursors(target, session, item, published)"
                                   " SELECT ?1, i.session, i.number, i.readings FROM items i"
                                   " JOIN sessions s ON s.id = i.session"
                                   " WHERE i.kind = 1 AND i.readings > 0 AND s.ended IS NOT NULL");
            step = before.bind(1, m_targetId).run();
        }
    }
    if (step != SQLITE_DONE || sqliteExec(m_db, "COMMIT") != SQLITE_OK) {
        m_error = sqliteMessage(m_db);
        sqliteExec(m_db, "ROLLBACK");
        return false;
    }
    m_sql = std::move(sql);
    return true;
}

bool JournalOutbox::changed()
{
    if (!m_sql)
        return false;
    SqliteStatement &version = m_sql->dataVersion;
    const qint64 now = version.step() == SQLITE_ROW ? version.int64(0) : -2;
    version.reset();
    const bool result = now != m_dataVersion || now < 0;
    m_dataVersion = now;
    return result;
}

bool JournalOutbox::pending(std::vector<Item> *items)
{
    items->clear();
    if (!m_sql)
        return false;
    SqliteStatement &query = m_sql->pending;
    query.bind(1, m_targetId);
    int rc;
    while ((rc = query.step()) == SQLITE_ROW) {
        Item item;
        item.session = query.int64(0);
        item.number = int(query.int64(1));
        item.name = query.text(2);
        item.meter = query.text(3);
        item.readings = query.int64(4);
        item.published = query.int64(5);
        items->push_back(std::move(item));
    }
    query.reset();
    if (rc != SQLITE_DONE)
        m_error = sqliteMessage(m_db);
    return rc == SQLITE_DONE;
}

qint64 JournalOutbox::read(qint64 session, int item, qint64 from, qint64 to, qint64 count,
                           const Sink &sink)
{
    if (!m_sql || from >= to || count <= 0)
        return from;
    const qint64 end = qMin(to, from + count);
    SqliteStatement &rows = m_sql->rows;
    rows.bind(1, session).bind(2, item).bind(3, from);
    qint64 next = from;
    bool any = false;
    int rc = SQLITE_DONE;
    while (next < end && (rc = rows.step()) == SQLITE_ROW) {
        const qint64 first = rows.int64(0);
        const qint64 rowCount = rows.int64(1);
        if (first + rowCount <= next)
            continue;
        if (first > next) {
            // Readings that never reached the file (a damaged journal): none to send.
            if (any)
                break; // send what came before the gap first
            next = qMin(first, end);
            if (next >= end)
                break;
        }
        qint64 index = first;
        const qint64 wanted = next;
        journalrecord::decodeRow(rows.blob(2), rows.bytes(2),
                                 [&](const ReadingStore::Fields &reading) {
                                     if (index >= wanted && index < end)
                                         sink(index, reading);
                                     ++index;
                                 });
        // A row that does not decode to its count is passed over from where
        // it stopped making sense.
        next = qMin(end, first + rowCount);
        any = true;
    }
    rows.reset();
    if (rc != SQLITE_ROW && rc != SQLITE_DONE && !any) {
        // A busy or failing file is no proof that readings are gone: the
        // caller tries again later from the same place.
        m_error = sqliteMessage(m_db);
        return -1;
    }
    if (!any && next == from)
        return end; // nothing left to read below `to`: those readings are gone
    return next;
}

bool JournalOutbox::acknowledge(const std::vector<Ack> &acks)
{
    if (!m_sql)
        return false;
    if (sqliteExec(m_db, "BEGIN IMMEDIATE") != SQLITE_OK) {
        m_error = sqliteMessage(m_db);
        return false;
    }
    int rc = SQLITE_DONE;
    for (const Ack &ack : acks) {
        rc = m_sql->acknowledge.bind(1, m_targetId)
                 .bind(2, ack.session)
                 .bind(3, ack.item)
                 .bind(4, ack.published)
                 .run();
        if (rc != SQLITE_DONE)
            break;
    }
    if (rc == SQLITE_DONE)
        rc = m_sql->used.bind(1, QDateTime::currentMSecsSinceEpoch()).bind(2, m_targetId).run();
    if (rc != SQLITE_DONE || sqliteExec(m_db, "COMMIT") != SQLITE_OK) {
        m_error = sqliteMessage(m_db);
        sqliteExec(m_db, "ROLLBACK");
        return false;
    }
    return true;
}
