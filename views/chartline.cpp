#include "chartline.h"

#include "chartpoint.h"
#include "chartsource.h"
#include "dmmchart.h"

#include <algorithm>
#include <cmath>
#include <limits>

// The series' own points, for callers that hand over ChartPoint objects.
class ChartLine::OwnPoints : public ChartSource
{
public:
    ~OwnPoints() override { qDeleteAll(points); }
    int count() const override { return points.size(); }
    double value(int index) const override { return points.at(index)->value(); }
    QDateTime dateTime(int index) const override { return points.at(index)->dateTime(); }
    QString label(int index) const override { return points.at(index)->label().toString(); }

    QList<ChartPoint *> points;
};

ChartLine::ChartLine(DMMChart *chart, const QColor &colour)
    : QObject(chart), m_ownPoints(std::make_unique<OwnPoints>()), m_source(m_ownPoints.get()),
      m_colour(colour), m_chart(chart)
{
}

ChartLine::~ChartLine() = default;

QList<ChartPoint *> ChartLine::points() const
{
    return m_ownPoints->points;
}

const ChartPoint *ChartLine::pointAt(int index) const
{
    const QList<ChartPoint *> &points = m_ownPoints->points;
    return index >= 0 && index < points.size() ? points.at(index) : nullptr;
}

QDateTime ChartLine::dateTimeAt(int index) const
{
    if (index < 0 || index >= count() || index >= m_source->count())
        return QDateTime();
    return m_source->dateTime(index);
}

QString ChartLine::labelAt(int index) const
{
    if (index < 0 || index >= count() || index >= m_source->count())
        return QString();
    return m_source->label(index);
}

void ChartLine::append(ChartPoint *point)
{
    if (!point)
        return;
    if (hasAttachedSource()) {
        m_source = m_ownPoints.get();
        m_values.clear();
    }
    if (count() >= MaxPoints) {
        delete point; // ownership was handed over; do not leak it
        return;
    }
    m_ownPoints->points.append(point);
    m_values.append(point->value());
}

void ChartLine::clear()
{
    qDeleteAll(m_ownPoints->points);
    m_ownPoints->points.clear();
    m_source = m_ownPoints.get();
    m_values.clear();
    m_overRange.clear();
    m_underRange.clear();
    m_placement.clear();
    m_pixelCount = 0;
}

void ChartLine::setSource(const ChartSource *source)
{
    clear();
    if (source)
        m_source = source;
    pull();
}

bool ChartLine::hasAttachedSource() const
{
    return m_source != m_ownPoints.get();
}

bool ChartLine::pull()
{
    const int available = std::min(m_source->count(), MaxPoints);
    if (available < count()) {
        reload();
        return false;
    }
    // Runs of values go straight into the array's chunks.
    for (int held = count(); held < available;) {
        int room = 0;
        double *run = m_values.tail(&room);
        const int n = std::min(room, available - held);
        m_source->values(held, n, run);
        if (m_markOutOfRange)
            markOutOfRange(held, n, run);
        m_values.commit(n);
        held += n;
    }
    return true;
}

void ChartLine::markOutOfRange(int first, int n, double *run)
{
    for (int j = 0; j < n; ++j) {
        const double v = run[j];
        int mark = m_source->rangeMark(first + j);
        if (mark == 0 && std::isinf(v))
            mark = v > 0 ? 1 : -1;
        if (mark != 0 || std::isnan(v))
            run[j] = std::numeric_limits<double>::quiet_NaN();
        if (mark > 0)
            m_overRange.push_back(first + j);
        else if (mark < 0)
            m_underRange.push_back(first + j);
    }
}

void ChartLine::reload()
{
    m_values.clear();
    m_overRange.clear();
    m_underRange.clear();
    m_placement.clear();
    m_pixelCount = 0;
    pull();
}

int ChartLine::place(const ChartTimeAxis &axis)
{
    const int first = m_placement.placed();
    return m_placement.extend(*m_source, count(), axis) > 0 ? first : -1;
}

int ChartLine::pixelX(int k) const
{
    return int(k * m_xScale + 0.5);
}

void ChartLine::relayout(double xScale, double yScale)
{
    relayout(xScale, yScale, m_chart ? m_chart->firstVisible() : 0,
             m_chart ? m_chart->lastVisible() : -1);
}

void ChartLine::relayout(double xScale, double yScale, int first, int last)
{
    m_xScale = xScale;
    m_yScale = yScale;
    m_minimum = 0.0;
    m_maximum = 0.0;
    m_pixelCount = 0;
    last = std::min(last, count() - 1);
    if (first < 0 || first > last)
        return;
    double lo, hi;
    if (rangeExtremes(first, last, &lo, &hi)) {
        m_minimum = std::min(0.0, lo);
        m_maximum = std::max(0.0, hi);
    }
    m_pixelCount = last - first + 1;
    m_visibleFirst = first;
}

bool ChartLine::rangeExtremes(int from, int to, double *min, double *max) const
{
    return m_values.extremes(from, to, min, max);
}

int ChartLine::firstFinite(int from, int to) const
{
    return m_values.findFirst(from, to, [](double, double) { return true; });
}

int ChartLine::lastFinite(int from, int to) const
{
    return m_values.findLast(from, to, [](double, double) { return true; });
}
