#include "dmmdata.h"

#include <QtTest>

#include <cmath>

class TestDmmData : public QObject
{
    Q_OBJECT
private slots:
    void freshRecordIsCleared();
    void valueByUnit_data();
    void valueByUnit();
    void overRangeTexts();
    void settersRoundTrip();
    void liveInstancesCount();
};

namespace {
void fill(DmmData &d)
{
    d.setValueUW(500.0);
    d.setValueMW(0.5);
    d.setValueDBm(10.0 * std::log10(0.5));
    d.setTextUW(QStringLiteral("500.0"));
    d.setTextMW(QStringLiteral("0.500"));
    d.setTextDBm(QStringLiteral("-3.01"));
}
} // namespace

void TestDmmData::freshRecordIsCleared()
{
    DmmData d;
    QCOMPARE(d.waveLength(), quint16(0));
    QCOMPARE(d.stored(), false);
    QCOMPARE(d.storeNo(), 0);
    QVERIFY(d.dateTime().isNull());
    QVERIFY(d.dmmDateTime().isNull());
    QVERIFY(d.unit().isEmpty());
    QVERIFY(d.valueText(QStringLiteral("uW")).isEmpty());
    QCOMPARE(QString::fromLatin1(d.metaObject()->className()), QStringLiteral("DmmData"));
}

void TestDmmData::valueByUnit_data()
{
    QTest::addColumn<QString>("unit");
    QTest::addColumn<double>("value");
    QTest::addColumn<QString>("text");

    QTest::newRow("uW") << "uW" << 500.0 << "500.0";
    QTest::newRow("mW") << "mW" << 0.5 << "0.500";
    QTest::newRow("dBm") << "dBm" << 10.0 * std::log10(0.5) << "-3.01";
    QTest::newRow("W") << "W" << 0.0 << "";
    QTest::newRow("empty") << "" << 0.0 << "";
    QTest::newRow("dbm lower case") << "dbm" << 0.0 << "";
    QTest::newRow("DBM upper case") << "DBM" << 0.0 << "";
    QTest::newRow("MW upper case") << "MW" << 0.0 << "";
    QTest::newRow("uW with blank") << "uW " << 0.0 << "";
}

void TestDmmData::valueByUnit()
{
    QFETCH(QString, unit);
    QFETCH(double, value);
    QFETCH(QString, text);

    DmmData d;
    fill(d);
    QCOMPARE(d.value(unit), value);
    QCOMPARE(d.valueText(unit), text);
    QCOMPARE(d.value(QStringLiteral("mW")), d.valueMW());
}

void TestDmmData::overRangeTexts()
{
    DmmData d;
    const QString ol = QStringLiteral("    OL");
    d.setOverload(1);
    d.setValueUW(39990);
    d.setValueMW(39.99);
    d.setValueDBm(10.0 * std::log10(39.99));
    d.setTextUW(ol);
    d.setTextMW(ol);
    d.setTextDBm(ol);
    for (const char *u : {"uW", "mW", "dBm"})
        QCOMPARE(d.valueText(QLatin1String(u)), ol);
    QVERIFY(std::isfinite(d.value(QStringLiteral("mW"))));
    QCOMPARE(d.value(QStringLiteral("mW")), 39.99);
}

void TestDmmData::settersRoundTrip()
{
    DmmData d;
    const QDateTime t(QDate(2024, 2, 29), QTime(23, 59, 58));
    const QDateTime m(QDate(2024, 3, 1), QTime(0, 1));
    d.setDateTime(t);
    d.setDmmDateTime(m);
    d.setUnit(QStringLiteral("dBm"));
    d.setWaveLength(65535);
    d.setStored(true);
    d.setStoreNo(-7);
    QCOMPARE(d.dateTime(), t);
    QCOMPARE(d.dmmDateTime(), m);
    QCOMPARE(d.unit(), QStringLiteral("dBm"));
    QCOMPARE(d.waveLength(), quint16(65535));
    QVERIFY(d.stored());
    QCOMPARE(d.storeNo(), -7);
}

void TestDmmData::liveInstancesCount()
{
    const int before = DmmData::liveInstances();
    {
        DmmData a;
        auto *b = new DmmData;
        QCOMPARE(DmmData::liveInstances(), before + 2);
        delete b;
        QCOMPARE(DmmData::liveInstances(), before + 1);
    }
    QCOMPARE(DmmData::liveInstances(), before);
}

QTEST_GUILESS_MAIN(TestDmmData)
#include "tst_dmmdata.moc"
