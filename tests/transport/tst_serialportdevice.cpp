// The serial link of the driver kit, run against a pseudo-terminal pair: the
// device opens the terminal side by name as it would open /dev/ttyUSB0, and the
// test plays the meter on the other side.
#include "serialportdevice.h"

#include <QSignalSpy>
#include <QtTest>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

namespace {

// Reads from fd until want bytes are there or timeoutMs passed, letting the
// event loop run meanwhile: QSerialPort writes from it.
QByteArray readFrom(int fd, int want, int timeoutMs = 5000)
{
    QByteArray got;
    QElapsedTimer clock;
    clock.start();
    while (got.size() < want && clock.elapsed() < timeoutMs) {
        QCoreApplication::processEvents();
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 20) > 0 && (p.revents & POLLIN)) {
            char buffer[256];
            const ssize_t n = ::read(fd, buffer, sizeof buffer);
            if (n <= 0)
                break;
            got.append(buffer, int(n));
        }
    }
    return got;
}

} // namespace

class TestSerialPortDevice : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void opensAt8N1WithTheChosenRate();
    void bytesTravelBothWays();
    void closeEndsTheLinkQuietly();
    void peerHangUpClosesAndReports();
    void missingPortFailsWithAReason();

private:
    int m_master = -1;
    int m_slave = -1;
    QString m_name;
};

void TestSerialPortDevice::init()
{
    char name[128] = {};
    QVERIFY(::openpty(&m_master, &m_slave, name, nullptr, nullptr) == 0);
    m_name = QString::fromLocal8Bit(name);
    // The terminal side starts cooked; the device must make it raw itself.
    termios cooked{};
    QVERIFY(::tcgetattr(m_slave, &cooked) == 0);
    QVERIFY(cooked.c_lflag & ICANON);
}

void TestSerialPortDevice::cleanup()
{
    if (m_master >= 0)
        ::close(m_master);
    if (m_slave >= 0)
        ::close(m_slave);
    m_master = m_slave = -1;
}

void TestSerialPortDevice::opensAt8N1WithTheChosenRate()
{
    SerialPortDevice device;
    QCOMPARE(device.object(), &device);
    device.setBaudRate(115200);
    QVERIFY2(device.openPort(m_name), qPrintable(device.errorString()));
    QVERIFY(device.isOpen());
    QVERIFY(device.errorString().isEmpty());

    // The settings live in the terminal, so they are seen through our own descriptor.
    termios t{};
    QVERIFY(::tcgetattr(m_slave, &t) == 0);
    QCOMPARE(::cfgetospeed(&t), speed_t(B115200));
    QCOMPARE(::cfgetispeed(&t), speed_t(B115200));
    QCOMPARE(t.c_cflag & CSIZE, tcflag_t(CS8));
    QCOMPARE(t.c_cflag & (PARENB | CSTOPB | CRTSCTS), tcflag_t(0));
    QCOMPARE(t.c_lflag & (ICANON | ECHO), tcflag_t(0));
}

void TestSerialPortDevice::bytesTravelBothWays()
{
    SerialPortDevice device;
    QVERIFY(device.openPort(m_name));
    QByteArray got;
    connect(&device, &SerialPortDevice::received, this, [&got](const QByteArray &d) { got += d; });

    // Every byte value, as a binary meter protocol may send.
    QByteArray all;
    for (int i = 0; i < 256; ++i)
        all.append(char(i));
    QCOMPARE(::write(m_master, all.constData(), size_t(all.size())), ssize_t(all.size()));
    QTRY_COMPARE(got.size(), all.size());
    QCOMPARE(got, all);

    const QByteArray command("\x02READ\r\n\x00\xff", 9);
    QCOMPARE(device.write(command), qint64(command.size()));
    QCOMPARE(readFrom(m_master, command.size()), command);
}

void TestSerialPortDevice::closeEndsTheLinkQuietly()
{
    SerialPortDevice device;
    QVERIFY(device.openPort(m_name));
    QSignalSpy lost(&device, &SerialPortDevice::linkLost);
    device.closePort();
    QVERIFY(!device.isOpen());
    QCOMPARE(device.write("x"), qint64(-1));
    // Data sent after the close reaches nobody, and nothing is reported.
    QSignalSpy received(&device, &SerialPortDevice::received);
    QCOMPARE(::write(m_master, "late", 4), ssize_t(4));
    QTest::qWait(100);
    QCOMPARE(received.count(), 0);
    QCOMPARE(lost.count(), 0);
    // And it opens again.
    QVERIFY(device.openPort(m_name));
    device.closePort();
    device.closePort();
    QCOMPARE(lost.count(), 0);
}

void TestSerialPortDevice::peerHangUpClosesAndReports()
{
    SerialPortDevice device;
    QVERIFY(device.openPort(m_name));
    QSignalSpy received(&device, &SerialPortDevice::received);
    QSignalSpy lost(&device, &SerialPortDevice::linkLost);
    QCOMPARE(::write(m_master, "last", 4), ssize_t(4));
    QTRY_COMPARE(received.count(), 1);

    // The other side goes away, as a converter pulled out of its socket.
    ::close(m_master);
    m_master = -1;
    QTRY_COMPARE(lost.count(), 1);
    QVERIFY(!device.isOpen());
    QVERIFY(lost.at(0).at(0).toString().contains(m_name));
    QCOMPARE(device.errorString(), lost.at(0).at(0).toString());
    QCOMPARE(device.write("x"), qint64(-1));
    // Reported once, and the bytes before the hang-up were delivered.
    QTest::qWait(100);
    QCOMPARE(lost.count(), 1);
    QCOMPARE(received.at(0).at(0).toByteArray(), QByteArray("last"));
}

void TestSerialPortDevice::missingPortFailsWithAReason()
{
    SerialPortDevice device;
    QSignalSpy lost(&device, &SerialPortDevice::linkLost);
    QVERIFY(!device.openPort(QStringLiteral("/dev/kv930-no-such-port")));
    QVERIFY(!device.isOpen());
    QVERIFY(device.errorString().contains(QLatin1String("kv930-no-such-port")));
    QCOMPARE(device.write("x"), qint64(-1));
    QCOMPARE(lost.count(), 0);
}

QTEST_GUILESS_MAIN(TestSerialPortDevice)
#include "tst_serialportdevice.moc"
