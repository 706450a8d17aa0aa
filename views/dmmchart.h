#pragma once

#include "charttimeaxis.h"

#include <QColor>
#include <QFrame>
#include <QList>
#include <QMutex>
#include <QPixmap>
#include <QRect>
#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

class ChartLine;
class ChartPoint;
class ChartSource;
class QTimer;

// The trend chart: the active item's readings as a line against their order of
// arrival, with date-time labels below, a dotted grid, a hover read-out and
// drag-to-zoom.
//
// Drawing is cached in four stacked pixmaps (axes, lines, selection, final) with
// a dirty flag each, so hover and drag feedback never redraw the axes or the
// line. A line over more points than the plot has pixel columns is drawn as each
// column's first, minimum, maximum and last value: the same pixels as one vertex
// per point, at a cost that follows the pixels.
//
// A series takes its points either as ChartPoint objects (addPoint, owned) or
// from an attached ChartSource, whose values it copies into a compact array
// with a min/max pyramid while times and labels stay with the source. Either
// way a repaint costs by pixel columns (about log16(n) per column), not by
// points. All of it runs on the GUI thread.
//
// Overlays: further items compared with the active one. Series 0 is the
// active item; overlays are series 1 .. overlayCount(), each fed by a
// ChartSource (values in the chart's unit, like series 0's), with a name and
// a colour of its own (a fixed palette unless given). The x axis stays series
// 0's order of points with its date-time labels; an overlay's point is placed
// by its time (ChartSource::timeKey) on that axis, interpolated between the
// two points of series 0 around it (ChartTimeAxis):
// - points before series 0's first time or after its last are not drawn; the
//   latter are placed as soon as series 0 reaches their time (live growth);
// - an empty series 0, or one without a valid time, draws no overlay (the
//   legend still names them);
// - times that step back are taken as their running maximum, in series 0 and
//   in the overlay alike: the axis holds still where series 0's clock went
//   back, and an overlay point whose clock went back sits on its predecessor.
// Each overlay is drawn like series 0 (per pixel column minimum and maximum,
// never a vertex per point), below series 0, in the zoom window of series 0.
// Zoom, visibleRangeChanged() and the x labels keep series 0's indexes; the
// vertical range takes in every series' visible points and the limit lines;
// setValidRangeOnly applies to every series. While overlays are shown, a
// legend names every series beside its colour, inside the plot in the corner
// its lines cross least (top right first; the read-out stays above the plot,
// so the legend never hides it), and the hover read-out names the item it
// reads: of each series the point nearest the mouse's column is found, and
// the series whose line passes nearest the mouse (by its points within two
// columns) is read out. Without overlays the chart looks and behaves exactly
// as it did without them.
//
// A window comparing items: setSource(0, active) and setSeriesName(0, name)
// as before; setOverlays() with the checked items whenever the checks change
// (or addOverlay / removeOverlay one at a time); sourceAppended(seriesOf(s))
// when item source s gains readings, O(1) a reading like series 0's;
// sourceReset(series) for every series when the unit changes; removeOverlay
// before an overlaid item's source goes.
class DMMChart : public QFrame
{
    Q_OBJECT
public:
    // An item to overlay: source (not owned) must stay alive until the
    // overlay is removed or replaced; an invalid colour takes the first
    // palette colour no other overlay has.
    struct Overlay
    {
        const ChartSource *source = nullptr;
        QString name;
        QColor colour;
    };

    explicit DMMChart(QWidget *parent = nullptr);
    ~DMMChart() override;

    // Takes ownership of the point(s). A series index that does not exist deletes them.
    void addPoint(ChartPoint *point, int series);
    void addPoints(const QList<ChartPoint *> &points, int series);
    // Deletes series 0's own points and lets go of its attached source.
    // The zoom stays while its window still lies within the points added next.
    // Overlays stay (removeOverlay and setOverlays let go of them); they are
    // drawn again once series 0 has points with times.
    void clearPoints();

    // The calls below take any series: 0, or an overlay (1 .. overlayCount()).
    // Points handed to an overlay's series by addPoint(s) are deleted, and an
    // overlay attached to null is removed.
    //
    // Feeds a series from source (not owned) in place of its points, pulling
    // every value the source holds now; null detaches (the series is empty).
    // The source must stay alive until it is detached, replaced, or
    // clearPoints() runs. Like clearPoints() followed by addPoints().
    void setSource(int series, const ChartSource *source);
    // The source has appended points: pulls their values, O(1) per point, and
    // asks for one repaint (merged by update()) unless zoomed or dragging.
    // A source that now holds fewer points is read again from the start.
    void sourceAppended(int series);
    // The source's points changed otherwise (another unit, other readings):
    // pulls every value again. Like clearPoints() followed by addPoints().
    void sourceReset(int series);
    // The source attached to a series; null when it takes ChartPoint objects.
    const ChartSource *source(int series) const;

