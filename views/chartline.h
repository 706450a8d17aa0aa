#pragma once

#include "charttimeaxis.h"
#include "chartvalues.h"

#include <QColor>
#include <QDateTime>
#include <QList>
#include <QObject>
#include <QString>

#include <memory>
#include <vector>

class ChartPoint;
class ChartSource;
class DMMChart;

// One series of the trend chart: its values in arrival order, its colour, and
// the layout figures the chart hands it at every relayout.
//
// The values are copied from a ChartSource into a compact array with a min/max
// pyramid (ChartValues), about 9 bytes a point; times and read-out labels stay
// with the source and are asked for only for the points shown. The source is
// either one the caller attaches (not owned) or the series' own list of
// ChartPoint objects, which append() fills and the series owns.
//
// An overlay series also places its points on series 0's time axis
// (placement()); series 0 itself places nothing.
class ChartLine : public QObject
{
    Q_OBJECT
public:
    explicit ChartLine(DMMChart *chart, const QColor &colour = QColor(250, 150, 0));
    ~ChartLine() override;

    // The series' own points (the pointers, not the points); empty while an
    // attached source feeds the series.
    QList<ChartPoint *> points() const;
    const ChartPoint *pointAt(int index) const;
    // Points held: the values pulled so far.
    int count() const { return m_values.size(); }
    double valueAt(int index) const { return m_values.at(index); }
    // Time and read-out label of a held point, asked of the source; null and
    // empty for an index the series or the source does not hold.
    QDateTime dateTimeAt(int index) const;
    QString labelAt(int index) const;

    // Takes ownership and appends the point to the series' own list. A series
    // fed by an attached source lets go of it first (its values go).
    void append(ChartPoint *point);
    // Deletes the own points, lets go of an attached source, empties the values.
    void clear();

    // Attaches a source (not owned; null returns to the own, empty list) in
    // place of whatever fed the series, and pulls all its values.
    void setSource(const ChartSource *source);
    // The source in use: the attached one or the own point list; never null.
    const ChartSource *source() const { return m_source; }
    bool hasAttachedSource() const;
    // Pulls the values the source has gained since the last pull. A source that
    // holds fewer points than the series is read again from the start.
    // Returns false when the series was rebuilt rather than extended.
    bool pull();
    // Empties the values and pulls every value of the source again.
    void reload();
    // While on, points the source marks as beyond the meter's range, and
    // points without a finite value, are held as no value (out of the range
    // and the line) and listed by direction. Takes effect at the next reload.
    void setMarkOutOfRange(bool on) { m_markOutOfRange = on; }
    // Indexes of the points held as over / under range, ascending.
    const std::vector<int> &overRange() const { return m_overRange; }
    const std::vector<int> &underRange() const { return m_underRange; }

    QColor colour() const { return m_colour; }
    void setColour(const QColor &colour) { m_colour = colour; }
    // The item's name, shown in the legend and the read-out.
    QString name() const { return m_name; }
    void setName(const QString &name) { m_name = name; }
    DMMChart *chart() const { return m_chart; }

    // Positions of the points held on series 0's time axis, in series 0's
    // indexes; forgotten whenever the values are read again.
    const ChartPlacement &placement() const { return m_placement; }
    // Places the held points not yet placed, as far as the axis reaches.
    // Returns the index of the first point placed now, or -1 when none was.
    int place(const ChartTimeAxis &axis);
    // Forgets every position (the axis was built again).
    void unplace() { m_placement.clear(); }

    // Extremes over the chart's visible window as of the last relayout; both always include 0.
    double minimum() const { return m_minimum; }
    double maximum() const { return m_maximum; }
    double xScale() const { return m_xScale; }
    double yScale() const { return m_yScale; }

    // Pixel positions of the visible points, relative to the plot's left edge:
    // x of the k-th visible point is int(k * xScale + 0.5).
    int pixelCount() const { return m_pixelCount; }
    // Index of the first visible point (of pixelCount()) as of the last relayout.
    int visibleFirst() const { return m_visibleFirst; }
    int pixelX(int k) const;

    // Recomputes extremes and pixel positions over the chart's visible window.
    void relayout(double xScale, double yScale);
    // The same over the window [first, last] of this series' own indexes.
    void relayout(double xScale, double yScale, int first, int last);

    // Smallest and largest finite value in [from, to]; false when there is none.
    bool rangeExtremes(int from, int to, double *min, double *max) const;
    // Index of the first / last finite value in [from, to], or -1.
    int firstFinite(int from, int to) const;
    int lastFinite(int from, int to) const;
    // The pyramid itself, for searches of the chart's column walk.
    const ChartValues &values() const { return m_values; }

    // More points than a series can index are not taken.
    static constexpr int MaxPoints = 0x7fff0000;

private:
    class OwnPoints;
    void markOutOfRange(int first, int n, double *run);

    std::unique_ptr<OwnPoints> m_ownPoints;
    const ChartSource *m_source;
    ChartValues m_values;
    bool m_markOutOfRange = false;
    std::vector<int> m_overRange;
    std::vector<int> m_underRange;
    QColor m_colour;
    QString m_name;
    ChartPlacement m_placement;
    double m_minimum = 0.0;
    double m_maximum = 0.0;
    double m_xScale = 0.0;
    double m_yScale = 0.0;
    int m_pixelCount = 0;
    int m_visibleFirst = 0;
    DMMChart *m_chart;
};
