#include "chartline.h"
#include "chartsource.h"
#include "charttestutil.h"
#include "charttimeaxis.h"

#include <QHash>
#include <QSignalSpy>
#include <QtTest>

#include <cmath>

using namespace charttest;

namespace {
// Readings of one item: a time and a value each, labelled as the window does.
class Item : public ChartSource
{
public:
    int count() const override { return values.size(); }
    double value(int index) const override { return values.at(index); }
    QDateTime dateTime(int index) const override { return baseTime().addMSecs(ms.at(index)); }
    QString label(int index) const override
    {
        return QStringLiteral("%1 mW").arg(values.at(index), 0, 'f', 3);
    }
    int rangeMark(int index) const override { return marks.value(index); }
    void add(qint64 atMs, double value)
    {
        ms << atMs;
        values << value;
    }
    QVector<qint64> ms; // after baseTime()
    QVector<double> values;
    QHash<int, int> marks;
};

// Bare time keys, for the axis itself.
class Times : public ChartSource
{
public:
    int count() const override { return keys.size(); }
    double value(int) const override { return 0.0; }
    QDateTime dateTime(int) const override { return QDateTime(); }
    QString label(int) const override { return QString(); }
    qint64 timeKey(int index) const override { return keys.at(index); }
    QVector<qint64> keys;
};

// A slow walk around level, one point every stepMs from startMs on.
Item walk(int count, qint64 startMs, qint64 stepMs, double level)
{
    Item item;
    for (int i = 0; i < count; ++i)
        item.add(startMs + i * stepMs, level + std::sin(i * 0.05) + 0.3 * std::sin(i * 0.71));
    return item;
}

bool isColour(QRgb c, const QColor &colour)
{
    return QColor(c).rgb() == colour.rgb();
}

// The overlay drawn the plain way on white: one polyline vertex per point,
// each placed by its time between the two points of series 0 around it.
QImage overlayReference(const DMMChart &chart, const Item &active, const Item &overlay)
{
    QImage reference(chart.size(), QImage::Format_RGB32);
    reference.fill(Qt::white);
    QPainter painter(&reference);
    painter.setPen(QPen(chart.series(1)->colour(), 1));
    QPolygon polyline;
    for (int j = 0; j < overlay.count(); ++j) {
        const qint64 t = overlay.ms.at(j);
        const int i =
            int(std::upper_bound(active.ms.begin(), active.ms.end(), t) - active.ms.begin()) - 1;
        if (i < 0 || t > active.ms.last())
            continue;
        double p = i;
        if (t > active.ms.at(i))
            p += double(t - active.ms.at(i)) / double(active.ms.at(i + 1) - active.ms.at(i));
        if (p < chart.firstVisible() || p > chart.lastVisible())
            continue;
        polyline << QPoint(
            int((p - chart.firstVisible()) * chart.pixelsPerPoint() + chart.plotRect().left()),
            int(chart.zeroLineY() - chart.pixelsPerUnit() * overlay.values.at(j)));
    }
    painter.drawPolyline(polyline);
    return reference;
}

// Pixels outside the legend where one image shows the colour and the other does not.
int colourDifferences(const QImage &a, const QImage &b, const QColor &colour, const QRect &legend)
{
    int differences = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x)
            differences += !legend.contains(x, y) &&
                           isColour(a.pixel(x, y), colour) != isColour(b.pixel(x, y), colour);
    return differences;
}

int colourPixels(const QImage &image, const QColor &colour, const QRect &area)
{
    int n = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            n += isColour(image.pixel(x, y), colour);
    return n;
}
} // namespace

// Further items drawn over the active one, on its time axis.
class TestChartOverlay : public QObject
{
    Q_OBJECT
private slots:
    void timeAxisPlacesByTime();
    void overlayLandsAtItsTimes_data();
    void overlayLandsAtItsTimes();
    void legendAndReadoutNameTheItems();
    void liveGrowthDrawsWhatOneFillDraws();
};

