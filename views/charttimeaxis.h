#pragma once

#include "chartvalues.h"

#include <QtGlobal>

#include <limits>

class ChartSource;

// The time axis of the trend chart: series 0's times (ChartSource::timeKey) in
// its order of points, by which the points of other series are placed.
//
// The axis holds the running maximum of those times, so that it never runs
// backwards: where series 0's clock steps back (a meter's clock set back, an
// imported file out of order), the axis holds still until the clock passes its
// earlier maximum again. A point without a time (NoTime) takes the time before
// it. Appending to series 0 never changes what the axis held, so a position
// once found stays valid while series 0 grows.
class ChartTimeAxis
{
public:
    int size() const { return m_times.size(); }
    // The running maximum of series 0's times up to index i.
    qint64 at(int i) const { return m_times[i]; }
    // Appends the times of the source's points [size(), count).
    void pull(const ChartSource &source, int count);
    void clear();

    // Where time t lies, in series 0's indexes: i where the axis first reaches
    // t exactly, else interpolated between the two points around t by time.
    // -inf when t lies before the axis's first valid time or is NoTime (such a
    // point can never be placed); +inf when it lies after the last time (the
    // point may be placed once series 0 has grown that far). hint is the
    // lower bound found last: times asked in increasing order cost O(1)
    // amortised instead of a binary search each.
    double position(qint64 t, int *hint) const;

private:
    // First index whose time is >= t (size() when none), searched from hint onwards.
    int lowerBound(qint64 t, int hint) const;

    ChunkedArray<qint64, 14> m_times;
    qint64 m_max = std::numeric_limits<qint64>::min();
};

// The points of an overlay series placed on series 0's time axis: one position
// a point (ChartTimeAxis::position of its time), placed in order as far as the
// axis reaches. Positions never decrease, because the overlay's own times are
// taken as their running maximum too (a point whose clock stepped back sits
// where its predecessor sits), so the points of any window of series 0, or of
// any pixel column, are one run of indexes found by a binary search.
class ChartPlacement
{
public:
    // Points placed so far; the rest wait for series 0 to reach their times.
    int placed() const { return m_positions.size(); }
    double at(int j) const { return m_positions[j]; }
    void clear();
    // Places points [placed(), count) of source as far as the axis reaches;
    // asks each point's time once. Returns how many were placed.
    int extend(const ChartSource &source, int count, const ChartTimeAxis &axis);

    // First placed index whose position is >= p (placed() when none), and
    // last placed index whose position is <= p (-1 when none).
    int firstFrom(double p) const;
    int lastUpTo(double p) const;

private:
    ChunkedArray<double, 14> m_positions;
    qint64 m_max = std::numeric_limits<qint64>::min();
    // The time of the first unplaced point once asked, so that a series 0
    // that grew short of it costs no second question.
    qint64 m_waiting = 0;
    bool m_hasWaiting = false;
    int m_hint = 0;
};