    // Replaces the overlays by these, in this order (series 1, 2, ...). An
    // overlay whose source was shown already keeps its pulled values and
    // places, so the window may hand the whole list on every change. A null
    // source, and series 0's own, is skipped; a source given twice is taken once.
    void setOverlays(const QList<Overlay> &overlays);
    // Adds one overlay (or renames and recolours the one of that source) and
    // returns its series; -1 for a null source or series 0's own.
    int addOverlay(const ChartSource *source, const QString &name, const QColor &colour = QColor());
    // Lets go of the overlay of that source; later overlays move down one
    // series. False when no overlay has that source.
    bool removeOverlay(const ChartSource *source);
    int overlayCount() const { return m_series.size() - 1; }
    // The series fed by source (series 0 first), or -1.
    int seriesOf(const ChartSource *source) const;
    // The name the legend and read-out give a series (series 0 too).
    void setSeriesName(int series, const QString &name);
    QString seriesName(int series) const;
    // The overlay palette: distinct from each other, from series 0's orange,
    // the read-out's blue and the limit lines' red; repeats after its end.
    static QColor paletteColour(int index);
    static int paletteSize();

    // Off (the default): every value takes part in the range and the line, as
    // it always has. On: readings beyond the meter's range (as the source
    // marks them) and values that are not finite stay out of both and show as
    // short ticks at the plot's top (over range) or bottom (under range) edge,
    // so one overload no longer flattens a day's curve.
    void setValidRangeOnly(bool on);
    bool validRangeOnly() const { return m_validRangeOnly; }
    // Dashed horizontal lines at limits in the chart's unit (none when not
    // set); the vertical range always takes them in.
    void setLimitLines(std::optional<double> lower, std::optional<double> upper);
    std::optional<double> lowerLimitLine() const { return m_lowerLimit; }
    std::optional<double> upperLimitLine() const { return m_upperLimit; }

    void setXAxisTitle(const QString &title);
    void setLeftMargin(int margin);
    void setBottomMargin(int margin);
    void setDecimals(int decimals);
    // Decimals of the vertical labels for a chart unit: "uW" 1, "mW" 3, "dBm" 2;
    // any other text keeps the current decimals.
    static int decimalsForUnit(const QString &unit, int current);
    void applyChartUnitMode(const QString &unit);

    // Writes the picture last composed (brought up to date first) to path; the
    // format follows the suffix. False when the file cannot be written.
    bool saveImage(const QString &path);
    // The picture last composed (the final layer).
    QPixmap lastPicture() const { return m_finalLayer; }

    // The first of the label step lists whose product with the pixels per point
    // (per value unit) reaches minSpacing; 0 when no step can reach it.
    static int nicePointStep(double pixelsPerPoint, double minSpacing);
    static double niceStep(double pixelsPerUnit, double minSpacing);

    // Index into the visible window of the point nearest to x (relative to the
    // plot's left edge); a halfway tie goes left; -1 when nothing is visible.
    int nearestPointIndex(int x) const;

