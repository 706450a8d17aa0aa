#pragma once

#include "readingstore.h"

#include <QString>

#include <functional>
#include <memory>
#include <vector>

struct sqlite3;

// The recording journal read as a publisher's outbox. A publisher takes the
// readings recorded into measurement items once the journal has committed
// them, through a connection of its own, and keeps here how far a broker has
// acknowledged them: a cursor per item and publish target (a broker and a
// station), in the journal file itself, so that after a broker outage or a
// restart publishing goes on where the acknowledgements stopped. Nothing is
// copied out of the journal for this: the readings are read again from their
// rows when they are sent.
//
// A target's first use counts the sessions that have ended as done:
// publishing begins with the running ones. Readings copied into
// an item rather than recorded (Journal::setPublishFrom) are never pending.
// Use an outbox from one thread; several outboxes of one file may run at once.
class JournalOutbox
{
public:
    // A measurement item with readings beyond its cursor.
    struct Item
    {
        qint64 session = 0;
        int number = 0;
        QString name;
        QString meter;        // ID of the meter recording into it; may be empty
        qint64 readings = 0;  // committed
        qint64 published = 0; // acknowledged (or copied): publishing goes on from here
    };
    // The broker acknowledged the item's readings up to (not including) published.
    struct Ack
    {
        qint64 session = 0;
        int item = 0;
        qint64 published = 0;
    };
    using Sink = std::function<void(qint64 index, const ReadingStore::Fields &reading)>;

    // target names the broker and the station, e.g. "lab-broker:1883/S1".
    JournalOutbox(const QString &journalPath, const QString &target);
    ~JournalOutbox();
    JournalOutbox(const JournalOutbox &) = delete;
    JournalOutbox &operator=(const JournalOutbox &) = delete;

    // Opens the journal (which must exist) and registers the target.
    bool open();
    QString errorString() const { return m_error; }

    // Whether another connection committed anything since the last call (true
    // the first time): a cheap test before looking for pending readings.
    bool changed();
    // The items with pending readings, oldest session first. False on failure.
    bool pending(std::vector<Item> *items);
    // Hands readings [from, to) of an item to sink, at most count of them, in
    // order; returns the index after the last one handed over. Readings that
    // cannot be read back (a damaged row, a gap) are passed over: the index
    // returned is then beyond them even when sink got nothing. -1 when the
    // journal could not be read (busy, failing) and sink got nothing.
    qint64 read(qint64 session, int item, qint64 from, qint64 to, qint64 count, const Sink &sink);
    // Records the acknowledgements in one transaction; false when the journal
    // is busy or failed (nothing recorded: try again later).
    bool acknowledge(const std::vector<Ack> &acks);

private:
    struct Statements;

    QString m_path;
    QString m_target;
    QString m_error;
    sqlite3 *m_db = nullptr;
    std::unique_ptr<Statements> m_sql;
    qint64 m_targetId = 0;
    qint64 m_dataVersion = -1;
};
