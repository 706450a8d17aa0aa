// Trend chart at scale: a 1000 x 600 chart holding 10^3 .. 10^7 points fed
// through a ChartSource (as the window feeds it), and at 10^3 .. 10^6 also as
// ChartPoint objects. Reports the cost of a full relayout and repaint, of a
// hover repaint, of the repaint after a drag-zoom, of taking one more reading,
// of re-reading the whole source, the memory the chart holds per point, the
// same picture drawn as one polyline vertex per point, and (from 10^6 on) the
// full repaint of wide noise. Then four items of 10^6 readings each in one
// chart, the active one and three overlays, as four meters recording at once.

#include "chartpoint.h"
#include "chartsource.h"
#include "dmmchart.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>
#include <QRandomGenerator>

#include <malloc.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

// The machine is shared: the best of several runs is the figure least disturbed
// by other work, for the chart and the naive drawing alike.
double best(const std::vector<double> &samples)
{
    return *std::min_element(samples.begin(), samples.end());
}

void report(const char *name, const char *exponent, double value, const char *unit)
{
    std::printf("BENCH %s_%s %.4g %s\n", name, exponent, value, unit);
    std::fflush(stdout);
}

// Processor time of this thread in ms: on a shared machine it shows what the
// wall-clock figure would be without other processes.
double threadCpuMs()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

// Resident bytes of this process, after handing freed heap back to the system.
double residentBytes()
{
    malloc_trim(0);
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly))
        return 0.0;
    const QList<QByteArray> fields = statm.readAll().split(' ');
    return fields.size() > 1 ? fields.at(1).toDouble() * double(sysconf(_SC_PAGESIZE)) : 0.0;
}

void mouse(DMMChart &chart, QEvent::Type type, const QPoint &plotPos, Qt::MouseButtons buttons)
{
    const QPoint pos = chart.plotRect().topLeft() + plotPos;
    const Qt::MouseButton button = type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton;
    QMouseEvent event(type, pos, chart.mapToGlobal(pos), button, buttons, Qt::NoModifier);
    QApplication::sendEvent(&chart, &event);
}

// Readings held elsewhere, asked for one value at a time as the window's
// reading store will be; only the first `held` of them exist so far.
// Readings are 200 ms apart from offsetMs on; their times are kept as numbers,
// as the window's item store keeps them.
class Readings : public ChartSource
{
public:
    explicit Readings(const std::vector<double> &values, qint64 offsetMs = 0)
        : m_values(values), m_offsetMs(offsetMs)
    {
    }
    int count() const override { return held; }
    double value(int index) const override { return m_values[size_t(index)]; }
    QDateTime dateTime(int index) const override
    {
        return m_start.addMSecs(m_offsetMs + qint64(index) * 200);
    }
    qint64 timeKey(int index) const override
    {
        return m_startKey + m_offsetMs + qint64(index) * 200;
    }
    QString label(int index) const override
    {
        return QStringLiteral("%1 dBm").arg(m_values[size_t(index)], 0, 'f', 2);
    }
    int held = 0;

private:
    const std::vector<double> &m_values;
    const qint64 m_offsetMs;
    const QDateTime m_start{QDate(2024, 1, 1), QTime(8, 0)};
    // 2024-01-01 08:00 on the wall clock: days since 1970-01-01 and 8 hours.
    const qint64 m_startKey =
        (QDate(2024, 1, 1).toJulianDay() - 2440588) * 86400000LL + 8 * 3600000LL;
};

struct Repaints
{
    std::vector<double> full, fullCpu, hover, zoom;
};

