#include "journal.h"

#include "journalfolder.h"
#include "journalrecord.h"
#include "journalwriter.h"
#include "sqlitestatement.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QRandomGenerator>
#include <QSysInfo>

#include <sqlite3.h>

namespace {
const char *const JournalFileName = "journal.sqlite";
// The tables' layout; readings themselves are versioned inside their rows.
constexpr qint64 SchemaVersion = 1;
// Start-up and listing reads wait this long for another copy's commit.
constexpr int ReadBusyTimeoutMs = 3000;

const char *const Schema =
    "BEGIN IMMEDIATE;"
    "CREATE TABLE IF NOT EXISTS meta(key TEXT PRIMARY KEY, value) WITHOUT ROWID;"
    "CREATE TABLE IF NOT EXISTS sessions("
    " id INTEGER PRIMARY KEY,"
    " started INTEGER NOT NULL," // ms since 1970 UTC
    " ended INTEGER,"            // null while the program runs, or when it died
    " closed_normally INTEGER NOT NULL DEFAULT 0,"
    " active_item INTEGER NOT NULL DEFAULT -1,"
    " host TEXT,"
    " pid INTEGER);"
    "CREATE TABLE IF NOT EXISTS items("
    " session INTEGER NOT NULL,"
    " number INTEGER NOT NULL,"
    " kind INTEGER NOT NULL," // ItemData::DataType
    " name TEXT NOT NULL,"
    " readings INTEGER NOT NULL DEFAULT 0,"
    " exported INTEGER NOT NULL DEFAULT 0,"
    " meter TEXT,"                              // the ID of the meter recording into it
    " publish_from INTEGER NOT NULL DEFAULT 0," // readings before it were copied, not recorded
    " PRIMARY KEY(session, number)) WITHOUT ROWID;"
    "CREATE TABLE IF NOT EXISTS batches("
    " id INTEGER PRIMARY KEY,"
    " session INTEGER NOT NULL,"
    " item INTEGER NOT NULL,"
    " first INTEGER NOT NULL," // index of its first reading in the item
    " count INTEGER NOT NULL,"
    " data BLOB NOT NULL);"
    "CREATE INDEX IF NOT EXISTS batches_by_item ON batches(session, item, first);"
    "INSERT OR IGNORE INTO meta(key, value) VALUES('format', 1);"
    "COMMIT;";

// Where publishers keep what a broker acknowledged (see journaloutbox.h).
// Journals made before them get them, and the items' later columns, at open.
const char *const PublishTables =
    "CREATE TABLE IF NOT EXISTS publish_targets("
    " id INTEGER PRIMARY KEY,"
    " name TEXT NOT NULL UNIQUE," // host:port/station
    " created INTEGER NOT NULL,"  // ms since 1970 UTC
    " used INTEGER NOT NULL);"    // last start or acknowledgement
    "CREATE TABLE IF NOT EXISTS publish_cursors("
    " target INTEGER NOT NULL,"
    " session INTEGER NOT NULL,"
    " item INTEGER NOT NULL,"
    " published INTEGER NOT NULL," // the item's readings the broker acknowledged
    " PRIMARY KEY(target, session, item)) WITHOUT ROWID;";

bool isDamage(int rc)
{
    return (rc & 0xFF) == SQLITE_NOTADB || (rc & 0xFF) == SQLITE_CORRUPT;
}

QDateTime fromMs(qint64 ms)
{
    return QDateTime::fromMSecsSinceEpoch(ms);
}

ItemData::DataType kindFrom(qint64 value)
{
    switch (value) {
    case ItemData::Import:
        return ItemData::Import;
    case ItemData::StoreData:
        return ItemData::StoreData;
    default:
        return ItemData::Measure;
    }
}
} // namespace

qint64 JournalSession::readingCount() const
{
    qint64 n = 0;
    for (const JournalItem &item : items)
        n += item.readings.size();
    return n;
}

