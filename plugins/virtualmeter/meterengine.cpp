#include "meterengine.h"

#include "dmmdata.h"
#include "meterreading.h"
#include "virtualmeter.h"

#include <QTimer>

#include <algorithm>
#include <cmath>
#include <limits>

MeterEngine::MeterEngine(VirtualMeter *meter, const MeterConfig &config)
    : m_meter(meter), m_config(config), m_openTimer(new QTimer(this)),
      m_liveTimer(new QTimer(this)), m_transferTimer(new QTimer(this)),
      m_rng(std::random_device{}())
{
    m_openTimer->setSingleShot(true);
    connect(m_openTimer, &QTimer::timeout, this, &MeterEngine::finishOpening);
    m_liveTimer->setTimerType(Qt::PreciseTimer);
    m_liveTimer->setInterval(std::max(1, int(std::lround(1000.0 / m_config.rate))));
    connect(m_liveTimer, &QTimer::timeout, this, &MeterEngine::liveTick);
    m_transferTimer->setInterval(m_config.burstIntervalMs);
    connect(m_transferTimer, &QTimer::timeout, this, &MeterEngine::transferTick);

    // The memory holds one reading a minute up to now, from a fixed seed so
    // that every download of one session shows the same records.
    std::mt19937 memoryRng(930);
    std::normal_distribution<double> noise(0.0, 0.05);
    std::uniform_real_distribution<double> chance(0.0, 1.0);
    const QDateTime last = toMeterMinute(m_meter->meterTime());
    const int count = m_config.storedCount;
    m_memory.reserve(count);
    for (int i = 0; i < count; ++i) {
        StoredRecord r;
        r.number = i + 1;
        const double dBm = m_config.powerDBm + 0.3 * std::sin(i / 40.0) + noise(memoryRng);
        r.uW = 1000.0 * std::pow(10.0, dBm / 10.0);
        if (chance(memoryRng) < m_config.rangeEventChance)
            r.uW = chance(memoryRng) < 0.5 ? kOverRangeUW * 10.0 : kUnderRangeUW / 10.0;
        r.unit = unitForReading(i);
        r.meterTime = last.addSecs(-60 * qint64(count - 1 - i));
        m_memory.append(r);
    }
}

MeterEngine::~MeterEngine() = default;

void MeterEngine::startLink()
{
    if (!m_meter->plugged())
        return;
    m_openTimer->start(m_config.openDelayMs);
}

void MeterEngine::finishOpening()
{
    if (!m_meter->plugged())
        return;
    m_meter->setOpenState(true);
    emit m_meter->opened();
    if (!m_liveTimer->isActive())
        m_liveTimer->start();
}

void MeterEngine::stopTimers()
{
    m_openTimer->stop();
    m_liveTimer->stop();
    m_transferTimer->stop();
}

void MeterEngine::shutdown(QThread *target)
{
    stopTimers();
    m_meter->setOpenState(false);
    moveToThread(target);
}

void MeterEngine::stopLink()
{
    const bool wasBusy = m_meter->isOpen() || m_openTimer->isActive();
    stopTimers();
    m_meter->setOpenState(false);
    if (wasBusy)
        emit m_meter->closed();
}

void MeterEngine::unplugLink()
{
    m_meter->setPluggedState(false);
    stopLink();
    emit m_meter->usbRefreshed();
}

void MeterEngine::plugLink()
{
    m_meter->setPluggedState(true);
    emit m_meter->usbRefreshed();
}

double MeterEngine::nextPowerUW()
{
    std::normal_distribution<double> step(0.0, 0.01);
    std::normal_distribution<double> noise(0.0, 0.02);
    std::uniform_real_distribution<double> chance(0.0, 1.0);
    m_drift = std::clamp(m_drift * 0.995 + step(m_rng), -0.5, 0.5);
    if (chance(m_rng) < m_config.rangeEventChance)
        return chance(m_rng) < 0.5 ? kOverRangeUW * 10.0 : kUnderRangeUW / 10.0;
    const double dBm = m_config.powerDBm + m_drift + noise(m_rng);
    return 1000.0 * std::pow(10.0, dBm / 10.0);
}

