#include "chartline.h"
#include "charttestutil.h"

#include <QFile>
#include <QImageReader>
#include <QPainter>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>

using namespace charttest;

// What the chart puts on the screen and into picture files.
class TestChartPainting : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void axesAreSolidLines();
    void zeroLineIsDottedOnItsRow();
    void lineIsDrawnInItsColourInsideThePlot();
    void verticalGridIsDotted();
    void denseLineMatchesOnePolylineVertexPerPoint_data();
    void denseLineMatchesOnePolylineVertexPerPoint();
    void saveImageWritesJpgOfWidgetSize();
    void saveImageOfNeverShownChart();
    void saveImageFollowsPointsAddedSinceLastPaint();
    void saveImageKeepsVisibleReadout();
    void saveImageReportsUnwritablePath();

private:
    static int countLinePixels(const QImage &image);
    DMMChart *chart = nullptr;
};

void TestChartPainting::init()
{
    chart = new DMMChart;
    chart->resize(380, 300); // plot (60, 40) 300 x 220
    chart->show();
    QVERIFY(QTest::qWaitForWindowExposed(chart));
}

void TestChartPainting::cleanup()
{
    delete chart;
    chart = nullptr;
}

int TestChartPainting::countLinePixels(const QImage &image)
{
    int n = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            n += isLineColour(image.pixel(x, y));
    return n;
}

void TestChartPainting::axesAreSolidLines()
{
    const QImage image = render(*chart);
    const QRect p = chart->plotRect();
    for (int x = p.left() - 1; x <= p.right() + 1; ++x)
        QVERIFY2(isDark(image.pixel(x, p.bottom() + 1)), qPrintable(QString::number(x)));
    for (int y = chart->topMargin() - 1; y <= p.bottom() + 1; ++y)
        QVERIFY2(isDark(image.pixel(chart->leftMargin() - 1, y)), qPrintable(QString::number(y)));
    // Background is white away from the axes.
    QCOMPARE(image.pixelColor(p.center().x(), p.top() + 3), QColor(Qt::white));
}

void TestChartPainting::zeroLineIsDottedOnItsRow()
{
    const QImage image = render(*chart);
    const QRect p = chart->plotRect();
    const int y0 = chart->zeroLineY();
    int dark = 0, runs = 0;
    bool previous = false;
    for (int x = p.left() + 1; x <= p.right(); ++x) {
        const bool d = isDark(image.pixel(x, y0));
        dark += d;
        runs += d && !previous;
        previous = d;
    }
    // A dotted line: a good share of the row inked, in many separate dots.
    QVERIFY2(dark > p.width() / 5 && dark < p.width() * 3 / 4, qPrintable(QString::number(dark)));
    QVERIFY(runs > p.width() / 5);
    // Its tick left of the plot is solid.
    for (int x = p.left() - 5; x < p.left(); ++x)
        QVERIFY(isDark(image.pixel(x, y0)));
    // Rows just beside it stay clear inside the plot.
    for (int x = p.left() + 1; x <= p.right(); ++x)
        QVERIFY(!isDark(image.pixel(x, y0 + 3)));
}

void TestChartPainting::lineIsDrawnInItsColourInsideThePlot()
{
    QVector<double> values;
    for (int i = 0; i < 40; ++i)
        values << 3.0 + 2.0 * std::sin(i * 0.4);
    chart->addPoints(makePoints(values), 0);
    const QImage image = render(*chart);
    const QRect p = chart->plotRect();
    int inside = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (isLineColour(image.pixel(x, y))) {
                QVERIFY(p.contains(x, y));
                ++inside;
            }
    QVERIFY(inside > p.width() / 2);
    // The first vertex lies where the layout puts it.
    const int y = int(chart->zeroLineY() - chart->pixelsPerUnit() * values.first());
    QVERIFY(isLineColour(image.pixel(p.left(), y)));
}