Journal::Journal(const QString &folder, QObject *parent) : QObject(parent), m_folder(folder) {}

Journal::~Journal()
{
    m_writer.reset(); // commits what is queued
    closeFile();
}

QString Journal::filePath() const
{
    return QDir(m_folder).filePath(QString::fromLatin1(JournalFileName));
}

QString Journal::lockPath(qint64 session) const
{
    return QDir(m_folder).filePath(QStringLiteral("session-%1.lock").arg(session));
}

std::unique_ptr<QLockFile> Journal::lockSession(qint64 session) const
{
    auto lock = std::make_unique<QLockFile>(lockPath(session));
    // Only a dead owner makes a lock stale, never its age: a recording may
    // run for weeks.
    lock->setStaleLockTime(0);
    if (!lock->tryLock(0))
        return nullptr;
    return lock;
}

void Journal::closeFile()
{
    sqlite3_close(m_db);
    m_db = nullptr;
}

Journal::OpenResult Journal::openFile()
{
    const QByteArray path = QFile::encodeName(filePath());
    int rc = sqlite3_open_v2(path.constData(), &m_db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE,
                             nullptr);
    if (rc != SQLITE_OK) {
        m_error = QString::fromUtf8(sqlite3_errstr(rc));
        return OpenResult::Failed;
    }
    if (sqlite3_db_readonly(m_db, "main") == 1) {
        m_error = tr("the file is read-only");
        return OpenResult::Failed;
    }
    sqlite3_busy_timeout(m_db, ReadBusyTimeoutMs);
    auto failed = [this](int code) {
        m_error = sqliteMessage(m_db);
        return isDamage(code) ? OpenResult::Damaged : OpenResult::Failed;
    };
    rc = sqliteExec(m_db, "PRAGMA journal_mode=WAL");
    if (rc != SQLITE_OK)
        return failed(rc);
    auto readFormat = [this](qint64 *value) {
        SqliteStatement format(m_db, "SELECT value FROM meta WHERE key = 'format'");
        if (!format.isValid())
            return format.prepareResult();
        const int result = format.step();
        if (result == SQLITE_ROW)
            *value = format.int64(0);
        return result;
    };
    qint64 format = 0;
    rc = readFormat(&format);
    if (rc != SQLITE_ROW) {
        // A new file. One made before needs no write lock, which another
        // copy of the program may be holding for a while.
        if (isDamage(rc))
            return failed(rc);
        rc = sqliteExec(m_db, Schema);
        if (rc != SQLITE_OK) {
            sqliteExec(m_db, "ROLLBACK");
            return failed(rc);
        }
        rc = readFormat(&format);
        if (rc != SQLITE_ROW)
            return failed(rc);
    }
    if (format > SchemaVersion) {
        m_error = tr("it was written by a newer version of the program");
        return OpenResult::Failed;
    }
    // Damage anywhere in the file is found now rather than in the middle of a
    // recording; on a very large journal the check stops after CheckTimeMs
    // (what it did not reach is still checked as it is read).
    QElapsedTimer clock;
    clock.start();
    sqlite3_progress_handler(
        m_db, 10000,
        [](void *timer) {
            return static_cast<QElapsedTimer *>(timer)->elapsed() > CheckTimeMs ? 1 : 0;
        },
        &clock);
    QString verdict;
    {
        SqliteStatement check(m_db, "PRAGMA quick_check");
        rc = check.isValid() ? check.step() : check.prepareResult();
        if (rc == SQLITE_ROW)
            verdict = check.text(0);
    }
    sqlite3_progress_handler(m_db, 0, nullptr, nullptr);
    if (rc == SQLITE_ROW && verdict != QLatin1String("ok")) {
        // Its first finding says enough ("*** in database main ***" aside).
        const QStringList findings = verdict.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        m_error = findings.value(
            findings.size() > 1 && findings.first().startsWith(QLatin1String("***")) ? 1 : 0);
        return OpenResult::Damaged;
    }
    if (rc != SQLITE_ROW && rc != SQLITE_INTERRUPT)
        return failed(rc);
    rc = addLaterLayout();
    if (rc != SQLITE_OK)
        return failed(rc);
    return OpenResult::Ok;
}

