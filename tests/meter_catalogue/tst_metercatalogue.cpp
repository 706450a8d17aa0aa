// Meter names and the catalogue of drivers: meter IDs as users write them, and a
// folder of driver plugins (the build's own, a partly broken one, junk) read
// from their metadata, with devices found in a made-up /dev and /sys.
#include "metercatalogue.h"
#include "meterid.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

namespace {
bool writeFile(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}
} // namespace

class TestMeterCatalogue : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void idsRoundTrip_data();
    void idsRoundTrip();
    void badIdsSayWhy_data();
    void badIdsSayWhy();
    void driversComeFromMetadata();
    void listsDriversAndDetectedMeters();
    void resolvesAndRefuses_data();
    void resolvesAndRefuses();
    void presenceFollowsTheDevice();
    void watcherSeesNodesComeAndGo();
    void createsMetersThroughThePlugin();

private:
    std::unique_ptr<MeterCatalogue> m_catalogue;
    QTemporaryDir m_root;
    QString m_dev;
};

void TestMeterCatalogue::initTestCase()
{
    QVERIFY(m_root.isValid());
    m_dev = m_root.filePath(QStringLiteral("dev"));
    const QString sys = m_root.filePath(QStringLiteral("sys"));
    // usbtmc0: a PM100D; usbtmc12: someone else's instrument; usbtmc3: ids
    // not to be had (any USB-TMC driver may take it); usbtmcx: not a node name.
    for (const char *node : {"usbtmc0", "usbtmc12", "usbtmc3", "usbtmcx"})
        QVERIFY(writeFile(m_dev + QLatin1Char('/') + QLatin1String(node), QByteArray()));
    const QList<QPair<QString, QPair<QByteArray, QByteArray>>> devices = {
        {QStringLiteral("usbtmc0"), {"1313\n", "8078\n"}},
        {QStringLiteral("usbtmc12"), {"0957\n", "3718\n"}}};
    int bus = 1;
    for (const auto &d : devices) {
        const QString usb = QStringLiteral("%1/devices/usb%2/%2-1").arg(sys).arg(bus);
        QVERIFY(writeFile(usb + QStringLiteral("/idVendor"), d.second.first));
        QVERIFY(writeFile(usb + QStringLiteral("/idProduct"), d.second.second));
        QVERIFY(QDir().mkpath(usb + QStringLiteral("/1-1:1.0")));
        const QString classDir = sys + QStringLiteral("/class/usbmisc/") + d.first;
        QVERIFY(QDir().mkpath(classDir));
        QVERIFY(
            QFile::link(usb + QStringLiteral("/1-1:1.0"), classDir + QStringLiteral("/device")));
        ++bus;
    }
    DeviceSources sources;
    sources.devDir = m_dev;
    sources.sysDir = sys;
    sources.serialPorts = [] {
        return QList<SerialPortEntry>{
            {QStringLiteral("/dev/ttyACM0"), true, 0x1313, 0x8072, QStringLiteral("PM100USB")},
            {QStringLiteral("/dev/ttyS0"), false, 0, 0, QString()},
            {QStringLiteral("/dev/ttyUSB0"), true, 0x1A86, 0x7523,
             QStringLiteral("USB2.0-Serial")}};
    };
    m_catalogue = std::make_unique<MeterCatalogue>(
        QStringLiteral(KV930_FIXTURES_DIR "/catalogue/Lib"), sources);
}

