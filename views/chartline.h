#pragma once

#include <QColor>
#include <QList>
#include <QObject>

#include <vector>

class ChartPoint;
class DMMChart;

// One series of the trend chart: its points in arrival order (owned), its colour,
// and the layout figures the chart hands it at every relayout.
//
// Besides the points the series keeps their values in one contiguous array with
// a finite minimum and maximum per block of values, updated as points arrive.
// Range extremes therefore cost by blocks, not by points, which keeps a relayout
// and a repaint of a million points within a frame.
class ChartLine : public QObject
{
    Q_OBJECT
public:
    explicit ChartLine(DMMChart *chart, const QColor &colour = QColor(250, 150, 0));
    ~ChartLine() override;

    // A copy of the point list (the pointers, not the points).
    QList<ChartPoint *> points() const { return m_points; }
    int count() const { return m_points.size(); }
    const ChartPoint *pointAt(int index) const { return m_points.at(index); }
    double valueAt(int index) const { return m_values[static_cast<size_t>(index)]; }

    // Takes ownership.
    void append(ChartPoint *point);
    // Deletes every point.
    void clear();

    QColor colour() const { return m_colour; }
    DMMChart *chart() const { return m_chart; }

    // Extremes over the chart's visible window as of the last relayout; both always include 0.
    double minimum() const { return m_minimum; }
    double maximum() const { return m_maximum; }
    double xScale() const { return m_xScale; }
    double yScale() const { return m_yScale; }

    // Pixel positions of the visible points, relative to the plot's left edge:
    // x of the k-th visible point is int(k * xScale + 0.5).
    int pixelCount() const { return m_pixelCount; }
    int pixelX(int k) const;

    // Recomputes extremes and pixel positions over the chart's visible window.
    void relayout(double xScale, double yScale);

    // Smallest and largest finite value in [from, to]; false when there is none.
    bool rangeExtremes(int from, int to, double *min, double *max) const;
    // Index of the first / last finite value in [from, to], or -1.
    int firstFinite(int from, int to) const;
    int lastFinite(int from, int to) const;

    static constexpr int BlockSize = 64;
    // Finite extremes of block b (indices b * BlockSize ...); min > max when it holds none.
    double blockMinimum(int block) const { return m_blockMin[static_cast<size_t>(block)]; }
    double blockMaximum(int block) const { return m_blockMax[static_cast<size_t>(block)]; }

private:
    QList<ChartPoint *> m_points;
    std::vector<double> m_values;
    std::vector<double> m_blockMin;
    std::vector<double> m_blockMax;
    QColor m_colour;
    double m_minimum = 0.0;
    double m_maximum = 0.0;
    double m_xScale = 0.0;
    double m_yScale = 0.0;
    int m_pixelCount = 0;
    DMMChart *m_chart;
};
