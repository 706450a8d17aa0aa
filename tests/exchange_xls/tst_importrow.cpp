#include "importrow.h"

#include "dmmdata.h"

#include <QtTest>

#include <cmath>
#include <memory>

// Turning imported rows into readings, and naming the import item.
class TestImportRow : public QObject
{
    Q_OBJECT

private slots:
    void values_data();
    void values();
    void overloads_data();
    void overloads();
    void unknownUnitKeepsItsText();
    void waveLength_data();
    void waveLength();
    void time_data();
    void time();
    void shortRowDoesNotCrash();
    void importNames_data();
    void importNames();
};

static QVariantList row(const QVariant &time, const QString &value, const QString &unit,
                        const QString &wave = QStringLiteral("1550nm"))
{
    return {QStringLiteral("1"), time, value, unit, wave};
}

static bool same(double a, double b)
{
    if (std::isnan(a) || std::isnan(b))
        return std::isnan(a) && std::isnan(b);
    if (std::isinf(a) || std::isinf(b))
        return a == b;
    return std::abs(a - b) <= 1e-9 * std::max(1.0, std::abs(b));
}

void TestImportRow::values_data()
{
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("unit");
    QTest::addColumn<double>("uw");
    QTest::addColumn<double>("mw");
    QTest::addColumn<double>("dbm");
    QTest::addColumn<QString>("textUW");
    QTest::addColumn<QString>("textMW");
    QTest::addColumn<QString>("textDBm");

    const double inf = std::numeric_limits<double>::infinity();
    // -3 dBm = 10^-0.3 mW = 0.501187... mW.
    const double m3 = std::pow(10.0, -0.3);
    QTest::newRow("dBm -3.00") << "-3.00"
                               << "dBm" << m3 * 1000 << m3 << -3.0 << "501.2"
                               << "0.501"
                               << "-3.00";
    QTest::newRow("dBm 0") << "0"
                           << "dBm" << 1000.0 << 1.0 << 0.0 << "1000.0"
                           << "1.000"
                           << "0";
    QTest::newRow("uW 501.2") << "501.2"
                              << "uW" << 501.2 << 0.5012 << 10 * std::log10(0.5012) << "501.2"
                              << "0.501"
                              << "-3.00";
    QTest::newRow("mW 0.501") << "0.501"
                              << "mW" << 501.0 << 0.501 << 10 * std::log10(0.501) << "501.0"
                              << "0.501"
                              << "-3.00";
    // Above 3.999 mW the microwatt text has two decimals.
    QTest::newRow("mW 4") << "4"
                          << "mW" << 4000.0 << 4.0 << 10 * std::log10(4.0) << "4000.00"
                          << "4"
                          << "6.02";
    QTest::newRow("mW 3.999") << "3.999"
                              << "mW" << 3999.0 << 3.999 << 10 * std::log10(3.999) << "3999.0"
                              << "3.999"
                              << "6.02";
    // Not a number: v = 0, so the dBm value is minus infinity.
    QTest::newRow("uW text") << "abc"
                             << "uW" << 0.0 << 0.0 << -inf << "abc"
                             << "0.000"
                             << "-inf";
    QTest::newRow("mW empty") << ""
                              << "mW" << 0.0 << 0.0 << -inf << "0.0"
                              << ""
                              << "-inf";
    // In dBm a value that is no number would be 0 dBm, a real power: it has none.
    const double nan = std::numeric_limits<double>::quiet_NaN();
    QTest::newRow("dBm text") << "n/a"
                              << "dBm" << nan << nan << nan << "n/a"
                              << "n/a"
                              << "n/a";
    QTest::newRow("dBm empty") << ""
                               << "dBm" << nan << nan << nan << ""
                               << ""
                               << "";
    // C locale: a decimal comma is no number.
    QTest::newRow("decimal comma") << "0,5"
                                   << "mW" << 0.0 << 0.0 << -inf << "0.0"
                                   << "0,5"
                                   << "-inf";
    QTest::newRow("infinity is no number") << "inf"
                                           << "dBm" << nan << nan << nan << "inf"
                                           << "inf"
                                           << "inf";
}

