#include "dmmchart.h"

#include "chartline.h"
#include "chartpoint.h"
#include "chartsource.h"

#include <QFontMetrics>
#include <QMouseEvent>
#include <QMutexLocker>
#include <QPainter>
#include <QPolygon>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

namespace {
constexpr int IndicatorMs = 3000;
constexpr double MinLabelSpacing = 80.0;
constexpr double MinGridSpacing = 30.0;
// Length of the ticks that stand for readings beyond the meter's range.
constexpr int TickLength = 5;
// Used when the picture is wanted before the widget ever had a size.
const QSize FallbackSize(800, 480);
// Columns either side of the mouse whose points decide which line it is on.
constexpr int HoverReach = 2;

// Colours of the overlays: strong on white and told apart from each other and
// from series 0's orange, the read-out's blue and the limit lines' red.
const QColor Palette[] = {QColor(0, 140, 70),  QColor(140, 60, 200), QColor(0, 160, 200),
                          QColor(150, 90, 40), QColor(230, 60, 150), QColor(100, 100, 100),
                          QColor(120, 170, 0), QColor(40, 40, 150)};

// First index in [from, to] whose column reaches column; to + 1 when none
// does. Columns never decrease with the index.
template <typename ColumnOf> int firstAtColumn(int from, int to, int column, ColumnOf columnOf)
{
    qint64 lo = from;
    qint64 hi = qint64(to) + 1;
    while (lo < hi) {
        const qint64 mid = lo + (hi - lo) / 2;
        if (columnOf(int(mid)) >= column)
            hi = mid;
        else
            lo = mid + 1;
    }
    return int(lo);
}

// Last index in [a, to] on a's column (columns never decrease): steps of 1,
// 2, 4, ... then a binary search, so a column costs the log of its points.
// The walk starts from guess points on when that is still on the column: the
// previous column's count, right for evenly spread points after two looks.
template <typename ColumnOf> int lastOnColumn(int a, int to, int guess, ColumnOf columnOf)
{
    const int column = columnOf(a);
    qint64 lo = a;
    const qint64 guessed = std::min<qint64>(qint64(a) + guess - 1, to);
    if (guessed > a && columnOf(int(guessed)) == column)
        lo = guessed;
    qint64 step = 1;
    while (lo + step <= to && columnOf(int(lo + step)) == column) {
        lo += step;
        step *= 2;
    }
    qint64 hi = std::min<qint64>(lo + step, qint64(to) + 1);
    while (hi - lo > 1) {
        const qint64 mid = lo + (hi - lo) / 2;
        if (columnOf(int(mid)) == column)
            lo = mid;
        else
            hi = mid;
    }
    return int(lo);
}

// First index in [0, count) whose pixel x reaches x; count when none does.
// Pixel positions grow with the index, so a binary search finds it.
int firstPixelAtLeast(const ChartLine *line, int x)
{
    int lo = 0;
    int hi = line->pixelCount();
    while (lo < hi) {
        const int mid = lo + (hi - lo) / 2;
        if (line->pixelX(mid) >= x)
            hi = mid;
        else
            lo = mid + 1;
    }
    return lo;
}

// First (forward) or last (backward) index in [from, to] whose finite value
// lies on another row than row; -1 when there is none. Rows fall as values
// rise, so a block whose extremes share the row stays on it and is skipped.
template <typename RowOf>
int rowChange(const ChartLine *line, int from, int to, int row, bool forward, RowOf rowOf)
{
    auto leavesRow = [&](double lo, double hi) { return rowOf(lo) != row || rowOf(hi) != row; };
    return forward ? line->values().findFirst(from, to, leavesRow)
                   : line->values().findLast(from, to, leavesRow);
}

// First multiple of 50 whose product with perUnit reaches minSpacing; 0 when it
// cannot be represented. Computed, not searched, so tiny scales end at once.
double firstMultipleOf50(double perUnit, double minSpacing)
{
    double k = std::ceil(minSpacing / (50.0 * perUnit));
    if (!std::isfinite(k))
        return 0.0;
    k = std::max(k, 1.0);
    if (k < 4503599627370496.0) { // 2^52: below it, k +/- 1 is exact
        while (k > 1.0 && (k - 1.0) * 50.0 * perUnit >= minSpacing)
            k -= 1.0;
        while (k * 50.0 * perUnit < minSpacing)
            k += 1.0;
    } else {
        // Past 2^52 multiples are no longer exact; nudge upward until it fits.
        for (int i = 0; i < 64 && k * 50.0 * perUnit < minSpacing; ++i)
            k = std::nextafter(k, HUGE_VAL);
    }
    return k * 50.0;
}
} // namespace

DMMChart::DMMChart(QWidget *parent) : QFrame(parent), m_indicatorTimer(new QTimer(this))
{
    setAttribute(Qt::WA_MouseTracking);
    m_indicatorTimer->setSingleShot(true);
    connect(m_indicatorTimer, &QTimer::timeout, this, &DMMChart::slotTmrIndicatorTimeout);
    m_series.append(new ChartLine(this, QColor(250, 150, 0)));
}

DMMChart::~DMMChart() = default; // the series are children and delete their points

void DMMChart::addPoint(ChartPoint *point, int series)
{
    if (series != 0) {
        delete point; // ownership was handed over; do not leak it
        return;
    }
    ChartLine *line = m_series.at(series);
    const bool detached = line->hasAttachedSource();
    line->append(point);
    followAxis(detached);
    if (detached || (!m_selecting && !m_zoomed)) {
        m_axesDirty = true;
        update();
    }
}

void DMMChart::addPoints(const QList<ChartPoint *> &points, int series)
{
    if (series != 0) {
        qDeleteAll(points);
        return;
    }
    ChartLine *line = m_series.at(series);
    const bool detached = line->hasAttachedSource() && !points.isEmpty();
    for (ChartPoint *point : points)
        line->append(point);
    followAxis(detached);
    if (detached || (!m_selecting && !m_zoomed)) {
        m_axesDirty = true;
        update();
    }
}

