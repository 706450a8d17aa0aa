#include "chartline.h"
#include "chartsource.h"
#include "charttestutil.h"

#include <QHash>
#include <QRandomGenerator>
#include <QtTest>

#include <limits>

#include <memory>

using namespace charttest;

namespace {
// Readings kept as plain values; times and labels are made when asked.
class Readings : public ChartSource
{
public:
    int count() const override { return values.size(); }
    double value(int index) const override { return values.at(index); }
    QDateTime dateTime(int index) const override { return baseTime().addSecs(index); }
    QString label(int index) const override
    {
        return QStringLiteral("%1 mW").arg(QString::number(values.at(index), 'f', 3));
    }
    int rangeMark(int index) const override { return marks.value(index); }
    QVector<double> values;
    QHash<int, int> marks;
};

} // namespace

// A chart fed from a ChartSource draws what it draws from ChartPoint objects.
class TestChartSource : public QObject
{
    Q_OBJECT
private slots:
    void sourceDrawsWhatPointsDraw_data();
    void sourceDrawsWhatPointsDraw();
    void sourceChangesAreFollowed();
    void validReadingsOnlyAndLimitLines();
};

void TestChartSource::sourceDrawsWhatPointsDraw_data()
{
    QTest::addColumn<int>("count");
    QTest::addColumn<bool>("allEqual");
    QTest::newRow("1e3 walk") << 1000 << false;
    QTest::newRow("1e3 all equal") << 1000 << true;
    QTest::newRow("1e5 walk") << 100000 << false;
}

// Axes, labels, line, read-out, selection and zoom, also while points arrive
// under a zoom: the two feeds give the same pictures, and the line equals one
// polyline vertex per point.
void TestChartSource::sourceDrawsWhatPointsDraw()
{
    QFETCH(int, count);
    QFETCH(bool, allEqual);
    QRandomGenerator rng{quint32(count)};
    QVector<double> values;
    double v = 2.5;
    for (int i = 0; i < count; ++i) { // a walk with spikes and stretches of no reading
        v += allEqual ? 0
                      : rng.generateDouble() - 0.5 +
                            (rng.bounded(80) ? 0 : 30 * rng.generateDouble() - 15);
        values << (!allEqual && (i % 991 == 0 || (i > count / 3 && i < count / 3 + 40)) ? -qInf()
                                                                                        : v);
    }
    const QVector<double> more(60, 50.0);
    QList<QImage> pictures[2];
    for (int feed = 0; feed < 2; ++feed) {
        Readings readings;
        readings.values = values;
        auto pointsFrom = [&](int from) {
            QList<ChartPoint *> points;
            for (int i = from; i < readings.values.size(); ++i)
                points << new ChartPoint(readings.values[i], QString(), readings.dateTime(i), -1,
                                         -1, readings.label(i));
            return points;
        };
        DMMChart chart;
        chart.resize(1000, 600);
        chart.setLeftMargin(70);
        chart.setXAxisTitle(QStringLiteral("Date Time"));
        chart.show();
        QVERIFY(QTest::qWaitForWindowExposed(&chart));
        feed ? chart.setSource(0, &readings) : chart.addPoints(pointsFrom(0), 0);
        QList<QImage> &shots = pictures[feed];
        const QPoint tl = chart.plotRect().topLeft();
        shots << render(chart);
        QCOMPARE(lineDifferences(shots.last(), onePolylineVertexPerPoint(chart, values)), 0);
        moveTo(&chart, tl + QPoint(37, 20));
        shots << render(chart);
        QVERIFY(!chart.readoutRect().isNull());
        moveTo(&chart, tl + QPoint(chart.plotRect().width() - 4, 20));
        shots << render(chart);
        QTest::mousePress(&chart, Qt::LeftButton, Qt::NoModifier, tl + QPoint(181, 10));
        moveTo(&chart, tl + QPoint(457, 200), Qt::LeftButton);
        shots << render(chart);
        QTest::mouseRelease(&chart, Qt::LeftButton, Qt::NoModifier, tl + QPoint(457, 200));
        shots << render(chart);
        QVERIFY(chart.isZoomed());
        QCOMPARE(lineDifferences(shots.last(), onePolylineVertexPerPoint(chart, values)), 0);
        moveTo(&chart, tl + QPoint(300, 20));
        shots << render(chart);
        // Points arriving under the zoom leave the picture alone.
        readings.values << more;
        feed ? chart.sourceAppended(0) : chart.addPoints(pointsFrom(count), 0);
        shots << render(chart);
        QVERIFY(shots.at(6) == shots.at(5));
        QTest::mouseClick(&chart, Qt::LeftButton, Qt::NoModifier, tl + QPoint(50, 50));
        shots << render(chart);
        QCOMPARE(chart.lastVisible(), count + more.size() - 1);
        QCOMPARE(lineDifferences(shots.last(), onePolylineVertexPerPoint(chart, values + more)), 0);
    }
    for (int i = 0; i < pictures[0].size(); ++i)
        QVERIFY2(pictures[1].at(i) == pictures[0].at(i), qPrintable(QString::number(i)));
}