// Full relayouts and repaints, hover repaints at a different point each time
// (moving between `heights` heights), and repaints after a drag-zoom.
Repaints measureRepaints(DMMChart &chart, int heights)
{
    Repaints r;
    QElapsedTimer timer;
    for (int i = 0; i < 15; ++i) {
        chart.setLeftMargin(chart.leftMargin()); // marks every layer for rebuild
        const double cpu = threadCpuMs();
        timer.start();
        chart.repaint();
        r.full.push_back(timer.nsecsElapsed() / 1e6);
        r.fullCpu.push_back(threadCpuMs() - cpu);
    }
    for (int i = 0; i < 30; ++i) {
        mouse(chart, QEvent::MouseMove, QPoint(100 + (i % 2) * 400, 10 + (i % heights) * 150),
              Qt::NoButton);
        timer.start();
        chart.repaint();
        r.hover.push_back(timer.nsecsElapsed() / 1e6);
    }
    for (int i = 0; i < 10; ++i) {
        const QPoint from(200 + i, 20), to(600 + i, 120);
        mouse(chart, QEvent::MouseButtonPress, from, Qt::LeftButton);
        mouse(chart, QEvent::MouseMove, to, Qt::LeftButton);
        chart.repaint();
        mouse(chart, QEvent::MouseButtonRelease, to, Qt::NoButton);
        timer.start();
        chart.repaint();
        r.zoom.push_back(timer.nsecsElapsed() / 1e6);
        // A click shows all points again.
        mouse(chart, QEvent::MouseButtonPress, from, Qt::LeftButton);
        mouse(chart, QEvent::MouseButtonRelease, from, Qt::NoButton);
        chart.repaint();
    }
    return r;
}

