#include "fakemeter.h"

#include "dmmdata.h"
#include "meterreading.h"
#include "virtualport.h"

#include <QTimer>

FakeMeter::FakeMeter(QObject *parent) : QObject(parent) {}

bool FakeMeter::open(SerialDeviceInf *)
{
    ++m_openCalls;
    if (!m_openResult)
        return false;
    // A real link reports itself open later, from the event loop.
    if (m_autoOpened)
        QTimer::singleShot(0, this, &FakeMeter::emitOpened);
    return true;
}

void FakeMeter::close()
{
    ++m_closeCalls;
}

bool FakeMeter::isOpen()
{
    ++m_isOpenCalls;
    return m_open;
}

void FakeMeter::requestStoreData()
{
    ++m_requestStoreCalls;
    if (m_answerInsideRequest < 0)
        return;
    const QDateTime meterTime(QDate(2024, 2, 3), QTime(4, 5));
    emit storeNum(m_answerInsideRequest, 0);
    for (int i = 1; i <= m_answerInsideRequest; ++i) {
        emitDisplayStore(i, double(i), meterTime.addSecs(60 * i));
        emit storeNum(m_answerInsideRequest, i);
    }
}

void FakeMeter::cancelStoreData()
{
    ++m_cancelStoreCalls;
}

void FakeMeter::setMeterTime(const QDateTime &dt)
{
    ++m_setMeterTimeCalls;
    m_lastMeterTime = dt;
}

bool FakeMeter::openPort(const QString &)
{
    return true;
}

void FakeMeter::closePort() {}

qint64 FakeMeter::write(const QByteArray &data)
{
    return data.size();
}

QSerialPortInfo FakeMeter::findPort(quint16 vendorId, quint16 productId)
{
    ++m_findPortCalls;
    m_lastVendorId = vendorId;
    m_lastProductId = productId;
    if (!m_converterPresent || vendorId != kConverterVendorId || productId != kConverterProductId)
        return QSerialPortInfo();
    return virtualConverterPort(QStringLiteral("ttyFAKE0"));
}

int FakeMeter::liveReadings() const
{
    return DmmData::liveInstances();
}

void FakeMeter::resetCounters()
{
    m_openCalls = m_closeCalls = m_isOpenCalls = 0;
    m_requestStoreCalls = m_cancelStoreCalls = m_setMeterTimeCalls = m_findPortCalls = 0;
    m_lastVendorId = m_lastProductId = -1;
    m_answerInsideRequest = -1;
    m_lastMeterTime = QDateTime();
}

void FakeMeter::emitOpened()
{
    m_open = true;
    emit opened();
}

void FakeMeter::emitClosed()
{
    m_open = false;
    emit closed();
}

void FakeMeter::emitUsbRefreshed()
{
    emit usbRefreshed();
}

void FakeMeter::emitDisplay(const QString &unit, double valueUW, int waveLength,
                            const QDateTime &dmmTime)
{
    emit display(
        makeReading(valueUW, unit, quint16(waveLength), QDateTime::currentDateTime(), dmmTime));
}

void FakeMeter::emitDisplayNull()
{
    emit display(nullptr);
}

void FakeMeter::emitDisplayStore(int storeNo, double valueUW, const QDateTime &dmmTime)
{
    // Like a driver receiving the record now: the computer's clock beside the meter's.
    DmmData *reading = makeStoredReading(storeNo, valueUW, QStringLiteral("dBm"), 1550, dmmTime);
    reading->setDateTime(QDateTime::currentDateTime());
    emit displayStore(reading);
}

void FakeMeter::emitDisplayStoreNull()
{
    emit displayStore(nullptr);
}

void FakeMeter::emitStoreNum(int total, int sent)
{
    emit storeNum(total, sent);
}
