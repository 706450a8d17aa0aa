// The laboratory meter drivers, loaded from the build's Lib as the program
// loads them, recording from our SCPI simulator (scpisim.py) over a
// pseudo-terminal (standing in for /dev/usbtmcN and for a serial port) and a
// TCP port on 127.0.0.1: every reading's power, wavelength and range, faults
// of the meter (garbage, slow or missing answers) and links that drop.
#include "dmmdata.h"
#include "metercatalogue.h"
#include "meterid.h"

#include "scpisimulator.h"

#include <QProcess>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>
#include <memory>
#include <vector>

namespace {

// Log lines of the drivers, for the checks on faults.
QStringList g_log;
void keepLog(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if (type == QtWarningMsg)
        g_log << message;
    fprintf(stderr, "%s\n", qPrintable(message));
}

constexpr double Over = 1e300; // expected: over range
constexpr double Under = -1e300;

} // namespace

// Receives a meter's signals as the program does: connected by signature.
class Recorder : public QObject
{
    Q_OBJECT
public:
    explicit Recorder(IMeter *meter)
    {
        QObject *m = meter->object();
        connect(m, SIGNAL(opened()), this, SLOT(meterOpened()));
        connect(m, SIGNAL(closed()), this, SLOT(meterClosed()));
        connect(m, SIGNAL(display(const DmmData *)), this, SLOT(display(const DmmData *)));
        connect(m, SIGNAL(linkLost(QString)), this, SLOT(linkLost(QString)));
    }

    std::vector<std::unique_ptr<const DmmData>> readings;
    QStringList lost;
    int opened = 0;
    int closed = 0;
    std::function<void()> onLost;

public slots:
    void meterOpened() { ++opened; }
    void meterClosed() { ++closed; }
    void display(const DmmData *d) { readings.emplace_back(d); }
    void linkLost(const QString &reason)
    {
        lost << reason;
        if (onLost)
            onLost();
    }
};

class TestScpiMeters : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init() { g_log.clear(); }
    void pm100OverUsbTmc();
    void pm100SurvivesBadAnswers_data();
    void pm100SurvivesBadAnswers();
    void n774xOverTcpReadsItsChannel();
    void droppedLinkKeepsEveryReading_data();
    void droppedLinkKeepsEveryReading();
    void meterThatCannotBeOpenedSaysWhy_data();
    void meterThatCannotBeOpenedSaysWhy();
    void meterOpensAgainFromTheLossSlot();

private:
    std::unique_ptr<IMeter> create(const QString &meterId,
                                   const MeterOptions &options = MeterOptions());
    static void checkReadings(const Recorder &recorder, const QList<double> &expectedDBm,
                              int waveLength);

    std::unique_ptr<MeterCatalogue> m_catalogue;
    QTemporaryDir m_dir;
};

void TestScpiMeters::initTestCase()
{
    qInstallMessageHandler(keepLog);
    m_catalogue = std::make_unique<MeterCatalogue>(QStringLiteral(KV930_PLUGIN_DIR));
    QVERIFY(m_catalogue->driver(QStringLiteral("pm100")));
    QVERIFY(m_catalogue->driver(QStringLiteral("n774x")));
}

std::unique_ptr<IMeter> TestScpiMeters::create(const QString &text, const MeterOptions &options)
{
    QString error;
    const MeterId meterId = MeterId::fromString(text, &error);
    std::unique_ptr<IMeter> meter =
        meterId.isValid() ? m_catalogue->createMeter(meterId, options, &error) : nullptr;
    if (!meter)
        qWarning("cannot create %s: %s", qPrintable(text), qPrintable(error));
    return meter;
}

void TestScpiMeters::checkReadings(const Recorder &recorder, const QList<double> &expectedDBm,
                                   int waveLength)
{
    QVERIFY(int(recorder.readings.size()) >= expectedDBm.size());
    for (int i = 0; i < expectedDBm.size(); ++i) {
        const DmmData &d = *recorder.readings[size_t(i)];
        const QByteArray where = QByteArray("reading ") + QByteArray::number(i);
        QVERIFY2(d.waveLength() == waveLength, where.constData());
        QVERIFY2(d.dateTime().isValid() && !d.stored(), where.constData());
        const double dBm = expectedDBm[i];
        if (dBm == Over || dBm == Under) {
            QVERIFY2(d.overload() == (dBm == Over ? 1 : -1), where.constData());
            QVERIFY2(d.valueText(QStringLiteral("dBm")).trimmed() == (dBm == Over ? "OL" : "-OL"),
                     where.constData());
            continue;
        }
        QVERIFY2(d.overload() == 0, where.constData());
        QVERIFY2(std::fabs(d.value(QStringLiteral("dBm")) - dBm) < 0.01,
                 qPrintable(QStringLiteral("%1: %2 dBm, expected %3")
                                .arg(QString::fromLatin1(where))
                                .arg(d.value(QStringLiteral("dBm")))
                                .arg(dBm)));
        const double mW = std::pow(10.0, dBm / 10.0);
        QVERIFY2(std::fabs(d.valueMW() / mW - 1.0) < 0.003, where.constData());
        QVERIFY2(std::fabs(d.value(QStringLiteral("uW")) / (mW * 1000.0) - 1.0) < 0.003,
                 where.constData());
        QCOMPARE(d.valueText(QStringLiteral("dBm")),
                 QString::number(d.value(QStringLiteral("dBm")), 'f', 2));
    }
}

