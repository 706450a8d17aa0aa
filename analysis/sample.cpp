#include "sample.h"

#include <cmath>

namespace analysis {

namespace {
Sample makeSample(double dBm, double mW, quint16 waveLength, int overload,
                  ReadingStore::Unit unit, const WallTime &t)
{
    Sample s;
    s.dBm = dBm;
    s.mW = mW;
    s.waveLength = waveLength;
    s.range = overload > 0 ? 1 : overload < 0 ? -1 : 0;
    s.usable = overload == 0 && unit <= ReadingStore::DBm && std::isfinite(s.dBm) &&
               std::isfinite(s.mW) && s.mW > 0.0;
    switch (t.kind) {
    case WallTime::Null:
        break;
    case WallTime::Local:
    case WallTime::Utc:
        // A local wall clock is taken as it reads: turning it into an instant
        // costs a time-zone lookup per reading, and only the hour when
        // daylight saving changes would come out differently.
        s.timeMs = t.ms;
        s.hasTime = true;
        break;
    case WallTime::Offset:
        s.timeMs = t.ms - qint64(t.offsetSeconds) * 1000;
        s.hasTime = true;
        break;
    }
    return s;
}
} // namespace

Sample sampleAt(const ReadingStore &store, int index)
{
    return makeSample(store.valueDBm(index), store.valueMW(index), store.waveLength(index),
                      store.overload(index), store.unitCode(index), store.shownTime(index));
}

Sample sampleOf(const ReadingStore::Fields &r)
{
    return makeSample(r.values[ReadingStore::DBm], r.values[ReadingStore::MW], r.waveLength,
                      r.overload, r.unit, r.stored ? r.dmmDateTime : r.dateTime);
}

RangeState rangeState(const ReadingStore &store, int index, ReadingStore::Unit chartUnit)
{
    const int overload = store.overload(index);
    if (overload > 0)
        return RangeState::Over;
    if (overload < 0)
        return RangeState::Under;
    if (chartUnit > ReadingStore::DBm)
        return RangeState::NoValue;
    const double v = store.value(index, chartUnit);
    if (std::isnan(v))
        return RangeState::NoValue;
    if (std::isinf(v))
        return v > 0 ? RangeState::Over : RangeState::Under;
    return RangeState::Valid;
}

} // namespace analysis
