#include "chartline.h"
#include "chartpoint.h"
#include "dmmchart.h"

#include <QRandomGenerator>
#include <QtTest>

#include <cmath>
#include <limits>

namespace {
ChartPoint *point(double v)
{
    return new ChartPoint(v, QString::number(v), QDateTime(), -1, -1, QVariant(QString()));
}
} // namespace

// One series: ownership of its points and the extremes it keeps by block.
class TestChartLine : public QObject
{
    Q_OBJECT
private slots:
    void pointRecordKeepsItsFields();
    void pointsAreKeptInOrder();
    void rangeExtremesMatchAScan();
    void nonFiniteValuesStayOutOfExtremes();
    void clearEmptiesEverything();
};

void TestChartLine::pointRecordKeepsItsFields()
{
    const QDateTime when(QDate(2024, 1, 2), QTime(3, 4, 5));
    ChartPoint p(-3.25, QStringLiteral("-3.25"), when, -1, -1, QStringLiteral("-3.25 dBm"));
    QCOMPARE(p.value(), -3.25);
    QCOMPARE(p.valueText(), QStringLiteral("-3.25"));
    QCOMPARE(p.dateTime(), when);
    QCOMPARE(p.tagA(), -1);
    QCOMPARE(p.tagB(), -1);
    QCOMPARE(p.label().toString(), QStringLiteral("-3.25 dBm"));
}

void TestChartLine::pointsAreKeptInOrder()
{
    DMMChart chart;
    ChartLine line(&chart);
    QCOMPARE(line.colour(), QColor(250, 150, 0));
    for (int i = 0; i < 200; ++i)
        line.append(point(i * 0.5));
    QCOMPARE(line.count(), 200);
    const QList<ChartPoint *> copy = line.points();
    QCOMPARE(copy.size(), 200);
    for (int i = 0; i < 200; ++i) {
        QCOMPARE(copy.at(i)->value(), i * 0.5);
        QCOMPARE(line.valueAt(i), i * 0.5);
    }
}

void TestChartLine::rangeExtremesMatchAScan()
{
    DMMChart chart;
    ChartLine line(&chart);
    QVector<double> values;
    QRandomGenerator rng(7);
    for (int i = 0; i < 1000; ++i) {
        const double v = rng.generateDouble() * 200 - 100;
        values.append(v);
        line.append(point(v));
    }
    for (int trial = 0; trial < 500; ++trial) {
        int a = rng.bounded(1000), b = rng.bounded(1000);
        if (a > b)
            std::swap(a, b);
        double lo = 0, hi = 0;
        QVERIFY(line.rangeExtremes(a, b, &lo, &hi));
        double elo = values[a], ehi = values[a];
        for (int i = a; i <= b; ++i) {
            elo = std::min(elo, values[i]);
            ehi = std::max(ehi, values[i]);
        }
        QCOMPARE(lo, elo);
        QCOMPARE(hi, ehi);
    }
    // Indices outside the points held are cut off, never read.
    double lo = 0, hi = 0;
    QVERIFY(line.rangeExtremes(990, 5000, &lo, &hi));
    QVERIFY(!line.rangeExtremes(1000, 5000, &lo, &hi));
}

void TestChartLine::nonFiniteValuesStayOutOfExtremes()
{
    DMMChart chart;
    ChartLine line(&chart);
    const double inf = std::numeric_limits<double>::infinity();
    for (int i = 0; i < 130; ++i)
        line.append(point(-inf)); // two whole blocks and a bit without a finite value
    line.append(point(std::nan("")));
    line.append(point(-7.5));
    line.append(point(inf));
    line.append(point(4.0));
    line.append(point(std::nan("")));
    double lo = 0, hi = 0;
    QVERIFY(!line.rangeExtremes(0, 130, &lo, &hi));
    QVERIFY(line.rangeExtremes(0, line.count() - 1, &lo, &hi));
    QCOMPARE(lo, -7.5);
    QCOMPARE(hi, 4.0);
    QCOMPARE(line.firstFinite(0, line.count() - 1), 131);
    QCOMPARE(line.lastFinite(0, line.count() - 1), 133);
    QCOMPARE(line.firstFinite(0, 130), -1);
    QCOMPARE(line.lastFinite(0, 130), -1);
}

void TestChartLine::clearEmptiesEverything()
{
    DMMChart chart;
    ChartLine line(&chart);
    const QVariant label(QStringLiteral("shared label"));
    for (int i = 0; i < 100; ++i)
        line.append(new ChartPoint(i, QString(), QDateTime(), -1, -1, label));
    line.clear();
    QCOMPARE(line.count(), 0);
    double lo, hi;
    QVERIFY(!line.rangeExtremes(0, 99, &lo, &hi));
    QCOMPARE(line.firstFinite(0, 99), -1);
    line.append(point(2.0));
    QVERIFY(line.rangeExtremes(0, 0, &lo, &hi));
    QCOMPARE(lo, 2.0);
}

QTEST_MAIN(TestChartLine)
#include "tst_chartline.moc"