void TestScpiMeters::pm100OverUsbTmc()
{
    Simulator sim;
    QVERIFY(
        sim.start(QStringLiteral("pm100"), QStringLiteral("pty"),
                  QStringLiteral("[0.001, 0.0005, 2.5e-6, \"over\", \"under\", 1e-9, 0.0123]")));
    // The meter's node under the name the usbtmc driver gives it.
    const QString node = m_dir.filePath(QStringLiteral("usbtmc0"));
    QVERIFY(QFile::link(sim.where, node));
    MeterOptions options;
    options.readingsPerSecond = 20;
    options.wavelengthNm = 1310;
    auto meter = create(QStringLiteral("pm100@") + node, options);
    QVERIFY(meter);
    Recorder recorder(meter.get());
    meter->open();
    QCOMPARE(recorder.opened, 0); // signals come from the event loop
    QTRY_COMPARE_WITH_TIMEOUT(recorder.opened, 1, 10000);
    QVERIFY(meter->isOpen());
    QVERIFY(meter->identity().contains(QLatin1String("PM100D")));
    QTRY_VERIFY_WITH_TIMEOUT(recorder.readings.size() >= 7, 10000);
    checkReadings(recorder, {0.0, -3.0103, -26.0206, Over, Under, -60.0, 10.8991}, 1310);

    meter->close();
    QTRY_COMPARE(recorder.closed, 1);
    QVERIFY(recorder.lost.isEmpty());
    QVERIFY2(g_log.isEmpty(), qPrintable(g_log.join(QLatin1Char('\n'))));
}

void TestScpiMeters::pm100SurvivesBadAnswers_data()
{
    QTest::addColumn<QString>("address"); // %1: the simulator's terminal
    QTest::newRow("serial") << "%1";
    QTest::newRow("usbtmc") << "usbtmc:%1";
}

void TestScpiMeters::pm100SurvivesBadAnswers()
{
    QFETCH(QString, address);
    Simulator sim;
    QVERIFY(
        sim.start(QStringLiteral("pm100"), QStringLiteral("pty"),
                  QStringLiteral("[0.001, \"garbage\", 0.002, {\"slow\": 1.2, \"power\": 0.003},"
                                 " 0.004, \"silent\", 0.005]")));
    MeterOptions options;
    options.readingsPerSecond = 10;
    options.answerTimeoutMs = 300;
    const QString meterId = QStringLiteral("pm100@") + address.arg(sim.where);
    auto meter = create(meterId, options);
    QVERIFY(meter);
    Recorder recorder(meter.get());
    meter->open();
    QTRY_VERIFY_WITH_TIMEOUT(recorder.readings.size() >= 4, 15000);
    // The slow answer came after its query gave up, and was not taken for
    // the next one; the meter's own wavelength is kept.
    checkReadings(recorder, {0.0, 3.0103, 6.0206, 6.9897}, 1550);
    QVERIFY(recorder.lost.isEmpty());
    const QString log = g_log.join(QLatin1Char('\n'));
    QCOMPARE(g_log.filter(QStringLiteral(": unreadable answer to FETC?: ")).size(), 1);
    // The slow one, the silent one, and (by how long the meter stays busy)
    // those that waited for it.
    QVERIFY(g_log.filter(QStringLiteral(": no answer to FETC? within 300 ms")).size() >= 2);
    QVERIFY2(log.contains(MeterId::fromString(meterId).toString() + QLatin1Char(':')),
             qPrintable(log));
}

void TestScpiMeters::n774xOverTcpReadsItsChannel()
{
    Simulator sim;
    QVERIFY(sim.start(QStringLiteral("n774x"), QStringLiteral("tcp"),
                      QStringLiteral("[0.001, \"overcode\", \"over\", \"under\", 3.3e-5]"), 3));
    // Two meters of the driver at once: ports 3 and 1 of one instrument.
    auto port3 = create(QStringLiteral("n774x@") + sim.where + QStringLiteral("#3"));
    auto port1 = create(QStringLiteral("n774x@") + sim.where + QStringLiteral("#1"));
    QVERIFY(port3 && port1);
    Recorder recorder3(port3.get());
    Recorder recorder1(port1.get());
    port3->open();
    port1->open();
    QTRY_VERIFY_WITH_TIMEOUT(recorder3.readings.size() >= 5 && recorder1.readings.size() >= 2,
                             10000);
    checkReadings(recorder3, {0.0, Over, Over, Under, -14.815}, 1550);
    checkReadings(recorder1, {-60.0, -60.0}, 1550); // the other ports read 1 nW
    QVERIFY(port3->identity().startsWith(QLatin1String("Keysight")));
    QVERIFY2(g_log.isEmpty(), qPrintable(g_log.join(QLatin1Char('\n'))));
}

