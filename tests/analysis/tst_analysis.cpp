// Loss, statistics and limits against figures worked out by hand, and the
// figures of any stretch of readings against a plain computation.
#include "itemfigures.h"
#include "judge.h"
#include "reading.h"
#include "readingstore.h"

#include <QtTest>

#include <cmath>
#include <limits>
#include <random>

using namespace analysis;

namespace {
const QDateTime t0(QDate(2024, 5, 1), QTime(8, 0), Qt::UTC);

// A reading of p mW at a wavelength, hours after t0, shown in a unit.
Reading reading(double mW, quint16 waveLength, double hours, const QString &unit = "dBm",
                int overload = 0)
{
    Reading r;
    r.valueMW = mW;
    r.valueUW = mW * 1000.0;
    r.valueDBm = 10.0 * std::log10(mW);
    r.textUW = QString::number(r.valueUW, 'f', 1);
    r.textMW = QString::number(r.valueMW, 'f', 3);
    r.textDBm = QString::number(r.valueDBm, 'f', 2);
    r.unit = unit;
    r.waveLength = waveLength;
    r.overload = overload;
    r.dateTime = t0.addMSecs(qint64(std::llround(hours * 3600000.0)));
    return r;
}

Sample sample(double dBm, quint16 waveLength)
{
    Sample s;
    s.dBm = dBm;
    s.mW = std::pow(10.0, dBm / 10.0);
    s.waveLength = waveLength;
    s.usable = true;
    return s;
}

void compareClose(double actual, double expected, double tolerance = 1e-9)
{
    if (std::isnan(expected)) {
        QVERIFY2(std::isnan(actual), qPrintable(QString::number(actual)));
        return;
    }
    QVERIFY2(
        std::fabs(actual - expected) <= tolerance * std::max(1.0, std::fabs(expected)),
        qPrintable(QStringLiteral("%1 != %2").arg(actual, 0, 'g', 17).arg(expected, 0, 'g', 17)));
}
} // namespace

class AnalysisTest : public QObject
{
    Q_OBJECT

private slots:
    void lossSignAndReferencesPerWavelength()
    {
        Judge judge;
        QVERIFY(!judge.hasAnyReference());
        QVERIFY(std::isnan(judge.loss(sample(-6.52, 1550))));
        QVERIFY(judge.setReference(1550, -3.0));
        // Loss is reference minus reading: a weaker reading has a positive loss.
        compareClose(judge.loss(sample(-6.52, 1550)), 3.52);
        compareClose(judge.loss(sample(-2.5, 1550)), -0.5);
        QVERIFY(std::isnan(judge.loss(sample(-6.52, 1310)))); // 1310 has none
        QVERIFY(judge.setReference(1310, -10.0));
        compareClose(judge.loss(sample(-12.25, 1310)), 2.25);
        compareClose(judge.loss(sample(-6.52, 1550)), 3.52); // 1550 keeps its own
        // A reference typed for all wavelengths fills in where there is none.
        QVERIFY(judge.setCommonReference(0.0));
        compareClose(judge.loss(sample(-1.0, 850)), 1.0);
        compareClose(judge.loss(sample(-12.25, 1310)), 2.25);
        // Readings without a power have no loss; no power makes no reference.
        Sample over = sample(16.0, 1550);
        over.usable = false;
        QVERIFY(std::isnan(judge.loss(over)));
        const quint64 before = judge.version();
        QVERIFY(!judge.setReference(1550, -std::numeric_limits<double>::infinity())); // 0 mW
        QVERIFY(!judge.setReference(1550, std::nan("")));
        QCOMPARE(judge.version(), before);

        // Kept as text between runs; unreadable entries are skipped, not guessed.
        Judge restored;
        QCOMPARE(restored.referencesFromText(judge.referencesToText() + ";abc=1;1550=x;70000=1"),
                 3);
        QCOMPARE(restored.referencesToText(), judge.referencesToText());
        judge.clearReferences();
        QVERIFY(!judge.hasAnyReference());
    }