void TestImportRow::values()
{
    QFETCH(QString, value);
    QFETCH(QString, unit);
    QFETCH(double, uw);
    QFETCH(double, mw);
    QFETCH(double, dbm);
    std::unique_ptr<DmmData> d(readingFromRow(row("2024-05-01 12:00:00", value, unit)));
    QVERIFY2(same(d->value("uW"), uw), qPrintable(QString::number(d->value("uW"))));
    QVERIFY2(same(d->value("mW"), mw), qPrintable(QString::number(d->value("mW"))));
    QVERIFY2(same(d->value("dBm"), dbm), qPrintable(QString::number(d->value("dBm"))));
    QTEST(d->valueText("uW"), "textUW");
    QTEST(d->valueText("mW"), "textMW");
    QTEST(d->valueText("dBm"), "textDBm");
    QCOMPARE(d->unit(), unit);
    QVERIFY(!d->stored());
    QCOMPARE(d->storeNo(), 0);
    QVERIFY(d->dmmDateTime().isNull());
}

void TestImportRow::overloads_data()
{
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("unit");
    QTest::addColumn<bool>("under");

    QTest::newRow("over") << "    OL"
                          << "uW" << false;
    QTest::newRow("under") << "   -OL"
                           << "dBm" << true;
    QTest::newRow("any capital L") << "Lx"
                                   << "mW" << false;
    QTest::newRow("L with minus anywhere") << "L-"
                                           << "uW" << true;
    QTest::newRow("unknown unit") << "    OL"
                                  << "W" << false;
}

void TestImportRow::overloads()
{
    QFETCH(QString, value);
    QFETCH(QString, unit);
    QFETCH(bool, under);
    std::unique_ptr<DmmData> d(readingFromRow(row("2024-05-01 12:00:00", value, unit)));
    const QString text = under ? QStringLiteral("   -OL") : QStringLiteral("    OL");
    QCOMPARE(text.size(), 6);
    // Texts and numbers are looked up through the known units, whatever the row's unit.
    d->setUnit(QStringLiteral("uW"));
    QCOMPARE(d->valueText("uW"), text);
    QCOMPARE(d->valueText("mW"), text);
    QCOMPARE(d->valueText("dBm"), text);
    QVERIFY(same(d->value("uW"), under ? 0.01 : 39990.0));
    QVERIFY(same(d->value("mW"), under ? 0.00001 : 39.99));
    QVERIFY(same(d->value("dBm"), under ? -50.0 : 10 * std::log10(39.99)));
    QVERIFY(std::isfinite(d->value("mW")));
}

void TestImportRow::unknownUnitKeepsItsText()
{
    std::unique_ptr<DmmData> d(readingFromRow(row("2024-05-01 12:00:00", "12.5", "W")));
    QCOMPARE(d->unit(), QStringLiteral("W"));
    QCOMPARE(d->valueMW(), 0.0);
    QCOMPARE(d->value("uW"), 0.0);
    QCOMPARE(d->value("dBm"), 0.0);
    QVERIFY(d->valueText("uW").isEmpty());
    QVERIFY(d->valueText("mW").isEmpty());
    QVERIFY(d->valueText("dBm").isEmpty());
    QCOMPARE(d->waveLength(), quint16(1550));
}

void TestImportRow::waveLength_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("expected");
    QTest::newRow("1550nm") << "1550nm" << 1550;
    QTest::newRow("1550 without unit (a number cell)") << "1550" << 1550;
    QTest::newRow("0nm") << "0nm" << 0;
    QTest::newRow("1310nm") << "1310nm" << 1310;
    QTest::newRow("not a number") << "abcnm" << 0;
    QTest::newRow("empty") << "" << 0;
    QTest::newRow("unit only") << "nm" << 0;
    QTest::newRow("16-bit truncation") << "70000nm" << 70000 - 65536;
}

void TestImportRow::waveLength()
{
    QFETCH(QString, text);
    QFETCH(int, expected);
    std::unique_ptr<DmmData> d(readingFromRow(row("2024-05-01 12:00:00", "1", "uW", text)));
    QCOMPARE(int(d->waveLength()), expected);
}

