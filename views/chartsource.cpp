#include "chartsource.h"

ChartSource::~ChartSource() = default;

void ChartSource::values(int from, int n, double *out) const
{
    for (int i = 0; i < n; ++i)
        out[i] = value(from + i);
}

int ChartSource::rangeMark(int) const
{
    return 0;
}

qint64 ChartSource::timeKey(int index) const
{
    const QDateTime time = dateTime(index);
    if (!time.isValid())
        return NoTime;
    // Julian day 2440588 is 1970-01-01; date() and time() read the wall clock
    // the QDateTime holds without converting it to an instant.
    constexpr qint64 MsPerDay = 86400000;
    return (time.date().toJulianDay() - 2440588) * MsPerDay + time.time().msecsSinceStartOfDay();
}