    void numbersTypedByPeople()
    {
        QCOMPARE(parseNumber(" -3.5 "), std::optional<double>(-3.5));
        QCOMPARE(parseNumber("-3.5 dBm", "dBm"), std::optional<double>(-3.5));
        QCOMPARE(parseNumber("1e-3"), std::optional<double>(0.001));
        for (const char *bad : {"", "abc", "-3.5 mW", "inf", "nan", "1,5", "0 mW", "--1"})
            QVERIFY2(!parseNumber(QString::fromLatin1(bad), "dBm"), bad);
    }

    void limitsAtTheirExactBoundaries()
    {
        Limits both{-5.0, -1.0};
        QCOMPARE(both.verdict(-5.0), Verdict::Pass);
        QCOMPARE(both.verdict(-1.0), Verdict::Pass);
        QCOMPARE(both.verdict(std::nextafter(-5.0, -10.0)), Verdict::Low);
        QCOMPARE(both.verdict(std::nextafter(-1.0, 0.0)), Verdict::High);
        QCOMPARE(both.verdict(std::nan("")), Verdict::None);
        QCOMPARE((Limits{-5.0, std::nullopt}).verdict(100.0), Verdict::Pass);
        QCOMPARE((Limits{std::nullopt, -1.0}).verdict(-100.0), Verdict::Pass);
        QCOMPARE(Limits().verdict(0.0), Verdict::None);
        QCOMPARE(QString(verdictText(Verdict::Low)), QStringLiteral("LOW"));

        // With a reference the loss is judged; without one the power in dBm.
        Judge judge;
        judge.setDBmLimits({-5.0, -1.0});
        judge.setLossLimits({1.0, 3.0});
        judge.setReference(1550, -3.0);
        QCOMPARE(judge.verdict(sample(-4.0, 1550)), Verdict::Pass); // loss 1
        QCOMPARE(judge.verdict(sample(-6.0, 1550)), Verdict::Pass); // loss 3
        QCOMPARE(judge.verdict(sample(-3.5, 1550)), Verdict::Low);  // loss 0.5
        QCOMPARE(judge.verdict(sample(-6.5, 1550)), Verdict::High); // loss 3.5
        QCOMPARE(judge.verdict(sample(-6.5, 1310)), Verdict::Low);  // -6.5 dBm
        QCOMPARE(judge.verdict(sample(-0.5, 1310)), Verdict::High);
        Sample over = sample(16.0, 1310);
        over.usable = false;
        QCOMPARE(judge.verdict(over), Verdict::None);

        // Beyond the meter's range there is no power, but a side: no light
        // (under range) is LOW against power limits and HIGH against loss
        // limits (the loss is unbounded); over range the other way round.
        over.range = 1;
        Sample under = over;
        under.range = -1;
        QCOMPARE(judge.verdict(under), Verdict::Low);
        QCOMPARE(judge.verdict(over), Verdict::High);
        under.waveLength = over.waveLength = 1550;
        double loss = 0.0;
        QCOMPARE(judge.verdict(under, &loss), Verdict::High);
        QVERIFY(std::isnan(loss));
        QCOMPARE(judge.verdict(over), Verdict::Low);
        // Only a limit on its side judges it.
        judge.setLossLimits({std::nullopt, 3.0});
        QCOMPARE(judge.verdict(over), Verdict::Pass);
    }

