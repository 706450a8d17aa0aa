#include "powerstats.h"

#include <algorithm>
#include <cmath>

namespace analysis {

void PowerStats::add(double dBm, double mW, bool hasTime, double hours, bool outside)
{
    ++count;
    if (outside)
        ++outOfLimits;
    minDBm = std::min(minDBm, dBm);
    maxDBm = std::max(maxDBm, dBm);
    sumMW += mW;
    const double delta = dBm - meanDBm;
    meanDBm += delta / double(count);
    m2DBm += delta * (dBm - meanDBm);
    if (hasTime) {
        ++timedCount;
        const double n = double(timedCount);
        const double dh = hours - meanHours;
        meanHours += dh / n;
        meanTimedDBm += (dBm - meanTimedDBm) / n;
        m2Hours += dh * (hours - meanHours);
        // With the mean of the times already moved, dh times the new dBm
        // deviation is the exact update of the co-moment.
        coMomentHDBm += dh * (dBm - meanTimedDBm);
    }
}

void PowerStats::merge(const PowerStats &o)
{
    // Readings left out can still be out of limits (over or under range).
    leftOut += o.leftOut;
    outOfLimits += o.outOfLimits;
    if (o.count == 0)
        return;
    if (count == 0) {
        const qint64 keptLeftOut = leftOut;
        const qint64 keptOutOfLimits = outOfLimits;
        *this = o;
        leftOut = keptLeftOut;
        outOfLimits = keptOutOfLimits;
        return;
    }
    const double na = double(count);
    const double nb = double(o.count);
    const double n = na + nb;
    const double delta = o.meanDBm - meanDBm;
    meanDBm += delta * nb / n;
    m2DBm += o.m2DBm + delta * delta * na * nb / n;
    count += o.count;
    minDBm = std::min(minDBm, o.minDBm);
    maxDBm = std::max(maxDBm, o.maxDBm);
    sumMW += o.sumMW;

    if (o.timedCount == 0)
        return;
    if (timedCount == 0) {
        timedCount = o.timedCount;
        meanHours = o.meanHours;
        meanTimedDBm = o.meanTimedDBm;
        m2Hours = o.m2Hours;
        coMomentHDBm = o.coMomentHDBm;
        return;
    }
    const double ta = double(timedCount);
    const double tb = double(o.timedCount);
    const double t = ta + tb;
    const double dh = o.meanHours - meanHours;
    const double dy = o.meanTimedDBm - meanTimedDBm;
    m2Hours += o.m2Hours + dh * dh * ta * tb / t;
    coMomentHDBm += o.coMomentHDBm + dh * dy * ta * tb / t;
    meanHours += dh * tb / t;
    meanTimedDBm += dy * tb / t;
    timedCount += o.timedCount;
}

double PowerStats::averageDBm() const
{
    return count > 0 ? 10.0 * std::log10(sumMW / double(count)) : std::nan("");
}

double PowerStats::spanDB() const
{
    return count > 0 ? maxDBm - minDBm : std::nan("");
}

double PowerStats::stdDB() const
{
    return count > 1 ? std::sqrt(std::max(0.0, m2DBm) / double(count - 1)) : std::nan("");
}

double PowerStats::driftDBPerHour() const
{
    // Times that all coincide (or hardly differ) give no slope.
    if (timedCount < 2 || !(m2Hours > 0.0))
        return std::nan("");
    return coMomentHDBm / m2Hours;
}

} // namespace analysis