void DMMChart::clearPoints()
{
    {
        QMutexLocker locker(&m_lock);
        m_series.first()->clear();
        followAxis(true);
    }
    m_axesDirty = true;
    update();
}

void DMMChart::setSource(int series, const ChartSource *source)
{
    if (series < 0 || series >= m_series.size())
        return;
    if (series > 0 && !source) {
        removeOverlay(m_series.at(series)->source());
        return;
    }
    {
        QMutexLocker locker(&m_lock);
        m_series.at(series)->setSource(source);
        if (series == 0)
            followAxis(true);
        else
            m_series.at(series)->place(m_axis);
    }
    m_axesDirty = true;
    update();
}

void DMMChart::sourceAppended(int series)
{
    if (series < 0 || series >= m_series.size())
        return;
    ChartLine *line = m_series.at(series);
    const int held = line->count();
    const bool extended = line->pull();
    if (extended && line->count() == held)
        return;
    // Under a zoom, series 0's new points lie beyond the window, and so do
    // overlay points that waited for them; an overlay's own new points may not.
    bool inWindow = false;
    if (series == 0) {
        followAxis(!extended);
    } else {
        const int first = line->place(m_axis);
        inWindow = first >= 0 && line->placement().at(first) <= m_last;
    }
    // A burst of points asks for one paint: update() merges the requests.
    if (!extended || (!m_selecting && (!m_zoomed || inWindow))) {
        m_axesDirty = true;
        update();
    }
}

void DMMChart::sourceReset(int series)
{
    if (series < 0 || series >= m_series.size())
        return;
    {
        QMutexLocker locker(&m_lock);
        m_series.at(series)->reload();
        if (series == 0)
            followAxis(true);
        else
            m_series.at(series)->place(m_axis);
    }
    m_axesDirty = true;
    update();
}

void DMMChart::setValidRangeOnly(bool on)
{
    if (on == m_validRangeOnly)
        return;
    m_validRangeOnly = on;
    {
        QMutexLocker locker(&m_lock);
        for (ChartLine *line : qAsConst(m_series)) {
            line->setMarkOutOfRange(on);
            line->reload();
        }
        followAxis(false); // the times stand; the overlays are placed again
    }
    m_axesDirty = true;
    update();
}

void DMMChart::setLimitLines(std::optional<double> lower, std::optional<double> upper)
{
    // A limit that is not a number can be neither drawn nor taken in.
    if (lower && !std::isfinite(*lower))
        lower.reset();
    if (upper && !std::isfinite(*upper))
        upper.reset();
    if (lower == m_lowerLimit && upper == m_upperLimit)
        return;
    m_lowerLimit = lower;
    m_upperLimit = upper;
    m_axesDirty = true;
    update();
}

const ChartSource *DMMChart::source(int series) const
{
    if (series < 0 || series >= m_series.size() || !m_series.at(series)->hasAttachedSource())
        return nullptr;
    return m_series.at(series)->source();
}

void DMMChart::followAxis(bool rebuilt)
{
    const ChartLine *line0 = m_series.first();
    if (overlayCount() == 0) {
        m_axis.clear();
        return;
    }
    if (rebuilt || m_axis.size() > line0->count()) {
        m_axis.clear();
        for (int s = 1; s < m_series.size(); ++s)
            m_series.at(s)->unplace();
    }
    m_axis.pull(*line0->source(), line0->count());
    for (int s = 1; s < m_series.size(); ++s)
        m_series.at(s)->place(m_axis);
}

ChartLine *DMMChart::newOverlay(const ChartSource *source, const QString &name,
                                const QColor &colour)
{
    auto *line = new ChartLine(this, colour);
    line->setName(name);
    line->setMarkOutOfRange(m_validRangeOnly);
    line->setSource(source);
    return line;
}

void DMMChart::takePaletteColours(const QList<ChartLine *> &lines)
{
    // Each takes the first palette colour no other overlay has; past the
    // palette's end the colours repeat.
    for (ChartLine *line : lines) {
        int pick = (m_series.indexOf(line) - 1) % paletteSize();
        for (int i = 0; i < paletteSize(); ++i) {
            const bool taken =
                std::any_of(m_series.cbegin() + 1, m_series.cend(), [&](const ChartLine *other) {
                    return other != line && other->colour() == paletteColour(i);
                });
            if (!taken) {
                pick = i;
                break;
            }
        }
        line->setColour(paletteColour(pick));
    }
}

void DMMChart::overlaysChanged()
{
    followAxis(false);
    m_cursorSeries = 0; // a read-out of an overlay may read one that went
    m_cursorPoint = -1;
    m_axesDirty = true;
    update();
}

void DMMChart::setOverlays(const QList<Overlay> &overlays)
{
    {
        QMutexLocker locker(&m_lock);
        QList<ChartLine *> old = m_series.mid(1);
        m_series.erase(m_series.begin() + 1, m_series.end());
        QList<ChartLine *> uncoloured;
        for (const Overlay &overlay : overlays) {
            if (!overlay.source || seriesOf(overlay.source) >= 0)
                continue;
            ChartLine *line = nullptr;
            for (int i = 0; i < old.size() && !line; ++i) {
                if (old.at(i)->source() == overlay.source)
                    line = old.takeAt(i);
            }
            if (line) {
                line->setName(overlay.name);
                if (overlay.colour.isValid())
                    line->setColour(overlay.colour);
            } else {
                line = newOverlay(overlay.source, overlay.name, overlay.colour);
                if (!overlay.colour.isValid())
                    uncoloured << line;
            }
            m_series.append(line);
        }
        qDeleteAll(old);
        takePaletteColours(uncoloured);
    }
    overlaysChanged();
}

