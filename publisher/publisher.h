#pragma once

#include "publishoptions.h"

#include <QObject>
#include <QString>

#include <memory>

class QThread;
namespace analysis {
class Judge;
}

// Publishes the readings recorded into the journal to an MQTT broker, on a
// thread of its own: the journal is the outbox (journaloutbox.h). Every
// reading of a measurement item goes to the topic kv930/<station>/<item> as
// a line of InfluxDB's line protocol (lineprotocol.h), many readings to a
// message, with QoS 1 in a persistent session whose client id is the
// station's. The cursor moves only on the broker's acknowledgement; after a
// lost connection the readings not acknowledged are sent again from the
// journal, in order within each item, so nothing is lost and a reading may
// arrive twice (its index and session tell).
//
// Nothing here waits on the network or the broker: the window's and the
// headless recorder's thread only ever read the status and hand over the
// judge. One copy of the program publishes a journal to a broker as a
// station at a time (a lock file beside the journal); another running copy
// leaves it to that one and only counts what is left.
class Publisher : public QObject
{
    Q_OBJECT
public:
    enum class State
    {
        Starting,   // opening the outbox, fetching the password
        Connecting, // not connected (yet): message says why when it is known
        Connected,
        Elsewhere, // another running copy publishes this journal to this broker
        Failed     // cannot publish at all (message says why): a bad URL, no journal
    };
    struct Status
    {
        State state = State::Starting;
        qint64 behind = -1; // readings recorded and not acknowledged; -1: not known yet
        QString message;    // why not connected, or why failed
        QString broker;     // host:port
    };
    // Readings in one message at most; fewer when the payload reaches MaxPayloadBytes.
    static constexpr int MaxReadingsPerMessage = 1000;
    static constexpr int MaxPayloadBytes = 256 * 1024;
    // Messages sent and not yet acknowledged at most.
    static constexpr int MaxMessagesInFlight = 32;

    // journalPath: the journal's file (Journal::filePath()). Starts at once.
    Publisher(const PublishOptions &options, const QString &journalPath,
              QObject *parent = nullptr);
    // stop(): never waits on the network.
    ~Publisher() override;

    // Loss and verdicts are published as the judge gives them.
    void setJudge(const analysis::Judge &judge);
    Status status() const;
    QString station() const { return m_station; }
    // drained() follows once every reading the journal has committed by now
    // is acknowledged and its cursor stored.
    void requestDrain();
    // Stops publishing: what was acknowledged is recorded, the rest stays in
    // the outbox for the next start. Returns the readings left unpublished
    // (-1 when not known: the thread did not end within waitMs).
    qint64 stop(int waitMs = 3000);

    // What the publisher and its thread share (publisher.cpp).
    struct Shared;

signals:
    void statusChanged();
    // A reason for not publishing, each once until a connection succeeds.
    void problem(const QString &message);
    void drained();

private:
    std::shared_ptr<Shared> m_shared;
    QThread *m_thread = nullptr;
    QString m_station;
};