// Columns and tables added to the first layout. They change no meaning of
// what was there, so the format stays 1 and earlier versions of the program
// still open the file; a journal made by one gets them here, once.
int Journal::addLaterLayout()
{
    bool hasMeter = false;
    bool hasPublishFrom = false;
    {
        SqliteStatement columns(m_db, "SELECT name FROM pragma_table_info('items')");
        int rc;
        while ((rc = columns.step()) == SQLITE_ROW) {
            const QString name = columns.text(0);
            hasMeter = hasMeter || name == QLatin1String("meter");
            hasPublishFrom = hasPublishFrom || name == QLatin1String("publish_from");
        }
        if (rc != SQLITE_DONE)
            return rc;
    }
    qint64 tables = 0;
    {
        SqliteStatement publishing(m_db, "SELECT count(*) FROM sqlite_master WHERE type = 'table' "
                                         "AND name IN ('publish_targets', 'publish_cursors')");
        const int rc = publishing.step();
        if (rc != SQLITE_ROW)
            return rc;
        tables = publishing.int64(0);
    }
    if (hasMeter && hasPublishFrom && tables == 2)
        return SQLITE_OK;
    int rc = sqliteExec(m_db, "BEGIN IMMEDIATE");
    if (rc == SQLITE_OK && !hasMeter)
        rc = sqliteExec(m_db, "ALTER TABLE items ADD COLUMN meter TEXT");
    if (rc == SQLITE_OK && !hasPublishFrom)
        rc = sqliteExec(m_db,
                        "ALTER TABLE items ADD COLUMN publish_from INTEGER NOT NULL DEFAULT 0");
    if (rc == SQLITE_OK)
        rc = sqliteExec(m_db, PublishTables);
    if (rc == SQLITE_OK)
        rc = sqliteExec(m_db, "COMMIT");
    if (rc != SQLITE_OK)
        sqliteExec(m_db, "ROLLBACK");
    return rc;
}

// Whether a living program holds a session lock in the folder: it has the
// journal open, so the file must not be renamed under it.
bool Journal::anotherCopyRunning() const
{
    const QStringList locks =
        QDir(m_folder).entryList({QStringLiteral("session-*.lock")}, QDir::Files | QDir::Hidden);
    for (const QString &name : locks) {
        QLockFile lock(QDir(m_folder).filePath(name));
        lock.setStaleLockTime(0);
        if (!lock.tryLock(0))
            return true;
    }
    return false;
}

bool Journal::moveAside()
{
    const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-hhmmss"));
    QString aside = QDir(m_folder).filePath(QStringLiteral("journal-damaged-%1.sqlite").arg(stamp));
    for (int n = 2; QFileInfo::exists(aside); ++n)
        aside = QDir(m_folder).filePath(
            QStringLiteral("journal-damaged-%1-%2.sqlite").arg(stamp).arg(n));
    const QString path = filePath();
    if (!QFile::rename(path, aside)) {
        m_error = tr("the damaged journal %1 cannot be moved aside").arg(path);
        return false;
    }
    // Its write-ahead log belongs to it; the shared-memory index is rebuilt.
    QFile::rename(path + QStringLiteral("-wal"), aside + QStringLiteral("-wal"));
    QFile::remove(path + QStringLiteral("-shm"));
    m_movedAside = aside;
    return true;
}

