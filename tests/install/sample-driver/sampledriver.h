#pragma once

#include "dmmdata.h"
#include "idmm.h"
#include "imydmm.h"
#include "serialdeviceinf.h"
#include "serialportdevice.h"
#include "serialportfinder.h"
#include "serialrs232virinf.h"

#include <QObject>

// The smallest driver offering all four interfaces; its serial side is the
// kit's transport (Kv930::Serial). It tells the install test
// what the program did with it: when KV930_SAMPLE_DRIVER_LOG names a file, every
// call is appended there as a line, and the driver closes the program's window
// soon after start-up so the program ends by its normal path.
class SampleDriver : public QObject,
                     public IDmm,
                     public IMyDmm,
                     public SerialDeviceInf,
                     public SerialRS232VirInf
{
    Q_OBJECT
    Q_PLUGIN_METADATA(IID "com.kv930.SampleDriver")
    Q_INTERFACES(IDmm IMyDmm SerialDeviceInf SerialRS232VirInf)
public:
    SampleDriver();

    QObject *object() override { return this; }

    bool open(SerialDeviceInf *device) override;
    void close() override;
    bool isOpen() override { return m_open; }

    void requestStoreData() override;
    void cancelStoreData() override;
    void setMeterTime(const QDateTime &dt) override;

    bool openPort(const QString &portName) override;
    void closePort() override;
    qint64 write(const QByteArray &data) override;

    QSerialPortInfo findPort(quint16 vendorId, quint16 productId) override;

signals:
    void opened();
    void closed();
    void display(const DmmData *data);
    void displayStore(const DmmData *data);
    void storeNum(int total, int num);
    void usbRefreshed();

private:
    void log(const QString &line);
    void finish();

    bool m_open = false;
    int m_finishAttempts = 0;
    SerialPortDevice m_port;
    SerialPortFinder m_finder;
};
