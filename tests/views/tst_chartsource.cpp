#include "chartline.h"
#include "chartsource.h"
#include "charttestutil.h"

#include <QRandomGenerator>
#include <QtTest>

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
    QVector<double> values;
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

QTEST_MAIN(TestChartSource)
#include "tst_chartsource.moc"