bool Journal::open()
{
    if (m_writer)
        return true;
    if (m_networkFolder.isEmpty() && journalfolder::isOnNetwork(m_folder)) {
        QString why;
        const QString local = journalfolder::localFolder(&why);
        if (local.isEmpty()) {
            m_error = tr("%1 is on a network file system, and %2")
                          .arg(QDir::toNativeSeparators(m_folder), why);
            return false;
        }
        m_networkFolder = m_folder;
        m_folder = local;
    }
    if (!QDir().mkpath(m_folder)) {
        m_error = tr("the folder %1 cannot be created").arg(QDir::toNativeSeparators(m_folder));
        return false;
    }
    OpenResult result = openFile();
    if (result == OpenResult::Damaged) {
        closeFile();
        if (anotherCopyRunning()) {
            m_error = tr("the journal %1 is damaged (%2), and another running copy of the "
                         "program has it open")
                          .arg(QDir::toNativeSeparators(filePath()), m_error);
            result = OpenResult::Failed;
        } else {
            result = moveAside() ? openFile() : OpenResult::Failed;
        }
    }
    if (result != OpenResult::Ok) {
        closeFile();
        return false;
    }
    m_writer = std::make_unique<JournalWriter>(
        filePath(), [this](JournalWriter::Event event, const QString &reason) {
            // Runs on the writer's thread: the state changes on the journal's own.
            QMetaObject::invokeMethod(
                this,
                [this, event, reason] {
                    switch (event) {
                    case JournalWriter::Event::Failed:
                        goOff(reason);
                        break;
                    case JournalWriter::Event::Waiting:
                        m_waiting = true;
                        m_stateReason = tr("another program holds %1 (%2)")
                                            .arg(QDir::toNativeSeparators(filePath()), reason);
                        emit stateChanged();
                        break;
                    case JournalWriter::Event::Writing:
                        m_waiting = false;
                        if (!m_off)
                            m_stateReason.clear();
                        emit stateChanged();
                        if (std::exchange(m_heldBack, false))
                            emit readingsWanted();
                        break;
                    }
                },
                Qt::QueuedConnection);
        });
    return true;
}

bool Journal::isRecording() const
{
    return m_writer && m_session != 0 && !m_writer->hasFailed();
}

Journal::State Journal::state() const
{
    if (m_off || !isRecording())
        return State::Off;
    return m_waiting ? State::Waiting : State::Recording;
}

qint64 Journal::queuedBytes() const
{
    return m_writer ? m_writer->queuedBytes() : 0;
}

void Journal::goOff(const QString &reason)
{
    if (m_off)
        return;
    m_off = true;
    m_stateReason = reason;
    // Also when called while the window is being built, before it listens.
    QMetaObject::invokeMethod(
        this,
        [this, reason] {
            emit writeFailed(reason);
            emit stateChanged();
        },
        Qt::QueuedConnection);
}