void TestImportRow::time_data()
{
    QTest::addColumn<QVariant>("cell");
    QTest::addColumn<QDateTime>("expected");
    const QDateTime dt(QDate(2024, 5, 1), QTime(12, 34, 56));
    QTest::newRow("date-time cell") << QVariant(dt) << dt;
    QTest::newRow("seconds text") << QVariant("2024-05-01 12:34:56") << dt;
    QTest::newRow("minutes text") << QVariant("2024-05-01 12:34")
                                  << QDateTime(QDate(2024, 5, 1), QTime(12, 34));
    QTest::newRow("date cell") << QVariant(QDate(2024, 5, 1))
                               << QDateTime(QDate(2024, 5, 1), QTime(0, 0));
    QTest::newRow("other text") << QVariant("yesterday") << QDateTime();
    QTest::newRow("no such day") << QVariant("2023-02-29 12:00:00") << QDateTime();
    QTest::newRow("one-digit month") << QVariant("2024-5-01 12:34:56") << QDateTime();
    // Other texts as Qt reads ISO 8601, which is what converting the cell to
    // a date-time does: a "T", fractions of a second, a zone, hour 24; text
    // behind the seconds as that conversion takes it (Qt 5 ignores it, Qt 6
    // refuses the time).
    QTest::newRow("ISO T separator") << QVariant("2024-05-01T12:34:56") << dt;
    QTest::newRow("ISO milliseconds") << QVariant("2024-05-01T12:34:56.789")
                                      << QDateTime(QDate(2024, 5, 1), QTime(12, 34, 56, 789));
    QTest::newRow("ISO UTC") << QVariant("2024-05-01T12:34:56Z")
                             << QDateTime(QDate(2024, 5, 1), QTime(12, 34, 56), Qt::UTC);
    QTest::newRow("ISO offset") << QVariant("2024-05-01T12:34:56.5+02:00")
                                << QDateTime(QDate(2024, 5, 1), QTime(12, 34, 56, 500),
                                             Qt::OffsetFromUTC, 7200);
    QTest::newRow("hour 24") << QVariant("2024-05-01 24:00:00")
                             << QDateTime(QDate(2024, 5, 2), QTime(0, 0));
    const QVariant trailing(QStringLiteral("2024-05-01 12:34:56x"));
    QTest::newRow("trailing text") << trailing << trailing.toDateTime();
    QTest::newRow("leap day") << QVariant("2024-02-29 23:59:59")
                              << QDateTime(QDate(2024, 2, 29), QTime(23, 59, 59));
    QTest::newRow("no cell") << QVariant() << QDateTime();
}

void TestImportRow::time()
{
    QFETCH(QVariant, cell);
    QFETCH(QDateTime, expected);
    std::unique_ptr<DmmData> d(readingFromRow(row(cell, "1", "uW")));
    QCOMPARE(d->dateTime(), expected);
    QCOMPARE(d->dateTime().isValid(), expected.isValid());
    QCOMPARE(d->dateTime().timeSpec(), expected.timeSpec());
}

void TestImportRow::shortRowDoesNotCrash()
{
    const int before = DmmData::liveInstances();
    {
        std::unique_ptr<DmmData> d(readingFromRow({QStringLiteral("1")}));
        QVERIFY(d->unit().isEmpty());
        QCOMPARE(d->waveLength(), quint16(0));
        QVERIFY(d->dateTime().isNull());
        std::unique_ptr<DmmData> e(readingFromRow({}));
        QVERIFY(e);
    }
    QCOMPARE(DmmData::liveInstances(), before);
}

void TestImportRow::importNames_data()
{
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<QString>("expected");
    QTest::newRow("none") << QStringList{"Store Data", "Live Data", "Measure1"} << "Import1";
    QTest::newRow("two") << QStringList{"Import1", "Import2"} << "Import3";
    QTest::newRow("renamed counts") << QStringList{"Import1", "Import-old"} << "Import3";
    // After deleting Import1 of Import1 and Import2 the name repeats.
    QTest::newRow("after delete") << QStringList{"Import2"} << "Import2";
    QTest::newRow("case-sensitive") << QStringList{"import1", "IMPORT2", "MyImport"} << "Import1";
    QTest::newRow("empty") << QStringList() << "Import1";
}

void TestImportRow::importNames()
{
    QFETCH(QStringList, names);
    QTEST(nextImportName(names), "expected");
}

QTEST_GUILESS_MAIN(TestImportRow)
#include "tst_importrow.moc"
