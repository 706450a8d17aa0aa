#pragma once

#include <QByteArray>
#include <QString>

#include <sqlite3.h>

// A prepared statement that is reset and reused; the connection stays the
// caller's. Binding and reading are by position, from 1 and from 0 as in
// SQLite itself.
class SqliteStatement
{
public:
    SqliteStatement() = default;
    SqliteStatement(sqlite3 *db, const char *sql);
    ~SqliteStatement();
    SqliteStatement(const SqliteStatement &) = delete;
    SqliteStatement &operator=(const SqliteStatement &) = delete;
    SqliteStatement(SqliteStatement &&other) noexcept;
    SqliteStatement &operator=(SqliteStatement &&other) noexcept;

    bool isValid() const { return m_stmt != nullptr; }
    int prepareResult() const { return m_prepareResult; }

    SqliteStatement &bind(int index, qint64 value);
    SqliteStatement &bind(int index, const QString &text);
    SqliteStatement &bindBlob(int index, const QByteArray &bytes);
    SqliteStatement &bindNull(int index);

    // SQLITE_ROW, SQLITE_DONE or an error code.
    int step();
    // Runs a statement that returns no rows and resets it; SQLITE_DONE on success.
    int run();
    void reset();

    qint64 int64(int column) const;
    bool isNull(int column) const;
    QString text(int column) const;
    const char *blob(int column) const;
    int bytes(int column) const;

private:
    sqlite3_stmt *m_stmt = nullptr;
    int m_prepareResult = SQLITE_OK;
};

// Runs one or more statements without results; SQLITE_OK on success.
int sqliteExec(sqlite3 *db, const char *sql);
// SQLite's message for the connection's last error.
QString sqliteMessage(sqlite3 *db);