int Journal::pruneOlderThan(int days)
{
    if (!m_db || !m_writer)
        return 0;
    // A session's last activity is its end. One that was never finished is
    // left to takeOverUnfinished, which restores or closes it (its end then
    // being that moment), so nothing is dropped that was never brought back.
    //
    // Recorded readings that a publish target in use has not had acknowledged
    // keep their session: the journal is the publisher's outbox. A target
    // unused for as long as a session is kept (another broker or station was
    // set) keeps nothing.
    const qint64 cutoff = QDateTime::currentMSecsSinceEpoch() - qint64(days) * 86400 * 1000;
    JournalOp stale;
    stale.kind = JournalOp::DropStaleTargets;
    stale.value = cutoff;
    m_writer->post(std::move(stale));
    SqliteStatement old(m_db,
                        "SELECT id FROM sessions s WHERE id != ?1 AND ended IS NOT NULL AND "
                        "(ended < ?2 OR NOT EXISTS "
                        "(SELECT 1 FROM items i WHERE i.session = s.id AND i.readings > 0)) AND "
                        "NOT EXISTS (SELECT 1 FROM items i, publish_targets t"
                        " LEFT JOIN publish_cursors c"
                        " ON c.target = t.id AND c.session = i.session AND c.item = i.number"
                        " WHERE i.session = s.id AND i.kind = 1 AND t.used >= ?2 AND"
                        " i.readings > max(i.publish_from, coalesce(c.published, 0)))");
    old.bind(1, m_session).bind(2, cutoff);
    int dropped = 0;
    while (old.step() == SQLITE_ROW) {
        JournalOp op;
        op.kind = JournalOp::DropSession;
        op.session = old.int64(0);
        m_writer->post(std::move(op));
        ++dropped;
    }
    SqliteStatement kept(
        m_db, "SELECT coalesce(sum(u), 0) FROM (SELECT"
              " max(i.readings - max(i.publish_from, coalesce(c.published, 0))) AS u"
              " FROM sessions s JOIN items i ON i.session = s.id, publish_targets t"
              " LEFT JOIN publish_cursors c"
              " ON c.target = t.id AND c.session = i.session AND c.item = i.number"
              " WHERE s.id != ?1 AND s.ended IS NOT NULL AND s.ended < ?2 AND i.kind = 1 AND"
              " t.used >= ?2 GROUP BY i.session, i.number HAVING u > 0)");
    m_keptUnpublished =
        kept.bind(1, m_session).bind(2, cutoff).step() == SQLITE_ROW ? kept.int64(0) : 0;
    // A closed marker has served once its session's end is in the file.
    SqliteStatement unfinished(m_db, "SELECT 1 FROM sessions WHERE id = ?1 AND ended IS NULL");
    const QDir folder(m_folder);
    for (const QString &name :
         folder.entryList({QStringLiteral("session-*.closed")}, QDir::Files)) {
        const qint64 id = name.mid(8, name.size() - 15).toLongLong();
        unfinished.reset();
        if (unfinished.bind(1, id).step() != SQLITE_ROW)
            QFile::remove(folder.filePath(name));
    }
    return dropped;
}

std::optional<JournalSession> Journal::takeOverUnfinished()
{
    if (!m_db || !m_writer || m_session != 0)
        return std::nullopt;
    SqliteStatement unfinished(
        m_db, "SELECT id, (SELECT coalesce(sum(readings), 0) FROM items i WHERE i.session = s.id) "
              "FROM sessions s WHERE ended IS NULL ORDER BY started DESC");
    std::vector<std::pair<qint64, qint64>> candidates;
    while (unfinished.step() == SQLITE_ROW)
        candidates.emplace_back(unfinished.int64(0), unfinished.int64(1));

    std::optional<JournalSession> result;
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    for (const auto &[id, readings] : candidates) {
        auto lock = lockSession(id);
        if (!lock)
            continue; // its program still runs
        JournalOp op;
        op.session = id;
        op.value = now;
        op.kind = readings > 0 ? JournalOp::CloseSession : JournalOp::DropSession;
        const QFileInfo closed(JournalWriter::closedMarkerPath(filePath(), id));
        if (closed.exists()) {
            // Its window was closed while the journal could not be written:
            // no crash, nothing to bring back.
            op.kind = JournalOp::EndSession;
            op.value = closed.lastModified().toMSecsSinceEpoch();
        } else if (readings > 0 && !result) {
            result = loadSession(id);
            if (result && !result->damaged && result->readingCount() > 0) {
                // Go on where it stopped: same session, same item numbers.
                result->resumed = true;
                m_session = id;
                m_sessionLock = std::move(lock);
                for (const JournalItem &item : result->items) {
                    m_given.insert(item.number, item.readings.size());
                    m_nextItem = qMax(m_nextItem, item.number + 1);
                }
                continue;
            }
            // A damaged session is kept as it is; its readings go into a new one.
            if (result && result->readingCount() == 0)
                result.reset();
        }
        m_writer->post(std::move(op));
        m_heldLocks.push_back(std::move(lock));
    }
    return result;
}