void TestMeterCatalogue::idsRoundTrip_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("canonical");
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("where"); // device, or host:port
    QTest::addColumn<int>("channel");
    QTest::newRow("bare") << "virtual"
                          << "virtual" << int(MeterAddress::None) << "" << 0;
    QTest::newRow("usbtmc") << " pm100@/dev/usbtmc0 "
                            << "pm100@/dev/usbtmc0" << int(MeterAddress::UsbTmc) << "/dev/usbtmc0"
                            << 0;
    QTest::newRow("serial") << "pm100@/dev/ttyACM0"
                            << "pm100@/dev/ttyACM0" << int(MeterAddress::Serial) << "/dev/ttyACM0"
                            << 0;
    QTest::newRow("bare device name")
        << "pm100@usbtmc1"
        << "pm100@/dev/usbtmc1" << int(MeterAddress::UsbTmc) << "/dev/usbtmc1" << 0;
    QTest::newRow("named transport")
        << "pm100@usbtmc:/dev/pm100"
        << "pm100@usbtmc:/dev/pm100" << int(MeterAddress::UsbTmc) << "/dev/pm100" << 0;
    QTest::newRow("serial named usbtmc")
        << "pm100@serial:/tmp/usbtmc5"
        << "pm100@serial:/tmp/usbtmc5" << int(MeterAddress::Serial) << "/tmp/usbtmc5" << 0;
    QTest::newRow("tcp, channel") << "n774x@tcp://meter-lab3:5025#3"
                                  << "n774x@tcp://meter-lab3:5025#3" << int(MeterAddress::Tcp)
                                  << "meter-lab3:5025" << 3;
    QTest::newRow("tcp default port")
        << "n774x@tcp://10.0.0.7#1"
        << "n774x@tcp://10.0.0.7:5025#1" << int(MeterAddress::Tcp) << "10.0.0.7:5025" << 1;
    QTest::newRow("tcp ipv6") << "n774x@tcp://[::1]:5026"
                              << "n774x@tcp://[::1]:5026" << int(MeterAddress::Tcp) << "::1:5026"
                              << 0;
    QTest::newRow("channel only") << "n774x#8"
                                  << "n774x#8" << int(MeterAddress::None) << "" << 8;
}

void TestMeterCatalogue::idsRoundTrip()
{
    QFETCH(QString, text);
    QFETCH(QString, canonical);
    QFETCH(int, kind);
    QFETCH(QString, where);
    QFETCH(int, channel);
    QString error;
    const MeterId meterId = MeterId::fromString(text, &error);
    QVERIFY2(meterId.isValid(), qPrintable(error));
    QCOMPARE(meterId.toString(), canonical);
    QCOMPARE(int(meterId.address.kind), kind);
    QCOMPARE(meterId.address.kind == MeterAddress::Tcp
                 ? QStringLiteral("%1:%2").arg(meterId.address.host).arg(meterId.address.port)
                 : meterId.address.device,
             where);
    QCOMPARE(meterId.channel, channel);
    QCOMPARE(MeterId::fromString(canonical), meterId);
}

void TestMeterCatalogue::badIdsSayWhy_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("says");
    QTest::newRow("empty") << "  "
                           << "No meter given";
    QTest::newRow("no driver") << "@/dev/usbtmc0"
                               << "driver name";
    QTest::newRow("bad driver") << "pm 100"
                                << "\"pm 100\" is not a driver name";
    QTest::newRow("empty address") << "pm100@"
                                   << "address after \"@\" is missing";
    QTest::newRow("relative path") << "pm100@dev/ttyS0"
                                   << "neither a device name";
    QTest::newRow("host without scheme") << "n774x@meter-lab3:5025"
                                         << "starts with tcp://";
    QTest::newRow("unknown scheme") << "n774x@udp://h"
                                    << "Unknown transport \"udp\"";
    QTest::newRow("no host") << "n774x@tcp://:5025"
                             << "host after \"tcp://\" is missing";
    QTest::newRow("bad host") << "n774x@tcp://bad_host"
                              << "not a host name";
    QTest::newRow("port zero") << "n774x@tcp://h:0"
                               << "\"0\" is not a port";
    QTest::newRow("port too big") << "n774x@tcp://h:65536"
                                  << "\"65536\" is not a port";
    QTest::newRow("empty port") << "n774x@tcp://h:"
                                << "port after \"h:\" is missing";
    QTest::newRow("open bracket") << "n774x@tcp://[::1"
                                  << "lacks its \"]\"";
    QTest::newRow("channel zero") << "n774x@tcp://h#0"
                                  << "\"#0\" is not a channel";
    QTest::newRow("channel text") << "n774x#two"
                                  << "\"#two\" is not a channel";
    QTest::newRow("empty channel") << "pm100#"
                                   << "\"#\" is not a channel";
    QTest::newRow("two channels") << "n774x@tcp://h:5025#3#4"
                                  << "not a port";
}

void TestMeterCatalogue::badIdsSayWhy()
{
    QFETCH(QString, text);
    QFETCH(QString, says);
    QString error;
    QVERIFY(!MeterId::fromString(text, &error).isValid());
    QVERIFY2(error.contains(says), qPrintable(error));
}