// Four items of 10^6 readings, each at its own level and start, growing
// together reading by reading; then repaints as for one item.
void fourItems()
{
    const int n = 1000000;
    const int items = 4;
    QRandomGenerator rng(23);
    std::vector<std::vector<double>> values(items);
    std::vector<std::unique_ptr<Readings>> readings;
    for (int s = 0; s < items; ++s) {
        double v = -3.0 - 3.0 * s;
        values[size_t(s)].reserve(size_t(n));
        for (int i = 0; i < n; ++i) {
            v += (rng.generateDouble() - 0.5) * 0.05;
            values[size_t(s)].push_back(v);
        }
        readings.push_back(std::make_unique<Readings>(values[size_t(s)], 37 * s));
    }
    DMMChart chart;
    chart.resize(1000, 600);
    chart.show();
    QApplication::processEvents();
    chart.setSource(0, readings[0].get());
    chart.setSeriesName(0, QStringLiteral("kv930"));
    for (int s = 1; s < items; ++s)
        chart.addOverlay(readings[size_t(s)].get(), QStringLiteral("meter %1").arg(s + 1));

    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < n; ++i) {
        for (int s = 0; s < items; ++s) {
            ++readings[size_t(s)]->held;
            chart.sourceAppended(s);
        }
    }
    const double appendUs = timer.nsecsElapsed() / 1000.0 / (double(n) * items);

    std::vector<double> attach;
    for (int r = 0; r < 3; ++r) { // an item checked for the chart
        timer.restart();
        chart.removeOverlay(readings[3].get());
        chart.addOverlay(readings[3].get(), QStringLiteral("meter 4"));
        attach.push_back(timer.nsecsElapsed() / 1e6);
    }
    const Repaints repaints = measureRepaints(chart, 3);
    report("chart_full_repaint", "4x1e6", best(repaints.full), "ms");
    report("chart_full_repaint_cpu", "4x1e6", best(repaints.fullCpu), "ms");
    report("chart_hover_repaint", "4x1e6", best(repaints.hover), "ms");
    report("chart_zoom", "4x1e6", best(repaints.zoom), "ms");
    report("chart_source_append", "4x1e6", appendUs, "us");
    report("chart_add_overlay", "1e6", best(attach), "ms");
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    // "bench_chart 4x" runs the four items alone.
    if (argc > 1 && qstrcmp(argv[1], "4x") == 0) {
        fourItems();
        return 0;
    }

    const struct
    {
        int count;
        const char *exponent;
    } sizes[] = {
        {1000, "1e3"}, {10000, "1e4"}, {100000, "1e5"}, {1000000, "1e6"}, {10000000, "1e7"}};

    for (const auto &size : sizes) {
        const int n = size.count;
        QRandomGenerator rng(930);
        std::vector<double> values;
        values.reserve(size_t(n));
        double v = -3.0;
        for (int i = 0; i < n; ++i) {
            v += (rng.generateDouble() - 0.5) * 0.05;
            values.push_back(v);
        }
        Readings readings(values);

        {
            DMMChart chart;
            chart.resize(1000, 600);
            chart.show();
            QApplication::processEvents();
            chart.setSource(0, &readings);

            // One reading at a time, as they arrive; no paint in between, so
            // the repaint requests merge as during a burst.
            const double residentBefore = residentBytes();
            QElapsedTimer timer;
            timer.start();
            while (readings.held < n) {
                ++readings.held;
                chart.sourceAppended(0);
            }
            const double appendUs = timer.nsecsElapsed() / 1000.0 / n;
            const double heldBytes = residentBytes() - residentBefore;

            std::vector<double> reset, naive;
            for (int r = 0; r < 5; ++r) {
                timer.restart();
                chart.sourceReset(0);
                reset.push_back(timer.nsecsElapsed() / 1e6);
            }
            const Repaints repaints = measureRepaints(chart, 1);

            // The same line as one vertex per point on a layer of the same size.
            QPixmap layer(chart.size());
            const int left = chart.plotRect().left();
            const int y0 = chart.zeroLineY();
            const double ppp = chart.pixelsPerPoint();
            const double ppu = chart.pixelsPerUnit();
            std::vector<QPoint> vertices(static_cast<size_t>(n));
            for (int r = 0; r < (n > 1000000 ? 3 : 9); ++r) {
                layer.fill(Qt::white);
                timer.restart();
                for (int k = 0; k < n; ++k)
                    vertices[size_t(k)] =
                        QPoint(int(k * ppp + left), int(y0 - ppu * values[size_t(k)]));
                QPainter painter(&layer);
                painter.setPen(QPen(QColor(250, 150, 0), 1));
                painter.drawPolyline(vertices.data(), n);
                painter.end();
                naive.push_back(timer.nsecsElapsed() / 1e6);
            }

            // Wide noise, every column spanning most of the plot: the line's
            // own pixels are the cost then.
            std::vector<double> noise;
            std::vector<double> noisy;
            if (n >= 1000000) {
                noise.reserve(size_t(n));
                for (int i = 0; i < n; ++i)
                    noise.push_back(10 * rng.generateDouble() - 3);
                Readings wide(noise);
                wide.held = n;
                chart.setSource(0, &wide);
                for (int r = 0; r < 15; ++r) {
                    chart.setLeftMargin(chart.leftMargin());
                    timer.restart();
                    chart.repaint();
                    noisy.push_back(timer.nsecsElapsed() / 1e6);
                }
                chart.setSource(0, nullptr);
            }

            const double fullMs = best(repaints.full);
            const double naiveMs = best(naive);
            report("chart_full_repaint", size.exponent, fullMs, "ms");
            report("chart_naive_polyline", size.exponent, naiveMs, "ms");
            report("chart_naive_ratio", size.exponent, naiveMs / fullMs, "x");
            if (!noisy.empty())
                report("chart_full_repaint_noise", size.exponent, best(noisy), "ms");
            report("chart_hover_repaint", size.exponent, best(repaints.hover), "ms");
            report("chart_zoom", size.exponent, best(repaints.zoom), "ms");
            report("chart_source_append", size.exponent, appendUs, "us");
            report("chart_source_reset", size.exponent, best(reset), "ms");
            if (n >= 100000) // smaller figures drown in page granularity
                report("chart_bytes_per_point", size.exponent, heldBytes / n, "bytes");
        }

        if (n <= 1000000) {
            // The path of callers that hand over ChartPoint objects.
            std::vector<ChartPoint *> points;
            points.reserve(size_t(n));
            const QDateTime start(QDate(2024, 1, 1), QTime(8, 0));
            for (int i = 0; i < n; ++i)
                points.push_back(new ChartPoint(values[size_t(i)], QString(),
                                                start.addMSecs(qint64(i) * 100), -1, -1,
                                                QVariant(QStringLiteral("%1 dBm").arg(v))));
            DMMChart chart;
            chart.resize(1000, 600);
            chart.show();
            QApplication::processEvents();
            QElapsedTimer timer;
            timer.start();
            for (ChartPoint *point : points)
                chart.addPoint(point, 0);
            report("chart_add_point", size.exponent, timer.nsecsElapsed() / 1000.0 / n, "us");
        }
    }
    fourItems();
    return 0;
}