QString MeterEngine::unitForReading(int index) const
{
    if (m_config.unit != QLatin1String("cycle"))
        return m_config.unit;
    static const char *const units[] = {"uW", "mW", "dBm"};
    return QLatin1String(units[(index / 10) % 3]);
}

DmmData *MeterEngine::withFaults(DmmData *reading, int n)
{
    if (m_config.nullEvery > 0 && n % m_config.nullEvery == 0) {
        delete reading;
        return nullptr;
    }
    if (m_config.nonFiniteEvery > 0 && n % m_config.nonFiniteEvery == 0) {
        const int kind = (n / m_config.nonFiniteEvery) % 3;
        const double uW = kind == 0   ? std::numeric_limits<double>::quiet_NaN()
                          : kind == 1 ? std::numeric_limits<double>::infinity()
                                      : -std::numeric_limits<double>::infinity();
        const double mW = uW / 1000.0;
        const double dBm = 10.0 * std::log10(mW);
        reading->setValueUW(uW);
        reading->setValueMW(mW);
        reading->setValueDBm(dBm);
        reading->setTextUW(QString::number(uW));
        reading->setTextMW(QString::number(mW));
        reading->setTextDBm(QString::number(dBm));
    }
    if (m_config.unknownUnitEvery > 0 && n % m_config.unknownUnitEvery == 0)
        reading->setUnit(QStringLiteral("W"));
    return reading;
}

void MeterEngine::liveTick()
{
    if (!m_meter->isOpen())
        return;
    const int index = m_liveCount++;
    DmmData *reading =
        makeReading(nextPowerUW(), unitForReading(index), quint16(m_config.waveLength),
                    QDateTime::currentDateTime(), toMeterMinute(m_meter->meterTime()));
    emit m_meter->display(withFaults(reading, index + 1));
}

MeterEngine::StoredRecord MeterEngine::storedRecord(int index) const
{
    if (index < m_memory.size())
        return m_memory.at(index);
    // Beyond the announced memory (fault injection): more of the same.
    StoredRecord r = m_memory.isEmpty() ? StoredRecord() : m_memory.last();
    r.number = index + 1;
    if (m_memory.isEmpty()) {
        r.uW = 1000.0 * std::pow(10.0, m_config.powerDBm / 10.0);
        r.unit = unitForReading(index);
        r.meterTime = toMeterMinute(m_meter->meterTime());
    }
    r.meterTime = r.meterTime.addSecs(60 * qint64(index + 1 - m_memory.size()));
    return r;
}

void MeterEngine::startTransfer()
{
    if (!m_meter->isOpen())
        return;
    m_transferAnnounced = false;
    m_faultFired = false;
    m_sent = 0;
    m_announced = m_memory.size() + m_config.announceExtra;
    m_toSend = m_memory.size() + m_config.sendExtra;
    m_transferTimer->start();
}

void MeterEngine::cancelTransfer()
{
    m_transferTimer->stop();
}

void MeterEngine::transferTick()
{
    if (!m_meter->isOpen()) {
        m_transferTimer->stop();
        return;
    }
    // The total comes first, in a tick of its own, as the meter answers the
    // request before it starts sending.
    if (!m_transferAnnounced) {
        m_transferAnnounced = true;
        emit m_meter->storeNum(m_announced, 0);
        if (m_toSend == 0)
            m_transferTimer->stop();
        return;
    }

    const bool midFault = m_config.unplugMidDownload || m_config.stopMidTransfer;
    for (int burst = 0; burst < m_config.burstSize && m_sent < m_toSend; ++burst) {
        if (midFault && !m_faultFired && m_sent > 0 && m_sent >= m_toSend / 2) {
            m_faultFired = true;
            emit m_meter->storeNum(m_announced, m_sent);
            m_transferTimer->stop();
            if (m_config.unplugMidDownload)
                unplugLink();
            return;
        }
        const StoredRecord r = storedRecord(m_sent);
        DmmData *reading =
            makeStoredReading(r.number, r.uW, r.unit, quint16(m_config.waveLength), r.meterTime);
        ++m_sent;
        emit m_meter->displayStore(withFaults(reading, m_sent));
    }
    emit m_meter->storeNum(m_announced, m_sent);
    if (m_sent >= m_toSend)
        m_transferTimer->stop();
}
