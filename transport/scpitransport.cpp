#include "scpitransport.h"

#include "serialscpitransport.h"
#include "tcpscpitransport.h"
#include "usbtmctransport.h"

#include <QTimer>

std::unique_ptr<ScpiTransport> ScpiTransport::create(const MeterAddress &address)
{
    switch (address.kind) {
    case MeterAddress::UsbTmc:
        return std::make_unique<UsbTmcTransport>(address.device);
    case MeterAddress::Serial:
        return std::make_unique<SerialScpiTransport>(address.device);
    case MeterAddress::Tcp:
        return std::make_unique<TcpScpiTransport>(address.host, address.port);
    case MeterAddress::None:
        break;
    }
    return nullptr;
}

ScpiTransport::ScpiTransport(const QString &address, QObject *parent)
    : QObject(parent), m_address(address)
{
}

ScpiTransport::~ScpiTransport() = default;

void ScpiTransport::open()
{
    if (m_state != State::Closed)
        return;
    m_state = State::Opening;
    startOpen();
}

void ScpiTransport::close()
{
    ++m_lossGeneration; // a loss not yet reported goes unsaid
    if (m_state != State::Closed)
        endLink();
}

void ScpiTransport::endLink()
{
    m_state = State::Closed;
    m_queue.clear();
    m_current = Exchange();
    m_busy = false;
    ++m_exchangeGeneration;
    stopLink();
}

bool ScpiTransport::send(const QByteArray &command)
{
    return enqueue(command, Handler());
}

bool ScpiTransport::query(const QByteArray &command, Handler handler)
{
    if (!handler)
        handler = [](const ScpiReply &) {};
    return enqueue(command, std::move(handler));
}

bool ScpiTransport::enqueue(const QByteArray &command, Handler handler)
{
    if (m_state != State::Open)
        return false;
    m_queue.push_back(Exchange{command, std::move(handler)});
    dispatch();
    return true;
}

void ScpiTransport::dispatch()
{
    if (m_state != State::Open || m_busy || m_queue.empty())
        return;
    m_current = std::move(m_queue.front());
    m_queue.pop_front();
    m_busy = true;
    transmit(m_current.line, bool(m_current.handler), m_timeoutMs);
}

bool ScpiTransport::isSyncAnswer(const QByteArray &line)
{
    const QByteArray t = line.trimmed();
    return t == "1" || t == "+1";
}

// Every report of a subclass reaches the caller from the event loop, so that
// a handler or a receiver of linkLost() may delete the transport without
// pulling a socket out from under its own signal.
void ScpiTransport::linkUp()
{
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (m_state != State::Opening)
                return;
            m_state = State::Open;
            emit opened();
        },
        Qt::QueuedConnection);
}

void ScpiTransport::linkDown(const QString &reason)
{
    if (m_state == State::Closed)
        return;
    endLink();
    // A close() or open() before this runs wins: then nothing is said.
    const int generation = ++m_lossGeneration;
    QMetaObject::invokeMethod(
        this,
        [this, reason, generation] {
            if (generation == m_lossGeneration && m_state == State::Closed)
                emit linkLost(reason);
        },
        Qt::QueuedConnection);
}

void ScpiTransport::answered(const QByteArray &text)
{
    finishLater(ScpiReply{ScpiReply::Answered, text});
}

void ScpiTransport::timedOut()
{
    finishLater(ScpiReply{ScpiReply::TimedOut, QByteArray()});
}

void ScpiTransport::written()
{
    finishLater(ScpiReply{ScpiReply::Answered, QByteArray()});
}

void ScpiTransport::finishLater(const ScpiReply &reply)
{
    if (!m_busy)
        return;
    const int exchange = ++m_exchangeGeneration;
    QMetaObject::invokeMethod(
        this,
        [this, reply, exchange] {
            if (exchange != m_exchangeGeneration || !m_busy || m_state != State::Open)
                return;
            Handler handler = std::move(m_current.handler);
            m_current = Exchange();
            m_busy = false;
            if (handler) {
                QPointer<ScpiTransport> alive(this);
                handler(reply);
                if (!alive)
                    return;
            }
            dispatch();
        },
        Qt::QueuedConnection);
}

LineScpiTransport::LineScpiTransport(const QString &address, QObject *parent)
    : ScpiTransport(address, parent), m_timer(new QTimer(this))
{
    m_timer->setSingleShot(true);
    connect(m_timer, &QTimer::timeout, this, &LineScpiTransport::expired);
}

LineScpiTransport::~LineScpiTransport() = default;

// Longest answer taken; a link that streams bytes without a line end is read
// as one unreadable answer rather than growing the buffer for good.
static constexpr int MaxLineBytes = 64 * 1024;

void LineScpiTransport::transmit(const QByteArray &line, bool wantAnswer, int timeoutMs)
{
    if (m_syncing) {
        m_held = line;
        m_heldWantsAnswer = wantAnswer;
        m_heldTimeout = timeoutMs;
        m_hasHeld = true;
        return;
    }
    // Bytes that came when nothing was asked belong to no one.
    m_buffer.clear();
    if (!writeBytes(line + '\n')) {
        linkDown(tr("Cannot write to %1.").arg(address()));
        return;
    }
    if (!wantAnswer) {
        written();
        return;
    }
    m_waiting = true;
    m_timer->start(timeoutMs);
}

void LineScpiTransport::received(const QByteArray &data)
{
    m_buffer += data;
    for (;;) {
        const int end = m_buffer.indexOf('\n');
        if (end < 0)
            break;
        QByteArray line = m_buffer.left(end);
        m_buffer.remove(0, end + 1);
        if (line.endsWith('\r'))
            line.chop(1);
        if (m_waiting) {
            m_waiting = false;
            m_timer->stop();
            answered(line);
        } else if (m_syncing && isSyncAnswer(line)) {
            endSync(); // every line before it was late, and dropped
        }
    }
    if (m_buffer.size() > MaxLineBytes) {
        const QByteArray junk = m_buffer.left(256);
        m_buffer.clear();
        if (m_waiting) {
            m_waiting = false;
            m_timer->stop();
            answered(junk);
        }
    }
}

void LineScpiTransport::expired()
{
    if (m_waiting) {
        m_waiting = false;
        m_buffer.clear();
        if (!writeBytes(syncQuery() + '\n')) {
            linkDown(tr("Cannot write to %1.").arg(address()));
            return;
        }
        m_syncing = true;
        m_timer->start(timeout());
        timedOut();
    } else if (m_syncing) {
        // The meter is still busy with what timed out (or silent). Until it
        // answers the sync query nothing goes out, and what waits for it
        // times out in turn, so the caller learns of a meter gone mute.
        m_timer->start(timeout());
        if (m_hasHeld) {
            m_hasHeld = false;
            timedOut();
        }
    }
}

void LineScpiTransport::endSync()
{
    m_syncing = false;
    m_timer->stop();
    if (m_hasHeld) {
        m_hasHeld = false;
        transmit(m_held, m_heldWantsAnswer, m_heldTimeout);
    }
}

void LineScpiTransport::resetLines()
{
    m_timer->stop();
    m_buffer.clear();
    m_waiting = m_syncing = m_hasHeld = false;
    m_held.clear();
}
