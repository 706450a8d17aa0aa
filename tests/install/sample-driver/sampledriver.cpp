#include "sampledriver.h"

#include <QApplication>
#include <QFile>
#include <QTimer>
#include <QWidget>

#include <cmath>

SampleDriver::SampleDriver()
{
    log(QStringLiteral("loaded %1").arg(QCoreApplication::applicationDirPath()));
    connect(&m_finder, &SerialPortFinder::usbRefreshed, this, &SampleDriver::usbRefreshed);
    m_port.setBaudRate(9600);
    // Once the window is up: one live reading for the program to take over,
    // then the window is closed as a user would close it.
    QTimer::singleShot(300, this, [this] {
        auto *reading = new DmmData;
        reading->setDateTime(QDateTime::currentDateTime());
        reading->setDmmDateTime(QDateTime::currentDateTime());
        reading->setValueUW(501.2);
        reading->setValueMW(0.5012);
        reading->setValueDBm(10 * std::log10(0.5012));
        reading->setTextUW(QStringLiteral("501.2"));
        reading->setTextMW(QStringLiteral("0.501"));
        reading->setTextDBm(QStringLiteral("-3.00"));
        reading->setUnit(QStringLiteral("dBm"));
        reading->setWaveLength(1550);
        log(QStringLiteral("display"));
        emit display(reading);
    });
    QTimer::singleShot(600, this, [this] { finish(); });
}

void SampleDriver::log(const QString &line)
{
    const QString path = qEnvironmentVariable("KV930_SAMPLE_DRIVER_LOG");
    if (path.isEmpty())
        return;
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text))
        file.write(line.toUtf8() + '\n');
}

void SampleDriver::finish()
{
    int visible = 0;
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        if (widget->isVisible()) {
            ++visible;
            widget->close();
        }
    }
    if (visible > 0) {
        log(QStringLiteral("closed windows %1").arg(visible));
        return;
    }
    // A slow machine may not show the window yet: look again a little later,
    // and give up with an exit code of our own rather than hang the test.
    if (++m_finishAttempts < 50) {
        QTimer::singleShot(200, this, [this] { finish(); });
        return;
    }
    log(QStringLiteral("no window to close"));
    QCoreApplication::exit(3);
}

bool SampleDriver::open(SerialDeviceInf *device)
{
    log(QStringLiteral("open"));
    m_open = device != nullptr;
    if (m_open)
        QTimer::singleShot(0, this, &SampleDriver::opened);
    return m_open;
}

void SampleDriver::close()
{
    log(QStringLiteral("close"));
    if (m_open) {
        m_open = false;
        QTimer::singleShot(0, this, &SampleDriver::closed);
    }
}

void SampleDriver::requestStoreData()
{
    log(QStringLiteral("requestStoreData"));
    emit storeNum(0, 0);
}

void SampleDriver::cancelStoreData()
{
    log(QStringLiteral("cancelStoreData"));
}

void SampleDriver::setMeterTime(const QDateTime &dt)
{
    log(QStringLiteral("setMeterTime %1").arg(dt.toString(Qt::ISODate)));
}

bool SampleDriver::openPort(const QString &portName)
{
    log(QStringLiteral("openPort %1").arg(portName));
    return m_port.openPort(portName);
}

void SampleDriver::closePort()
{
    log(QStringLiteral("closePort"));
    m_port.closePort();
}

qint64 SampleDriver::write(const QByteArray &data)
{
    return m_port.write(data);
}

QSerialPortInfo SampleDriver::findPort(quint16 vendorId, quint16 productId)
{
    log(QStringLiteral("findPort %1 %2")
            .arg(vendorId, 4, 16, QLatin1Char('0'))
            .arg(productId, 4, 16, QLatin1Char('0')));
    // Without the converter plugged in the program keeps Connect disabled.
    return m_finder.findPort(vendorId, productId);
}
