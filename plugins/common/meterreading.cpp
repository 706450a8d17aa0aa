#include "meterreading.h"

#include "dmmdata.h"

#include <QtMath>

#include <cmath>
#include <limits>

QString overRangeText()
{
    return QStringLiteral("    OL");
}

QString underRangeText()
{
    return QStringLiteral("   -OL");
}

static QString fourDigits(double v)
{
    if (!std::isfinite(v))
        return QString::number(v);
    const double a = std::fabs(v);
    int decimals = 3;
    if (a >= 1000.0)
        decimals = 0;
    else if (a >= 100.0)
        decimals = 1;
    else if (a >= 10.0)
        decimals = 2;
    return QString::number(v, 'f', decimals);
}

QString formatUW(double uW)
{
    return fourDigits(uW);
}

QString formatMW(double mW)
{
    // Below 1 uW the meter would need more digits than it has: it keeps three
    // decimals, as in "0.000".
    return fourDigits(mW);
}

QString formatDBm(double dBm)
{
    if (!std::isfinite(dBm))
        return QString::number(dBm);
    return QString::number(dBm, 'f', 2);
}

int rangeState(double uW)
{
    if (uW > kOverRangeUW)
        return 1;
    if (uW < kUnderRangeUW)
        return -1;
    return 0;
}

// The power in all three units, and the display texts for its range state.
static void setPower(DmmData *d, double uW, int range)
{
    const double mW = uW / 1000.0;
    const double dBm = 10.0 * std::log10(mW);
    d->setValueUW(uW);
    d->setValueMW(mW);
    d->setValueDBm(dBm);
    d->setOverload(range);
    if (range == 0) {
        d->setTextUW(formatUW(uW));
        d->setTextMW(formatMW(mW));
        d->setTextDBm(formatDBm(dBm));
    } else {
        const QString text = range > 0 ? overRangeText() : underRangeText();
        d->setTextUW(text);
        d->setTextMW(text);
        d->setTextDBm(text);
    }
}

DmmData *makeReading(double uW, const QString &unit, quint16 waveLength, const QDateTime &dateTime,
                     const QDateTime &dmmDateTime)
{
    auto *d = new DmmData;
    const int range = std::isfinite(uW) ? rangeState(uW) : 0;
    double value = uW;
    if (range > 0)
        value = kOverRangeUW;
    else if (range < 0)
        value = kUnderRangeUW;
    setPower(d, value, range);
    d->setUnit(unit);
    d->setWaveLength(waveLength);
    d->setDateTime(dateTime);
    d->setDmmDateTime(dmmDateTime);
    return d;
}

DmmData *makeWattReading(double watts, int overload, const QString &unit, quint16 waveLength,
                         const QDateTime &dateTime)
{
    auto *d = new DmmData;
    if (overload == 0 && std::isfinite(watts) && watts > 0.0) {
        setPower(d, watts * 1e6, 0);
    } else {
        // A power of zero or less is below what the meter can tell.
        const int range = overload != 0 ? (overload < 0 ? -1 : 1) : (std::isfinite(watts) ? -1 : 1);
        setPower(d, std::numeric_limits<double>::quiet_NaN(), range);
    }
    d->setUnit(unit);
    d->setWaveLength(waveLength);
    d->setDateTime(dateTime);
    return d;
}

DmmData *makeStoredReading(int storeNo, double uW, const QString &unit, quint16 waveLength,
                           const QDateTime &dmmDateTime)
{
    DmmData *d = makeReading(uW, unit, waveLength, dmmDateTime, dmmDateTime);
    d->setStored(true);
    d->setStoreNo(storeNo);
    return d;
}

QDateTime toMeterMinute(const QDateTime &dt)
{
    if (!dt.isValid())
        return dt;
    QDateTime m = dt;
    m.setTime(QTime(dt.time().hour(), dt.time().minute()));
    return m;
}