void TestMeterCatalogue::driversComeFromMetadata()
{
    QStringList names;
    for (const MeterDriverInfo &d : m_catalogue->drivers())
        names << d.name;
    // The scripted KV930 meter says no name; nonamemeter neither; junk is no driver.
    QCOMPARE(names, (QStringList{"n774x", "odd", "pm100", "virtual"}));

    const MeterDriverInfo *pm100 = m_catalogue->driver(QStringLiteral("PM100"));
    QVERIFY(pm100);
    QVERIFY(pm100->file.endsWith(QLatin1String("/zz_pm100.so")));
    QCOMPARE(pm100->transports,
             (QList<MeterAddress::Kind>{MeterAddress::UsbTmc, MeterAddress::Serial}));
    QVERIFY(pm100->acceptsUsb(0x1313, 0x8078) && !pm100->acceptsUsb(0x1A86, 0x7523));
    QVERIFY(pm100->takesRate && pm100->takesWavelength && !pm100->storedData && !pm100->clock);
    QCOMPARE(m_catalogue->driver(QStringLiteral("n774x"))->channels, 8);

    const MeterDriverInfo *virtualMeter = m_catalogue->driver(QStringLiteral("virtual"));
    QCOMPARE(virtualMeter->kind, MeterDriverInfo::Kv930Set);
    QVERIFY(virtualMeter->storedData && virtualMeter->clock && !virtualMeter->needsAddress());

    const MeterDriverInfo *odd = m_catalogue->driver(QStringLiteral("odd"));
    QCOMPARE(odd->transports, QList<MeterAddress::Kind>{MeterAddress::Tcp});
    QCOMPARE(odd->channels, 1);
    QVERIFY(odd->usbIds.isEmpty());

    const QString problems = m_catalogue->problems().join(QLatin1Char('\n'));
    QVERIFY2(problems.contains(QLatin1String("unknown transport \"pigeon\"")),
             qPrintable(problems));
    QVERIFY(problems.contains(QLatin1String("\"1313:80zz\" is not a USB id")));
    QVERIFY(problems.contains(QLatin1String("nonamemeter.so: no driver name")));
    QVERIFY(problems.contains(QLatin1String("the driver \"pm100\" of")));
    QCOMPARE(m_catalogue->problems().size(), 3);
}

void TestMeterCatalogue::listsDriversAndDetectedMeters()
{
    const QStringList lines = m_catalogue->listLines();
    QStringList meterIds;
    for (const QString &line : lines) {
        QCOMPARE(line.count(QLatin1Char('\t')), 1);
        meterIds << line.section(QLatin1Char('\t'), 0, 0);
    }
    QCOMPARE(meterIds,
             (QStringList{"n774x", "odd", "pm100", "virtual", "pm100@" + m_dev + "/usbtmc0",
                          "pm100@" + m_dev + "/usbtmc3", "pm100@/dev/ttyACM0"}));
    QVERIFY(lines[2].contains(QLatin1String("Thorlabs")) &&
            lines[2].contains(QLatin1String("usbtmc or serial")));
    QVERIFY(lines[4].contains(QLatin1String("USB 1313:8078")));
    QVERIFY(lines[6].contains(QLatin1String("USB 1313:8072 at /dev/ttyACM0")));

    // The dialog also offers the serial ports without a matching id.
    QStringList all;
    for (const DetectedMeter &m : m_catalogue->detect(true))
        all << m.meterId.toString();
    QVERIFY(all.contains(QStringLiteral("pm100@/dev/ttyS0")));
    QVERIFY(all.contains(QStringLiteral("pm100@/dev/ttyUSB0")));
}

void TestMeterCatalogue::resolvesAndRefuses_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("resolved"); // or, when it starts with '!', part of the error
    QTest::newRow("first found") << "pm100"
                                 << "pm100@" + m_dev + "/usbtmc0";
    QTest::newRow("any case") << "PM100@/dev/ttyACM0"
                              << "pm100@/dev/ttyACM0";
    QTest::newRow("kv930 set") << "virtual"
                               << "virtual";
    QTest::newRow("channel") << "n774x@tcp://127.0.0.1#8"
                             << "n774x@tcp://127.0.0.1:5025#8";
    QTest::newRow("unknown") << "hp8153"
                             << "!No meter driver \"hp8153\"";
    QTest::newRow("wrong transport") << "pm100@tcp://h"
                                     << "!pm100 does not talk over tcp (it takes usbtmc or serial)";
    QTest::newRow("no address taken") << "virtual@/dev/ttyS0"
                                      << "!virtual takes no address";
    QTest::newRow("channel too high") << "n774x@tcp://h#9"
                                      << "!n774x has the channels 1 to 8";
    QTest::newRow("one channel") << "pm100@/dev/ttyACM0#2"
                                 << "!pm100 has one channel only";
    QTest::newRow("nothing found") << "n774x"
                                   << "!No n774x meter found";
}

