#include "publisher.h"

#include "journaloutbox.h"
#include "judge.h"
#include "keyring.h"
#include "lineprotocol.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QLockFile>
#include <QThread>

#include <mosquitto.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <unordered_map>

namespace {
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

QString tr(const char *text)
{
    return QCoreApplication::translate("Publisher", text);
}

constexpr int KeepAliveSeconds = 30;
// A connection that is not up by then is given up and tried again.
constexpr milliseconds ConnectTimeout{20000};
// Waits between attempts: doubling from the first to the longest; a broker
// that refused the station waits longest.
constexpr milliseconds FirstRetry{500};
constexpr milliseconds LongestRetry{8000};
constexpr milliseconds RefusedRetry{30000};
// Acknowledgements are recorded together, at most this long after arriving
// (a cursor lost to a crash costs duplicates only).
constexpr milliseconds AckFlushInterval{200};
constexpr milliseconds RefreshInterval{1000};
constexpr milliseconds OutboxRetry{5000};
constexpr milliseconds LockRetry{2000};
constexpr milliseconds StatusInterval{250};

// Once per process, before any client is made.
std::once_flag mosquittoInit;
} // namespace

struct Publisher::Shared
{
    mutable std::mutex mutex;
    std::condition_variable wake;
    Publisher *owner = nullptr; // null once the publisher is gone
    Status status;
    bool stop = false;
    quint64 drainWanted = 0;
    std::optional<analysis::Judge> judge;
    bool judgeChanged = false;
    qint64 left = -1;

    // Runs f on the publisher's thread, if it is still there.
    void post(std::function<void(Publisher *)> f)
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (Publisher *p = owner)
            QMetaObject::invokeMethod(
                p, [p, f = std::move(f)] { f(p); }, Qt::QueuedConnection);
    }
};

namespace {

// The publishing thread's state; only that thread touches it.
class Worker
{
public:
    Worker(std::shared_ptr<Publisher::Shared> shared, PublishOptions options, QString journalPath)
        : m_shared(std::move(shared)), m_options(std::move(options)),
          m_journalPath(std::move(journalPath))
    {
    }
    ~Worker() { destroyClient(); }

    void run();

private:
    struct Flight
    {
        int mid = 0;
        qint64 to = 0; // the item's readings up to here are in the message
        bool acked = false;
    };
    using Key = std::pair<qint64, int>; // session, item number
    struct ItemState
    {
        QString name;
        QString meter;
        QByteArray topic;
        lineprotocol::ItemLines lines;
        qint64 committed = 0; // readings the journal holds
        qint64 sent = 0;      // handed to the broker (acknowledged or in flight)
        qint64 acked = 0;     // acknowledged, in order
        qint64 stored = 0;    // acknowledged as the journal's cursor says
        std::deque<Flight> flights;
        bool seen = false;
    };

    bool stopping() const
    {
        std::lock_guard<std::mutex> lock(m_shared->mutex);
        return m_shared->stop;
    }
    void pause(milliseconds span)
    {
        std::unique_lock<std::mutex> lock(m_shared->mutex);
        m_shared->wake.wait_for(lock, span, [this] { return m_shared->stop; });
    }
    bool prepare();
    void cycle();
    void refresh();
    void connectClient();
    void destroyClient();
    void drop(const QString &reason, milliseconds retry);
    void publishMore();
    void acknowledged(int mid);
    void advance(ItemState &item);
    void flushAcks(bool force);
    void checkDrain();
    void setState(Publisher::State state, const QString &message = QString());
    void postStatus(bool force);
    QString reasonOf(int rc) const;

    static void onConnect(mosquitto *, void *self, int rc);
    static void onDisconnect(mosquitto *, void *self, int rc);
    static void onPublish(mosquitto *, void *self, int mid);
    static void onLog(mosquitto *, void *self, int level, const char *text);

    std::shared_ptr<Publisher::Shared> m_shared;
    PublishOptions m_options;
    QString m_journalPath;

    BrokerAddress m_broker;
    QString m_user;
    QString m_password;
    QString m_station;
    QByteArray m_clientId;
    QString m_target;
    std::unique_ptr<QLockFile> m_lock;
    Clock::time_point m_nextLockTry{};
    std::unique_ptr<JournalOutbox> m_outbox;
    bool m_outboxOpen = false;
    Clock::time_point m_nextOutboxTry{};