    void statisticsByHand()
    {
        // 1, 0.5 and 0.25 mW one hour apart at 1550, shown in three units:
        // 0, -3.0103 and -6.0206 dBm. Mean power 0.58333 mW = -2.34083 dBm;
        // the dBm values deviate by +-3.0103 from their mean, so the sample
        // standard deviation is 3.0103 dB and the drift -3.0103 dB/h.
        const double d = 10.0 * std::log10(2.0);
        ReadingStore store;
        store.append(reading(1.0, 1550, 0.0, "uW"));
        store.append(reading(0.5, 1550, 1.0, "mW"));
        store.append(reading(0.25, 1550, 2.0, "dBm"));
        // Left out and counted apart: over range, NaN, 0 mW, a unit without values.
        store.append(reading(39.99, 1550, 2.5, "dBm", 1));
        Reading nan = reading(0.5, 1550, 2.6);
        nan.valueMW = nan.valueUW = nan.valueDBm = std::nan("");
        store.append(nan);
        store.append(reading(0.0, 1550, 2.7, "mW"));
        store.append(reading(0.5, 1550, 2.8, "W"));
        // Another wavelength keeps figures of its own.
        store.append(reading(0.1, 1310, 3.0));

        Judge judge;
        ItemFigures figures;
        figures.follow(store, judge);
        const PowerStats s = figures.whole(1550);
        QCOMPARE(s.count, qint64(3));
        QCOMPARE(s.leftOut, qint64(4));
        compareClose(s.minDBm, -2 * d);
        compareClose(s.maxDBm, 0.0);
        compareClose(s.averageDBm(), 10.0 * std::log10(1.75 / 3.0));
        compareClose(s.spanDB(), 2 * d);
        compareClose(s.stdDB(), d);
        compareClose(s.driftDBPerHour(), -d);
        QCOMPARE(s.outOfLimits, qint64(0));
        const PowerStats other = figures.whole(1310);
        QCOMPARE(other.count, qint64(1));
        compareClose(other.averageDBm(), -10.0);
        QVERIFY(std::isnan(other.stdDB()));          // one reading has no spread
        QVERIFY(std::isnan(other.driftDBPerHour())); // nor a slope
        QCOMPARE(figures.whole(850).count, qint64(0));

        // New limits recount what lies outside: 0 dBm and over range are
        // HIGH, -6.02 dBm LOW.
        judge.setDBmLimits({-5.0, -1.0});
        figures.follow(store, judge);
        QCOMPARE(figures.whole(1550).outOfLimits, qint64(3));
        QCOMPARE(figures.whole(1310).outOfLimits, qint64(1));
        // Under a reference the loss is judged: losses 0, 3.01, 6.02 and
        // over range (no loss at all: LOW) against 1..3.
        judge.setReference(1550, 0.0);
        judge.setLossLimits({1.0, 3.0});
        figures.follow(store, judge);
        QCOMPARE(figures.whole(1550).outOfLimits, qint64(4));
        QCOMPARE(figures.whole(1550).leftOut, qint64(4));

        // An emptied and refilled store is taken in afresh, not added to.
        store.clear();
        store.append(reading(2.0, 1550, 0.0));
        figures.follow(store, judge);
        QCOMPARE(figures.whole(1550).count, qint64(1));
        compareClose(figures.whole(1550).maxDBm, d);
    }

    void soundWhereSumsOfSquaresFail()
    {
        // 10^5 readings alternating 1e-4 dB around -30 dBm, one a second in
        // 2024: a sum of squares (9e7) would bury a variance of 1e-8 in its
        // rounding, and squared epoch times the slope. Welford and times
        // after the first reading keep both.
        ReadingStore store;
        const int n = 100000;
        for (int i = 0; i < n; ++i) {
            Reading r = reading(1.0, 1550, i / 3600.0);
            r.valueDBm = -30.0 + (i % 2 ? 1e-4 : -1e-4);
            r.valueMW = std::pow(10.0, r.valueDBm / 10.0);
            store.append(r);
        }
        Judge judge;
        ItemFigures figures;
        figures.follow(store, judge);
        for (const PowerStats &s :
             {figures.whole(1550), figures.range(store, judge, 0, n - 1, 1550)}) {
            compareClose(s.stdDB(), 1e-4 * std::sqrt(double(n) / (n - 1)), 1e-6);
            // The tiny alternation leans the line by 2e-4 dB over 100,000 s.
            QVERIFY2(std::fabs(s.driftDBPerHour()) < 1e-8,
                     qPrintable(QString::number(s.driftDBPerHour())));
            compareClose(s.averageDBm(), -30.0, 1e-6);
        }
    }

