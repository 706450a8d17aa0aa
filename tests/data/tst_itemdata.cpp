#include "dmmdata.h"
#include "itemdata.h"
#include "reading.h"

#include <QtTest>

class TestItemData : public QObject
{
    Q_OBJECT
private slots:
    void construction_data();
    void construction();
    void enumValuesAreFixed();
    void renameKeepsType();
    void addKeepsEveryFieldInArrivalOrder();
    void addDeletesTheReadingAtOnce();
    void clearForgetsReadings();
};

void TestItemData::construction_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("type");
    QTest::newRow("live group") << "Live Data" << int(ItemData::LiveData);
    QTest::newRow("measure") << "Measure1" << int(ItemData::Measure);
    QTest::newRow("import") << "Import1" << int(ItemData::Import);
    QTest::newRow("store group") << "Store Data" << int(ItemData::StoreData);
    QTest::newRow("empty name") << "" << int(ItemData::Measure);
}

void TestItemData::construction()
{
    QFETCH(QString, name);
    QFETCH(int, type);
    ItemData item(name, ItemData::DataType(type));
    QCOMPARE(item.name(), name);
    QCOMPARE(int(item.type()), type);
    QVERIFY(item.readings().isEmpty());
    QCOMPARE(item.dataCount(), 0);
    QVERIFY(item.parent() == nullptr);
    QCOMPARE(QString::fromLatin1(item.metaObject()->className()), QStringLiteral("ItemData"));
}

void TestItemData::enumValuesAreFixed()
{
    QCOMPARE(int(ItemData::LiveData), 0);
    QCOMPARE(int(ItemData::Measure), 1);
    QCOMPARE(int(ItemData::Import), 2);
    QCOMPARE(int(ItemData::StoreData), 3);
}

void TestItemData::renameKeepsType()
{
    ItemData item(QStringLiteral("Measure1"), ItemData::Measure);
    item.setName(QStringLiteral("Fibre A"));
    QCOMPARE(item.name(), QStringLiteral("Fibre A"));
    QCOMPARE(item.type(), ItemData::Measure);
}

namespace {
DmmData *reading(int i)
{
    auto *d = new DmmData;
    d->setDateTime(QDateTime(QDate(2024, 5, 1), QTime(12, 0)).addSecs(i));
    d->setDmmDateTime(QDateTime(QDate(2024, 5, 1), QTime(11, 59)));
    d->setValueUW(500.0 + i);
    d->setValueMW((500.0 + i) / 1000.0);
    d->setValueDBm(-3.0 + i / 100.0);
    d->setTextUW(QString::number(500.0 + i, 'f', 1));
    d->setTextMW(QString::number((500.0 + i) / 1000.0, 'f', 3));
    d->setTextDBm(i % 2 ? QStringLiteral("    OL") : QString::number(-3.0 + i / 100.0, 'f', 2));
    d->setOverload(i % 2);
    d->setUnit(i % 3 ? QStringLiteral("dBm") : QStringLiteral("uW"));
    d->setWaveLength(quint16(1310 + i));
    d->setStored(i == 2);
    d->setStoreNo(i == 2 ? 17 : 0);
    return d;
}
} // namespace

void TestItemData::addKeepsEveryFieldInArrivalOrder()
{
    ItemData item(QStringLiteral("Measure1"), ItemData::Measure);
    QList<Reading> added;
    for (int i = 0; i < 5; ++i) {
        DmmData *d = reading(i);
        added << Reading::fromDmmData(*d);
        item.addData(d);
    }
    QCOMPARE(item.dataCount(), 5);
    for (int i = 0; i < 5; ++i)
        QVERIFY2(item.readings().at(i) == added.at(i), qPrintable(QString::number(i)));
}

void TestItemData::addDeletesTheReadingAtOnce()
{
    // The item owns what it is given from the call on: the object itself is
    // gone before addData returns, and a null pointer changes nothing.
    const int before = DmmData::liveInstances();
    ItemData item(QStringLiteral("Measure1"), ItemData::Measure);
    QPointer<DmmData> guard = reading(1);
    item.addData(guard.data());
    QVERIFY(guard.isNull());
    item.addData(nullptr);
    QCOMPARE(item.dataCount(), 1);
    QCOMPARE(DmmData::liveInstances(), before);
}

void TestItemData::clearForgetsReadings()
{
    ItemData item(QStringLiteral("Store Data"), ItemData::StoreData);
    for (int i = 0; i < 3; ++i)
        item.addData(reading(i));
    item.clearDatas();
    QCOMPARE(item.dataCount(), 0);
    DmmData *d = reading(4);
    const Reading expected = Reading::fromDmmData(*d);
    item.addData(d);
    QCOMPARE(item.dataCount(), 1);
    QVERIFY(item.readings().at(0) == expected);
}

QTEST_GUILESS_MAIN(TestItemData)
#include "tst_itemdata.moc"