    mosquitto *m_mosq = nullptr;
    bool m_connected = false;
    bool m_lost = false;
    bool m_refused = false;
    QString m_lostReason;
    QString m_logError;
    bool m_hostMismatch = false; // the broker's certificate names another host
    Clock::time_point m_connectStarted{};
    Clock::time_point m_nextAttempt{};
    milliseconds m_retry = FirstRetry;

    std::map<Key, ItemState> m_items;
    std::vector<Key> m_order; // pending items, oldest session first
    size_t m_turn = 0;        // whose turn it is to send
    std::unordered_map<int, Key> m_midToItem;
    int m_inFlight = 0;
    bool m_ackDirty = false;
    Clock::time_point m_lastFlush{};
    bool m_forceRefresh = true;
    Clock::time_point m_lastRefresh{};
    qint64 m_behind = -1;
    std::optional<analysis::Judge> m_judge;
    lineprotocol::Clock m_clock;
    QByteArray m_payload;

    quint64 m_drainSeen = 0;
    quint64 m_drainPending = 0; // a drain asked for and not answered
    bool m_refreshedForDrain = false;

    Publisher::State m_state = Publisher::State::Starting;
    QString m_message;
    QString m_reported; // the last problem said
    Publisher::Status m_posted;
    Clock::time_point m_lastPost{};
};

void Worker::run()
{
    if (prepare()) {
        while (!stopping())
            cycle();
        // Whatever was acknowledged is kept; the rest waits for the next start.
        flushAcks(true);
        if (m_outboxOpen) {
            m_forceRefresh = true;
            refresh();
            postStatus(true); // the count left, for whoever looks last
        }
        if (m_mosq && m_connected) {
            mosquitto_disconnect(m_mosq);
            mosquitto_loop(m_mosq, 0, 1);
        }
        destroyClient();
    } else {
        postStatus(true);
        while (!stopping())
            pause(milliseconds(1000));
    }
    std::lock_guard<std::mutex> lock(m_shared->mutex);
    m_shared->left = m_behind < 0 ? -1 : m_behind;
}

bool Worker::prepare()
{
    std::call_once(mosquittoInit, [] { mosquitto_lib_init(); });
    QString error;
    const std::optional<BrokerAddress> broker = BrokerAddress::parse(m_options.url, &error);
    m_station = m_options.stationName();
    if (!broker) {
        setState(Publisher::State::Failed, error);
        return false;
    }
    m_broker = *broker;
    {
        std::lock_guard<std::mutex> lock(m_shared->mutex);
        m_shared->status.broker = m_broker.displayName();
    }
    m_user = m_broker.user.isEmpty() ? m_options.user : m_broker.user;
    m_password = m_broker.user.isEmpty() ? m_options.password : m_broker.password;
    if (m_broker.user.isEmpty() && m_options.passwordInKeyring && !m_user.isEmpty()) {
        QString why;
        if (const std::optional<QString> found = keyring::lookup(m_broker.host, m_user, &why))
            m_password = *found;
        else
            setState(Publisher::State::Starting,
                     tr("the password cannot be read from the key ring (%1)").arg(why));
    }
    // The station is the client: the broker keeps its session under its name.
    m_clientId = m_station.toUtf8();
    m_target = QStringLiteral("%1/%2").arg(m_broker.displayName(), m_station);
    if (m_journalPath.isEmpty()) {
        setState(Publisher::State::Failed,
                 tr("publishing needs the recording journal, which is off"));
        return false;
    }
    m_outbox = std::make_unique<JournalOutbox>(m_journalPath, m_target);
    return true;
}

void Worker::cycle()
{
    const Clock::time_point now = Clock::now();
    if (!m_outboxOpen) {
        if (now < m_nextOutboxTry) {
            pause(milliseconds(100));
            return;
        }
        m_outboxOpen = m_outbox->open();
        if (!m_outboxOpen) {
            m_nextOutboxTry = now + OutboxRetry;
            setState(Publisher::State::Failed,
                     tr("the recording journal cannot be read (%1)").arg(m_outbox->errorString()));
            postStatus(false);
            return;
        }
        setState(Publisher::State::Connecting, m_message);
    }
    if (!m_lock && now >= m_nextLockTry) {
        // One publisher per journal, broker and station.
        const QByteArray hash =
            QCryptographicHash::hash(m_target.toUtf8(), QCryptographicHash::Md5).toHex().left(16);
        const QString path =
            QFileInfo(m_journalPath)
                .dir()
                .filePath(QStringLiteral("publish-%1.lock").arg(QString::fromLatin1(hash)));
        auto lock = std::make_unique<QLockFile>(path);
        lock->setStaleLockTime(0);
        if (lock->tryLock(0)) {
            m_lock = std::move(lock);
            if (m_state == Publisher::State::Elsewhere)
                setState(Publisher::State::Connecting);
        } else {
            m_nextLockTry = now + LockRetry;
            setState(Publisher::State::Elsewhere,
                     tr("another running copy of the program publishes these readings"));
        }
    }
    {
        std::lock_guard<std::mutex> lock(m_shared->mutex);
        if (m_shared->drainWanted != m_drainSeen && m_shared->drainWanted != m_drainPending) {
            // Commits made before the request are seen by a fresh look.
            m_drainPending = m_shared->drainWanted;
            m_refreshedForDrain = false;
            m_forceRefresh = true;
        }
        if (std::exchange(m_shared->judgeChanged, false))
            m_judge = m_shared->judge;
    }
    if (m_forceRefresh || now - m_lastRefresh >= RefreshInterval || m_outbox->changed())
        refresh();

    if (m_lock) {
        if (!m_mosq && now >= m_nextAttempt)
            connectClient();
        if (m_connected)
            publishMore();
    }
    if (m_mosq) {
        const int rc = mosquitto_loop(m_mosq, m_inFlight > 0 ? 10 : 50, 1);
        if (m_lost || rc != MOSQ_ERR_SUCCESS) {
            const QString reason = m_lost ? m_lostReason : reasonOf(rc);
            drop(reason, m_refused ? RefusedRetry : m_retry);
        } else if (!m_connected && Clock::now() - m_connectStarted > ConnectTimeout) {
            drop(tr("no answer from the broker"), m_retry);
        }
    } else {
        pause(milliseconds(50));
    }
    flushAcks(false);
    checkDrain();
    postStatus(false);
}

void Worker::refresh()
{
    m_forceRefresh = false;
    m_lastRefresh = Clock::now();
    std::vector<JournalOutbox::Item> pending;
    if (!m_outbox->pending(&pending))
        return; // tried again at the next change or second
    for (auto &[key, item] : m_items)
        item.seen = false;
    m_order.clear();
    for (const JournalOutbox::Item &p : pending) {
        const Key key(p.session, p.number);
        auto found = m_items.find(key);
        if (found == m_items.end()) {
            found = m_items.emplace(key, ItemState()).first;
            ItemState &fresh = found->second;
            fresh.sent = fresh.acked = fresh.stored = p.published;
        }
        ItemState &item = found->second;
        item.seen = true;
        item.committed = p.readings;
        // Another copy may have published further meanwhile.
        item.stored = qMax(item.stored, p.published);
        item.acked = qMax(item.acked, p.published);
        if (item.flights.empty())
            item.sent = qMax(item.sent, item.acked);
        if (item.topic.isEmpty() || item.name != p.name || item.meter != p.meter) {
            item.name = p.name;
            item.meter = p.meter;
            item.topic =
                QStringLiteral("kv930/%1/%2")
                    .arg(lineprotocol::topicLevel(m_station), lineprotocol::topicLevel(p.name))
                    .toUtf8();
            item.lines = lineprotocol::ItemLines::make(m_station, p.meter, p.name, p.session);
        }
        m_order.push_back(key);
    }
    qint64 behind = 0;
    for (auto it = m_items.begin(); it != m_items.end();) {
        ItemState &item = it->second;
        if (!item.seen) {
            // Published in full (or gone): nothing more to send.
            item.committed = item.sent;
            if (item.flights.empty() && item.acked <= item.stored) {
                it = m_items.erase(it);
                continue;
            }
        }
        behind += qMax<qint64>(0, item.committed - item.acked);
        ++it;
    }
    m_behind = behind;
    if (m_drainPending != m_drainSeen)
        m_refreshedForDrain = true;
}

void Worker::connectClient()
{
    destroyClient();
    m_mosq = mosquitto_new(m_clientId.constData(), false, this);
    if (!m_mosq) {
        drop(tr("the MQTT client cannot be made (%1)").arg(QString::fromLocal8Bit(strerror(errno))),
             LongestRetry);
        return;
    }
    mosquitto_int_option(m_mosq, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
    // The window of messages in flight is this thread's own.
    mosquitto_max_inflight_messages_set(m_mosq, 0);
    mosquitto_connect_callback_set(m_mosq, &Worker::onConnect);
    mosquitto_disconnect_callback_set(m_mosq, &Worker::onDisconnect);
    mosquitto_publish_callback_set(m_mosq, &Worker::onPublish);
    mosquitto_log_callback_set(m_mosq, &Worker::onLog);
    if (!m_user.isEmpty())
        mosquitto_username_pw_set(m_mosq, m_user.toUtf8().constData(),
                                  m_password.isEmpty() ? nullptr : m_password.toUtf8().constData());
    if (m_broker.tls) {
        if (!m_options.caFile.isEmpty()) {
            if (!QFileInfo(m_options.caFile).isReadable()) {
                drop(tr("the CA file %1 cannot be read").arg(m_options.caFile), RefusedRetry);
                return;
            }
            const int rc =
                mosquitto_tls_set(m_mosq, QFile::encodeName(m_options.caFile).constData(), nullptr,
                                  nullptr, nullptr, nullptr);
            if (rc != MOSQ_ERR_SUCCESS) {
                drop(tr("the CA file %1 cannot be used (%2)")
                         .arg(m_options.caFile, QString::fromUtf8(mosquitto_strerror(rc))),
                     RefusedRetry);
                return;
            }
        }
        // The system's certificate authorities, as a browser trusts them.
        mosquitto_int_option(m_mosq, MOSQ_OPT_TLS_USE_OS_CERTS, 1);
    }
    m_connected = m_lost = m_refused = m_hostMismatch = false;
    m_logError.clear();
    m_connectStarted = Clock::now();
    const int rc = mosquitto_connect_async(m_mosq, m_broker.host.toUtf8().constData(),
                                           m_broker.port, KeepAliveSeconds);
    if (rc != MOSQ_ERR_SUCCESS)
        drop(reasonOf(rc), m_retry);
}

void Worker::destroyClient()
{
    if (m_mosq)
        mosquitto_destroy(m_mosq);
    m_mosq = nullptr;
    m_connected = false;
}

void Worker::drop(const QString &reason, milliseconds retry)
{
    destroyClient();
    // What was in flight is sent again from the journal after reconnecting.
    m_midToItem.clear();
    m_inFlight = 0;
    for (auto &[key, item] : m_items) {
        while (!item.flights.empty() && item.flights.front().acked) {
            item.acked = item.flights.front().to;
            item.flights.pop_front();
        }
        item.flights.clear();
        item.sent = item.acked;
    }
    m_nextAttempt = Clock::now() + retry;
    m_retry = qMin(m_retry * 2, LongestRetry);
    setState(Publisher::State::Connecting,
             tr("cannot publish to %1: %2").arg(m_broker.displayName(), reason));
}

void Worker::publishMore()
{
    if (m_order.empty())
        return;
    {
        std::lock_guard<std::mutex> lock(m_shared->mutex);
        if (std::exchange(m_shared->judgeChanged, false))
            m_judge = m_shared->judge;
    }
    const analysis::Judge *judge = m_judge ? &*m_judge : nullptr;
    size_t idle = 0;
    while (m_inFlight < Publisher::MaxMessagesInFlight && idle < m_order.size()) {
        const Key key = m_order[m_turn % m_order.size()];
        ++m_turn;
        auto found = m_items.find(key);
        if (found == m_items.end() || found->second.sent >= found->second.committed) {
            ++idle;
            continue;
        }
        idle = 0;
        ItemState &item = found->second;
        m_payload.resize(0);
        int lines = 0;
        const qint64 next = m_outbox->read(
            key.first, key.second, item.sent, item.committed, Publisher::MaxReadingsPerMessage,
            [&](qint64 index, const ReadingStore::Fields &reading) {
                if (m_payload.size() >= Publisher::MaxPayloadBytes)
                    return;
                if (lines++ > 0)
                    m_payload.append('\n');
                lineprotocol::appendLine(m_payload, item.lines, index, reading, judge, m_clock);
                // Where the next message begins if this one is full.
                item.sent = index + 1;
            });
        if (next < 0) {
            // The journal could not be read just now: the next turn tries again.
            m_forceRefresh = true;
            return;
        }
        if (lines == 0 || m_payload.size() < Publisher::MaxPayloadBytes)
            item.sent = qMax(item.sent, next);
        if (lines == 0) {
            // Readings the journal cannot give back: nothing to wait for.
            item.flights.push_back({0, item.sent, true});
            advance(item);
            continue;
        }
        int mid = 0;
        const int rc = mosquitto_publish(m_mosq, &mid, item.topic.constData(), m_payload.size(),
                                         m_payload.constData(), 1, false);
        if (rc != MOSQ_ERR_SUCCESS) {
            drop(reasonOf(rc), m_retry);
            return;
        }
        item.flights.push_back({mid, item.sent, false});
        m_midToItem[mid] = key;
        ++m_inFlight;
    }
}

void Worker::acknowledged(int mid)
{
    const auto found = m_midToItem.find(mid);
    if (found == m_midToItem.end())
        return;
    const auto item = m_items.find(found->second);
    m_midToItem.erase(found);
    --m_inFlight;
    if (item == m_items.end())
        return;
    for (Flight &flight : item->second.flights) {
        if (flight.mid == mid && !flight.acked) {
            flight.acked = true;
            break;
        }
    }
    advance(item->second);
}

void Worker::advance(ItemState &item)
{
    // Acknowledgements of QoS 1 come in order; the cursor never passes a
    // message that was not acknowledged, whatever the order.
    while (!item.flights.empty() && item.flights.front().acked) {
        item.acked = item.flights.front().to;
        item.flights.pop_front();
        m_ackDirty = true;
    }
    m_behind = 0;
    for (const auto &[key, state] : m_items)
        m_behind += qMax<qint64>(0, state.committed - state.acked);
}

void Worker::flushAcks(bool force)
{
    if (!m_ackDirty || !m_outboxOpen)
        return;
    const Clock::time_point now = Clock::now();
    if (!force && m_inFlight > 0 && now - m_lastFlush < AckFlushInterval)
        return;
    std::vector<JournalOutbox::Ack> acks;
    for (const auto &[key, item] : m_items) {
        if (item.acked > item.stored)
            acks.push_back({key.first, key.second, item.acked});
    }
    m_lastFlush = now;
    if (!acks.empty() && !m_outbox->acknowledge(acks))
        return; // the journal is busy: the next turn tries again
    for (auto &[key, item] : m_items)
        item.stored = qMax(item.stored, item.acked);
    m_ackDirty = false;
}

void Worker::checkDrain()
{
    if (m_drainPending == m_drainSeen || !m_refreshedForDrain)
        return;
    if (m_behind != 0 || m_inFlight > 0 || m_ackDirty)
        return;
    m_drainSeen = m_drainPending;
    m_shared->post([](Publisher *publisher) { emit publisher->drained(); });
}

void Worker::setState(Publisher::State state, const QString &message)
{
    m_state = state;
    m_message = message;
    if (state == Publisher::State::Connected) {
        m_reported.clear(); // a later outage is said again
    } else if (!message.isEmpty() && message != m_reported) {
        m_reported = message;
        m_shared->post([message](Publisher *publisher) { emit publisher->problem(message); });
    }
    postStatus(false);
}

void Worker::postStatus(bool force)
{
    const Clock::time_point now = Clock::now();
    const bool changed = m_state != m_posted.state || m_message != m_posted.message;
    if (!force && !changed && (m_behind == m_posted.behind || now - m_lastPost < StatusInterval))
        return;
    {
        std::lock_guard<std::mutex> lock(m_shared->mutex);
        m_shared->status.state = m_state;
        m_shared->status.message = m_message;
        m_shared->status.behind = m_behind;
        m_posted = m_shared->status;
    }
    m_lastPost = now;
    m_shared->post([](Publisher *publisher) { emit publisher->statusChanged(); });
}

QString Worker::reasonOf(int rc) const
{
    switch (rc) {
    case MOSQ_ERR_ERRNO:
        return QString::fromLocal8Bit(strerror(errno));
    case MOSQ_ERR_TLS:
        // OpenSSL's own words ("certificate verify failed") do not say what
        // to do about it; an untrusted broker is never published to anyway.
        if (m_hostMismatch)
            return tr("the broker's certificate is not made out to %1").arg(m_broker.host);
        if (m_logError.contains(QLatin1String("certificate verify failed"))) {
            return m_options.caFile.isEmpty()
                       ? tr("the broker's certificate is not trusted: none of the system's "
                            "certificate authorities signed it (a CA of the lab's own goes into "
                            "ca_file under [publishing] in kv930.conf)")
                       : tr("the broker's certificate is not trusted: neither the CA in %1 nor "
                            "one of the system's signed it, or it has expired")
                             .arg(m_options.caFile);
        }
        return m_logError.isEmpty() ? tr("the TLS handshake failed")
                                    : tr("the TLS handshake failed (%1)").arg(m_logError);
    case MOSQ_ERR_CONN_LOST:
        return tr("the connection was lost");
    case MOSQ_ERR_EAI:
        return tr("the host name cannot be looked up");
    default:
        return QString::fromUtf8(mosquitto_strerror(rc));
    }
}

void Worker::onConnect(mosquitto *, void *self, int rc)
{
    auto *w = static_cast<Worker *>(self);
    if (rc == 0) {
        w->m_connected = true;
        w->m_retry = FirstRetry;
        w->setState(Publisher::State::Connected);
        return;
    }
    w->m_lost = true;
    w->m_refused = true;
    switch (rc) {
    case 4: // bad user name or password
    case 5: // not authorised
        w->m_lostReason = tr("the broker refused the user name or password");
        break;
    case 2:
        w->m_lostReason =
            tr("the broker refused the client id '%1'").arg(QString::fromUtf8(w->m_clientId));
        break;
    default:
        w->m_lostReason = tr("the broker refused the connection (%1)")
                              .arg(QString::fromUtf8(mosquitto_connack_string(rc)));
    }
}

void Worker::onDisconnect(mosquitto *, void *self, int)
{
    auto *w = static_cast<Worker *>(self);
    if (!w->m_lost)
        w->m_lostReason = tr("the connection was lost");
    w->m_lost = true;
}

void Worker::onPublish(mosquitto *, void *self, int mid)
{
    static_cast<Worker *>(self)->acknowledged(mid);
}

void Worker::onLog(mosquitto *, void *self, int level, const char *text)
{
    if (!(level & MOSQ_LOG_ERR))
        return;
    auto *w = static_cast<Worker *>(self);
    w->m_logError = QString::fromUtf8(text);
    // libmosquitto checks the name itself and says so before OpenSSL's error.
    if (w->m_logError.contains(QLatin1String("host name verification failed")))
        w->m_hostMismatch = true;
}

} // namespace

Publisher::Publisher(const PublishOptions &options, const QString &journalPath, QObject *parent)
    : QObject(parent), m_shared(std::make_shared<Shared>()), m_station(options.stationName())
{
    m_shared->owner = this;
    std::shared_ptr<Shared> shared = m_shared;
    m_thread = QThread::create([shared, options, journalPath] {
        Worker worker(shared, options, journalPath);
        worker.run();
    });
    m_thread->setObjectName(QStringLiteral("publisher"));
    m_thread->start();
}

Publisher::~Publisher()
{
    {
        std::lock_guard<std::mutex> lock(m_shared->mutex);
        m_shared->owner = nullptr;
    }
    stop();
}

void Publisher::setJudge(const analysis::Judge &judge)
{
    std::lock_guard<std::mutex> lock(m_shared->mutex);
    m_shared->judge = judge;
    m_shared->judgeChanged = true;
}

Publisher::Status Publisher::status() const
{
    std::lock_guard<std::mutex> lock(m_shared->mutex);
    return m_shared->status;
}

void Publisher::requestDrain()
{
    std::lock_guard<std::mutex> lock(m_shared->mutex);
    ++m_shared->drainWanted;
}

qint64 Publisher::stop(int waitMs)
{
    if (!m_thread) {
        std::lock_guard<std::mutex> lock(m_shared->mutex);
        return m_shared->left;
    }
    {
        std::lock_guard<std::mutex> lock(m_shared->mutex);
        m_shared->stop = true;
    }
    m_shared->wake.notify_all();
    QThread *thread = std::exchange(m_thread, nullptr);
    if (!thread->wait(unsigned(qMax(0, waitMs)))) {
        // Stuck in a name lookup or the key ring: the program must not wait
        // for it. The thread ends on its own and its object goes with it.
        qWarning("Publisher: the publishing thread did not stop in time; leaving it");
        QObject::connect(thread, &QThread::finished, thread, &QObject::deleteLater);
        return -1;
    }
    delete thread;
    std::lock_guard<std::mutex> lock(m_shared->mutex);
    return m_shared->left;
}