void TestChartPainting::verticalGridIsDotted()
{
    QVector<double> values(100, -0.5);
    chart->addPoints(makePoints(values), 0);
    const QImage image = render(*chart);
    const QRect p = chart->plotRect();
    QVERIFY(chart->xLabelCount() >= 2);
    const int x1 = int(chart->xLabelSpacing() + p.left() + 0.5);
    int dark = 0;
    for (int y = p.top(); y <= p.bottom(); ++y)
        dark += isDark(image.pixel(x1, y));
    QVERIFY2(dark > p.height() / 5 && dark < p.height() * 3 / 4, qPrintable(QString::number(dark)));
    for (int y = p.bottom(); y <= p.bottom() + 5; ++y)
        QVERIFY(isDark(image.pixel(x1, y))); // solid tick below the axis
    // The label below holds ink (date and time).
    int ink = 0;
    for (int y = p.bottom() + 7; y < std::min(image.height(), p.bottom() + 40); ++y)
        for (int x = x1 - 20; x <= x1 + 20; ++x)
            ink += isDark(image.pixel(x, y));
    QVERIFY(ink > 20);
}

void TestChartPainting::denseLineMatchesOnePolylineVertexPerPoint_data()
{
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("shape");
    QTest::addColumn<bool>("withGaps");
    QTest::addColumn<bool>("zoomed");
    QTest::addColumn<quint32>("seed");
    QTest::newRow("fewer points than columns") << 120 << 0 << false << false << 1u;
    QTest::newRow("about one per column") << 299 << 0 << false << false << 2u;
    for (quint32 seed = 0; seed < 6; ++seed) {
        const QByteArray s = QByteArray::number(seed);
        QTest::newRow("random walk " + s) << 20000 << 0 << false << false << seed;
        QTest::newRow("noise " + s) << 30000 << 1 << false << false << seed;
        QTest::newRow("steps and plateaus " + s) << 25000 << 2 << false << false << seed;
        QTest::newRow("square wave " + s) << 20000 << 3 << false << false << seed;
    }
    QTest::newRow("non-finite gaps") << 20000 << 0 << true << false << 7u;
    QTest::newRow("noise with gaps") << 30000 << 1 << true << false << 8u;
    QTest::newRow("zoomed window") << 60000 << 0 << false << true << 9u;
}

// The reduced drawing must put exactly the pixels on the plot that a polyline
// with one vertex per point puts there.
void TestChartPainting::denseLineMatchesOnePolylineVertexPerPoint()
{
    QFETCH(int, count);
    QFETCH(int, shape);
    QFETCH(bool, withGaps);
    QFETCH(bool, zoomed);
    QFETCH(quint32, seed);
    QRandomGenerator rng(seed);
    QVector<double> values;
    double v = 0;
    for (int i = 0; i < count; ++i) {
        switch (shape) {
        case 0: // random walk with occasional spikes
            v += rng.generateDouble() - 0.5;
            if (rng.bounded(50) == 0)
                v += 20 * (rng.generateDouble() - 0.5);
            break;
        case 1: // wide noise: every column spans most of the plot
            v = 10 * rng.generateDouble() - 3;
            break;
        case 2: // long flat stretches with sudden steps
            if (rng.bounded(400) == 0)
                v = 8 * rng.generateDouble() - 4;
            break;
        default: // two levels, switching about once per column or less
            if (i % (60 + int(seed) * 17) == 0)
                v = (v > 0 ? -1.0 : 2.0) + 0.3 * rng.generateDouble();
            break;
        }
        values << v;
        if (withGaps && (i % 997 == 0 || (i > 5000 && i < 5400)))
            values.last() = (i % 2) ? std::nan("") : -qInf();
    }
    chart->addPoints(makePoints(values), 0);
    QImage image = render(*chart);
    if (zoomed) {
        QTest::mousePress(chart, Qt::LeftButton, Qt::NoModifier,
                          chart->plotRect().topLeft() + QPoint(37, 5));
        moveTo(chart, chart->plotRect().topLeft() + QPoint(211, 100), Qt::LeftButton);
        QTest::mouseRelease(chart, Qt::LeftButton, Qt::NoModifier,
                            chart->plotRect().topLeft() + QPoint(211, 100));
        image = render(*chart);
        QVERIFY(chart->isZoomed());
        QVERIFY(chart->lastVisible() - chart->firstVisible() > 10 * chart->plotRect().width());
    }

    QCOMPARE(lineDifferences(image, onePolylineVertexPerPoint(*chart, values)), 0);
    QVERIFY(countLinePixels(image) > 250);
}

