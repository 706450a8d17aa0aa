#include "chartline.h"
#include "chartpoint.h"
#include "chartsource.h"
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

class Values : public ChartSource
{
public:
    int count() const override { return values.size(); }
    double value(int index) const override { return values.at(index); }
    QDateTime dateTime(int) const override { return QDateTime(); }
    QString label(int) const override { return QString(); }
    QVector<double> values;
};
} // namespace

// One series: ownership of its points and the range answers of its extremes pyramid.
class TestChartLine : public QObject
{
    Q_OBJECT
private slots:
    void pointRecordKeepsItsFields();
    void pointsAreKeptInOrder();
    void rangeAnswersMatchAScan();
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

// Over a chunk boundary and four pyramid levels, filled in runs from a source
// and one point at a time: every range question gets the answer of a scan.
void TestChartLine::rangeAnswersMatchAScan()
{
    Values source;
    QRandomGenerator rng(7);
    for (int i = 0; i < 70000; ++i) {
        double v = rng.generateDouble() * 200 - 100;
        if ((i >= 5000 && i < 9200) || rng.bounded(40) == 0)
            v = rng.bounded(2) ? std::nan("") : -qInf();
        source.values << v;
    }
    DMMChart chart;
    ChartLine pulled(&chart), appended(&chart);
    pulled.setSource(&source);
    for (double v : qAsConst(source.values))
        appended.append(point(v));
    QCOMPARE(pulled.count(), 70000);
    for (int trial = 0; trial < 600; ++trial) {
        const int spans[] = {70000, 300, 5000};
        int a = rng.bounded(70000), b = a + rng.bounded(spans[(trial / 2) % 3]);
        if (trial % 7 == 0) { // inside the stretch of no reading, near its ends
            a = 4990 + rng.bounded(400);
            b = 9210 - rng.bounded(400);
        }
        b = std::min(b, 69999);
        double lo = qInf(), hi = -qInf();
        int first = -1, last = -1;
        for (int i = a; i <= b; ++i) {
            const double v = source.values[i];
            if (std::isfinite(v)) {
                lo = std::min(lo, v);
                hi = std::max(hi, v);
                first = first < 0 ? i : first;
                last = i;
            }
        }
        // Every other search looks for the range's largest value: a single
        // match that may lie anywhere in it.
        const double threshold =
            trial % 2 ? rng.generateDouble() * 220 - 110 : std::nextafter(hi, -qInf());
        int firstAbove = -1, lastAbove = -1;
        for (int i = a; i <= b; ++i) {
            if (source.values[i] > threshold) { // false for NaN
                firstAbove = firstAbove < 0 ? i : firstAbove;
                lastAbove = i;
            }
        }
        auto above = [threshold](double, double blockMax) { return blockMax > threshold; };
        for (const ChartLine *line : {&pulled, &appended}) {
            double min = 0, max = 0;
            QCOMPARE(line->rangeExtremes(a, b, &min, &max), first >= 0);
            if (first >= 0) {
                QCOMPARE(min, lo);
                QCOMPARE(max, hi);
            }
            QCOMPARE(line->firstFinite(a, b), first);
            QCOMPARE(line->lastFinite(a, b), last);
            QCOMPARE(line->values().findFirst(a, b, above), firstAbove);
            QCOMPARE(line->values().findLast(a, b, above), lastAbove);
        }
    }
    // Indices outside the points held are cut off, never read.
    double lo = 0, hi = 0;
    QVERIFY(pulled.rangeExtremes(69990, 90000, &lo, &hi));
    QVERIFY(!pulled.rangeExtremes(70000, 90000, &lo, &hi));
    QCOMPARE(pulled.firstFinite(-50, 4), appended.firstFinite(0, 4));
}

void TestChartLine::nonFiniteValuesStayOutOfExtremes()
{
    DMMChart chart;
    ChartLine line(&chart);
    const double inf = std::numeric_limits<double>::infinity();
    for (int i = 0; i < 130; ++i)
        line.append(point(-inf)); // whole blocks and a bit without a finite value
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
