// Publishing as a station does it: the real program recording headless with
// the virtual meter, Debian's mosquitto started on a free port of 127.0.0.1,
// and what reaches a subscriber (mosquitto_sub) counted reading by reading.
#include "testsupport.h"

#include "journal.h"
#include "lineprotocol.h"
#include "recording.h"

#include <QHostAddress>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QSettings>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

#include <pwd.h>
#include <unistd.h>

namespace {
QString mosquittoProgram()
{
    return QStandardPaths::findExecutable(
        QStringLiteral("mosquitto"),
        {QStringLiteral("/usr/sbin"), QStringLiteral("/usr/bin"), QStringLiteral("/sbin")});
}

quint16 freePort()
{
    QTcpServer server;
    server.listen(QHostAddress::LocalHost, 0);
    return server.serverPort();
}

// A mosquitto of the test's own. Its store is written on every change, so that
// a subscriber's session outlives a SIGKILL of the broker.
struct Broker
{
    QTemporaryDir dir;
    quint16 port = freePort();
    QProcess process;
    QByteArray extra; // further configuration lines

    bool start()
    {
        QFile config(dir.filePath(QStringLiteral("mosquitto.conf")));
        if (!config.open(QIODevice::WriteOnly))
            return false;
        // As root it would turn into the user "mosquitto", who cannot write here.
        const passwd *self = getpwuid(getuid());
        config.write(QStringLiteral("user %3\nlistener %1 127.0.0.1\npersistence true\n"
                                    "persistence_location %2/\nautosave_interval 1\n"
                                    "autosave_on_changes true\nlog_type error\nlog_type warning\n")
                         .arg(port)
                         .arg(dir.path(), QString::fromLocal8Bit(self ? self->pw_name : "root"))
                         .toUtf8() +
                     (extra.isEmpty() ? QByteArray("allow_anonymous true\n") : extra));
        config.close();
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process.start(mosquittoProgram(), {QStringLiteral("-c"), config.fileName()});
        if (!process.waitForStarted())
            return false;
        for (int attempt = 0; attempt < 100 && process.state() == QProcess::Running; ++attempt) {
            QTcpSocket probe;
            probe.connectToHost(QHostAddress::LocalHost, port);
            if (probe.waitForConnected(100))
                return true;
            QTest::qWait(50);
        }
        return false;
    }
    void kill()
    {
        process.kill(); // SIGKILL: nothing is handed over
        process.waitForFinished();
    }
    QString url(const QString &userInfo = QString()) const
    {
        return QStringLiteral("mqtt://") + userInfo + QStringLiteral("127.0.0.1:%1").arg(port);
    }
    ~Broker() { kill(); }
};

// mosquitto_sub with a persistent session at QoS 1, collecting every reading
// as (session, index) and the topics they came on.
struct Subscriber
{
    QProcess process;
    QByteArray buffer;
    QSet<QString> readings;
    QSet<QString> topics;
    QStringList sessions; // in the order they first arrived

    bool start(const Broker &broker, const QStringList &login = {})
    {
        // Line by line, as a terminal would see it: stdbuf sets its output's buffering.
        process.start(QStringLiteral("stdbuf"),
                      QStringList{QStringLiteral("-oL"), QStringLiteral("mosquitto_sub"),
                                  QStringLiteral("-h"), QStringLiteral("127.0.0.1"),
                                  QStringLiteral("-p"), QString::number(broker.port),
                                  QStringLiteral("-q"), QStringLiteral("1"), QStringLiteral("-c"),
                                  QStringLiteral("-i"), QStringLiteral("tst-subscriber"),
                                  QStringLiteral("-t"), QStringLiteral("kv930/#"),
                                  QStringLiteral("-v"), QStringLiteral("-d")} +
                          login);
        for (int round = 0; round < 100 && process.state() != QProcess::NotRunning; ++round) {
            process.waitForReadyRead(100);
            buffer += process.readAllStandardOutput();
            if (buffer.contains("received SUBACK"))
                return true;
        }
        return false;
    }
    int count()
    {
        static const QRegularExpression reading(QStringLiteral("index=(\\d+)i,session=\"(\\d+)\""));
        buffer += process.readAllStandardOutput();
        const int end = buffer.lastIndexOf('\n') + 1;
        for (const QByteArray &line : buffer.left(end).split('\n')) {
            if (!line.contains("optical_power"))
                continue;
            if (line.startsWith("kv930/"))
                topics.insert(QString::fromUtf8(line.left(line.indexOf(" optical_power"))));
            const auto m = reading.match(QString::fromUtf8(line));
            if (!m.hasMatch())
                continue;
            readings.insert(m.captured(2) + QLatin1Char('/') + m.captured(1));
            if (!sessions.contains(m.captured(2)))
                sessions << m.captured(2);
        }
        buffer.remove(0, end);
        return readings.size();
    }
    ~Subscriber()
    {
        process.kill();
        process.waitForFinished();
    }
};

// The program recording headless, its data and settings in a folder of its own.
struct Station
{
    QTemporaryDir dir;
    QProcess process;
    QByteArray out, err;