int DMMChart::addOverlay(const ChartSource *source, const QString &name, const QColor &colour)
{
    int series = seriesOf(source);
    if (!source || series == 0)
        return -1;
    if (series > 0) {
        m_series.at(series)->setName(name);
        if (colour.isValid())
            m_series.at(series)->setColour(colour);
        m_axesDirty = true;
        update();
        return series;
    }
    {
        QMutexLocker locker(&m_lock);
        ChartLine *line = newOverlay(source, name, colour);
        m_series.append(line);
        series = m_series.size() - 1;
        if (!colour.isValid())
            takePaletteColours({line});
    }
    overlaysChanged();
    return series;
}

bool DMMChart::removeOverlay(const ChartSource *source)
{
    const int series = source ? seriesOf(source) : -1;
    if (series < 1)
        return false;
    {
        QMutexLocker locker(&m_lock);
        delete m_series.takeAt(series);
    }
    overlaysChanged();
    return true;
}

int DMMChart::seriesOf(const ChartSource *source) const
{
    for (int s = 0; s < m_series.size(); ++s) {
        if (source && m_series.at(s)->source() == source)
            return s;
    }
    return -1;
}

void DMMChart::setSeriesName(int series, const QString &name)
{
    if (series < 0 || series >= m_series.size() || m_series.at(series)->name() == name)
        return;
    m_series.at(series)->setName(name);
    if (overlayCount() > 0) {
        m_linesDirty = true;
        update();
    }
}

QString DMMChart::seriesName(int series) const
{
    return series >= 0 && series < m_series.size() ? m_series.at(series)->name() : QString();
}

QString DMMChart::displayName(int series) const
{
    const QString name = seriesName(series);
    if (!name.isEmpty())
        return name;
    return series == 0 ? tr("Active item") : tr("Item %1").arg(series);
}

QColor DMMChart::paletteColour(int index)
{
    const int n = paletteSize();
    return Palette[((index % n) + n) % n];
}

int DMMChart::paletteSize()
{
    return int(sizeof(Palette) / sizeof(Palette[0]));
}

int DMMChart::cursorPoint() const
{
    if (m_cursorSeries > 0)
        return m_cursorPoint;
    return m_cursorIndex < 0 ? -1 : m_first + m_cursorIndex;
}

void DMMChart::setXAxisTitle(const QString &title)
{
    if (title == m_xAxisTitle)
        return;
    m_xAxisTitle = title;
    m_axesDirty = true;
    update();
}

void DMMChart::setLeftMargin(int margin)
{
    m_leftMargin = margin;
    m_axesDirty = true;
    update();
}

void DMMChart::setBottomMargin(int margin)
{
    m_bottomMargin = margin;
}

void DMMChart::setDecimals(int decimals)
{
    m_decimals = decimals;
}

int DMMChart::decimalsForUnit(const QString &unit, int current)
{
    if (unit == QLatin1String("uW"))
        return 1;
    if (unit == QLatin1String("mW"))
        return 3;
    if (unit == QLatin1String("dBm"))
        return 2;
    return current;
}

void DMMChart::applyChartUnitMode(const QString &unit)
{
    setDecimals(decimalsForUnit(unit, m_decimals));
}

bool DMMChart::saveImage(const QString &path)
{
    {
        // The window may ask for the picture of a chart that was never shown or
        // has changed since its last paint: compose it first.
        QMutexLocker locker(&m_lock);
        compose();
    }
    if (m_finalLayer.isNull())
        return false;
    return m_finalLayer.save(path);
}

int DMMChart::nicePointStep(double pixelsPerPoint, double minSpacing)
{
    if (!(pixelsPerPoint > 0.0) || !std::isfinite(pixelsPerPoint) || std::isnan(minSpacing))
        return 0;
    static const int steps[] = {1, 2, 3, 5, 10, 20, 30, 40};
    for (int step : steps) {
        if (step * pixelsPerPoint >= minSpacing)
            return step;
    }
    const double step = firstMultipleOf50(pixelsPerPoint, minSpacing);
    if (!(step > 0.0) || step > double(std::numeric_limits<int>::max()))
        return 0;
    return int(step);
}

double DMMChart::niceStep(double pixelsPerUnit, double minSpacing)
{
    if (!(pixelsPerUnit > 0.0) || !std::isfinite(pixelsPerUnit) || std::isnan(minSpacing))
        return 0.0;
    static const double steps[] = {0.00001, 0.0001, 0.001, 0.01, 0.1, 0.2, 0.3, 0.5, 0.8,
                                   1,       2,      3,     5,    10,  20,  30,  40};
    for (double step : steps) {
        if (step * pixelsPerUnit >= minSpacing)
            return step;
    }
    return firstMultipleOf50(pixelsPerUnit, minSpacing);
}

int DMMChart::nearestPointIndex(int x) const
{
    if (m_series.isEmpty())
        return -1;
    const ChartLine *line = m_series.first();
    const int count = line->pixelCount();
    if (count <= 0)
        return -1;
    if (x < 0)
        return 0;
    if (x > m_plot.width())
        return count - 1;
    const int k = firstPixelAtLeast(line, x);
    if (k >= count)
        return count - 1;
    const int pk = line->pixelX(k);
    if (pk == x)
        return k;
    const int j = std::max(k - 1, 0);
    const int right = pk - x;
    const int left = std::abs(line->pixelX(j) - x);
    return left > right ? k : j;
}

const ChartLine *DMMChart::series(int index) const
{
    if (index < 0 || index >= m_series.size())
        return nullptr;
    return m_series.at(index);
}

int DMMChart::pointCount(int series) const
{
    if (series < 0 || series >= m_series.size())
        return 0;
    return m_series.at(series)->count();
}

int DMMChart::zeroLineY() const
{
    return int(m_plot.top() + m_pixelsPerUnit * m_yMax);
}

bool DMMChart::isIndicatorTimerActive() const
{
    return m_indicatorTimer->isActive();
}

