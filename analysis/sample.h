#pragma once

#include "readingstore.h"

#include <QtGlobal>

namespace analysis {

// One reading as the figures see it: its power, when it was taken and at
// which wavelength.
struct Sample
{
    double dBm = 0.0;
    double mW = 0.0;
    // Milliseconds on one time line (UTC and fixed-offset times as instants,
    // local times as their wall clock); only when hasTime.
    qint64 timeMs = 0;
    bool hasTime = false;
    quint16 waveLength = 0;
    // A power that can be counted: not over or under range, shown in a known
    // unit, finite in dBm and mW and above 0 mW. Other readings are left out of
    // every figure and counted apart.
    bool usable = false;
    // 1 over range, -1 under range, 0 otherwise. Such a reading has no power
    // to count, but it still lies above or below every limit (judge.h).
    int range = 0;
};

// The reading at index (in [0, store.size())). The time is the one the table
// and the chart show: the meter's for stored readings.
Sample sampleAt(const ReadingStore &store, int index);
// The same for a reading read out of a store.
Sample sampleOf(const ReadingStore::Fields &reading);

// Where a reading belongs on a vertical axis that keeps to valid readings, for
// the value in a chart unit: Over for over range or +inf, Under for under
// range or -inf, NoValue for NaN or a unit without values.
enum class RangeState
{
    Valid,
    Over,
    Under,
    NoValue
};
RangeState rangeState(const ReadingStore &store, int index, ReadingStore::Unit chartUnit);

} // namespace analysis
