#pragma once

#include "idmm.h"
#include "imydmm.h"
#include "meterconfig.h"
#include "serialdeviceinf.h"
#include "serialrs232virinf.h"

#include <QDateTime>
#include <QObject>

#include <atomic>
#include <memory>

class DmmData;
class MeterEngine;
class QThread;

// A virtual KV930 offering all four driver interfaces. It opens and closes like
// the meter (opened()/closed() follow later from the event loop), emits live
// readings while open, plays back a few hundred stored readings on request,
// keeps a settable clock and can be unplugged and plugged again.
class VirtualMeter : public QObject,
                     public IDmm,
                     public IMyDmm,
                     public SerialDeviceInf,
                     public SerialRS232VirInf
{
    Q_OBJECT
    Q_PLUGIN_METADATA(IID IDmm_iid FILE "virtualmeter.json")
    Q_INTERFACES(IDmm IMyDmm SerialDeviceInf SerialRS232VirInf)

    Q_PROPERTY(bool plugged READ plugged)
    Q_PROPERTY(bool threaded READ threaded)
    Q_PROPERTY(int storedCount READ storedCount)
    Q_PROPERTY(int liveReadings READ liveReadings)
    Q_PROPERTY(QDateTime meterTime READ meterTime)
    Q_PROPERTY(QString settingsFile READ settingsFile)

public:
    explicit VirtualMeter(QObject *parent = nullptr);
    ~VirtualMeter() override;

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

    bool plugged() const { return m_plugged.load(); }
    bool threaded() const { return m_config.threaded; }
    int storedCount() const { return m_config.storedCount; }
    // Readings made by this plugin that nobody has deleted yet.
    int liveReadings() const;
    // The meter's clock (the computer's clock plus what setMeterTime moved it by).
    QDateTime meterTime() const;
    QString settingsFile() const { return m_settingsFile; }

    // Pulls the converter out: the link closes and the port list changes.
    Q_INVOKABLE void unplug();
    Q_INVOKABLE void plug();

    // Used by the engine, on whichever thread it runs.
    void setOpenState(bool open) { m_open.store(open); }
    void setPluggedState(bool plugged) { m_plugged.store(plugged); }

signals:
    void opened();
    void closed();
    void display(const DmmData *data);
    void displayStore(const DmmData *data);
    void storeNum(int total, int sent);
    void usbRefreshed();

private:
    void ensureEngine();
    void post(const char *slot);

    MeterConfig m_config;
    QString m_settingsFile;
    std::atomic<bool> m_open{false};
    std::atomic<bool> m_plugged{true};
    std::atomic<qint64> m_clockOffsetMs{0};
    QString m_portName;
    std::unique_ptr<QThread> m_thread;
    MeterEngine *m_engine = nullptr; // owned
};
