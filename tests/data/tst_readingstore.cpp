#include "dmmdata.h"
#include "reading.h"
#include "readingstore.h"
#include "walltime.h"

#include <QRandomGenerator>
#include <QTimeZone>
#include <QtTest>

#include <cmath>
#include <ctime>
#include <limits>

// The compact store must give back every field exactly as it was appended,
// whatever a driver or a file puts into a reading.
class TestReadingStore : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void everyFieldReadsBack_data();
    void everyFieldReadsBack();
    void manyDistinctTextsReadBack();
    void wallTimeShowsWhatQtShows();
};

namespace {
Reading plain()
{
    Reading r;
    r.dateTime = QDateTime(QDate(2024, 3, 31), QTime(1, 59, 59, 999));
    r.dmmDateTime = QDateTime(QDate(2024, 3, 31), QTime(3, 0));
    r.valueUW = 501.187;
    r.valueMW = 0.501187;
    r.valueDBm = 10.0 * std::log10(0.501187);
    r.textUW = QString::number(r.valueUW, 'f', 1);
    r.textMW = QString::number(r.valueMW, 'f', 3);
    r.textDBm = QString::number(r.valueDBm, 'f', 2);
    r.unit = QStringLiteral("dBm");
    r.waveLength = 1550;
    return r;
}
} // namespace

void TestReadingStore::initTestCase()
{
    // A zone with daylight saving, so that wall clocks and instants differ
    // and some local times repeat.
    qputenv("TZ", "Europe/Berlin");
    tzset();
}

void TestReadingStore::everyFieldReadsBack_data()
{
    QTest::addColumn<Reading>("reading");
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    Reading r = plain();
    QTest::newRow("plain") << r;
    r.overload = 1;
    r.textUW = r.textMW = r.textDBm = QStringLiteral("    OL");
    QTest::newRow("over range") << r;
    r = plain();
    r.overload = -1;
    r.textUW = r.textMW = r.textDBm = QStringLiteral("   -OL");
    QTest::newRow("under range") << r;
    r = plain();
    r.overload = 7;
    r.textUW = QStringLiteral("  501.2");
    r.textMW = QStringLiteral("5.01e-01");
    r.textDBm = QStringLiteral("-3.000"); // not what the value prints with three decimals
    QTest::newRow("a driver's own texts") << r;
    r = plain();
    r.valueUW = nan;
    r.valueMW = -0.0;
    r.valueDBm = -inf;
    r.textUW = QString::number(nan);
    r.textMW = QString::number(-0.0, 'f', 3);
    r.textDBm = QString::number(-inf);
    QTest::newRow("not numbers") << r;
    r = plain();
    r.unit = QStringLiteral("W");
    QTest::newRow("unknown unit") << r;
    r.unit = QStringLiteral("DBM");
    QTest::newRow("unit in other case") << r;
    r.unit.clear();
    r.textUW.clear();
    QTest::newRow("empty unit and text") << r;
    r = plain();
    r.dateTime = QDateTime();
    r.dmmDateTime = QDateTime(QDate(1899, 12, 30), QTime(0, 0), Qt::UTC);
    QTest::newRow("null and UTC times") << r;
    r = plain();
    r.dateTime = QDateTime(QDate(2024, 5, 1), QTime(12, 34, 56, 789), Qt::OffsetFromUTC, 19800);
    r.dmmDateTime = QDateTime(QDate(2024, 5, 1), QTime(12, 0), Qt::OffsetFromUTC, -30);
    QTest::newRow("offsets, one of seconds") << r;
    r = plain();
    r.dateTime = QDateTime(QDate(2024, 10, 27), QTime(1, 59, 59, 999)); // before the repeated hour
    r.dmmDateTime = QDateTime(QDate(9999, 12, 31), QTime(23, 59, 59));
    QTest::newRow("daylight saving end, year 9999") << r;
    r = plain();
    r.stored = true;
    r.storeNo = std::numeric_limits<int>::min();
    r.waveLength = 65535;
    QTest::newRow("stored extremes") << r;
}

