#include "dmmchart.h"

#include <QRandomGenerator>
#include <QtTest>

#include <cmath>

// The label and grid step searches.
class TestChartSteps : public QObject
{
    Q_OBJECT
private slots:
    void nicePointStep_data();
    void nicePointStep();
    void niceStep_data();
    void niceStep();
    void stepsAreTheFirstThatFit();
    void stepSearchesEndOnUnusableScales();
};

void TestChartSteps::nicePointStep_data()
{
    QTest::addColumn<double>("pixelsPerPoint");
    QTest::addColumn<int>("expected");
    QTest::newRow("2.5 px -> 40") << 2.5 << 40;
    QTest::newRow("1 px -> 100") << 1.0 << 100;
    QTest::newRow("wide points take 1") << 80.0 << 1;
    QTest::newRow("just under 80 takes 2") << 79.9 << 2;
    QTest::newRow("26.7 -> 3") << 26.7 << 3;
    QTest::newRow("16 -> 5") << 16.0 << 5;
    QTest::newRow("2 px -> 40 (last of the list)") << 2.0 << 40;
    QTest::newRow("1.99 px -> 50 (first multiple)") << 1.99 << 50;
    QTest::newRow("0.1 px -> 800") << 0.1 << 800;
    QTest::newRow("0.0008 px -> 100000") << 0.0008 << 100000;
}

void TestChartSteps::nicePointStep()
{
    QFETCH(double, pixelsPerPoint);
    QFETCH(int, expected);
    QCOMPARE(DMMChart::nicePointStep(pixelsPerPoint, 80), expected);
}

void TestChartSteps::niceStep_data()
{
    QTest::addColumn<double>("pixelsPerUnit");
    QTest::addColumn<double>("expected");
    QTest::newRow("100 -> 0.3") << 100.0 << 0.3;
    QTest::newRow("0.001 -> 30000") << 0.001 << 30000.0;
    QTest::newRow("huge scale -> 0.00001") << 3000000.0 << 0.00001;
    QTest::newRow("300000 -> 0.0001") << 300000.0 << 0.0001;
    QTest::newRow("60 -> 0.5") << 60.0 << 0.5;
    QTest::newRow("40 -> 0.8 (no 0.75)") << 40.0 << 0.8;
    QTest::newRow("30 -> 1") << 30.0 << 1.0;
    QTest::newRow("12 -> 3 (no 2.5)") << 12.0 << 3.0;
    QTest::newRow("7 -> 5 (no 4)") << 7.0 << 5.0;
    QTest::newRow("0.75 -> 40 (last of the list)") << 0.75 << 40.0;
    QTest::newRow("0.7 -> 50 (first multiple)") << 0.7 << 50.0;
    QTest::newRow("0.2 -> 150") << 0.2 << 150.0;
}

void TestChartSteps::niceStep()
{
    QFETCH(double, pixelsPerUnit);
    QFETCH(double, expected);
    QCOMPARE(DMMChart::niceStep(pixelsPerUnit, 30), expected);
}

// The result reaches the spacing and no smaller candidate would.
void TestChartSteps::stepsAreTheFirstThatFit()
{
    const QVector<double> list = {0.00001, 0.0001, 0.001, 0.01, 0.1, 0.2, 0.3, 0.5, 0.8,
                                  1,       2,      3,     5,    10,  20,  30,  40};
    QRandomGenerator rng(930);
    for (int i = 0; i < 2000; ++i) {
        const double perUnit = std::pow(10.0, rng.generateDouble() * 12.0 - 6.0);
        const double step = DMMChart::niceStep(perUnit, 30);
        QVERIFY2(step * perUnit >= 30, qPrintable(QString::number(perUnit)));
        double previous = 0;
        for (double candidate : list) {
            if (candidate >= step)
                break;
            previous = candidate;
        }
        if (step > 40)
            previous = step - 50 >= 50 ? step - 50 : 40;
        QVERIFY2(previous * perUnit < 30, qPrintable(QString::number(perUnit)));

        const double perPoint = std::pow(10.0, rng.generateDouble() * 5.0 - 3.0);
        const int pointStep = DMMChart::nicePointStep(perPoint, 80);
        QVERIFY(pointStep * perPoint >= 80);
        const int smaller = pointStep > 50 ? pointStep - 50 : (pointStep == 50 ? 40 : 0);
        if (smaller > 0)
            QVERIFY(smaller * perPoint < 80);
    }
}

void TestChartSteps::stepSearchesEndOnUnusableScales()
{
    QCOMPARE(DMMChart::nicePointStep(0.0, 80), 0);
    QCOMPARE(DMMChart::nicePointStep(-3.0, 80), 0);
    QCOMPARE(DMMChart::nicePointStep(std::nan(""), 80), 0);
    QCOMPARE(DMMChart::niceStep(0.0, 30), 0.0);
    QCOMPARE(DMMChart::niceStep(-1.0, 30), 0.0);
    QCOMPARE(DMMChart::niceStep(HUGE_VAL, 30), 0.0);
    // A vanishing scale still yields a step that fits, found at once.
    const double step = DMMChart::niceStep(1e-300, 30);
    QVERIFY(std::isfinite(step));
    QVERIFY(step * 1e-300 >= 30);
    // A point step that would not fit an int is refused rather than wrapped.
    QCOMPARE(DMMChart::nicePointStep(1e-12, 80), 0);
}

QTEST_MAIN(TestChartSteps)
#include "tst_chartsteps.moc"
