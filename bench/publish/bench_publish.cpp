// Publishing's cost, against Debian's mosquitto started on a free port of
// 127.0.0.1 (the benchmark ends with a message when it is not installed):
//  - live intake into an item through the recording core with the journal,
//    10^6 readings one at a time, without and with the publisher sending them
//    at once (intake_rate_journal_core_1e6, intake_rate_publish_1e6);
//  - the publisher alone sending a journal's 10^6 readings (publish_rate), from
//    its start to the broker's acknowledgement of the last one.
#include "journal.h"
#include "journaloptions.h"
#include "publisher.h"
#include "recording.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QHostAddress>
#include <QProcess>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <cstdio>
#include <memory>

namespace {
constexpr int Readings = 1000000;

ReadingStore::Fields liveReading(int n)
{
    ReadingStore::Fields f;
    f.dateTime = WallTime::fromDateTime(QDateTime::currentDateTime());
    f.unit = ReadingStore::DBm;
    f.values[ReadingStore::UW] = 500.0 + (n % 97) * 0.37;
    f.values[ReadingStore::MW] = f.values[ReadingStore::UW] / 1000.0;
    f.values[ReadingStore::DBm] = -3.0 + (n % 97) * 0.003;
    f.decimals[0] = 1;
    f.decimals[1] = 4;
    f.decimals[2] = 2;
    f.waveLength = 1550;
    return f;
}

// Waits for the publisher to have every committed reading acknowledged;
// false after timeoutMs.
bool drain(Publisher &publisher, int timeoutMs)
{
    QEventLoop loop;
    bool drained = false;
    QObject::connect(&publisher, &Publisher::drained, &loop, [&] {
        drained = true;
        loop.quit();
    });
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    publisher.requestDrain();
    loop.exec();
    return drained;
}

// Readings/s of 10^6 live readings into a new item with the journal in folder,
// and the publisher at url when one is given; the recording is kept in *kept.
double intakeRate(const QString &folder, const QString &url, std::unique_ptr<Recording> *kept)
{
    auto recording =
        std::make_unique<Recording>(QStringLiteral("Store Data"), QStringLiteral("Live Data"));
    JournalOptions journal;
    journal.folder = folder;
    recording->startJournal(journal, Recording::JournalMode::NewSession);
    if (!recording->journal())
        return -1;
    std::unique_ptr<Publisher> publisher;
    if (!url.isEmpty()) {
        PublishOptions options;
        options.url = url;
        options.station = QStringLiteral("bench");
        publisher = std::make_unique<Publisher>(options, recording->journal()->filePath());
    }
    ItemTree &tree = recording->tree();
    ItemData *item = tree.createItem(QStringLiteral("Measure1"), ItemData::Measure);
    QElapsedTimer clock;
    clock.start();
    for (int n = 0; n < Readings;) {
        for (int i = 0; i < 1000; ++i, ++n)
            tree.appendReading(item, liveReading(n));
        QCoreApplication::processEvents();
    }
    const double seconds = clock.nsecsElapsed() / 1e9;
    if (!recording->journal()->flush(600000))
        return -1;
    if (publisher && !drain(*publisher, 600000))
        std::fprintf(stderr, "the publisher did not catch up\n");
    *kept = std::move(recording);
    return Readings / seconds;
}
} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QString mosquitto = QStandardPaths::findExecutable(
        QStringLiteral("mosquitto"), {QStringLiteral("/usr/sbin"), QStringLiteral("/usr/bin")});
    if (mosquitto.isEmpty()) {
        std::fprintf(stderr, "mosquitto is not installed (scripts/deps.sh installs it)\n");
        return 1;
    }
    QTemporaryDir dir;
    quint16 port = 0;
    {
        QTcpServer probe;
        probe.listen(QHostAddress::LocalHost, 0);
        port = probe.serverPort();
    }
    QFile config(dir.filePath(QStringLiteral("mosquitto.conf")));
    config.open(QIODevice::WriteOnly);
    config.write(QStringLiteral("listener %1 127.0.0.1\nallow_anonymous true\nlog_type error\n")
                     .arg(port)
                     .toUtf8());
    config.close();
    QProcess broker;
    broker.setProcessChannelMode(QProcess::ForwardedChannels);
    broker.start(mosquitto, {QStringLiteral("-c"), config.fileName()});
    bool listening = false;
    for (int i = 0; i < 100 && !listening; ++i) {
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, port);
        listening = socket.waitForConnected(100);
        if (!listening)
            QThread::msleep(50);
    }
    if (!listening) {
        std::fprintf(stderr, "mosquitto did not start\n");
        return 1;
    }
    const QString url = QStringLiteral("mqtt://127.0.0.1:%1").arg(port);

    // Without and with publishing, alternately, twice each; the better of
    // each pair counts (other work on the machine only ever slows a pass).
    double plain = -1;
    double publishing = -1;
    std::unique_ptr<Recording> unpublished;
    for (int round = 0; round < 2; ++round) {
        std::unique_ptr<Recording> kept;
        plain = qMax(plain, intakeRate(dir.filePath(QStringLiteral("plain-%1").arg(round)),
                                       QString(), round == 0 ? &unpublished : &kept));
        kept.reset();
        publishing =
            qMax(publishing,
                 intakeRate(dir.filePath(QStringLiteral("publish-%1").arg(round)), url, &kept));
    }
    if (plain < 0 || publishing < 0) {
        std::fprintf(stderr, "intake failed\n");
        return 1;
    }
    std::printf("BENCH intake_rate_journal_core_1e6 %.0f readings/s\n", plain);
    std::printf("BENCH intake_rate_publish_1e6 %.0f readings/s\n", publishing);
    std::printf("with the publisher: %.2f of the rate without\n", publishing / plain);
    std::fflush(stdout);

    // The first journal's million, its session still running, sent as a
    // station's first start with publishing would send it.
    PublishOptions options;
    options.url = url;
    options.station = QStringLiteral("bench-rate");
    QElapsedTimer clock;
    clock.start();
    Publisher publisher(options, unpublished->journal()->filePath());
    if (!drain(publisher, 600000)) {
        std::fprintf(stderr, "publishing did not end\n");
        return 1;
    }
    const double seconds = clock.nsecsElapsed() / 1e9;
    const qint64 left = publisher.stop();
    if (left != 0) {
        std::fprintf(stderr, "%lld readings left unpublished\n", static_cast<long long>(left));
        return 1;
    }
    std::printf("BENCH publish_rate %.0f readings/s\n", Readings / seconds);
    broker.kill();
    broker.waitForFinished();
    return 0;
}