void Journal::beginSession()
{
    if (!m_writer || m_session != 0)
        return;
    // A random id: two copies starting at once never pick the same one, and
    // nothing has to be read from the file first.
    qint64 id = 0;
    std::unique_ptr<QLockFile> lock;
    for (int attempt = 0; attempt < 3 && !lock; ++attempt) {
        id = qint64(QRandomGenerator::system()->generate64() >> 11) + 1;
        lock = lockSession(id);
    }
    if (!lock) {
        goOff(tr("no lock file can be made in %1").arg(QDir::toNativeSeparators(m_folder)));
        return;
    }
    m_session = id;
    m_sessionLock = std::move(lock);
    JournalOp op;
    op.kind = JournalOp::BeginSession;
    op.session = id;
    op.value = QDateTime::currentMSecsSinceEpoch();
    op.text = QSysInfo::machineHostName();
    op.item = int(QCoreApplication::applicationPid());
    m_writer->post(std::move(op));
}

namespace {
// Queues a change of a session for the writer.
void postSessionOp(JournalWriter &writer, qint64 session, JournalOp::Kind kind, int item,
                   qint64 value = 0, const QString &text = QString())
{
    JournalOp op;
    op.kind = kind;
    op.session = session;
    op.item = item;
    op.value = value;
    op.text = text;
    writer.post(std::move(op));
}
} // namespace

int Journal::createItem(ItemData::DataType kind, const QString &name)
{
    if (!isRecording())
        return 0;
    const int number = m_nextItem++;
    m_given.insert(number, 0);
    postSessionOp(*m_writer, m_session, JournalOp::CreateItem, number, kind, name);
    return number;
}

void Journal::renameItem(int item, const QString &name)
{
    if (!isRecording() || !m_given.contains(item))
        return;
    postSessionOp(*m_writer, m_session, JournalOp::RenameItem, item, 0, name);
}

void Journal::setItemMeter(int item, const QString &meter)
{
    if (!isRecording() || !m_given.contains(item))
        return;
    postSessionOp(*m_writer, m_session, JournalOp::SetMeter, item, 0, meter);
}

void Journal::setPublishFrom(int item, int count)
{
    if (!isRecording() || !m_given.contains(item))
        return;
    postSessionOp(*m_writer, m_session, JournalOp::PublishFrom, item, count);
}

void Journal::deleteItem(int item)
{
    if (!isRecording() || !m_given.remove(item))
        return;
    postSessionOp(*m_writer, m_session, JournalOp::DeleteItem, item);
}

void Journal::clearItem(int item)
{
    if (!isRecording() || !m_given.contains(item))
        return;
    m_given.insert(item, 0);
    postSessionOp(*m_writer, m_session, JournalOp::ClearItem, item);
}

void Journal::setActiveItem(int item)
{
    if (!isRecording())
        return;
    postSessionOp(*m_writer, m_session, JournalOp::SetActive, item);
}

void Journal::appendReadings(int item, const ReadingStore &readings)
{
    if (!isRecording())
        return;
    const auto given = m_given.find(item);
    if (given == m_given.end())
        return;
    if (readings.size() < *given) {
        clearItem(item);
        *given = 0;
    }
    if (readings.size() == *given)
        return;
    if (!m_holdNothingBack && m_writer->isWaiting() &&
        m_writer->queuedBytes() >= m_waitingQueueLimit) {
        // The item keeps them; they are copied when the file is free again.
        m_heldBack = true;
        return;
    }
    m_writer->append(m_session, item, *given, readings, *given, readings.size());
    *given = readings.size();
}

void Journal::markExported(int item, int count)
{
    if (!isRecording() || !m_given.contains(item))
        return;
    postSessionOp(*m_writer, m_session, JournalOp::Exported, item, count);
}

void Journal::endSession()
{
    if (!m_writer || m_session == 0 || m_ended)
        return;
    m_ended = true;
    postSessionOp(*m_writer, m_session, JournalOp::EndSession, 0,
                  QDateTime::currentMSecsSinceEpoch());
}

