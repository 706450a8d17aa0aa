#pragma once

#include "imeterdriver.h"

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QString>

#include <deque>
#include <functional>
#include <memory>

class QTimer;

// The answer to one SCPI query.
struct ScpiReply
{
    enum Outcome
    {
        Answered,
        TimedOut, // no answer within the query's time
    };
    Outcome outcome = Answered;
    QByteArray text; // the answer without its line end
    bool answered() const { return outcome == Answered; }
};

// One link to a SCPI instrument, whatever carries it (USB-TMC, a serial port,
// a TCP socket): commands and queries go out one at a time in the order
// given, a query's answer comes back to its handler, and nothing waits on the
// caller's thread. A query that gets no answer in time is answered with
// TimedOut, and an answer arriving after that is dropped rather than taken for
// the next one (see the subclasses for how).
//
// open() is answered by opened() or linkLost(reason) from the event loop. When
// an open link goes down (unplugged device, closed connection, a read or write
// that fails) linkLost(reason) is emitted once, the commands still waiting are
// dropped and their handlers never called. close() ends the link quietly.
// Handlers are called from the event loop and may delete the transport.
class ScpiTransport : public QObject
{
    Q_OBJECT
public:
    using Handler = std::function<void(const ScpiReply &)>;

    // The transport for address, not yet open; null for MeterAddress::None.
    static std::unique_ptr<ScpiTransport> create(const MeterAddress &address);

    ~ScpiTransport() override;

    QString address() const { return m_address; }
    void open();
    void close();
    bool isOpen() const { return m_state == State::Open; }

    // Time a query may take; 3000 ms unless set.
    void setTimeout(int ms) { m_timeoutMs = qMax(1, ms); }
    int timeout() const { return m_timeoutMs; }

    // Queue a command (a line end is added) while the link is open; false
    // when it is not.
    bool send(const QByteArray &command);
    bool query(const QByteArray &command, Handler handler);
    // Commands queued or under way.
    int pending() const { return int(m_queue.size()) + (m_busy ? 1 : 0); }

signals:
    void opened();
    void linkLost(const QString &reason);

protected:
    explicit ScpiTransport(const QString &address, QObject *parent = nullptr);

    // Start opening: later linkUp() or linkDown(reason).
    virtual void startOpen() = 0;
    // End the link without a word; called once per open or failed open.
    virtual void stopLink() = 0;
    // Put one command on the way. For a query, later answered() or
    // timedOut(); for a command, written() once it is on its way.
    virtual void transmit(const QByteArray &line, bool wantAnswer, int timeoutMs) = 0;

    // The query that brings a line link back in step after a timeout: every
    // line up to its answer is a late answer. Every IEEE 488.2 instrument
    // answers "*OPC?" with "1" once it has done all it was asked before.
    static QByteArray syncQuery() { return QByteArrayLiteral("*OPC?"); }
    static bool isSyncAnswer(const QByteArray &line);

    void linkUp();
    void linkDown(const QString &reason);
    void answered(const QByteArray &text);
    void timedOut();
    void written();

private:
    enum class State
    {
        Closed,
        Opening,
        Open
    };
    struct Exchange
    {
        QByteArray line;
        Handler handler; // empty for a command
    };

    bool enqueue(const QByteArray &command, Handler handler);
    void endLink();
    void dispatch();
    void finishLater(const ScpiReply &reply);

    QString m_address;
    State m_state = State::Closed;
    int m_timeoutMs = 3000;
    std::deque<Exchange> m_queue;
    Exchange m_current;
    bool m_busy = false;
    int m_lossGeneration = 0;
    int m_exchangeGeneration = 0;
};

// The line-oriented transports (serial port, TCP socket): answers are lines
// ending in "\n". After a query timed out, the link is brought back in step
// with syncQuery() before the next command goes out: the lines before its
// answer are late answers and dropped, so answers never shift onto the wrong
// query. Commands given meanwhile wait for it, each at most one timeout.
class LineScpiTransport : public ScpiTransport
{
    Q_OBJECT
protected:
    explicit LineScpiTransport(const QString &address, QObject *parent = nullptr);
    ~LineScpiTransport() override;

    // Received bytes, from the subclass.
    void received(const QByteArray &data);
    // Write the bytes; false when the link cannot take them.
    virtual bool writeBytes(const QByteArray &data) = 0;
    // The subclass's link went down or was closed.
    void resetLines();

    void transmit(const QByteArray &line, bool wantAnswer, int timeoutMs) override;

private:
    void expired();
    void endSync();

    QByteArray m_buffer;
    QTimer *m_timer = nullptr;
    bool m_waiting = false; // a query's answer is due
    bool m_syncing = false; // syncQuery() is out, late answers may come
    QByteArray m_held;      // the command waiting for the link to be in step
    bool m_hasHeld = false;
    bool m_heldWantsAnswer = false;
    int m_heldTimeout = 0;
};
