#include "charttimeaxis.h"

#include "chartsource.h"

#include <algorithm>
#include <cmath>

namespace {
// First index in [lo, hi) where before(i) is false; before holds on a prefix.
template <typename Before> int partitionPoint(int lo, int hi, Before before)
{
    while (lo < hi) {
        const int mid = lo + (hi - lo) / 2;
        if (before(mid))
            lo = mid + 1;
        else
            hi = mid;
    }
    return lo;
}
} // namespace

void ChartTimeAxis::pull(const ChartSource &source, int count)
{
    for (int i = size(); i < count; ++i) {
        m_max = std::max(m_max, source.timeKey(i)); // NoTime is the smallest time
        m_times.push_back(m_max);
    }
}

void ChartTimeAxis::clear()
{
    m_times.clear();
    m_max = ChartSource::NoTime;
}

int ChartTimeAxis::lowerBound(qint64 t, int hint) const
{
    int lo = 0;
    int hi = size();
    if (hint > 0 && hint <= hi && at(hint - 1) < t) {
        // Gallop forward from the last answer: steps of 1, 2, 4, ... until a
        // time reaches t, then search the last step only.
        lo = hint;
        for (int step = 1; lo < hi && at(lo) < t; step *= 2) {
            const int probe = std::min(lo + step, hi - 1);
            if (at(probe) < t) {
                lo = probe + 1;
            } else {
                hi = probe;
                break;
            }
        }
    }
    return partitionPoint(lo, hi, [&](int i) { return at(i) < t; });
}

double ChartTimeAxis::position(qint64 t, int *hint) const
{
    if (t == ChartSource::NoTime)
        return -HUGE_VAL;
    const int n = size();
    if (n == 0 || t > at(n - 1))
        return HUGE_VAL;
    const int lo = lowerBound(t, *hint);
    *hint = lo;
    if (at(lo) == t)
        return lo;
    // at(lo) > t: before the first point, or before the first valid time.
    if (lo == 0 || at(lo - 1) == ChartSource::NoTime)
        return -HUGE_VAL;
    // In double: two far-apart times may not have a difference in qint64.
    const double a = double(at(lo - 1));
    const double fraction = (double(t) - a) / (double(at(lo)) - a);
    return (lo - 1) + std::clamp(fraction, 0.0, 1.0);
}

void ChartPlacement::clear()
{
    m_positions.clear();
    m_max = ChartSource::NoTime;
    m_hasWaiting = false;
    m_hint = 0;
}

int ChartPlacement::extend(const ChartSource &source, int count, const ChartTimeAxis &axis)
{
    const int before = placed();
    while (placed() < count) {
        const qint64 t = m_hasWaiting ? m_waiting : std::max(m_max, source.timeKey(placed()));
        const double p = axis.position(t, &m_hint);
        if (p == HUGE_VAL) {
            m_waiting = t;
            m_hasWaiting = true;
            break;
        }
        m_hasWaiting = false;
        m_max = t;
        m_positions.push_back(p);
    }
    return placed() - before;
}

int ChartPlacement::firstFrom(double p) const
{
    return partitionPoint(0, placed(), [&](int j) { return at(j) < p; });
}

int ChartPlacement::lastUpTo(double p) const
{
    return partitionPoint(0, placed(), [&](int j) { return at(j) <= p; }) - 1;
}