    // Read-only state.
    int seriesCount() const { return m_series.size(); }
    const ChartLine *series(int index) const;
    int pointCount(int series) const;
    int firstVisible() const { return m_first; }
    int lastVisible() const { return m_last; }
    bool isZoomed() const { return m_zoomed; }
    bool isSelecting() const { return m_selecting; }
    double yMin() const { return m_yMin; }
    double yMax() const { return m_yMax; }
    double pixelsPerPoint() const { return m_pixelsPerPoint; }
    double pixelsPerUnit() const { return m_pixelsPerUnit; }
    double xLabelSpacing() const { return m_xLabelSpacing; }
    double yGridSpacing() const { return m_yGridSpacing; }
    int xLabelCount() const { return m_xLabelCount; }
    int gridAbove() const { return m_gridAbove; }
    int gridBelow() const { return m_gridBelow; }
    int xStep() const { return m_xStep; }
    double yStep() const { return m_yStep; }
    // Row of the zero line as of the last relayout.
    int zeroLineY() const;
    QRect plotRect() const { return m_plot; }
    int leftMargin() const { return m_leftMargin; }
    int rightMargin() const { return m_rightMargin; }
    int topMargin() const { return m_topMargin; }
    int bottomMargin() const { return m_bottomMargin; }
    int decimals() const { return m_decimals; }
    QString xAxisTitle() const { return m_xAxisTitle; }
    int cursorIndex() const { return m_cursorIndex; }
    bool isCursorVisible() const { return m_cursorVisible; }
    bool isIndicatorTimerActive() const;
    QRect selectionRect() const;
    QColor cursorColour() const { return m_cursorColour; }
    // Where the last read-out text was drawn (widget coordinates); null when none.
    QRect readoutRect() const { return m_readoutRect; }
    // The first read-out line drawn last; empty when none.
    QString readoutText() const { return m_readoutText; }
    // The series and the point (its index in that series) the read-out
    // reads; series 0 whenever no overlay is shown.
    int cursorSeries() const { return m_cursorSeries; }
    int cursorPoint() const;
    // Where the legend was drawn last and the names it showed (series 0
    // first); null and empty without overlays.
    QRect legendRect() const { return m_legendRect; }
    QStringList legendTexts() const { return m_legendTexts; }
    // Vertical-axis label text for a grid value.
    QString valueLabel(double value) const;

signals:
    // A drag ended: the view zoomed into first..last (indexes of series 0,
    // inclusive), or shows all points again (zoomed false).
    void visibleRangeChanged(int first, int last, bool zoomed);

public slots:
    void slotTmrIndicatorTimeout();

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void applyGeometry(const QSize &size);
    // Brings the four layers up to date; the caller holds the lock.
    void compose();
    void relayout();
    void drawAxes(QPainter &painter);
    void drawLines(QPainter &painter);
    template <typename ColumnRun>
    void drawSeries(QPainter &painter, const ChartLine *line, int from, int to,
                    ColumnRun columnRun);
    template <typename ColumnRun>
    void drawRangeTicks(QPainter &painter, const std::vector<int> &marks, int from, int to, int top,
                        ColumnRun columnRun);
    void drawLegend(QPainter &painter);
    void drawSelection(QPainter &painter);
    void drawReadout(QPainter &painter);
    void zoomToSelection();
    QPoint toPlot(const QPoint &pos) const;
    bool hasPoints() const;
    // Series 0 gained points, or was read again (rebuilt): the time axis and
    // the overlays' places follow; the axis goes when no overlay is left.
    void followAxis(bool rebuilt);
    ChartLine *newOverlay(const ChartSource *source, const QString &name, const QColor &colour);
    void takePaletteColours(const QList<ChartLine *> &lines);
    void overlaysChanged();
    // Column of an overlay position as of the last relayout.
    int overlayColumn(double position) const;
    // The series (and its point) whose line passes nearest the widget position.
    void nearestSeries(const QPoint &pos, int index0, int *series, int *point) const;
    QString displayName(int series) const;

    int m_leftMargin = 60;
    int m_rightMargin = 20;
    int m_topMargin = 40;
    int m_bottomMargin = 40;
    QRect m_plot;
    QList<ChartLine *> m_series; // [0] the active item, then the overlays
    ChartTimeAxis m_axis;        // series 0's times, kept while overlays are shown
    QPixmap m_axesLayer;
    QPixmap m_linesLayer;
    QPixmap m_finalLayer;
    QPixmap m_selectionLayer;
    QTimer *m_indicatorTimer;
    bool m_axesDirty = true;
    bool m_linesDirty = true;
    bool m_indicatorDirty = false;
    bool m_selectionDirty = false;
    QColor m_background = Qt::white;
    double m_yMin = 0.0;
    double m_yMax = 0.0;
    double m_pixelsPerPoint = 0.0;
    double m_pixelsPerUnit = 0.0;
    double m_xLabelSpacing = 0.0;
    double m_yGridSpacing = 0.0;
    int m_xLabelCount = 0;
    int m_gridAbove = 0;
    int m_gridBelow = 0;
    int m_xStep = 0;
    double m_yStep = 0.0;
    bool m_cursorVisible = false;
    int m_cursorIndex = -1;
    bool m_selecting = false;
    bool m_zoomed = false;
    int m_first = 0;
    int m_last = 0;
    int m_selStartX = 0;
    int m_selStartY = 0;
    int m_selEndX = 0;
    int m_selEndY = 0;
    QMutex m_lock;
    QColor m_cursorColour = QColor(0, 100, 250);
    QString m_xAxisTitle;
    int m_decimals = 1;
    QRect m_readoutRect;
    QString m_readoutText;
    int m_cursorSeries = 0;
    int m_cursorPoint = -1; // of an overlay
    QRect m_legendRect;
    QStringList m_legendTexts;
    bool m_validRangeOnly = false;
    std::optional<double> m_lowerLimit;
    std::optional<double> m_upperLimit;
};