void TestChartPainting::saveImageWritesJpgOfWidgetSize()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    chart->addPoints(makePoints({1, 3, 2, 5, 4}), 0);
    render(*chart);
    const QString path = dir.filePath(QStringLiteral("chart.jpg"));
    QVERIFY(chart->saveImage(path));
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.read(3), QByteArray("\xFF\xD8\xFF")); // JPEG start of image
    file.close();
    QImageReader reader(path);
    QCOMPARE(reader.format(), QByteArray("jpeg"));
    const QImage decoded = reader.read();
    QVERIFY2(!decoded.isNull(), qPrintable(reader.errorString()));
    QCOMPARE(decoded.size(), chart->size());
    // Lossy, but the orange line survives.
    int orange = 0;
    for (int y = 0; y < decoded.height(); ++y)
        for (int x = 0; x < decoded.width(); ++x) {
            const QColor c = decoded.pixelColor(x, y);
            orange += c.hsvHue() >= 20 && c.hsvHue() <= 50 && c.hsvSaturation() > 80;
        }
    QVERIFY(orange > 50);
}

void TestChartPainting::saveImageOfNeverShownChart()
{
    QTemporaryDir dir;
    DMMChart hidden;
    hidden.resize(640, 400);
    hidden.addPoints(makePoints({0.2, 0.4, 0.1}), 0);
    const QString path = dir.filePath(QStringLiteral("hidden.png"));
    QVERIFY(hidden.saveImage(path));
    const QImage decoded(path);
    QCOMPARE(decoded.size(), QSize(640, 400));
    QVERIFY(countLinePixels(decoded.convertToFormat(QImage::Format_RGB32)) > 50);
    QCOMPARE(hidden.plotRect(), QRect(60, 40, 640 - 80, 400 - 80));

    DMMChart empty;
    empty.resize(0, 0);
    const QString emptyPath = dir.filePath(QStringLiteral("empty.jpg"));
    QVERIFY(empty.saveImage(emptyPath));
    QCOMPARE(QImage(emptyPath).size(), QSize(800, 480));
}

void TestChartPainting::saveImageFollowsPointsAddedSinceLastPaint()
{
    QTemporaryDir dir;
    chart->addPoints(makePoints({1, 1, 1}), 0);
    render(*chart);
    chart->addPoints(makePoints({-4, -4, -4}), 0); // no paint in between
    const QString path = dir.filePath(QStringLiteral("later.png"));
    QVERIFY(chart->saveImage(path));
    const QImage saved = QImage(path).convertToFormat(QImage::Format_RGB32);
    QCOMPARE(saved, render(*chart));
    QCOMPARE(chart->lastVisible(), 5);
}

void TestChartPainting::saveImageKeepsVisibleReadout()
{
    QTemporaryDir dir;
    chart->addPoints(makePoints({1, 2, 3}), 0);
    render(*chart);
    moveTo(chart, chart->plotRect().topLeft() + QPoint(100, 20));
    QVERIFY(chart->isCursorVisible());
    const QString path = dir.filePath(QStringLiteral("readout.png"));
    QVERIFY(chart->saveImage(path));
    const QImage saved(path);
    const int xc = chart->plotRect().left() + 100;
    QCOMPARE(saved.pixelColor(xc, chart->plotRect().top() + 5), QColor(0, 100, 250));
}

void TestChartPainting::saveImageReportsUnwritablePath()
{
    QTemporaryDir dir;
    QVERIFY(!chart->saveImage(dir.filePath(QStringLiteral("missing/dir/chart.jpg"))));
    QVERIFY(!chart->saveImage(dir.filePath(QStringLiteral("no-suffix"))));
    QVERIFY(!QFile::exists(dir.filePath(QStringLiteral("no-suffix"))));
}

QTEST_MAIN(TestChartPainting)
#include "tst_chartpainting.moc"
