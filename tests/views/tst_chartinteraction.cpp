#include "chartline.h"
#include "charttestutil.h"

#include <QSharedPointer>
#include <QtTest>

using namespace charttest;

using Token = QSharedPointer<int>;
Q_DECLARE_METATYPE(Token)

// Hover read-out, drag-to-zoom, and what the chart does with its points meanwhile.
class TestChartInteraction : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void hoverFindsNearestPoint_data();
    void hoverFindsNearestPoint();
    void hoverShowsReadoutUntilTimeout();
    void readoutGoesLeftNearTheRightEdge();
    void readoutShowsLabelOfNonFinitePoint();
    void pressHidesReadout();
    void dragRightAndDownZooms();
    void releaseShowsAllAgain_data();
    void releaseShowsAllAgain();
    void dragOverFewerThanTwoPointsKeepsWindow();
    void pointsAddedWhileZoomedDoNotMoveWindow();
    void clearingWhileZoomedNeverReadsPast();
    void replacingWithMorePointsKeepsZoom();
    void cursorPastPointsIsPulledBack();
    void pointsAreOwned();

private:
    void fill(int count);
    void drag(const QPoint &from, const QPoint &to);
    QPoint plotPos(int x, int y = 10) const { return chart->plotRect().topLeft() + QPoint(x, y); }
    DMMChart *chart = nullptr;
};

void TestChartInteraction::init()
{
    chart = new DMMChart;
    chart->resize(380, 300); // plot 300 x 220
    chart->show();
    QVERIFY(QTest::qWaitForWindowExposed(chart));
    QCOMPARE(chart->plotRect(), QRect(60, 40, 300, 220));
}

void TestChartInteraction::cleanup()
{
    delete chart;
    chart = nullptr;
}

void TestChartInteraction::fill(int count)
{
    QVector<double> values;
    for (int i = 0; i < count; ++i)
        values << (i % 7) * 0.1;
    chart->addPoints(makePoints(values), 0);
    render(*chart);
}

void TestChartInteraction::drag(const QPoint &from, const QPoint &to)
{
    QTest::mousePress(chart, Qt::LeftButton, Qt::NoModifier, from);
    moveTo(chart, (from + to) / 2, Qt::LeftButton);
    moveTo(chart, to, Qt::LeftButton);
    QTest::mouseRelease(chart, Qt::LeftButton, Qt::NoModifier, to);
}

void TestChartInteraction::hoverFindsNearestPoint_data()
{
    // Three points over 300 pixels sit at x = 0, 100 and 200.
    QTest::addColumn<int>("x");
    QTest::addColumn<int>("expected");
    QTest::newRow("on first") << 0 << 0;
    QTest::newRow("near first") << 49 << 0;
    QTest::newRow("halfway goes left") << 50 << 0;
    QTest::newRow("past halfway") << 51 << 1;
    QTest::newRow("on second") << 100 << 1;
    QTest::newRow("second halfway goes left") << 150 << 1;
    QTest::newRow("near third") << 151 << 2;
    QTest::newRow("beyond last") << 290 << 2;
    QTest::newRow("left of plot") << -40 << 0;
    QTest::newRow("right of plot") << 330 << 2;
}

void TestChartInteraction::hoverFindsNearestPoint()
{
    QFETCH(int, x);
    QFETCH(int, expected);
    fill(3);
    QCOMPARE(chart->pixelsPerPoint(), 100.0);
    moveTo(chart, plotPos(x));
    QCOMPARE(chart->cursorIndex(), expected);
    QVERIFY(chart->isCursorVisible());
    QCOMPARE(chart->nearestPointIndex(x), std::clamp(expected, 0, 2));
}

void TestChartInteraction::hoverShowsReadoutUntilTimeout()
{
    fill(3);
    moveTo(chart, plotPos(100));
    QVERIFY(chart->isCursorVisible());
    QVERIFY(chart->isIndicatorTimerActive());
    QImage image = render(*chart);
    QVERIFY(!chart->readoutRect().isNull());
    const int xc = chart->plotRect().left() + 100;
    QCOMPARE(image.pixelColor(xc, chart->plotRect().top() + 5), QColor(0, 100, 250));
    // Staying on the same point does not restart anything and drops the flag.
    moveTo(chart, plotPos(101));
    QVERIFY(!chart->isCursorVisible());
    // The timer's end hides the read-out at the next paint.
    moveTo(chart, plotPos(200));
    QVERIFY(chart->isCursorVisible());
    chart->slotTmrIndicatorTimeout();
    QVERIFY(!chart->isCursorVisible());
    image = render(*chart);
    QVERIFY(chart->readoutRect().isNull());
    QVERIFY(image.pixelColor(chart->plotRect().left() + 200, chart->plotRect().top() + 5) !=
            QColor(0, 100, 250));
}