void TestChartOverlay::timeAxisPlacesByTime()
{
    // Series 0 without a first time, a repeated time and a clock stepping back.
    Times active;
    active.keys = {ChartSource::NoTime, 10, 20, 20, 15, 30};
    ChartTimeAxis axis;
    int hint = 0;
    QCOMPARE(axis.position(10, &hint), HUGE_VAL); // nothing to place on yet
    axis.pull(active, active.count());
    const QList<QPair<qint64, double>> expected = {
        {5, -HUGE_VAL}, {ChartSource::NoTime, -HUGE_VAL}, // before the first time: never
        {10, 1.0},      {15, 1.5},                        // by time between two points
        {20, 2.0},                                        // the first point reaching it
        {25, 4.5},                                        // the step back holds the axis still
        {30, 5.0},      {31, HUGE_VAL}};                  // past the end: waits
    for (const auto &e : expected) {
        int h = 0;
        QCOMPARE(axis.position(e.first, &h), e.second);
        h = 3; // a hint past the answer changes nothing
        QCOMPARE(axis.position(e.first, &h), e.second);
    }

    // An overlay stepping back sits on its predecessor; one past the end
    // waits for series 0 to grow.
    Times overlay;
    overlay.keys = {12, 11, 25, 40};
    ChartPlacement placement;
    QCOMPARE(placement.extend(overlay, overlay.count(), axis), 3);
    QCOMPARE(placement.at(0), 1.2);
    QCOMPARE(placement.at(1), 1.2);
    QCOMPARE(placement.at(2), 4.5);
    active.keys << 50;
    axis.pull(active, active.count());
    QCOMPARE(placement.extend(overlay, overlay.count(), axis), 1);
    QCOMPARE(placement.at(3), 5.5);
    QCOMPARE(placement.firstFrom(1.3), 2);
    QCOMPARE(placement.lastUpTo(1.2), 1);
}

void TestChartOverlay::overlayLandsAtItsTimes_data()
{
    QTest::addColumn<qint64>("startMs");
    QTest::addColumn<qint64>("stepMs");
    QTest::addColumn<int>("count");
    QTest::newRow("at the times of series 0") << qint64(0) << qint64(1000) << 200;
    QTest::newRow("half rate") << qint64(0) << qint64(2000) << 100;
    QTest::newRow("dense, beyond both ends") << qint64(-5030) << qint64(97) << 2200;
    QTest::newRow("second half only") << qint64(100000) << qint64(1000) << 100;
}

// The overlay's pixels are those of one polyline vertex per point placed by
// time, over all points and in a zoom window; zoom stays in series 0's indexes.
void TestChartOverlay::overlayLandsAtItsTimes()
{
    QFETCH(qint64, startMs);
    QFETCH(qint64, stepMs);
    QFETCH(int, count);
    const Item active = walk(200, 0, 1000, 10.0);
    const Item overlay = walk(count, startMs, stepMs, -10.0);
    DMMChart chart, plain;
    for (DMMChart *c : {&chart, &plain}) {
        c->resize(380, 300);
        c->show();
        QVERIFY(QTest::qWaitForWindowExposed(c));
        c->setSource(0, &active);
    }
    render(plain);
    QCOMPARE(chart.addOverlay(&overlay, QStringLiteral("other")), 1);
    const QColor colour = chart.series(1)->colour();
    QImage image = render(chart);
    QCOMPARE(colourDifferences(image, overlayReference(chart, active, overlay), colour,
                               chart.legendRect()),
             0);
    QVERIFY(colourPixels(image, colour, chart.plotRect()) > 100);
    QCOMPARE(chart.series(0)->colour(), QColor(250, 150, 0));

    QSignalSpy plainSpy(&plain, &DMMChart::visibleRangeChanged);
    QSignalSpy zoomed(&chart, &DMMChart::visibleRangeChanged);
    for (DMMChart *c : {&chart, &plain}) {
        const QPoint tl = c->plotRect().topLeft();
        QTest::mousePress(c, Qt::LeftButton, Qt::NoModifier, tl + QPoint(120, 10));
        moveTo(c, tl + QPoint(230, 200), Qt::LeftButton);
        QTest::mouseRelease(c, Qt::LeftButton, Qt::NoModifier, tl + QPoint(230, 200));
    }
    QCOMPARE(zoomed.size(), 1);
    QCOMPARE(zoomed.first(), plainSpy.first()); // series 0's indexes, as without overlays
    QVERIFY(chart.isZoomed());
    image = render(chart);
    QCOMPARE(colourDifferences(image, overlayReference(chart, active, overlay), colour,
                               chart.legendRect()),
             0);
}