    void stretchesAgainstPlainComputation()
    {
        // Random readings: two wavelengths in runs, some over range and NaN,
        // times with jitter over a day, several blocks long.
        std::mt19937 random(930);
        std::uniform_real_distribution<double> unit(0.0, 1.0);
        ReadingStore store;
        quint16 waveLength = 1550;
        double hours = 0.0;
        const int n = 7 * ItemFigures::BlockSize + 123;
        for (int i = 0; i < n; ++i) {
            if (unit(random) < 0.002)
                waveLength = waveLength == 1550 ? 1310 : 1550;
            hours += 0.001 + 0.002 * unit(random);
            const double u = unit(random);
            Reading r = reading(std::pow(10.0, (-3.0 - 2.0 * unit(random)) / 10.0), waveLength,
                                hours, u < 0.5 ? "dBm" : "uW",
                                u < 0.01   ? 1
                                : u < 0.02 ? -1
                                           : 0);
            if (u > 0.995)
                r.valueDBm = std::nan("");
            store.append(r);
        }
        Judge judge;
        judge.setDBmLimits({-4.8, -3.2});

        // Fed in uneven pieces, as readings arrive.
        ItemFigures figures;
        ReadingStore growing;
        for (int i = 0; i < n; ++i) {
            growing.append(store.at(i));
            if (unit(random) < 0.01 || i == n - 1)
                figures.follow(growing, judge);
        }
        QCOMPARE(figures.followed(), n);

        const qint64 origin = sampleAt(store, 0).timeMs;
        auto plain = [&](int first, int last, quint16 w) {
            // Two passes: means first, then deviations.
            std::vector<Sample> in;
            qint64 leftOut = 0, outside = 0;
            for (int i = first; i <= last; ++i) {
                const Sample s = sampleAt(store, i);
                if (s.waveLength != w)
                    continue;
                const Verdict v = judge.verdict(s);
                outside += v == Verdict::Low || v == Verdict::High; // over and under range too
                if (!s.usable) {
                    ++leftOut;
                    continue;
                }
                in.push_back(s);
            }
            PowerStats e;
            e.count = qint64(in.size());
            e.leftOut = leftOut;
            e.outOfLimits = outside;
            double sumDBm = 0.0, sumH = 0.0;
            for (const Sample &s : in) {
                e.minDBm = std::min(e.minDBm, s.dBm);
                e.maxDBm = std::max(e.maxDBm, s.dBm);
                e.sumMW += s.mW;
                sumDBm += s.dBm;
                sumH += double(s.timeMs - origin) / 3.6e6;
            }
            const double meanY = sumDBm / double(in.size()), meanH = sumH / double(in.size());
            double syy = 0.0, shh = 0.0, shy = 0.0;
            for (const Sample &s : in) {
                const double h = double(s.timeMs - origin) / 3.6e6 - meanH;
                syy += (s.dBm - meanY) * (s.dBm - meanY);
                shh += h * h;
                shy += h * (s.dBm - meanY);
            }
            return std::make_tuple(
                e, in.size() > 1 ? std::sqrt(syy / double(in.size() - 1)) : std::nan(""),
                in.size() > 1 ? shy / shh : std::nan(""));
        };

        QVector<QPair<int, int>> stretches = {
            {0, n - 1},
            {0, 0},
            {5, 5},
            {ItemFigures::BlockSize, 2 * ItemFigures::BlockSize - 1},
            {ItemFigures::BlockSize - 1, ItemFigures::BlockSize},
            {100, 6 * ItemFigures::BlockSize + 7},
            {n - 10, n + 50}}; // past the end: clamped
        for (int k = 0; k < 200; ++k) {
            const int a = int(unit(random) * n), b = int(unit(random) * n);
            stretches.append({std::min(a, b), std::max(a, b)});
        }
        for (const auto &[first, last] : stretches) {
            for (quint16 w : {quint16(1550), quint16(1310)}) {
                const auto [e, deviation, drift] = plain(first, std::min(last, n - 1), w);
                const PowerStats s = figures.range(store, judge, first, last, w);
                const QByteArray where =
                    QStringLiteral("%1..%2 at %3").arg(first).arg(last).arg(w).toLatin1();
                QVERIFY2(s.count == e.count && s.leftOut == e.leftOut &&
                             s.outOfLimits == e.outOfLimits,
                         where);
                if (e.count == 0)
                    continue;
                QCOMPARE(s.minDBm, e.minDBm);
                QCOMPARE(s.maxDBm, e.maxDBm);
                compareClose(s.sumMW, e.sumMW);
                compareClose(s.stdDB(), deviation, 1e-7);
                compareClose(s.driftDBPerHour(), drift, 1e-7);
            }
        }
        // The whole item, kept as readings arrived, agrees with the stretch of all.
        const PowerStats all = figures.range(store, judge, 0, n - 1, 1550);
        QCOMPARE(figures.whole(1550).count, all.count);
        compareClose(figures.whole(1550).stdDB(), all.stdDB(), 1e-10);
    }
};

QTEST_APPLESS_MAIN(AnalysisTest)
#include "tst_analysis.moc"