QRect DMMChart::selectionRect() const
{
    return QRect(QPoint(m_selStartX, m_selStartY), QPoint(m_selEndX, m_selEndY))
        .normalized()
        .translated(m_plot.topLeft());
}

QString DMMChart::valueLabel(double value) const
{
    const double magnitude = std::abs(value);
    if (magnitude >= 1000000.0)
        return QString::number(value / 1000000.0, 'f', m_decimals) + QLatin1Char('M');
    if (magnitude >= 1000.0)
        return QString::number(value / 1000.0, 'f', m_decimals) + QLatin1Char('k');
    return QString::number(value, 'f', m_decimals);
}

void DMMChart::slotTmrIndicatorTimeout()
{
    m_cursorVisible = false;
    update();
}

void DMMChart::mousePressEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton && hasPoints()) {
        m_cursorIndex = -1;
        m_cursorVisible = false;
        m_indicatorDirty = true; // the read-out goes at the next paint
        update();
        if (!m_selecting) {
            m_selecting = true;
            const QPoint p = toPlot(event->pos());
            m_selStartX = m_selEndX = p.x();
            m_selStartY = m_selEndY = p.y();
        }
    }
    QFrame::mousePressEvent(event);
}

void DMMChart::mouseReleaseEvent(QMouseEvent *event)
{
    if (m_selecting) {
        if (m_selEndX > m_selStartX && m_selEndY > m_selStartY)
            zoomToSelection();
        else
            m_zoomed = false;
        m_selecting = false;
        m_axesDirty = true;
        update();
        if (m_zoomed)
            emit visibleRangeChanged(m_first, m_last, true);
        else
            emit visibleRangeChanged(0, pointCount(0) - 1, false);
    }
    QFrame::mouseReleaseEvent(event);
}

void DMMChart::mouseMoveEvent(QMouseEvent *event)
{
    if (m_selecting) {
        const QPoint p = toPlot(event->pos());
        m_selEndX = p.x();
        m_selEndY = p.y();
        m_selectionDirty = true;
        update();
    } else {
        const int x = std::clamp(event->pos().x() - m_plot.left(), 0, std::max(m_plot.width(), 0));
        const int index = nearestPointIndex(x);
        int series = 0;
        int point = -1;
        if (index != -1 && overlayCount() > 0)
            nearestSeries(event->pos(), index, &series, &point);
        m_cursorVisible = index != -1 && (index != m_cursorIndex || series != m_cursorSeries ||
                                          point != m_cursorPoint);
        if (m_cursorVisible) {
            m_cursorIndex = index;
            m_cursorSeries = series;
            m_cursorPoint = point;
            m_indicatorTimer->start(IndicatorMs);
            m_indicatorDirty = true;
            update();
        }
    }
    QFrame::mouseMoveEvent(event);
}

void DMMChart::paintEvent(QPaintEvent *event)
{
    {
        QMutexLocker locker(&m_lock);
        compose();
    }
    {
        QPainter painter(this);
        painter.drawPixmap(rect(), m_finalLayer);
    }
    QFrame::paintEvent(event);
}

void DMMChart::resizeEvent(QResizeEvent *event)
{
    applyGeometry(event->size());
    QFrame::resizeEvent(event);
}

void DMMChart::applyGeometry(const QSize &size)
{
    m_plot = QRect(m_leftMargin, m_topMargin, size.width() - m_rightMargin - m_leftMargin,
                   size.height() - m_bottomMargin - m_topMargin);
    m_axesLayer = QPixmap(size);
    m_axesDirty = true;
}

QPoint DMMChart::toPlot(const QPoint &pos) const
{
    return QPoint(std::clamp(pos.x() - m_plot.left(), 0, std::max(m_plot.width(), 0)),
                  std::clamp(pos.y() - m_plot.top(), 0, std::max(m_plot.height(), 0)));
}

bool DMMChart::hasPoints() const
{
    // Overlays are placed on series 0's axis: without its points there is none.
    return m_series.first()->count() > 0;
}

int DMMChart::overlayColumn(double position) const
{
    return int((position - m_first) * m_pixelsPerPoint + m_plot.left());
}

void DMMChart::compose()
{
    // Layers follow the widget's size even when no resize event has arrived
    // yet (a hidden widget that was resized, or one that was never shown).
    const QSize target = size().isEmpty() ? FallbackSize : size();
    if (m_axesLayer.size() != target)
        applyGeometry(target);

    bool changed = false;
    if (m_axesDirty) {
        m_axesDirty = false;
        relayout();
        m_axesLayer.fill(m_background);
        QPainter painter(&m_axesLayer);
        painter.save();
        drawAxes(painter);
        painter.restore();
        changed = true;
    }
    if (m_linesDirty || changed) {
        m_linesDirty = false;
        m_linesLayer = m_axesLayer;
        m_legendRect = QRect();
        m_legendTexts.clear();
        if (hasPoints() || overlayCount() > 0) {
            QPainter painter(&m_linesLayer);
            if (hasPoints())
                drawLines(painter);
            if (overlayCount() > 0)
                drawLegend(painter);
        }
        changed = true;
    }
    if (m_selectionDirty || changed) {
        m_selectionDirty = false;
        m_selectionLayer = m_linesLayer;
        if (m_selecting) {
            QPainter painter(&m_selectionLayer);
            drawSelection(painter);
        }
        changed = true;
    }
    if (m_indicatorDirty || changed) {
        // While the timer runs every paint rebuilds the final layer, so the
        // first paint after the timeout removes the read-out.
        if (!m_indicatorTimer->isActive())
            m_indicatorDirty = false;
        m_finalLayer = m_selectionLayer;
        m_readoutRect = QRect();
        m_readoutText.clear();
        if (hasPoints() && m_cursorVisible) {
            QPainter painter(&m_finalLayer);
            drawReadout(painter);
        }
    }
}

