#include "chartline.h"

#include "chartpoint.h"
#include "dmmchart.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {
constexpr double Inf = std::numeric_limits<double>::infinity();
}

ChartLine::ChartLine(DMMChart *chart, const QColor &colour)
    : QObject(chart), m_colour(colour), m_chart(chart)
{
}

ChartLine::~ChartLine()
{
    qDeleteAll(m_points);
}

void ChartLine::append(ChartPoint *point)
{
    if (!point)
        return;
    const double v = point->value();
    const size_t index = m_values.size();
    m_points.append(point);
    m_values.push_back(v);
    if (index % BlockSize == 0) {
        m_blockMin.push_back(Inf);
        m_blockMax.push_back(-Inf);
    }
    // Non-finite values (a dBm of zero power is -inf) take no part in any extreme.
    if (std::isfinite(v)) {
        double &bmin = m_blockMin.back();
        double &bmax = m_blockMax.back();
        bmin = std::min(bmin, v);
        bmax = std::max(bmax, v);
    }
}

void ChartLine::clear()
{
    qDeleteAll(m_points);
    m_points.clear();
    m_values.clear();
    m_blockMin.clear();
    m_blockMax.clear();
    m_pixelCount = 0;
}

int ChartLine::pixelX(int k) const
{
    return int(k * m_xScale + 0.5);
}

void ChartLine::relayout(double xScale, double yScale)
{
    m_xScale = xScale;
    m_yScale = yScale;
    m_minimum = 0.0;
    m_maximum = 0.0;
    m_pixelCount = 0;
    if (!m_chart)
        return;
    const int first = m_chart->firstVisible();
    const int last = std::min(m_chart->lastVisible(), count() - 1);
    if (first < 0 || first > last)
        return;
    double lo, hi;
    if (rangeExtremes(first, last, &lo, &hi)) {
        m_minimum = std::min(0.0, lo);
        m_maximum = std::max(0.0, hi);
    }
    m_pixelCount = last - first + 1;
}

bool ChartLine::rangeExtremes(int from, int to, double *min, double *max) const
{
    from = std::max(from, 0);
    to = std::min(to, count() - 1);
    double lo = Inf, hi = -Inf;
    int i = from;
    while (i <= to) {
        const int block = i / BlockSize;
        const int blockStart = block * BlockSize;
        const int blockEnd = blockStart + BlockSize - 1;
        if (i == blockStart && blockEnd <= to) {
            lo = std::min(lo, m_blockMin[static_cast<size_t>(block)]);
            hi = std::max(hi, m_blockMax[static_cast<size_t>(block)]);
            i = blockEnd + 1;
            continue;
        }
        const int end = std::min(blockEnd, to);
        for (; i <= end; ++i) {
            const double v = m_values[static_cast<size_t>(i)];
            if (std::isfinite(v)) {
                lo = std::min(lo, v);
                hi = std::max(hi, v);
            }
        }
    }
    if (lo > hi)
        return false;
    *min = lo;
    *max = hi;
    return true;
}

int ChartLine::firstFinite(int from, int to) const
{
    from = std::max(from, 0);
    to = std::min(to, count() - 1);
    int i = from;
    while (i <= to) {
        const size_t block = static_cast<size_t>(i / BlockSize);
        if (m_blockMin[block] > m_blockMax[block]) {
            i = int(block + 1) * BlockSize; // nothing finite in this block
            continue;
        }
        if (std::isfinite(m_values[static_cast<size_t>(i)]))
            return i;
        ++i;
    }
    return -1;
}

int ChartLine::lastFinite(int from, int to) const
{
    from = std::max(from, 0);
    to = std::min(to, count() - 1);
    int i = to;
    while (i >= from) {
        const size_t block = static_cast<size_t>(i / BlockSize);
        if (m_blockMin[block] > m_blockMax[block]) {
            i = int(block) * BlockSize - 1;
            continue;
        }
        if (std::isfinite(m_values[static_cast<size_t>(i)]))
            return i;
        --i;
    }
    return -1;
}