void TestChartSource::sourceChangesAreFollowed()
{
    DMMChart chart;
    chart.resize(380, 300);
    auto readings = std::make_unique<Readings>();
    readings->values = {1, 2, 3};
    chart.addPoints(makePoints({9, 9}), 0); // the source replaces them
    chart.setSource(0, readings.get());
    QCOMPARE(chart.source(0), readings.get());
    QVERIFY(chart.series(0)->points().isEmpty());
    readings->values << 4 << 5;
    chart.sourceAppended(0);
    QCOMPARE(chart.pointCount(0), 5);
    QCOMPARE(chart.series(0)->labelAt(4), QStringLiteral("5.000 mW"));
    QCOMPARE(chart.series(0)->dateTimeAt(4), baseTime().addSecs(4));
    render(chart);
    QCOMPARE(chart.yMax(), 5.5);

    // Other values (another unit) are read again on reset; a source that
    // shrank without a reset is read again from the start.
    readings->values = {-4, -8};
    chart.sourceReset(0);
    QCOMPARE(chart.series(0)->valueAt(1), -8.0);
    readings->values = {7};
    chart.sourceAppended(0);
    QCOMPARE(chart.pointCount(0), 1);
    QCOMPARE(chart.series(0)->valueAt(0), 7.0);

    // Once cleared the chart no longer asks the source, which may then go.
    chart.clearPoints();
    QCOMPARE(chart.source(0), nullptr);
    readings.reset();
    moveTo(&chart, chart.plotRect().topLeft() + QPoint(10, 10));
    render(chart);
    QCOMPARE(chart.pointCount(0), 0);
    chart.addPoint(makePoint(1.0), 0);
    QCOMPARE(chart.pointCount(0), 1);
}

void TestChartSource::validReadingsOnlyAndLimitLines()
{
    // A laser near -3 dBm, one over-range reading (16 dBm, the meter's limit)
    // and one reading of no power (-inf).
    Readings readings;
    for (int i = 0; i < 300; ++i)
        readings.values << -3.0 + 0.01 * (i % 7);
    readings.values[100] = 16.0;
    readings.marks.insert(100, 1);
    readings.values[200] = -std::numeric_limits<double>::infinity();
    DMMChart chart;
    chart.resize(380, 300);
    chart.show();
    QVERIFY(QTest::qWaitForWindowExposed(&chart));
    chart.setSource(0, &readings);
    render(chart);
    QVERIFY(chart.yMax() > 16.0); // off: the overload takes part, as always
    const QImage plain = render(chart);

    chart.setValidRangeOnly(true);
    QImage image = render(chart);
    QVERIFY(chart.yMax() < 2.0);
    const QRect p = chart.plotRect();
    auto column = [&](int i) { return int(i * chart.pixelsPerPoint() + p.left()); };
    auto lineAt = [&](int x, int y0, int y1) {
        for (int y = y0; y <= y1; ++y)
            if (isLineColour(image.pixel(x, y)))
                return true;
        return false;
    };
    QVERIFY(lineAt(column(100), p.top(), p.top() + 5));       // over range: top edge
    QVERIFY(lineAt(column(200), p.bottom() - 5, p.bottom())); // no power: bottom edge
    QVERIFY(!lineAt(column(50), p.top(), p.top() + 5));       // nowhere else
    QCOMPARE(chart.pointCount(0), 300);                       // every reading is still held
    chart.setValidRangeOnly(false);
    QCOMPARE(render(chart), plain);

    // Limits are drawn dashed on their rows and taken into the range.
    chart.setLimitLines(-8.0, 4.0);
    image = render(chart);
    QVERIFY(chart.yMin() <= -8.0);
    for (double limit : {-8.0, 4.0}) {
        const int y = int(chart.zeroLineY() - chart.pixelsPerUnit() * limit);
        int red = 0, gaps = 0;
        for (int x = p.left(); x <= p.right(); ++x)
            (qRed(image.pixel(x, y)) > 150 && qGreen(image.pixel(x, y)) < 80 ? red : gaps)++;
        QVERIFY2(red > p.width() / 3 && gaps > p.width() / 10, qPrintable(QString::number(limit)));
    }
    chart.setLimitLines(std::nullopt, std::nullopt);
    QCOMPARE(render(chart), plain);
}

QTEST_MAIN(TestChartSource)
#include "tst_chartsource.moc"