void DMMChart::relayout()
{
    const int count0 = m_series.first()->count();
    // Points cleared or replaced under a zoom may leave the window beyond the
    // points now held; the zoom ends then rather than reading past them.
    if (m_zoomed && (m_first < 0 || m_first >= m_last || m_last >= count0))
        m_zoomed = false;
    if (!m_zoomed) {
        m_first = 0;
        m_last = count0 - 1;
    }

    // Each overlay's window: its points placed within series 0's.
    std::vector<std::pair<int, int>> windows;
    for (int s = 1; s < m_series.size(); ++s) {
        const ChartPlacement &placement = m_series.at(s)->placement();
        windows.emplace_back(placement.firstFrom(m_first), placement.lastUpTo(m_last));
    }
    auto relayoutSeries = [&](double xScale, double yScale) {
        m_series.first()->relayout(xScale, yScale);
        for (int s = 1; s < m_series.size(); ++s)
            m_series.at(s)->relayout(xScale, yScale, windows[size_t(s - 1)].first,
                                     windows[size_t(s - 1)].second);
    };
    relayoutSeries(0.0, 0.0); // extremes first; scales follow below
    m_yMin = -1.0;
    m_yMax = 1.0;
    for (const ChartLine *line : qAsConst(m_series)) {
        m_yMax = std::max(m_yMax, line->maximum());
        m_yMin = std::min(m_yMin, line->minimum());
    }
    for (const std::optional<double> &limit : {m_lowerLimit, m_upperLimit}) {
        if (limit) {
            m_yMax = std::max(m_yMax, *limit);
            m_yMin = std::min(m_yMin, *limit);
        }
    }
    m_yMax += std::abs(m_yMax) / 10.0;
    m_yMin -= std::abs(m_yMin) / 10.0;

    m_pixelsPerUnit = m_plot.height() / (m_yMax - m_yMin);
    if (!std::isfinite(m_pixelsPerUnit))
        m_pixelsPerUnit = 0.0;
    m_pixelsPerPoint = 0.0;
    const int n = m_last - m_first;
    if (n >= 0)
        m_pixelsPerPoint = m_plot.width() / (double(n) + 1.0);
    relayoutSeries(m_pixelsPerPoint, m_pixelsPerUnit);

    m_xLabelCount = m_gridAbove = m_gridBelow = 0;
    if (!hasPoints())
        return;
    m_xStep = nicePointStep(m_pixelsPerPoint, MinLabelSpacing);
    m_xLabelSpacing = m_xStep * m_pixelsPerPoint;
    if (m_xStep > 0 && m_plot.width() > 0)
        m_xLabelCount = int(m_plot.width() / m_xLabelSpacing);
    m_yStep = niceStep(m_pixelsPerUnit, MinGridSpacing);
    m_yGridSpacing = m_pixelsPerUnit * m_yStep;
    if (m_yStep > 0.0 && m_plot.height() > 0) {
        m_gridAbove = int(m_yMax * m_pixelsPerUnit / m_yGridSpacing);
        m_gridBelow = int(std::abs(m_yMin) * m_pixelsPerUnit / m_yGridSpacing);
    }
}

void DMMChart::drawAxes(QPainter &painter)
{
    const QFontMetrics fm(painter.font());
    const int fh = fm.height();
    const QRect &p = m_plot;
    const int y0 = zeroLineY();
    const QPen axisPen = painter.pen();
    const QPen gridPen(Qt::black, 1, Qt::DotLine);
    const int centred = Qt::AlignHCenter | Qt::AlignVCenter;

    painter.drawLine(p.left() - 1, p.bottom() + 1, p.right() + 1, p.bottom() + 1);

    std::vector<int> xs;
    xs.reserve(size_t(std::max(m_xLabelCount, 0)));
    for (int i = 0; i < m_xLabelCount; ++i)
        xs.push_back(int(i * m_xLabelSpacing + p.left() + 0.5));
    for (int x : xs)
        painter.drawLine(x, p.bottom(), x, p.bottom() + 5);
    painter.setPen(gridPen);
    for (int x : xs)
        painter.drawLine(x, p.top(), x, p.bottom());
    painter.setPen(axisPen);

    const ChartLine *line0 = m_series.first();
    for (int i = 0; i < m_xLabelCount; ++i) {
        const qint64 index = m_first + qint64(i) * m_xStep;
        if (index > m_last || index >= line0->count())
            break;
        const QString text =
            line0->dateTimeAt(int(index)).toString(QStringLiteral("yyyy-MM-dd\nhh:mm:ss"));
        const int w = fm.horizontalAdvance(text);
        painter.drawText(QRect(xs[size_t(i)] - w / 2, p.bottom() + 7, w, 2 * fh), centred, text);
    }

    painter.drawLine(m_leftMargin - 1, m_topMargin - 1, m_leftMargin - 1, p.bottom() + 1);

    auto drawGrid = [&](int lines, int direction) {
        std::vector<int> ys;
        ys.reserve(size_t(lines + 1));
        for (int l = 0; l <= lines; ++l)
            ys.push_back(int(y0 + direction * l * m_yGridSpacing));
        for (int y : ys)
            painter.drawLine(p.left(), y, p.left() - 5, y);
        painter.setPen(gridPen);
        for (int y : ys)
            painter.drawLine(p.left(), y, p.left() + p.width(), y);
        painter.setPen(axisPen);
        // The zero line is labelled once, by the upper pass: a second "-0"
        // label would be drawn over it.
        for (int l = direction > 0 ? 1 : 0; l <= lines; ++l) {
            const double magnitude = l * m_yStep;
            const QString text = valueLabel(direction > 0 ? -magnitude : magnitude);
            const int w = fm.horizontalAdvance(text);
            painter.drawText(QRect(p.left() - 7 - w, ys[size_t(l)] - fh / 2, w, fh), centred, text);
        }
    };
    drawGrid(m_gridAbove, -1);
    drawGrid(m_gridBelow, +1);

    if (!m_xAxisTitle.isEmpty()) {
        const int w = fm.horizontalAdvance(m_xAxisTitle);
        painter.drawText(
            QRect(p.left() + p.width() / 2, p.bottom() + fh + (m_bottomMargin - fh) / 2, w, fh),
            centred, m_xAxisTitle);
    }
}