    explicit Station(const QByteArray &meter = "[meter]\nrate=1000\nburstSize=20\n")
    {
        installVirtualMeter(dir, meter);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM",
                                 "DBUS_SESSION_BUS_ADDRESS", "XDG_RUNTIME_DIR"})
            env.remove(QString::fromLatin1(name));
        env.insert(QStringLiteral("XDG_DATA_HOME"), dir.filePath(QStringLiteral("data")));
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), dir.filePath(QStringLiteral("config")));
        process.setProcessEnvironment(env);
    }
    ~Station()
    {
        process.kill();
        process.waitForFinished();
    }
    void start(const QString &url, const QStringList &arguments)
    {
        process.start(QStringLiteral(KV930_PROGRAM),
                      QStringList{QStringLiteral("--headless"), QStringLiteral("--drivers"),
                                  dir.filePath(QStringLiteral("Lib")), QStringLiteral("--mqtt"),
                                  url, QStringLiteral("--station"), QStringLiteral("S1")} +
                          arguments);
        process.waitForStarted();
    }
    // Exit status, -1 when it did not end normally in time.
    int finish()
    {
        const bool ended = process.waitForFinished(90000);
        out = process.readAllStandardOutput();
        err = process.readAllStandardError();
        return ended && process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    }
    // What the summary line says is left unpublished; -1 when it says nothing.
    int unpublished() const
    {
        const auto m = QRegularExpression(QStringLiteral("; (\\d+) readings left unpublished"))
                           .match(QString::fromUtf8(out));
        return m.hasMatch() ? m.captured(1).toInt() : -1;
    }
};

// Runs a tool to its end; true when it succeeded.
bool runTool(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    const bool done = process.waitForFinished(60000) &&
                      process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
    if (!done)
        qWarning("%s: %s", qPrintable(program), process.readAll().constData());
    return done;
}

// A CA of the test's own and a server certificate it signed for 127.0.0.1
// (as an address, not a name: subjectAltName IP), made with openssl into dir.
bool makeCertificates(const QTemporaryDir &dir)
{
    const auto path = [&](const char *name) { return dir.filePath(QLatin1String(name)); };
    const QStringList newKey{
        QStringLiteral("-newkey"), QStringLiteral("ec"), QStringLiteral("-pkeyopt"),
        QStringLiteral("ec_paramgen_curve:prime256v1"), QStringLiteral("-nodes")};
    QFile extensions(path("server.ext"));
    return runTool(QStringLiteral("openssl"),
                   QStringList{QStringLiteral("req"), QStringLiteral("-x509"),
                               QStringLiteral("-days"), QStringLiteral("2"),
                               QStringLiteral("-subj"), QStringLiteral("/CN=kv930 test CA"),
                               QStringLiteral("-keyout"), path("ca.key"), QStringLiteral("-out"),
                               path("ca.crt")} +
                       newKey) &&
           runTool(QStringLiteral("openssl"),
                   QStringList{QStringLiteral("req"), QStringLiteral("-subj"),
                               QStringLiteral("/CN=127.0.0.1"), QStringLiteral("-keyout"),
                               path("server.key"), QStringLiteral("-out"), path("server.csr")} +
                       newKey) &&
           extensions.open(QIODevice::WriteOnly) &&
           extensions.write("subjectAltName=IP:127.0.0.1\n") > 0 && extensions.flush() &&
           runTool(QStringLiteral("openssl"),
                   {QStringLiteral("x509"), QStringLiteral("-req"), QStringLiteral("-days"),
                    QStringLiteral("2"), QStringLiteral("-in"), path("server.csr"),
                    QStringLiteral("-CA"), path("ca.crt"), QStringLiteral("-CAkey"), path("ca.key"),
                    QStringLiteral("-CAcreateserial"), QStringLiteral("-extfile"),
                    extensions.fileName(), QStringLiteral("-out"), path("server.crt")});
}