void TestChartOverlay::legendAndReadoutNameTheItems()
{
    Item active = walk(300, 0, 1000, 10.0);
    const Item first = walk(300, 500, 1000, -10.0);
    const Item second = walk(150, 0, 2000, -4.0);
    DMMChart chart;
    chart.resize(500, 360);
    chart.show();
    QVERIFY(QTest::qWaitForWindowExposed(&chart));
    chart.setSource(0, &active);
    chart.setSeriesName(0, QStringLiteral("pm100 1550"));
    const QImage single = render(chart);
    QVERIFY(chart.legendRect().isNull());

    chart.setOverlays({{&first, QStringLiteral("n774x #3"), QColor()},
                       {&second, QStringLiteral("reference"), QColor()},
                       {&first, QStringLiteral("twice"), QColor()}});
    QCOMPARE(chart.overlayCount(), 2);
    QImage image = render(chart);
    QCOMPARE(chart.legendTexts(),
             QStringList({QStringLiteral("pm100 1550"), QStringLiteral("n774x #3"),
                          QStringLiteral("reference")}));
    const QRect legend = chart.legendRect();
    QVERIFY(chart.plotRect().contains(legend));
    for (int s = 0; s < 3; ++s) {
        QVERIFY(colourPixels(image, chart.series(s)->colour(), legend) > 20);
        for (int t = 0; t < s; ++t)
            QVERIFY(chart.series(s)->colour() != chart.series(t)->colour());
    }

    // Over a line, the read-out names its item and reads its point.
    auto rowOf = [&](double v) { return int(chart.zeroLineY() - chart.pixelsPerUnit() * v); };
    const int x = chart.plotRect().left() + 150;
    const int j = int((x - chart.plotRect().left()) / chart.pixelsPerPoint()); // near first's j
    moveTo(&chart, QPoint(x, rowOf(first.values.at(j))));
    render(chart);
    QCOMPARE(chart.cursorSeries(), 1);
    QVERIFY(std::abs(chart.cursorPoint() - j) <= 1);
    QCOMPARE(
        chart.readoutText(),
        QStringLiteral("n774x #3: %1:%2")
            .arg(
                first.dateTime(chart.cursorPoint()).toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")),
                first.label(chart.cursorPoint())));
    QVERIFY(!chart.readoutRect().intersects(legend));
    QVERIFY(chart.readoutRect().left() >= 0); // too wide for the left side: starts at the edge
    moveTo(&chart, QPoint(x, rowOf(active.values.at(j))));
    render(chart);
    QCOMPARE(chart.cursorSeries(), 0);
    QVERIFY(chart.readoutText().startsWith(QStringLiteral("pm100 1550: ")));

    // Without overlays again the chart is what it was before them.
    chart.removeOverlay(&second);
    render(chart);
    QCOMPARE(chart.legendTexts().size(), 2);
    chart.setOverlays({});
    chart.slotTmrIndicatorTimeout();
    QCOMPARE(render(chart), single);
    QVERIFY(chart.legendRect().isNull());
}

// Two items growing reading by reading, the overlay now behind and now ahead
// of series 0, and the overlay's readings beyond the meter's range marked:
// the picture equals that of a chart given every reading at once.
void TestChartOverlay::liveGrowthDrawsWhatOneFillDraws()
{
    const Item allActive = walk(400, 0, 1000, 3.0);
    Item allOverlay = walk(500, 700, 800, -3.0);
    allOverlay.values[250] = 16.0;
    allOverlay.marks.insert(250, 1);
    Item active, overlay;
    overlay.marks = allOverlay.marks;
    DMMChart live, whole;
    for (DMMChart *c : {&live, &whole}) {
        c->resize(380, 300);
        c->setValidRangeOnly(true);
        c->setLimitLines(-6.0, 5.0);
    }
    live.setSource(0, &active);
    live.addOverlay(&overlay, QStringLiteral("far end"));
    for (int i = 0, j = 0; i < allActive.count() || j < allOverlay.count();) {
        const bool overlayNext =
            j < allOverlay.count() &&
            (i == allActive.count() || allOverlay.ms.at(j) < allActive.ms.at(i) + (i % 50) * 300);
        if (overlayNext) {
            overlay.add(allOverlay.ms.at(j), allOverlay.values.at(j));
            live.sourceAppended(1);
            ++j;
        } else {
            active.add(allActive.ms.at(i), allActive.values.at(i));
            live.sourceAppended(0);
            ++i;
        }
        if (i % 97 == 0)
            render(live);
    }
    whole.setSource(0, &allActive);
    whole.addOverlay(&allOverlay, QStringLiteral("far end"));
    const QImage image = render(live);
    QCOMPARE(image, render(whole));
    // Another active item under the overlays (here the same readings) places them again.
    live.setSource(0, &allActive);
    live.sourceReset(1);
    QCOMPARE(render(live), image);
    QVERIFY(live.yMax() < 10.0); // the overload stays out of the range
    // Its tick at the top edge is in the overlay's colour.
    const int column = int(whole.series(1)->placement().at(250) * whole.pixelsPerPoint() +
                           whole.plotRect().left());
    QVERIFY(isColour(image.pixel(column, whole.plotRect().top() + 2), whole.series(1)->colour()));
}

QTEST_MAIN(TestChartOverlay)
#include "tst_chartoverlay.moc"