void DMMChart::drawLines(QPainter &painter)
{
    if (m_plot.width() <= 0 || m_plot.height() <= 0 || !(m_pixelsPerPoint > 0.0))
        return;
    const double ppp = m_pixelsPerPoint;
    const int left = m_plot.left();

    // Overlays first, in their order, so that the active item lies on top.
    for (int s = 1; s < m_series.size(); ++s) {
        const ChartLine *line = m_series.at(s);
        const int from = line->visibleFirst();
        const int to = from + line->pixelCount() - 1;
        if (line->pixelCount() <= 0)
            continue;
        const ChartPlacement &placement = line->placement();
        auto columnOf = [&](int j) { return overlayColumn(placement.at(j)); };
        int run = 1;
        drawSeries(painter, line, from, to, [&](int a, int *b) {
            *b = lastOnColumn(a, to, run, columnOf);
            run = *b - a + 1;
            return columnOf(a);
        });
    }

    const ChartLine *line0 = m_series.first();
    const int from = m_first;
    const int to = std::min(m_last, line0->count() - 1);
    if (from >= 0 && from <= to) {
        const qint64 n = to - from;
        auto columnOf = [&](qint64 k) { return int(k * ppp + left); };
        // The points of series 0 are evenly spaced: a column's last point is
        // computed, then checked against the columns around it.
        drawSeries(painter, line0, from, to, [&](int a, int *b) {
            const qint64 k = a - from;
            const int column = columnOf(k);
            qint64 end = k;
            if (ppp < 1.0) {
                end = qint64(std::ceil((column + 1 - left) / ppp)) - 1;
                end = std::clamp<qint64>(end, k, n);
                while (end < n && columnOf(end + 1) == column)
                    ++end;
                while (end > k && columnOf(end) != column)
                    --end;
            }
            *b = int(from + end);
            return column;
        });
    }

    const int y0 = zeroLineY();
    painter.setPen(QPen(QColor(200, 0, 0), 1, Qt::DashLine));
    for (const std::optional<double> &limit : {m_lowerLimit, m_upperLimit}) {
        const int y = limit ? int(y0 - m_pixelsPerUnit * *limit) : -1;
        if (limit && y >= m_plot.top() && y <= m_plot.bottom())
            painter.drawLine(m_plot.left(), y, m_plot.right(), y);
    }
}

// Draws points [from, to] of line column by column. columnRun(a, &b) gives
// the column of point a and sets b to the last point on that column; columns
// never decrease with the index.
template <typename ColumnRun>
void DMMChart::drawSeries(QPainter &painter, const ChartLine *line, int from, int to,
                          ColumnRun columnRun)
{
    const double ppu = m_pixelsPerUnit;
    const int y0 = zeroLineY();
    auto rowOf = [&](double v) { return int(y0 - ppu * v); };

    std::vector<QPoint> vertices;
    const qint64 n = to - from;
    vertices.reserve(size_t(std::min<qint64>(n + 1, 4 * qint64(m_plot.width()) + 8)));
    auto push = [&](int x, int y) {
        if (vertices.empty() || vertices.back() != QPoint(x, y))
            vertices.emplace_back(x, y);
    };
    // Walk the window column by column. A column holding several points is
    // reduced to a handful of vertices that put the same pixels there as
    // one vertex per point. The joins to the neighbouring columns are the
    // very same segments; inside the column the rasteriser fills a vertical
    // segment down to, but not including, its lower end, and adds that
    // lower pixel only where the line turns back up. So the reduced path
    // keeps the first and last row, the directions in which the line leaves
    // the first row and reaches the last one, the highest row, and a turn
    // at the lowest row exactly when the full line makes one.
    auto reduceColumn = [&](int column, int a, int b) {
        if (a == b) {
            const double v = line->valueAt(a);
            if (std::isfinite(v))
                push(column, rowOf(v));
            return;
        }
        const int f = line->firstFinite(a, b);
        if (f < 0)
            return;
        const int l = line->lastFinite(a, b);
        double lo = 0.0, hi = 0.0;
        line->rangeExtremes(a, b, &lo, &hi);
        const int r0 = rowOf(line->valueAt(f));
        const int rl = rowOf(line->valueAt(l));
        const int top = rowOf(hi);
        const int bottom = rowOf(lo);
        push(column, r0);
        if (top == bottom)
            return;
        const int leave = rowChange(line, f + 1, l, r0, true, rowOf);
        const int arrive = rowChange(line, f, l - 1, rl, false, rowOf);
        if (leave < 0 || arrive < 0) { // cannot happen with two rows; stay safe
            push(column, rl);
            return;
        }
        const int leaveRow = rowOf(line->valueAt(leave));
        const int arriveRow = rowOf(line->valueAt(arrive));
        const bool firstDown = leaveRow > r0;
        const bool fromBelow = arriveRow > rl;
        double innerLo = 0.0, innerHi = 0.0;
        const bool turnsAtBottom = leave <= arrive &&
                                   line->rangeExtremes(leave, arrive, &innerLo, &innerHi) &&
                                   rowOf(innerLo) == bottom;
        // Turns at rows next to rl only re-draw pixels the column already
        // shows, and keep the segments short.
        if (turnsAtBottom) {
            if (!firstDown)
                push(column, top);
            push(column, bottom);
            if (firstDown && r0 != top) {
                push(column, top);
                if (fromBelow)
                    push(column, rl + 1);
            } else if (!fromBelow) {
                push(column, rl - 1);
            }
        } else if (r0 == bottom) {
            push(column, top);
            if (fromBelow && rl != top)
                push(column, rl + 1);
        } else if (firstDown) {
            // The lowest row is the last one: go down, up to the top, then down.
            if (r0 != top) {
                push(column, leaveRow);
                push(column, top);
            }
        } else {
            push(column, top);
        }
        push(column, rl);
    };
    const int firstPoint = line->firstFinite(from, to);
    const int lastPoint = line->lastFinite(from, to);
    auto vertexOf = [&](int column, int i) { return QPoint(column, rowOf(line->valueAt(i))); };
    qint64 next = from;
    while (next <= to) {
        const int a = int(next);
        int b = a;
        const int column = columnRun(a, &b);
        next = qint64(b) + 1;
        const bool holdsFirst = a <= firstPoint && firstPoint <= b;
        const bool holdsLast = a <= lastPoint && lastPoint <= b;
        if (!holdsFirst && !holdsLast) {
            reduceColumn(column, a, b);
            continue;
        }
        // The rasteriser caps the first and the last segment of the line
        // (a segment of no length loses its cap), and what a cap adds
        // depends on that segment's exact length: those two segments keep
        // their exact vertices, duplicates included.
        int inner = a;
        if (holdsFirst) {
            vertices.push_back(vertexOf(column, firstPoint));
            if (firstPoint == lastPoint)
                continue;
            inner = line->firstFinite(firstPoint + 1, b);
            if (inner < 0)
                continue; // the line goes on in the next column
            vertices.push_back(vertexOf(column, inner));
            if (!holdsLast) {
                reduceColumn(column, inner, b);
                continue;
            }
            if (inner == lastPoint)
                continue;
        }
        const int previous = line->lastFinite(inner, lastPoint - 1);
        if (previous >= 0)
            reduceColumn(column, inner, previous);
        vertices.push_back(vertexOf(column, lastPoint));
    }
    painter.setPen(QPen(line->colour(), 1));
    if (!vertices.empty())
        painter.drawPolyline(vertices.data(), int(vertices.size()));
    if (m_validRangeOnly) {
        drawRangeTicks(painter, line->overRange(), from, to, m_plot.top(), columnRun);
        drawRangeTicks(painter, line->underRange(), from, to, m_plot.bottom() - TickLength,
                       columnRun);
    }
}