void TestScpiMeters::droppedLinkKeepsEveryReading_data()
{
    QTest::addColumn<QString>("model");
    QTest::addColumn<QString>("link");
    QTest::addColumn<QString>("address"); // %1: what the simulator offers
    QTest::addColumn<QString>("end");     // of the script
    QTest::addColumn<QString>("says");
    const QString drop = QStringLiteral("\"drop\"");
    QTest::newRow("usbtmc") << "pm100"
                            << "pty"
                            << "usbtmc:%1" << drop << "lost";
    QTest::newRow("serial") << "pm100"
                            << "pty"
                            << "serial:%1" << drop << "lost";
    QTest::newRow("tcp") << "n774x"
                         << "tcp"
                         << "%1" << drop << "lost";
    // A meter that stays connected but answers no more.
    const QString mute =
        QStringLiteral("\"silent\", \"silent\", \"silent\", \"silent\", \"silent\"");
    QTest::newRow("mute") << "n774x"
                          << "tcp"
                          << "%1" << mute << "stopped answering";
}

void TestScpiMeters::droppedLinkKeepsEveryReading()
{
    QFETCH(QString, model);
    QFETCH(QString, link);
    QFETCH(QString, address);
    QFETCH(QString, end);
    QFETCH(QString, says);
    Simulator sim;
    QVERIFY(sim.start(model, link, QStringLiteral("[0.001, 0.002, 0.003, %1]").arg(end)));
    const QString meterId = model + QLatin1Char('@') + address.arg(sim.where);
    MeterOptions options;
    options.readingsPerSecond = 20;
    options.answerTimeoutMs = 200;
    auto meter = create(meterId, options);
    QVERIFY(meter);
    Recorder recorder(meter.get());
    meter->open();
    QTRY_COMPARE_WITH_TIMEOUT(recorder.lost.size(), 1, 10000);
    QTRY_COMPARE(recorder.closed, 1);
    QVERIFY(!meter->isOpen());
    QVERIFY2(
        recorder.lost[0].startsWith(MeterId::fromString(meterId).toString() + QLatin1Char(':')),
        qPrintable(recorder.lost[0]));
    QVERIFY2(recorder.lost[0].contains(says), qPrintable(recorder.lost[0]));
    QCOMPARE(int(recorder.readings.size()), 3);
    checkReadings(recorder, {0.0, 3.0103, 4.7712}, 1550);

    // Nothing more comes.
    QTest::qWait(300);
    QCOMPARE(recorder.lost.size(), 1);
    QCOMPARE(recorder.closed, 1);
    QCOMPARE(int(recorder.readings.size()), 3);
}

void TestScpiMeters::meterThatCannotBeOpenedSaysWhy_data()
{
    QTcpServer closed;
    QVERIFY(closed.listen(QHostAddress::LocalHost));
    const quint16 port = closed.serverPort();
    closed.close();
    QTest::addColumn<QString>("meterId");
    QTest::addColumn<QString>("says");
    QTest::newRow("closed port") << QStringLiteral("n774x@tcp://127.0.0.1:%1").arg(port)
                                 << "Cannot connect to 127.0.0.1:";
    QTest::newRow("no usbtmc node") << "pm100@" + m_dir.filePath("usbtmc9") << "Cannot open";
    QTest::newRow("no serial port") << "pm100@" + m_dir.filePath("ttyACM9") << "Cannot open";
}

void TestScpiMeters::meterThatCannotBeOpenedSaysWhy()
{
    QFETCH(QString, meterId);
    QFETCH(QString, says);
    auto meter = create(meterId);
    QVERIFY(meter);
    Recorder recorder(meter.get());
    // The program may let go of the meter right in the slot.
    recorder.onLost = [&meter] { meter.reset(); };
    meter->open();
    QTRY_COMPARE_WITH_TIMEOUT(recorder.lost.size(), 1, 10000);
    QVERIFY(!meter);
    QVERIFY2(recorder.lost[0].startsWith(meterId + QLatin1Char(':')), qPrintable(recorder.lost[0]));
    QVERIFY2(recorder.lost[0].contains(says), qPrintable(recorder.lost[0]));
    QTest::qWait(100);
    QCOMPARE(recorder.opened + recorder.closed, 0);
    QCOMPARE(recorder.lost.size(), 1);
}

void TestScpiMeters::meterOpensAgainFromTheLossSlot()
{
    QTcpServer closed;
    QVERIFY(closed.listen(QHostAddress::LocalHost));
    const QString meterId = QStringLiteral("n774x@tcp://127.0.0.1:%1").arg(closed.serverPort());
    closed.close();
    auto meter = create(meterId);
    QVERIFY(meter);
    Recorder recorder(meter.get());
    // A program that tries again at once, while the failed link still reports.
    recorder.onLost = [&] {
        if (recorder.lost.size() == 1)
            meter->open();
    };
    meter->open();
    QTRY_COMPARE_WITH_TIMEOUT(recorder.lost.size(), 2, 10000);
    QCOMPARE(recorder.lost[1], recorder.lost[0]);
    QVERIFY(!meter->isOpen());
}

QTEST_GUILESS_MAIN(TestScpiMeters)
#include "tst_scpimeters.moc"