void TestChartInteraction::readoutGoesLeftNearTheRightEdge()
{
    fill(3);
    moveTo(chart, plotPos(200));
    render(*chart);
    const int xc = chart->plotRect().left() + 200;
    QRect box = chart->readoutRect();
    QVERIFY(!box.isNull());
    QCOMPARE(box.right(), xc - 3); // text ends two pixels left of the line
    QCOMPARE(box.bottom(), chart->plotRect().top() - 1);

    moveTo(chart, plotPos(0));
    render(*chart);
    box = chart->readoutRect();
    QCOMPARE(box.left(), chart->plotRect().left() + 2);
}

void TestChartInteraction::readoutShowsLabelOfNonFinitePoint()
{
    chart->addPoint(makePoint(1.0, 0), 0);
    chart->addPoint(new ChartPoint(-qInf(), QStringLiteral("-inf"), baseTime().addSecs(1), -1, -1,
                                   QStringLiteral("-- dBm [0.000 uW]")),
                    0);
    render(*chart);
    moveTo(chart, plotPos(299));
    QCOMPARE(chart->cursorIndex(), 1);
    const QImage image = render(*chart);
    const QRect box = chart->readoutRect();
    QVERIFY(!box.isNull());
    const QString text = QStringLiteral("2024-03-05 10:00:01:-- dBm [0.000 uW]");
    QCOMPARE(box.width(), QFontMetrics(QApplication::font()).horizontalAdvance(text));
    int inked = 0;
    for (int y = box.top(); y <= box.bottom(); ++y)
        for (int x = std::max(box.left(), 0); x <= box.right(); ++x)
            inked += image.pixelColor(x, y) != QColor(Qt::white);
    QVERIFY(inked > 20);
}

void TestChartInteraction::pressHidesReadout()
{
    fill(3);
    moveTo(chart, plotPos(100));
    QVERIFY(chart->isCursorVisible());
    QTest::mousePress(chart, Qt::LeftButton, Qt::NoModifier, plotPos(100));
    QCOMPARE(chart->cursorIndex(), -1);
    QVERIFY(!chart->isCursorVisible());
    QVERIFY(chart->isSelecting());
    render(*chart);
    QVERIFY(chart->readoutRect().isNull());
    QTest::mouseRelease(chart, Qt::LeftButton, Qt::NoModifier, plotPos(100));
    QVERIFY(!chart->isSelecting());
}

void TestChartInteraction::dragRightAndDownZooms()
{
    fill(100); // 3 pixels per point: point k at x = 3k
    QCOMPARE(chart->pixelsPerPoint(), 3.0);
    QTest::mousePress(chart, Qt::LeftButton, Qt::NoModifier, plotPos(30, 20));
    moveTo(chart, plotPos(60, 80), Qt::LeftButton);
    QCOMPARE(chart->selectionRect(), QRect(plotPos(30, 20), plotPos(60, 80)));
    // The outline is drawn dotted on the selection layer.
    QImage image = render(*chart);
    int dark = 0;
    for (int x = plotPos(30).x(); x <= plotPos(60).x(); ++x)
        dark += isDark(image.pixel(x, plotPos(0, 20).y()));
    QVERIFY(dark > 5 && dark < 31);
    QTest::mouseRelease(chart, Qt::LeftButton, Qt::NoModifier, plotPos(60, 80));
    QVERIFY(chart->isZoomed());
    QCOMPARE(chart->firstVisible(), 10);
    QCOMPARE(chart->lastVisible(), 19);
    render(*chart);
    QCOMPARE(chart->pixelsPerPoint(), 30.0);
    QCOMPARE(chart->series(0)->pixelCount(), 10);

    // Zooming again works within the zoomed window.
    drag(plotPos(60, 20), plotPos(150, 100)); // points 2 .. 4 of the window
    QCOMPARE(chart->firstVisible(), 12);
    QCOMPARE(chart->lastVisible(), 14);
}

void TestChartInteraction::releaseShowsAllAgain_data()
{
    QTest::addColumn<QPoint>("from");
    QTest::addColumn<QPoint>("to");
    QTest::newRow("to the left") << QPoint(200, 20) << QPoint(100, 100);
    QTest::newRow("upward") << QPoint(100, 100) << QPoint(200, 20);
    QTest::newRow("click") << QPoint(150, 50) << QPoint(150, 50);
    QTest::newRow("straight right") << QPoint(100, 50) << QPoint(200, 50);
}

