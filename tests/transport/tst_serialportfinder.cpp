// The driver kit's port finder on a port list the test controls: converters
// plugged in and pulled out while it watches.
#include "serialportfinder.h"
#include "virtualport.h"

#include <QFileInfo>
#include <QSignalSpy>
#include <QtTest>

class TestSerialPortFinder : public QObject
{
    Q_OBJECT
private slots:
    void findsByVendorAndProduct();
    void pollingReportsPlugAndUnplug();
    void automaticWatchNeedsARunningUdev();
};

void TestSerialPortFinder::findsByVendorAndProduct()
{
    const QList<QSerialPortInfo> ports = {
        virtualUsbPort(QStringLiteral("ttyUSB0"), 0x0403, 0x6001),
        virtualUsbPort(QStringLiteral("ttyUSB1"), 0x1A86, 0x7524),
        virtualUsbPort(QStringLiteral("ttyUSB2"), 0x1A86, 0x7523),
    };
    SerialPortFinder finder([&] { return ports; }, SerialPortFinder::Watch::None);
    QCOMPARE(finder.watch(), SerialPortFinder::Watch::None);

    const QSerialPortInfo converter = finder.findPort(0x1A86, 0x7523);
    QVERIFY(!converter.isNull());
    QCOMPARE(converter.portName(), QStringLiteral("ttyUSB2"));
    QCOMPARE(finder.findPort(0x0403, 0x6001).portName(), QStringLiteral("ttyUSB0"));
    // Both ids must match.
    QVERIFY(finder.findPort(0x1A86, 0x6001).isNull());
    QVERIFY(finder.findPort(0x0403, 0x7523).isNull());
    // A port without USB ids (a built-in serial port) matches nothing.
    SerialPortFinder plain([] { return QList<QSerialPortInfo>{QSerialPortInfo()}; },
                           SerialPortFinder::Watch::None);
    QVERIFY(plain.findPort(0, 0).isNull());
}

void TestSerialPortFinder::pollingReportsPlugAndUnplug()
{
    QList<QSerialPortInfo> ports = {virtualUsbPort(QStringLiteral("ttyS0"), 0x0403, 0x6001)};
    SerialPortFinder finder([&] { return ports; }, SerialPortFinder::Watch::Poll);
    QCOMPARE(finder.watch(), SerialPortFinder::Watch::Poll);
    finder.setPollInterval(20);
    QSignalSpy refreshed(&finder, &SerialPortFinder::usbRefreshed);
    QVERIFY(finder.findPort(0x1A86, 0x7523).isNull());

    // Plugged in: one notice, and the converter is found.
    ports.append(virtualConverterPort(QStringLiteral("ttyUSB0")));
    QTRY_COMPARE(refreshed.count(), 1);
    QCOMPARE(finder.findPort(0x1A86, 0x7523).portName(), QStringLiteral("ttyUSB0"));
    // Nothing changes: no further notice.
    QTest::qWait(100);
    QCOMPARE(refreshed.count(), 1);

    // Pulled out and put into another socket: two changes, two notices.
    ports.removeLast();
    QTRY_COMPARE(refreshed.count(), 2);
    QVERIFY(finder.findPort(0x1A86, 0x7523).isNull());
    ports.append(virtualConverterPort(QStringLiteral("ttyUSB1")));
    QTRY_COMPARE(refreshed.count(), 3);
    QCOMPARE(finder.findPort(0x1A86, 0x7523).portName(), QStringLiteral("ttyUSB1"));
}

void TestSerialPortFinder::automaticWatchNeedsARunningUdev()
{
    SerialPortFinder finder([] { return QList<QSerialPortInfo>(); },
                            SerialPortFinder::Watch::Automatic);
    // Without a udev daemon no event would ever come: the finder polls instead.
    const bool udevRuns = QFileInfo::exists(QStringLiteral("/run/udev/control"));
    QCOMPARE(finder.watch(),
             udevRuns ? SerialPortFinder::Watch::Automatic : SerialPortFinder::Watch::Poll);
}

QTEST_GUILESS_MAIN(TestSerialPortFinder)
#include "tst_serialportfinder.moc"