template <typename ColumnRun>
void DMMChart::drawRangeTicks(QPainter &painter, const std::vector<int> &marks, int from, int to,
                              int top, ColumnRun columnRun)
{
    // One tick a pixel column, found by a search per column: a stretch of
    // overloads costs what the plot is wide, not what the stretch is long.
    auto it = std::lower_bound(marks.begin(), marks.end(), from);
    while (it != marks.end() && *it <= to) {
        int last = *it;
        const int column = columnRun(*it, &last);
        painter.drawLine(column, top, column, top + TickLength);
        it = std::lower_bound(it, marks.end(),
                              int(std::min<qint64>(qint64(last) + 1, qint64(to) + 1)));
    }
}

void DMMChart::drawSelection(QPainter &painter)
{
    painter.setPen(QPen(Qt::black, 1, Qt::DotLine));
    painter.setBrush(Qt::NoBrush);
    const QPoint o = m_plot.topLeft();
    QPolygon outline;
    outline << QPoint(m_selStartX, m_selStartY) + o << QPoint(m_selEndX, m_selStartY) + o
            << QPoint(m_selEndX, m_selEndY) + o << QPoint(m_selStartX, m_selEndY) + o;
    painter.drawPolygon(outline);
}

void DMMChart::drawReadout(QPainter &painter)
{
    const ChartLine *line0 = m_series.first();
    const int count = line0->pixelCount();
    if (m_cursorIndex >= count)
        m_cursorIndex = count - 1;
    if (m_cursorIndex < 0)
        return;
    const ChartLine *line = line0;
    int series = 0;
    int index = m_first + m_cursorIndex;
    int xc = m_plot.left() + line0->pixelX(m_cursorIndex);
    if (m_cursorSeries > 0 && m_cursorSeries < m_series.size()) {
        series = m_cursorSeries;
        line = m_series.at(series);
        const int first = line->visibleFirst();
        if (m_cursorPoint < first || m_cursorPoint >= first + line->pixelCount())
            return; // a zoom has left the point behind
        index = m_cursorPoint;
        xc = overlayColumn(line->placement().at(index));
    }
    if (index < 0 || index >= line->count())
        return;
    const QFontMetrics fm(painter.font());
    const int fh = fm.height();
    painter.setPen(QPen(m_cursorColour, 1));
    painter.drawLine(xc, m_plot.top(), xc, m_plot.bottom());
    QString text = QStringLiteral("%1:%2").arg(
        line->dateTimeAt(index).toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")),
        line->labelAt(index));
    if (overlayCount() > 0) // several items: say whose reading it is
        text = QStringLiteral("%1: %2").arg(displayName(series), text);
    const int w = fm.horizontalAdvance(text);
    int xt = xc + 2;
    if (xc + 2 + w >= m_plot.right())
        xt = xc - 2 - w;  // near the right edge the text goes left of the line
    xt = std::max(xt, 0); // a text wider than the room left of the line starts at the edge
    const QRect box(xt, m_plot.top() - fh, w, fh);
    painter.drawText(box, Qt::AlignHCenter | Qt::AlignVCenter, text);
    m_readoutRect = box;
    m_readoutText = text;
}