void TestChartInteraction::releaseShowsAllAgain()
{
    QFETCH(QPoint, from);
    QFETCH(QPoint, to);
    fill(100);
    drag(plotPos(30, 20), plotPos(90, 80));
    QVERIFY(chart->isZoomed());
    render(*chart);
    drag(plotPos(from.x(), from.y()), plotPos(to.x(), to.y()));
    QVERIFY(!chart->isZoomed());
    render(*chart);
    QCOMPARE(chart->firstVisible(), 0);
    QCOMPARE(chart->lastVisible(), 99);
}

void TestChartInteraction::dragOverFewerThanTwoPointsKeepsWindow()
{
    fill(100);
    drag(plotPos(30, 20), plotPos(31, 80));
    QVERIFY(!chart->isZoomed());
    QCOMPARE(chart->firstVisible(), 0);
    QCOMPARE(chart->lastVisible(), 99);
}

void TestChartInteraction::pointsAddedWhileZoomedDoNotMoveWindow()
{
    fill(100);
    drag(plotPos(30, 20), plotPos(60, 80));
    render(*chart);
    const QImage before = render(*chart);
    for (int i = 0; i < 5; ++i)
        chart->addPoint(makePoint(5.0, 100 + i), 0);
    chart->addPoints(makePoints({7, 8, 9}), 0);
    QCOMPARE(chart->pointCount(0), 108);
    const QImage after = render(*chart);
    QVERIFY(chart->isZoomed());
    QCOMPARE(chart->firstVisible(), 10);
    QCOMPARE(chart->lastVisible(), 19);
    QCOMPARE(after, before);
    // Releasing the zoom shows the new points too.
    drag(plotPos(100, 50), plotPos(100, 50));
    render(*chart);
    QCOMPARE(chart->lastVisible(), 107);
    QCOMPARE(chart->yMax(), 9.9);
}

void TestChartInteraction::clearingWhileZoomedNeverReadsPast()
{
    fill(100);
    drag(plotPos(30, 20), plotPos(60, 80));
    moveTo(chart, plotPos(200));
    QVERIFY(chart->isCursorVisible());
    chart->clearPoints();
    QCOMPARE(chart->pointCount(0), 0);
    moveTo(chart, plotPos(250));
    render(*chart);
    QVERIFY(!chart->isZoomed());
    QCOMPARE(chart->series(0)->pixelCount(), 0);
    QVERIFY(chart->readoutRect().isNull());
    QCOMPARE(chart->nearestPointIndex(10), -1);

    // Replaced by fewer points than the zoom window reached: the zoom ends.
    fill(100);
    drag(plotPos(30, 20), plotPos(60, 80));
    chart->clearPoints();
    chart->addPoints(makePoints({1, 2, 3, 4, 5}), 0);
    render(*chart);
    QVERIFY(!chart->isZoomed());
    QCOMPARE(chart->firstVisible(), 0);
    QCOMPARE(chart->lastVisible(), 4);
}

void TestChartInteraction::replacingWithMorePointsKeepsZoom()
{
    fill(100);
    drag(plotPos(30, 20), plotPos(60, 80));
    chart->clearPoints();
    QVector<double> values(200, 2.0);
    chart->addPoints(makePoints(values), 0);
    render(*chart);
    QVERIFY(chart->isZoomed());
    QCOMPARE(chart->firstVisible(), 10);
    QCOMPARE(chart->lastVisible(), 19);
    QCOMPARE(chart->yMax(), 2.2);
}

void TestChartInteraction::cursorPastPointsIsPulledBack()
{
    fill(10);
    moveTo(chart, plotPos(290));
    QCOMPARE(chart->cursorIndex(), 9);
    chart->clearPoints();
    chart->addPoints(makePoints({1, 2, 3}), 0);
    render(*chart);
    QCOMPARE(chart->cursorIndex(), 2);
    QVERIFY(!chart->readoutRect().isNull());
}

void TestChartInteraction::pointsAreOwned()
{
    Token token(new int(1));
    QWeakPointer<int> watch = token;
    auto pointWithToken = [&] {
        return new ChartPoint(1.0, QString(), QDateTime(), -1, -1, QVariant::fromValue(token));
    };
    // A series that does not exist still takes the points off the caller's hands.
    chart->addPoint(pointWithToken(), 3);
    chart->addPoints({pointWithToken(), pointWithToken()}, -1);
    QCOMPARE(chart->pointCount(0), 0);
    chart->addPoint(pointWithToken(), 0);
    chart->addPoints({pointWithToken()}, 0);
    QCOMPARE(chart->pointCount(0), 2);
    chart->clearPoints();
    {
        DMMChart other;
        other.addPoint(pointWithToken(), 0);
    }
    token.reset();
    QVERIFY(watch.isNull());
}

QTEST_MAIN(TestChartInteraction)
#include "tst_chartinteraction.moc"