bool Journal::flush(int timeoutMs)
{
    return m_writer && m_writer->flush(timeoutMs);
}

QVector<JournalSessionInfo> Journal::recentSessions() const
{
    QVector<JournalSessionInfo> sessions;
    if (!m_db)
        return sessions;
    const qint64 since = QDateTime::currentMSecsSinceEpoch() - qint64(KeepDays) * 86400 * 1000;
    SqliteStatement list(
        m_db, "SELECT s.id, s.started, s.ended, s.closed_normally,"
              " sum(CASE WHEN i.kind != 3 OR i.readings > 0 THEN 1 ELSE 0 END), sum(i.readings)"
              " FROM sessions s JOIN items i ON i.session = s.id"
              " WHERE s.id != ?1 AND (s.ended IS NULL OR s.ended >= ?2)"
              " GROUP BY s.id HAVING sum(i.readings) > 0 ORDER BY s.started DESC");
    list.bind(1, m_session).bind(2, since);
    while (list.step() == SQLITE_ROW) {
        JournalSessionInfo info;
        info.id = list.int64(0);
        // A session that was never closed is listed only when its program is
        // gone; one still recording in another copy is not a past one.
        if (list.isNull(2) && !lockSession(info.id))
            continue;
        info.started = fromMs(list.int64(1));
        if (!list.isNull(2))
            info.ended = fromMs(list.int64(2));
        info.closedNormally = list.int64(3) != 0;
        info.items = int(list.int64(4));
        info.readings = list.int64(5);
        sessions.append(info);
    }
    return sessions;
}

std::optional<JournalSession> Journal::loadSession(qint64 id) const
{
    if (!m_db)
        return std::nullopt;
    SqliteStatement head(m_db, "SELECT started, ended, active_item FROM sessions WHERE id = ?1");
    if (head.bind(1, id).step() != SQLITE_ROW)
        return std::nullopt;
    JournalSession session;
    session.id = id;
    session.started = fromMs(head.int64(0));
    if (!head.isNull(1))
        session.ended = fromMs(head.int64(1));
    session.activeItem = int(head.int64(2));

    QHash<int, size_t> byNumber;
    SqliteStatement items(m_db,
                          "SELECT number, kind, name, exported, coalesce(meter, '') FROM items "
                          "WHERE session = ?1 ORDER BY number");
    items.bind(1, id);
    int rc;
    while ((rc = items.step()) == SQLITE_ROW) {
        JournalItem item;
        item.number = int(items.int64(0));
        item.kind = kindFrom(items.int64(1));
        item.name = items.text(2);
        item.exported = int(items.int64(3));
        item.meter = items.text(4);
        byNumber.insert(item.number, session.items.size());
        session.items.push_back(std::move(item));
    }
    if (rc != SQLITE_DONE)
        session.damaged = true;

    SqliteStatement rows(m_db, "SELECT item, first, count, data FROM batches WHERE session = ?1 "
                               "ORDER BY item, first");
    rows.bind(1, id);
    while ((rc = rows.step()) == SQLITE_ROW) {
        const auto found = byNumber.constFind(int(rows.int64(0)));
        if (found == byNumber.cend())
            continue; // rows of an item deleted in the same moment
        ReadingStore &store = session.items[*found].readings;
        const qint64 first = rows.int64(1);
        if (first < store.size()) {
            session.damaged = true; // overlaps what was read: keep the first
            continue;
        }
        if (first > store.size())
            session.damaged = true;
        const int before = store.size();
        const char *data = rows.blob(3);
        const int bytes = rows.bytes(3);
        if (!journalrecord::decodeRow(data, bytes, store) || store.size() - before != rows.int64(2))
            session.damaged = true;
    }
    if (rc != SQLITE_DONE)
        session.damaged = true;
    return session;
}
