#pragma once

#include "meterconfig.h"

#include <QDateTime>
#include <QObject>
#include <QVector>

#include <random>

class DmmData;
class QThread;
class QTimer;
class VirtualMeter;

// The simulated instrument: produces live readings and plays back its memory.
// It lives on the GUI thread or, when so configured, on a thread of its own;
// VirtualMeter reaches it only through queued calls and emits its signals.
class MeterEngine : public QObject
{
    Q_OBJECT
public:
    MeterEngine(VirtualMeter *meter, const MeterConfig &config);
    ~MeterEngine() override;

public slots:
    void startLink();
    void stopLink();
    void startTransfer();
    void cancelTransfer();
    void unplugLink();
    void plugLink();
    // Stops every timer and moves the engine to target (called on its thread).
    void shutdown(QThread *target);

private:
    struct StoredRecord
    {
        int number = 0;
        double uW = 0.0;
        QString unit;
        QDateTime meterTime;
    };

    void finishOpening();
    void liveTick();
    void transferTick();
    void stopTimers();
    double nextPowerUW();
    QString unitForReading(int index) const;
    // Applies the null / non-finite / unknown unit faults; may return null.
    DmmData *withFaults(DmmData *reading, int index);
    StoredRecord storedRecord(int index) const;

    VirtualMeter *m_meter;
    MeterConfig m_config;
    QTimer *m_openTimer;
    QTimer *m_liveTimer;
    QTimer *m_transferTimer;
    std::mt19937 m_rng;
    double m_drift = 0.0;
    int m_liveCount = 0;
    int m_faultCount = 0;

    QVector<StoredRecord> m_memory;
    bool m_transferAnnounced = false;
    int m_announced = 0;
    int m_toSend = 0;
    int m_sent = 0;
    bool m_faultFired = false;
};
