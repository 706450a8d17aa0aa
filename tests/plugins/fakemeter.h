#pragma once

#include "idmm.h"
#include "imydmm.h"
#include "serialdeviceinf.h"
#include "serialrs232virinf.h"

#include <QDateTime>
#include <QObject>

class DmmData;

// A scripted meter for the window's tests. Tests reach it only through
// dmm->object(): they read the call counters as properties and drive the
// signals with QMetaObject::invokeMethod, without linking this library.
class FakeMeter : public QObject,
                  public IDmm,
                  public IMyDmm,
                  public SerialDeviceInf,
                  public SerialRS232VirInf
{
    Q_OBJECT
    Q_PLUGIN_METADATA(IID IDmm_iid)
    Q_INTERFACES(IDmm IMyDmm SerialDeviceInf SerialRS232VirInf)

    Q_PROPERTY(int openCalls READ openCalls)
    Q_PROPERTY(int closeCalls READ closeCalls)
    Q_PROPERTY(int isOpenCalls READ isOpenCalls)
    Q_PROPERTY(int requestStoreCalls READ requestStoreCalls)
    Q_PROPERTY(int cancelStoreCalls READ cancelStoreCalls)
    Q_PROPERTY(int setMeterTimeCalls READ setMeterTimeCalls)
    Q_PROPERTY(int findPortCalls READ findPortCalls)
    Q_PROPERTY(int lastVendorId READ lastVendorId)
    Q_PROPERTY(int lastProductId READ lastProductId)
    Q_PROPERTY(QDateTime lastMeterTime READ lastMeterTime)
    Q_PROPERTY(bool open READ openState)
    Q_PROPERTY(int liveReadings READ liveReadings)

public:
    explicit FakeMeter(QObject *parent = nullptr);

    // IDmm
    QObject *object() override { return this; }
    bool open(SerialDeviceInf *device) override;
    void close() override;
    bool isOpen() override;
    // IMyDmm
    void requestStoreData() override;
    void cancelStoreData() override;
    void setMeterTime(const QDateTime &dt) override;
    // SerialDeviceInf
    bool openPort(const QString &portName) override;
    void closePort() override;
    qint64 write(const QByteArray &data) override;
    // SerialRS232VirInf
    QSerialPortInfo findPort(quint16 vendorId, quint16 productId) override;

    int openCalls() const { return m_openCalls; }
    int closeCalls() const { return m_closeCalls; }
    int isOpenCalls() const { return m_isOpenCalls; }
    int requestStoreCalls() const { return m_requestStoreCalls; }
    int cancelStoreCalls() const { return m_cancelStoreCalls; }
    int setMeterTimeCalls() const { return m_setMeterTimeCalls; }
    int findPortCalls() const { return m_findPortCalls; }
    int lastVendorId() const { return m_lastVendorId; }
    int lastProductId() const { return m_lastProductId; }
    QDateTime lastMeterTime() const { return m_lastMeterTime; }
    bool openState() const { return m_open; }
    // Readings of this library not yet deleted by whoever received them.
    int liveReadings() const;

    Q_INVOKABLE void setOpenResult(bool result) { m_openResult = result; }
    Q_INVOKABLE void setAutoOpened(bool autoOpened) { m_autoOpened = autoOpened; }
    Q_INVOKABLE void setConverterPresent(bool present) { m_converterPresent = present; }
    // From now on requestStoreData() sends this many stored readings, with
    // progress, before it returns (as some drivers do); negative: nothing.
    Q_INVOKABLE void setAnswerInsideRequest(int count) { m_answerInsideRequest = count; }
    Q_INVOKABLE void resetCounters();
    Q_INVOKABLE void emitOpened();
    Q_INVOKABLE void emitClosed();
    Q_INVOKABLE void emitUsbRefreshed();
    Q_INVOKABLE void emitDisplay(const QString &unit, double valueUW, int waveLength,
                                 const QDateTime &dmmTime);
    Q_INVOKABLE void emitDisplayNull();
    Q_INVOKABLE void emitDisplayStore(int storeNo, double valueUW, const QDateTime &dmmTime);
    Q_INVOKABLE void emitDisplayStoreNull();
    Q_INVOKABLE void emitStoreNum(int total, int sent);

signals:
    void opened();
    void closed();
    void display(const DmmData *data);
    void displayStore(const DmmData *data);
    void storeNum(int total, int sent);
    void usbRefreshed();

private:
    bool m_openResult = true;
    bool m_autoOpened = true;
    bool m_converterPresent = true;
    bool m_open = false;
    int m_openCalls = 0;
    int m_closeCalls = 0;
    int m_isOpenCalls = 0;
    int m_requestStoreCalls = 0;
    int m_cancelStoreCalls = 0;
    int m_setMeterTimeCalls = 0;
    int m_findPortCalls = 0;
    int m_answerInsideRequest = -1;
    int m_lastVendorId = -1;
    int m_lastProductId = -1;
    QDateTime m_lastMeterTime;
};
