// Trend chart at scale: fills a 1000 x 600 chart with 10^3 .. 10^6 points and
// reports the cost of a full relayout and repaint, of a hover repaint, of adding
// a point, and of the same picture drawn as one polyline vertex per point.

#include "chartpoint.h"
#include "dmmchart.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>
#include <QRandomGenerator>

#include <algorithm>
#include <cmath>
#include <cstdio>
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

void hoverTo(DMMChart &chart, int x)
{
    const QPoint pos(chart.plotRect().left() + x, chart.plotRect().top() + 10);
    QMouseEvent event(QEvent::MouseMove, pos, chart.mapToGlobal(pos), Qt::NoButton, Qt::NoButton,
                      Qt::NoModifier);
    QApplication::sendEvent(&chart, &event);
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    const struct
    {
        int count;
        const char *exponent;
    } sizes[] = {{1000, "1e3"}, {10000, "1e4"}, {100000, "1e5"}, {1000000, "1e6"}};

    for (const auto &size : sizes) {
        const int n = size.count;
        QRandomGenerator rng(930);
        std::vector<ChartPoint *> points;
        points.reserve(size_t(n));
        std::vector<double> values;
        values.reserve(size_t(n));
        const QDateTime start(QDate(2024, 1, 1), QTime(8, 0));
        double v = -3.0;
        for (int i = 0; i < n; ++i) {
            v += (rng.generateDouble() - 0.5) * 0.05;
            values.push_back(v);
            points.push_back(new ChartPoint(v, QString(), start.addMSecs(qint64(i) * 100), -1, -1,
                                            QVariant(QStringLiteral("%1 dBm").arg(v))));
        }

        DMMChart chart;
        chart.resize(1000, 600);
        chart.show();
        QApplication::processEvents();

        QElapsedTimer timer;
        timer.start();
        for (ChartPoint *point : points)
            chart.addPoint(point, 0);
        const double addUs = timer.nsecsElapsed() / 1000.0 / n;

        std::vector<double> full, hover, naive;
        for (int r = 0; r < 15; ++r) {
            chart.setLeftMargin(chart.leftMargin()); // marks every layer for rebuild
            timer.restart();
            chart.repaint();
            full.push_back(timer.nsecsElapsed() / 1e6);
        }
        for (int r = 0; r < 30; ++r) {
            hoverTo(chart, 100 + (r % 2) * 400); // a different point each time
            timer.restart();
            chart.repaint();
            hover.push_back(timer.nsecsElapsed() / 1e6);
        }

        // The same line as one vertex per point on a layer of the same size.
        QPixmap layer(chart.size());
        const int left = chart.plotRect().left();
        const int y0 = chart.zeroLineY();
        const double ppp = chart.pixelsPerPoint();
        const double ppu = chart.pixelsPerUnit();
        std::vector<QPoint> vertices(static_cast<size_t>(n));
        for (int r = 0; r < 9; ++r) {
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

        const double fullMs = best(full);
        const double naiveMs = best(naive);
        report("chart_full_repaint", size.exponent, fullMs, "ms");
        report("chart_naive_polyline", size.exponent, naiveMs, "ms");
        report("chart_naive_ratio", size.exponent, naiveMs / fullMs, "x");
        report("chart_hover_repaint", size.exponent, best(hover), "ms");
        report("chart_add_point", size.exponent, addUs, "us");
    }
    return 0;
}
