#include "chartline.h"
#include "charttestutil.h"

#include <QtTest>

#include <cmath>
#include <limits>

using namespace charttest;

// Geometry and relayout figures of the chart.
class TestChartLayout : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void constructionDefaults();
    void plotRectFollowsResizeAndMargins();
    void emptyChartKeepsZeroInRange();
    void singlePointFillsThePlotWidth();
    void smallPositiveValuesSitAboveZero();
    void dbmValuesNearMinusThirty();
    void largeValuesGetKiloAndMegaLabels();
    void valueLabels_data();
    void valueLabels();
    void unitModeSetsDecimals_data();
    void unitModeSetsDecimals();
    void nonFiniteValuesStayOutOfTheRange();
    void plotSmallerThanMarginsStillLaysOut();

private:
    DMMChart *chart = nullptr;
};

void TestChartLayout::init()
{
    chart = new DMMChart;
    chart->resize(400, 300);
    chart->show();
    QVERIFY(QTest::qWaitForWindowExposed(chart));
}

void TestChartLayout::cleanup()
{
    delete chart;
    chart = nullptr;
}

void TestChartLayout::constructionDefaults()
{
    DMMChart fresh;
    QCOMPARE(fresh.leftMargin(), 60);
    QCOMPARE(fresh.rightMargin(), 20);
    QCOMPARE(fresh.topMargin(), 40);
    QCOMPARE(fresh.bottomMargin(), 40);
    QCOMPARE(fresh.seriesCount(), 1);
    QCOMPARE(fresh.series(0)->colour(), QColor(250, 150, 0));
    QCOMPARE(fresh.pointCount(0), 0);
    QCOMPARE(fresh.pointCount(5), 0);
    QCOMPARE(fresh.cursorIndex(), -1);
    QVERIFY(!fresh.isCursorVisible());
    QVERIFY(!fresh.isZoomed());
    QVERIFY(fresh.hasMouseTracking());
    QCOMPARE(fresh.cursorColour(), QColor(0, 100, 250));
}

void TestChartLayout::plotRectFollowsResizeAndMargins()
{
    QCOMPARE(chart->plotRect(), QRect(60, 40, 320, 220));
    chart->setLeftMargin(70);
    chart->setBottomMargin(68);
    chart->setXAxisTitle(QStringLiteral("Date Time"));
    QCOMPARE(chart->xAxisTitle(), QStringLiteral("Date Time"));
    chart->resize(500, 300);
    QTRY_COMPARE(chart->plotRect(), QRect(70, 40, 500 - 20 - 70, 300 - 68 - 40));
}

void TestChartLayout::emptyChartKeepsZeroInRange()
{
    render(*chart);
    QCOMPARE(chart->yMin(), -1.1);
    QCOMPARE(chart->yMax(), 1.1);
    QCOMPARE(chart->xLabelCount(), 0);
    QCOMPARE(chart->gridAbove(), 0);
    QCOMPARE(chart->gridBelow(), 0);
    const QRect p = chart->plotRect();
    QCOMPARE(chart->pixelsPerUnit(), p.height() / 2.2);
    // Zero lies in the middle of a symmetric range.
    QVERIFY(std::abs(chart->zeroLineY() - (p.top() + p.height() / 2)) <= 1);
}

void TestChartLayout::singlePointFillsThePlotWidth()
{
    chart->addPoint(makePoint(0.5), 0);
    render(*chart);
    const QRect p = chart->plotRect();
    QCOMPARE(chart->pixelsPerPoint(), double(p.width()));
    QCOMPARE(chart->xStep(), 1);
    QCOMPARE(chart->xLabelCount(), 1);
    QCOMPARE(chart->firstVisible(), 0);
    QCOMPARE(chart->lastVisible(), 0);
}

void TestChartLayout::smallPositiveValuesSitAboveZero()
{
    chart->addPoints(makePoints({0.02, 0.1, 0.5, 0.3, 0.25, 0.01}), 0);
    const QImage image = render(*chart);
    QCOMPARE(chart->yMin(), -1.1);
    QCOMPARE(chart->yMax(), 1.1);
    const int y0 = chart->zeroLineY();
    const int top = int(y0 - chart->pixelsPerUnit() * 0.5);
    int linePixels = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (isLineColour(image.pixel(x, y))) {
                ++linePixels;
                QVERIFY2(y <= y0 && y >= top, qPrintable(QStringLiteral("row %1").arg(y)));
            }
    QVERIFY(linePixels > 100);
}

void TestChartLayout::dbmValuesNearMinusThirty()
{
    chart->applyChartUnitMode(QStringLiteral("dBm"));
    QVector<double> values;
    for (int i = 0; i < 50; ++i)
        values << -30.0 + 0.4 * std::sin(i * 0.3);
    chart->addPoints(makePoints(values), 0);
    render(*chart);
    double lowest = values.first();
    for (double v : values)
        lowest = std::min(lowest, v);
    QCOMPARE(chart->yMin(), lowest + lowest / 10);
    QCOMPARE(chart->yMax(), 1.1);
    QVERIFY(chart->yMin() > -33.5 && chart->yMin() < -32.5);
    const QRect p = chart->plotRect();
    // The zero line lies near the top of the plot; nearly all grid lines are below it.
    QVERIFY(chart->zeroLineY() - p.top() < p.height() / 10);
    QVERIFY(chart->gridBelow() > chart->gridAbove());
    QVERIFY(chart->valueLabel(-chart->yStep()).startsWith(QLatin1Char('-')));
    QCOMPARE(chart->valueLabel(-5), QStringLiteral("-5.00"));
    // Figures agree with each other.
    QCOMPARE(chart->yGridSpacing(), chart->pixelsPerUnit() * chart->yStep());
    QVERIFY(chart->yGridSpacing() >= 30);
    QCOMPARE(chart->gridBelow(), int(std::abs(chart->yMin()) / chart->yStep()));
}