void DMMChart::nearestSeries(const QPoint &pos, int index0, int *series, int *point) const
{
    const int left = m_plot.left();
    const int x = left + std::clamp(pos.x() - left, 0, std::max(m_plot.width(), 0));
    const int y = pos.y();
    const int y0 = zeroLineY();
    auto rowOf = [&](double v) { return int(y0 - m_pixelsPerUnit * v); };
    // How far the mouse is from a series: from its nearest point's column,
    // plus from the rows its points within reach take (all of a dense
    // column's, not just the one nearest point's).
    auto distance = [&](const ChartLine *line, int nearest, int nearestColumn, int a, int b) {
        if (a > b)
            a = b = nearest;
        qint64 dy = qint64(1) << 32; // nothing finite within reach: any line is nearer
        double lo = 0.0, hi = 0.0;
        if (line->rangeExtremes(a, b, &lo, &hi)) {
            const int top = rowOf(hi);
            const int bottom = rowOf(lo);
            dy = y < top ? top - y : y > bottom ? y - bottom : 0;
        }
        return std::abs(qint64(nearestColumn) - x) + dy;
    };

    const ChartLine *line0 = m_series.first();
    const int from0 = m_first;
    const int to0 = from0 + line0->pixelCount() - 1;
    auto column0 = [&](int i) { return int(qint64(i - from0) * m_pixelsPerPoint + left); };
    qint64 best = distance(line0, from0 + index0, left + line0->pixelX(index0),
                           firstAtColumn(from0, to0, x - HoverReach, column0),
                           firstAtColumn(from0, to0, x + HoverReach + 1, column0) - 1);
    *series = 0;
    *point = -1;
    for (int s = 1; s < m_series.size(); ++s) {
        const ChartLine *line = m_series.at(s);
        if (line->pixelCount() <= 0)
            continue;
        const int from = line->visibleFirst();
        const int to = from + line->pixelCount() - 1;
        auto columnOf = [&](int j) { return overlayColumn(line->placement().at(j)); };
        int j = std::min(firstAtColumn(from, to, x, columnOf), to);
        if (j > from && x - columnOf(j - 1) <= std::abs(columnOf(j) - x))
            --j; // a tie goes left, as on series 0
        const qint64 d =
            distance(line, j, columnOf(j), firstAtColumn(from, to, x - HoverReach, columnOf),
                     firstAtColumn(from, to, x + HoverReach + 1, columnOf) - 1);
        if (d < best) {
            best = d;
            *series = s;
            *point = j;
        }
    }
}

void DMMChart::drawLegend(QPainter &painter)
{
    const QFontMetrics fm(painter.font());
    const int fh = fm.height();
    constexpr int Pad = 4, Swatch = 14, Gap = 4, Inset = 6, MaxText = 180;
    const int rows = std::min(int(m_series.size()), (m_plot.height() - 2 * (Inset + Pad)) / fh);
    if (rows <= 0 || m_plot.width() <= 0)
        return;
    QStringList texts;
    int textWidth = 0;
    for (int s = 0; s < rows; ++s) {
        texts << fm.elidedText(displayName(s), Qt::ElideRight, MaxText);
        textWidth = std::max(textWidth, fm.horizontalAdvance(texts.last()));
    }
    const int w = Pad + Swatch + Gap + textWidth + Pad;
    const int h = 2 * Pad + rows * fh;
    // The corner whose rectangle the fewest lines cross (each line's extremes
    // over the corner's columns), top right first: the legend hides as
    // little of the readings as it can.
    const int y0 = zeroLineY();
    auto crossings = [&](const QRect &box) {
        int crossed = 0;
        for (int s = 0; s < m_series.size(); ++s) {
            const ChartLine *line = m_series.at(s);
            const int from = s == 0 ? m_first : line->visibleFirst();
            const int to = from + line->pixelCount() - 1;
            auto columnOf = [&](int i) {
                return s == 0 ? int(qint64(i - m_first) * m_pixelsPerPoint + m_plot.left())
                              : overlayColumn(line->placement().at(i));
            };
            const int a = firstAtColumn(from, to, box.left(), columnOf);
            const int b = firstAtColumn(from, to, box.right() + 1, columnOf) - 1;
            double lo = 0.0, hi = 0.0;
            if (line->pixelCount() > 0 && a <= b && line->rangeExtremes(a, b, &lo, &hi) &&
                int(y0 - m_pixelsPerUnit * hi) <= box.bottom() &&
                int(y0 - m_pixelsPerUnit * lo) >= box.top())
                ++crossed;
        }
        return crossed;
    };
    const int right = m_plot.right() + 1 - Inset - w;
    const int bottom = m_plot.bottom() + 1 - Inset - h;
    QRect box;
    int fewest = std::numeric_limits<int>::max();
    for (const QPoint &corner :
         {QPoint(right, m_plot.top() + Inset), QPoint(m_plot.left() + Inset, m_plot.top() + Inset),
          QPoint(right, bottom), QPoint(m_plot.left() + Inset, bottom)}) {
        const QRect candidate(corner, QSize(w, h));
        const int crossed = crossings(candidate);
        if (crossed < fewest) {
            fewest = crossed;
            box = candidate;
        }
        if (crossed == 0)
            break;
    }
    painter.save();
    painter.setPen(QColor(160, 160, 160));
    painter.setBrush(QColor(255, 255, 255, 230));
    painter.drawRect(box.adjusted(0, 0, -1, -1));
    for (int s = 0; s < rows; ++s) {
        const int top = box.top() + Pad + s * fh;
        painter.fillRect(QRect(box.left() + Pad, top + fh / 2 - 2, Swatch, 4),
                         m_series.at(s)->colour());
        painter.setPen(Qt::black);
        painter.drawText(QRect(box.left() + Pad + Swatch + Gap, top, textWidth, fh),
                         Qt::AlignLeft | Qt::AlignVCenter, texts.at(s));
    }
    painter.restore();
    m_legendRect = box;
    m_legendTexts = texts;
}

void DMMChart::zoomToSelection()
{
    const ChartLine *line0 = m_series.first();
    const int count = line0->pixelCount();
    int a = firstPixelAtLeast(line0, m_selStartX);
    if (a >= count)
        a = 0;
    const int kEnd = firstPixelAtLeast(line0, m_selEndX);
    int b = kEnd < count ? std::max(kEnd - 1, 1) : count - 1;
    b = std::min(b, count - 1);
    if (b - a > 0) {
        m_zoomed = true;
        m_last = m_first + b;
        m_first = m_first + a;
    }
}