void TestReadingStore::everyFieldReadsBack()
{
    QFETCH(Reading, reading);
    // Straddle a chunk boundary, through a DmmData like a driver's reading.
    ReadingStore store;
    const int n = ReadingStore::ChunkSize + 2;
    std::unique_ptr<DmmData> data(reading.toDmmData());
    for (int i = 0; i < n; ++i)
        store.append(i % 2 ? reading : plain());
    store.append(*data);
    QCOMPARE(store.size(), n + 1);
    for (int i : {1, ReadingStore::ChunkSize - 1, ReadingStore::ChunkSize + 1, n})
        QVERIFY2(store.at(i) == reading, qPrintable(QString::number(i)));
    QVERIFY(store.at(ReadingStore::ChunkSize) == plain());
    QCOMPARE(store.ownText(n), reading.valueText(reading.unit));
    QCOMPARE(store.shownTime(n),
             WallTime::fromDateTime(reading.stored ? reading.dmmDateTime : reading.dateTime));
    // The bulk copy path keeps every field as well.
    ReadingStore copy;
    copy.append(store.fields(n));
    copy.appendFrom(store, n - 2, 3);
    QVERIFY(copy.at(0) == reading && copy.at(1) == plain() && copy.at(2) == reading &&
            copy.at(3) == reading);
    store.clear();
    QCOMPARE(store.size(), 0);
}

void TestReadingStore::manyDistinctTextsReadBack()
{
    // More distinct texts than the interning table takes.
    ReadingStore store;
    Reading r = plain();
    const int n = 70000;
    for (int i = 0; i < n; ++i) {
        r.textMW = QStringLiteral(" %1").arg(i);
        r.unit = QStringLiteral("u%1").arg(i % 300);
        store.append(r);
    }
    for (int i : {0, 1, 65517, 65518, 65519, n - 1}) {
        QCOMPARE(store.text(i, ReadingStore::MW), QStringLiteral(" %1").arg(i));
        QCOMPARE(store.unit(i), QStringLiteral("u%1").arg(i % 300));
        QCOMPARE(store.unitCode(i), ReadingStore::OtherUnit);
        QCOMPARE(store.text(i, ReadingStore::UW), r.textUW);
    }
}

void TestReadingStore::wallTimeShowsWhatQtShows()
{
    QRandomGenerator rng(1550);
    const QDateTime from(QDate(1900, 1, 1), QTime(0, 0));
    const qint64 span = from.msecsTo(QDateTime(QDate(2100, 1, 1), QTime(0, 0)));
    QList<QDateTime> times = {QDateTime(QDate(2024, 3, 31), QTime(3, 0)),
                              QDateTime(QDate(1, 1, 1), QTime(0, 0)),
                              QDateTime(QDate(1969, 12, 31), QTime(23, 59, 59, 1))};
    for (int i = 0; i < 2000; ++i)
        times << from.addMSecs(qint64(rng.generateDouble() * span));
    for (const QDateTime &t : qAsConst(times)) {
        const WallTime w = WallTime::fromDateTime(t);
        QCOMPARE(w.toString(true), t.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")));
        QCOMPARE(w.toString(false), t.toString(QStringLiteral("yyyy-MM-dd hh:mm")));
        QCOMPARE(w.toDateTime(), t);
        const double serial = t.date().toJulianDay() - QDate(1899, 12, 30).toJulianDay() +
                              t.time().msecsSinceStartOfDay() / 86400000.0;
        QVERIFY(qAbs(w.spreadsheetSerial() - serial) < 1e-9);
    }
    // In the hour that repeats when daylight saving ends the wall clock is what
    // is kept; which of the two instants it means is left to Qt, as for any
    // local time built from a date and a time.
    const QDateTime repeated(QDate(2024, 10, 27), QTime(2, 30));
    QCOMPARE(WallTime::fromDateTime(repeated).toString(true),
             QStringLiteral("2024-10-27 02:30:00"));
    QCOMPARE(WallTime::fromDateTime(repeated).toDateTime().toString(Qt::ISODateWithMs),
             QStringLiteral("2024-10-27T02:30:00.000"));
    QVERIFY(WallTime::fromDateTime(QDateTime()).toString(true).isEmpty());
}

QTEST_GUILESS_MAIN(TestReadingStore)
#include "tst_readingstore.moc"