void TestChartLayout::largeValuesGetKiloAndMegaLabels()
{
    chart->setDecimals(1);
    chart->addPoints(makePoints({1000, 20000, 50000, 30000}), 0);
    render(*chart);
    QCOMPARE(chart->yMax(), 55000.0);
    QVERIFY(chart->yStep() >= 1000);
    QVERIFY(chart->valueLabel(chart->yStep()).endsWith(QLatin1Char('k')));
    QVERIFY(chart->gridAbove() >= 1);

    chart->clearPoints();
    chart->addPoints(makePoints({2e6, 9e6}), 0);
    render(*chart);
    QVERIFY(chart->yStep() >= 1e6);
    QVERIFY(chart->valueLabel(chart->yStep()).endsWith(QLatin1Char('M')));
}

void TestChartLayout::valueLabels_data()
{
    QTest::addColumn<int>("decimals");
    QTest::addColumn<double>("value");
    QTest::addColumn<QString>("text");
    QTest::newRow("plain") << 1 << 0.3 << "0.3";
    QTest::newRow("just below k") << 1 << 999.0 << "999.0";
    QTest::newRow("1000 is k") << 1 << 1000.0 << "1.0k";
    QTest::newRow("2000") << 1 << 2000.0 << "2.0k";
    QTest::newRow("negative k") << 1 << -2000.0 << "-2.0k";
    QTest::newRow("M") << 1 << 1500000.0 << "1.5M";
    QTest::newRow("negative M") << 2 << -3000000.0 << "-3.00M";
    QTest::newRow("mW decimals") << 3 << 0.2 << "0.200";
}

void TestChartLayout::valueLabels()
{
    QFETCH(int, decimals);
    QFETCH(double, value);
    QFETCH(QString, text);
    chart->setDecimals(decimals);
    QCOMPARE(chart->decimals(), decimals);
    QCOMPARE(chart->valueLabel(value), text);
}

void TestChartLayout::unitModeSetsDecimals_data()
{
    QTest::addColumn<QString>("unit");
    QTest::addColumn<int>("decimals");
    QTest::newRow("uW") << "uW" << 1;
    QTest::newRow("mW") << "mW" << 3;
    QTest::newRow("dBm") << "dBm" << 2;
    QTest::newRow("unknown keeps") << "W" << 7;
    QTest::newRow("empty keeps") << "" << 7;
}

void TestChartLayout::unitModeSetsDecimals()
{
    QFETCH(QString, unit);
    QFETCH(int, decimals);
    chart->setDecimals(7);
    chart->applyChartUnitMode(unit);
    QCOMPARE(chart->decimals(), decimals);
}

void TestChartLayout::nonFiniteValuesStayOutOfTheRange()
{
    const double inf = std::numeric_limits<double>::infinity();
    chart->addPoints(makePoints({1.0, std::nan(""), inf, -inf, 2.0}), 0);
    const QImage image = render(*chart);
    QCOMPARE(chart->yMax(), 2.2);
    QCOMPARE(chart->yMin(), -1.1);
    QVERIFY(std::isfinite(chart->pixelsPerUnit()));
    QCOMPARE(chart->lastVisible(), 4);
    int linePixels = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            linePixels += isLineColour(image.pixel(x, y));
    QVERIFY(linePixels > 50);

    // Only non-finite values: the range is the empty chart's.
    chart->clearPoints();
    chart->addPoints(makePoints({-inf, -inf, std::nan("")}), 0);
    render(*chart);
    QCOMPARE(chart->yMax(), 1.1);
    QCOMPARE(chart->yMin(), -1.1);
}

void TestChartLayout::plotSmallerThanMarginsStillLaysOut()
{
    chart->addPoints(makePoints({1, 2, 3, 4}), 0);
    chart->resize(50, 30);
    QTRY_COMPARE(chart->plotRect().width(), 50 - 80);
    const QImage image = render(*chart);
    QCOMPARE(image.size(), QSize(50, 30));
    QCOMPARE(chart->xLabelCount(), 0);
    QCOMPARE(chart->gridAbove(), 0);
    QCOMPARE(chart->gridBelow(), 0);
    // Hover and drag over a negative plot do nothing harmful.
    moveTo(chart, QPoint(10, 10));
    QTest::mousePress(chart, Qt::LeftButton, Qt::NoModifier, QPoint(5, 5));
    QTest::mouseRelease(chart, Qt::LeftButton, Qt::NoModifier, QPoint(20, 20));
    render(*chart);
    QCOMPARE(chart->pointCount(0), 4);
}

QTEST_MAIN(TestChartLayout)
#include "tst_chartlayout.moc"