// Every index from 1 to count of one session, whatever the session is.
bool holdsRun(const QSet<QString> &readings, int count, QString *session)
{
    QHash<QString, int> perSession;
    for (const QString &r : readings)
        ++perSession[r.section(QLatin1Char('/'), 0, 0)];
    for (auto it = perSession.cbegin(); it != perSession.cend(); ++it) {
        if (it.value() != count || (session && it.key() == *session))
            continue;
        bool all = true;
        for (int i = 1; i <= count && all; ++i)
            all = readings.contains(QStringLiteral("%1/%2").arg(it.key()).arg(i));
        if (all) {
            if (session)
                *session = it.key();
            return true;
        }
    }
    return false;
}
} // namespace

class TestPublisher : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        if (mosquittoProgram().isEmpty() ||
            QStandardPaths::findExecutable(QStringLiteral("mosquitto_sub")).isEmpty())
            QSKIP("mosquitto and mosquitto_sub are not installed (scripts/deps.sh installs them)");
    }

    void everyReadingReachesTheBroker()
    {
        Broker broker;
        QVERIFY(broker.start());
        Subscriber subscriber;
        QVERIFY(subscriber.start(broker));
        Station station;
        station.start(broker.url(), {QStringLiteral("--count"), QStringLiteral("2000")});
        QCOMPARE(station.finish(), 0);
        QCOMPARE(station.unpublished(), 0);
        QTRY_COMPARE_WITH_TIMEOUT(subscriber.count(), 2000, 20000);
        QString session;
        QVERIFY(holdsRun(subscriber.readings, 2000, &session));
        QCOMPARE(subscriber.topics, QSet<QString>{QStringLiteral("kv930/S1/Measure1")});
    }

    void aBrokerKilledMidRunLosesNothing()
    {
        Broker broker;
        QVERIFY(broker.start());
        Subscriber subscriber;
        QVERIFY(subscriber.start(broker));
        Station station("[meter]\nrate=400\nburstSize=4\n");
        station.start(broker.url(), {QStringLiteral("--count"), QStringLiteral("2000")});
        QTRY_VERIFY_WITH_TIMEOUT(subscriber.count() >= 200, 20000);
        broker.kill();
        // Recording goes on into the outbox while the broker is away.
        QTest::qWait(3000);
        QCOMPARE(station.process.state(), QProcess::Running);
        QVERIFY(broker.start());
        QCOMPARE(station.finish(), 0);
        QCOMPARE(station.unpublished(), 0);
        QTRY_VERIFY_WITH_TIMEOUT(subscriber.count() >= 2000, 20000);
        QVERIFY(holdsRun(subscriber.readings, 2000, nullptr));
        QCOMPARE(subscriber.readings.size(), 2000);
    }

    void whatARunCouldNotPublishTheNextOneDoes()
    {
        Broker broker; // not started yet: nobody listens on its port
        Station station;
        station.start(broker.url(), {QStringLiteral("--count"), QStringLiteral("2000"),
                                     QStringLiteral("--mqtt-drain"), QStringLiteral("1")});
        QCOMPARE(station.finish(), 0);
        QCOMPARE(station.unpublished(), 2000);

        QVERIFY(broker.start());
        Subscriber subscriber;
        QVERIFY(subscriber.start(broker));
        station.start(broker.url(), {QStringLiteral("--count"), QStringLiteral("10")});
        QCOMPARE(station.finish(), 0);
        QCOMPARE(station.unpublished(), 0);
        QTRY_COMPARE_WITH_TIMEOUT(subscriber.count(), 2010, 20000);
        QString first;
        QVERIFY(holdsRun(subscriber.readings, 2000, &first));
        QString second;
        QVERIFY(holdsRun(subscriber.readings, 10, &second));
        // The older session first: the outbox is sent in order.
        QCOMPARE(subscriber.sessions, (QStringList{first, second}));
    }

    void aWrongPasswordIsSaidOnceAndLosesNothing()
    {
        Broker broker;
        const QString passwords = broker.dir.filePath(QStringLiteral("passwords"));
        const char *const users[][2] = {{"S1", "secret"}, {"reader", "look"}};
        for (const auto &user : users) {
            const bool first = &user == &users[0];
            QProcess passwd;
            QStringList arguments{QStringLiteral("-b"), passwords, QLatin1String(user[0]),
                                  QLatin1String(user[1])};
            if (first)
                arguments.prepend(QStringLiteral("-c")); // a new file
            passwd.start(QStringLiteral("mosquitto_passwd"), arguments);
            passwd.waitForFinished();
            QCOMPARE(passwd.exitCode(), 0);
        }
        broker.extra =
            QStringLiteral("allow_anonymous false\npassword_file %1\n").arg(passwords).toUtf8();
        QVERIFY(broker.start());
        Subscriber subscriber;
        QVERIFY(subscriber.start(broker, {QStringLiteral("-u"), QStringLiteral("reader"),
                                          QStringLiteral("-P"), QStringLiteral("look")}));

        Station station;
        station.start(broker.url(QStringLiteral("S1:wrong@")),
                      {QStringLiteral("--count"), QStringLiteral("50"),
                       QStringLiteral("--mqtt-drain"), QStringLiteral("3")});
        QCOMPARE(station.finish(), 0);
        QCOMPARE(station.unpublished(), 50);
        QCOMPARE(station.err.count("refused the user name or password"), 1);

        station.start(broker.url(QStringLiteral("S1:secret@")),
                      {QStringLiteral("--count"), QStringLiteral("50")});
        QCOMPARE(station.finish(), 0);
        QCOMPARE(station.unpublished(), 0);
        QVERIFY(!station.err.contains("refused"));
        QTRY_COMPARE_WITH_TIMEOUT(subscriber.count(), 100, 20000);
    }

    // mqtts:// to a broker whose certificate a CA of the lab's own signed:
    // refused, and said so once, until that CA is the station's ca_file.
    void tlsPublishesOnlyToATrustedBroker()
    {
        if (QStandardPaths::findExecutable(QStringLiteral("openssl")).isEmpty())
            QSKIP("openssl is not installed (scripts/deps.sh installs it)");
        Broker broker;
        QVERIFY(makeCertificates(broker.dir));
        const QString ca = broker.dir.filePath(QStringLiteral("ca.crt"));
        broker.extra = QStringLiteral("allow_anonymous true\ncafile %1\ncertfile %2\nkeyfile %3\n")
                           .arg(ca, broker.dir.filePath(QStringLiteral("server.crt")),
                                broker.dir.filePath(QStringLiteral("server.key")))
                           .toUtf8();
        QVERIFY(broker.start());
        Subscriber subscriber;
        QVERIFY(subscriber.start(broker, {QStringLiteral("--cafile"), ca}));
        const QString url = QStringLiteral("mqtts://127.0.0.1:%1").arg(broker.port);

        Station station;
        station.start(url, {QStringLiteral("--count"), QStringLiteral("50"),
                            QStringLiteral("--mqtt-drain"), QStringLiteral("3")});
        QCOMPARE(station.finish(), 0);
        QCOMPARE(station.unpublished(), 50);
        const QList<QByteArray> said = station.err.trimmed().split('\n');
        QCOMPARE(said.size(), 1);
        QVERIFY2(said.first().contains("certificate is not trusted"), said.first().constData());
        QCOMPARE(subscriber.count(), 0);

        // As a user sets it: kv930.conf under the station's configuration folder.
        QSettings settings(station.dir.filePath(QStringLiteral("config/kv930/kv930.conf")),
                           QSettings::IniFormat);
        settings.setValue(QStringLiteral("publishing/ca_file"), ca);
        settings.sync();
        station.start(url, {QStringLiteral("--count"), QStringLiteral("50")});
        QCOMPARE(station.finish(), 0);
        QCOMPARE(station.unpublished(), 0);
        QVERIFY2(station.err.isEmpty(), station.err.constData());
        QTRY_COMPARE_WITH_TIMEOUT(subscriber.count(), 100, 20000);
        QString first;
        QVERIFY(holdsRun(subscriber.readings, 50, &first));
        QVERIFY(holdsRun(subscriber.readings, 50, &first)); // the other session
    }

    void pruningKeepsWhatWasNeverPublished()
    {
        Broker broker; // never started
        Station station;
        station.start(broker.url(), {QStringLiteral("--count"), QStringLiteral("20"),
                                     QStringLiteral("--mqtt-drain"), QStringLiteral("0")});
        QCOMPARE(station.finish(), 0);
        QCOMPARE(station.unpublished(), 20);
        // The recording ended 40 days ago, the station published last today.
        const QString folder = station.dir.filePath(QStringLiteral("data/kv930"));
        QProcess sqlite;
        sqlite.start(QStringLiteral("sqlite3"),
                     {QDir(folder).filePath(QStringLiteral("journal.sqlite")),
                      QStringLiteral("UPDATE sessions SET started = started - 3456000000, "
                                     "ended = ended - 3456000000")});
        QVERIFY(sqlite.waitForFinished());
        QCOMPARE(sqlite.exitCode(), 0);

        JournalOptions options;
        options.folder = folder;
        Recording recording(QStringLiteral("Store Data"), QStringLiteral("Live Data"));
        recording.startJournal(options, Recording::JournalMode::RestoreUnfinished);
        QVERIFY(recording.journal());
        QCOMPARE(recording.journal()->keptUnpublished(), qint64(20));
        QVERIFY(recording.journal()->flush());
        QCOMPARE(journalQuery(folder, QStringLiteral("SELECT sum(readings) FROM items")),
                 QStringLiteral("20"));
    }

    void theWindowPublishesWhatItRecords()
    {
        Broker broker;
        QVERIFY(broker.start());
        Subscriber subscriber;
        QVERIFY(subscriber.start(broker));
        QTemporaryDir app;
        QVERIFY(installVirtualMeter(app, "[meter]\nrate=200\n"));
        // No key ring: the password goes into the settings file.
        qputenv("XDG_CONFIG_HOME", app.filePath(QStringLiteral("config")).toUtf8());
        qunsetenv("DBUS_SESSION_BUS_ADDRESS");
        qunsetenv("XDG_RUNTIME_DIR");
        StartOptions options;
        options.journal.enabled = true;
        options.journal.folder = app.filePath(QStringLiteral("journal"));
        auto prompt = std::make_unique<ScriptedPrompt>();
        prompt->onExec = [&](QDialog &dialog) {
            const std::pair<const char *, QString> typed[] = {
                {"leBrokerUrl", broker.url()},
                {"leUser", QStringLiteral("S3")},
                {"lePassword", QStringLiteral("pw")},
                {"leStation", QStringLiteral("Bench 3")}};
            for (const auto &[name, text] : typed)
                dialog.findChild<QLineEdit *>(QLatin1String(name))->setText(text);
            return int(QDialog::Accepted);
        };
        Widget w(app.path(), options, std::move(prompt));
        auto *state = w.findChild<QLabel *>(QStringLiteral("lblPublishing"));
        QVERIFY(state && state->isHidden()); // nothing set: nothing said
        windowAction(w, "actionPublishing")->trigger();
        QTRY_COMPARE(state->text(), QStringLiteral("Publishing: connected"));
        const QFile settings(app.filePath(QStringLiteral("config/kv930/kv930.conf")));
        QCOMPARE(settings.permissions() & (QFile::ReadGroup | QFile::ReadOther),
                 QFile::Permissions());

        windowAction(w, "actionConnect")->trigger();
        QTRY_VERIFY(windowAction(w, "actionStart")->isEnabled());
        windowAction(w, "actionStart")->trigger();
        QTRY_VERIFY_WITH_TIMEOUT(subscriber.count() >= 100, 20000);
        QCOMPARE(subscriber.topics.size(), 1);
        QVERIFY(subscriber.topics.begin()->startsWith(QLatin1String("kv930/Bench 3/")));
    }

    // The line protocol where a reader would misread it: spaces, commas and
    // equals signs in tags, quotes in string fields, readings without a power.
    void linesReadAsTheyAreMeant()
    {
        ReadingStore::Fields r;
        r.values[ReadingStore::UW] = 477.5;
        r.values[ReadingStore::MW] = 0.4775;
        r.values[ReadingStore::DBm] = -3.21;
        r.unit = ReadingStore::DBm;
        r.waveLength = 1550;
        r.dateTime.kind = WallTime::Utc;
        r.dateTime.ms = 1700000000123;
        const auto tags =
            lineprotocol::ItemLines::make(QStringLiteral("Lab 2"), QStringLiteral("pm100@usbtmc0"),
                                          QStringLiteral("Fibre,7=a\\"), 42);
        lineprotocol::Clock clock;
        QByteArray out;
        lineprotocol::appendLine(out, tags, 16, r, nullptr, clock);
        QCOMPARE(out, QByteArray("optical_power,station=Lab\\ 2,meter=pm100,"
                                 "item=Fibre\\,7\\=a\\\\,wavelength=1550 dbm=-3.21,mw=0.4775,"
                                 "uw=477.5,overload=0i,index=17i,session=\"42\" "
                                 "1700000000123000016"));
        r.overload = 1;
        out.clear();
        lineprotocol::appendLine(out, tags, 0, r, nullptr, clock);
        QVERIFY(out.contains(" overload=1i,index=1i,"));
        QVERIFY(!out.contains("dbm="));
        QCOMPARE(lineprotocol::stringField(QStringLiteral("say \"hi\" \\")),
                 QByteArray("say \\\"hi\\\" \\\\"));
    }
};

QTEST_MAIN(TestPublisher)
#include "tst_publisher.moc"
