#pragma once

#include <QDateTime>
#include <QString>

#include <limits>

// Where a chart series takes its points from, asked by index (0 = oldest).
//
// The chart copies each point's value once into a compact array of its own
// (8 bytes a point plus its extremes summary) and asks for times and read-out
// labels only for the few points it shows: the axis labels and the hover
// read-out. A source therefore need not keep any per-point object.
//
// Contract:
// - value(i) is the point's value in the chart's unit; a non-finite value
//   (a dBm of no power is -inf) is held but takes no part in the range or the
//   line, and its label can still be read out.
// - Points are only ever appended. A source whose points change in any other
//   way (another unit, another item, emptied) tells the chart with
//   DMMChart::sourceReset before the chart paints again.
// - Called on the GUI thread only, and only while attached to a chart.
class ChartSource
{
public:
    virtual ~ChartSource();

    virtual int count() const = 0;
    virtual double value(int index) const = 0;
    // Time of the point, shown below the axis and in the read-out.
    virtual QDateTime dateTime(int index) const = 0;
    // Read-out text of the point, shown after its time.
    virtual QString label(int index) const = 0;
    // Whether the point is a reading beyond the meter's range: +1 over range,
    // -1 under range, 0 a valid reading (the default). Asked only while the
    // chart leaves such readings out of its range (DMMChart::setValidRangeOnly).
    virtual int rangeMark(int index) const;

    // Writes the values of points [from, from + n) to out; the chart pulls
    // values in runs through this. The default asks value() for each point;
    // a source holding its values in an array may copy them instead.
    virtual void values(int from, int n, double *out) const;

    // The point's time as the wall clock it shows: milliseconds since
    // 1970-01-01 00:00 with the date and time read as if they were UTC, so
    // that points of several sources line up by the times their labels show.
    // NoTime for a point without a valid time. Asked once per point, and
    // only while the chart lines up several series by time (overlays). The
    // default derives it from dateTime(); a source of many points whose
    // times are kept as numbers returns them instead, because building a
    // local QDateTime costs a time-zone lookup.
    static constexpr qint64 NoTime = std::numeric_limits<qint64>::min();
    virtual qint64 timeKey(int index) const;
};