void TestMeterCatalogue::resolvesAndRefuses()
{
    QFETCH(QString, text);
    QFETCH(QString, resolved);
    MeterId meterId = MeterId::fromString(text);
    QVERIFY(meterId.isValid());
    QString error;
    const bool ok = m_catalogue->resolve(meterId, &error);
    if (resolved.startsWith(QLatin1Char('!'))) {
        QVERIFY(!ok);
        QVERIFY2(error.contains(resolved.mid(1)), qPrintable(error));
    } else {
        QVERIFY2(ok, qPrintable(error));
        QCOMPARE(meterId.toString(), resolved);
    }
}

void TestMeterCatalogue::presenceFollowsTheDevice()
{
    auto present = [this](const QString &text) {
        return m_catalogue->isPresent(MeterId::fromString(text));
    };
    const QString node = m_dev + QStringLiteral("/usbtmc0");
    QVERIFY(present(QStringLiteral("pm100@") + node));
    QVERIFY(present(QStringLiteral("pm100")));
    QVERIFY(!present(QStringLiteral("pm100@/dev/ttyNOSUCH0")));
    QVERIFY(!present(QStringLiteral("nosuchdriver")));
    QVERIFY(present(QStringLiteral("n774x@tcp://127.0.0.1:1")));
    QVERIFY(present(QStringLiteral("virtual")));

    QVERIFY(QFile::rename(node, node + QStringLiteral(".gone")));
    QVERIFY(!present(QStringLiteral("pm100@") + node));
    QVERIFY(QFile::rename(node + QStringLiteral(".gone"), node));
}

void TestMeterCatalogue::watcherSeesNodesComeAndGo()
{
    MeterDeviceWatcher watcher(m_dev);
    QSignalSpy changed(&watcher, &MeterDeviceWatcher::devicesChanged);
    // A node made and removed at once is one change.
    QVERIFY(writeFile(m_dev + QStringLiteral("/ttyACM7"), QByteArray()));
    QVERIFY(QFile::remove(m_dev + QStringLiteral("/ttyACM7")));
    QVERIFY(writeFile(m_dev + QStringLiteral("/usbtmc7"), QByteArray()));
    QTRY_COMPARE(changed.size(), 1);
    QVERIFY(QFile::remove(m_dev + QStringLiteral("/usbtmc7")));
    QTRY_COMPARE(changed.size(), 2);
}

void TestMeterCatalogue::createsMetersThroughThePlugin()
{
    QString error;
    const MeterOptions options;
    QVERIFY(
        !m_catalogue->createMeter(MeterId::fromString(QStringLiteral("virtual")), options, &error));
    QVERIFY2(error.contains(QLatin1String("KV930 driver set")), qPrintable(error));
    QVERIFY(!m_catalogue->createMeter(MeterId::fromString(QStringLiteral("odd@tcp://h")), options,
                                      &error));
    QCOMPARE(error, QStringLiteral("odd makes no meters"));

    // Two meters of one driver at once, each its own object with the signals
    // the program connects by signature.
    auto first = m_catalogue->createMeter(
        MeterId::fromString(QStringLiteral("n774x@tcp://127.0.0.1#1")), options, &error);
    auto second = m_catalogue->createMeter(
        MeterId::fromString(QStringLiteral("n774x@tcp://127.0.0.1#3")), options, &error);
    QVERIFY2(first && second, qPrintable(error));
    QVERIFY(first->object() != second->object());
    QVERIFY(!first->isOpen() && first->identity().isEmpty());
    const QMetaObject *meta = first->object()->metaObject();
    for (const char *signal :
         {"opened()", "closed()", "display(const DmmData*)", "linkLost(QString)"})
        QVERIFY2(meta->indexOfSignal(signal) >= 0, signal);
    QVERIFY(qobject_cast<IMeter *>(second->object()) == second.get());
}

QTEST_GUILESS_MAIN(TestMeterCatalogue)
#include "tst_metercatalogue.moc"
