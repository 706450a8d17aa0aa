#include "dmmdata.h"
#include "itemdata.h"

#include <QtTest>

class TestItemData : public QObject
{
    Q_OBJECT
private slots:
    void construction_data();
    void construction();
    void enumValuesAreFixed();
    void renameKeepsType();
    void addKeepsArrivalOrder();
    void nullReadingIsIgnored();
    void datasIsACopy();
    void clearDeletesEachReadingOnce();
    void destructorDeletesEachReadingOnce();
    void clearedItemTakesNewReadings();
    void largeItem();
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
    QVERIFY(item.datas().isEmpty());
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

void TestItemData::addKeepsArrivalOrder()
{
    ItemData item(QStringLiteral("Measure1"), ItemData::Measure);
    QList<DmmData *> added;
    for (int i = 0; i < 5; ++i) {
        auto *d = new DmmData;
        d->setStoreNo(i);
        item.addData(d);
        added << d;
    }
    QCOMPARE(item.datas(), added);
    QCOMPARE(item.dataList(), added);
    QCOMPARE(item.dataCount(), 5);
}

void TestItemData::nullReadingIsIgnored()
{
    const int before = DmmData::liveInstances();
    {
        ItemData item(QStringLiteral("Measure1"), ItemData::Measure);
        item.addData(nullptr);
        QCOMPARE(item.dataCount(), 0);
        item.addData(new DmmData);
        item.addData(nullptr);
        QCOMPARE(item.dataCount(), 1);
        QVERIFY(!item.datas().contains(nullptr));
    }
    QCOMPARE(DmmData::liveInstances(), before);
}

void TestItemData::datasIsACopy()
{
    ItemData item(QStringLiteral("Measure1"), ItemData::Measure);
    item.addData(new DmmData);
    QList<DmmData *> copy = item.datas();
    copy.clear();
    QCOMPARE(item.dataCount(), 1);

    QList<DmmData *> snapshot = item.datas();
    item.addData(new DmmData);
    QCOMPARE(snapshot.size(), 1);
    QCOMPARE(item.datas().size(), 2);
}

void TestItemData::clearDeletesEachReadingOnce()
{
    const int before = DmmData::liveInstances();
    ItemData item(QStringLiteral("Store Data"), ItemData::StoreData);
    QList<QPointer<DmmData>> guards;
    for (int i = 0; i < 10; ++i) {
        auto *d = new DmmData;
        guards << d;
        item.addData(d);
    }
    QCOMPARE(DmmData::liveInstances(), before + 10);
    item.clearDatas();
    QCOMPARE(DmmData::liveInstances(), before);
    for (const auto &g : guards)
        QVERIFY(g.isNull());
    QVERIFY(item.datas().isEmpty());
    item.clearDatas(); // clearing twice deletes nothing twice
    QCOMPARE(DmmData::liveInstances(), before);
}

void TestItemData::destructorDeletesEachReadingOnce()
{
    const int before = DmmData::liveInstances();
    auto *item = new ItemData(QStringLiteral("Measure1"), ItemData::Measure);
    for (int i = 0; i < 7; ++i)
        item->addData(new DmmData);
    QCOMPARE(DmmData::liveInstances(), before + 7);
    delete item;
    QCOMPARE(DmmData::liveInstances(), before);
}

void TestItemData::clearedItemTakesNewReadings()
{
    const int before = DmmData::liveInstances();
    {
        ItemData item(QStringLiteral("Store Data"), ItemData::StoreData);
        item.addData(new DmmData);
        item.clearDatas();
        auto *d = new DmmData;
        item.addData(d);
        QCOMPARE(item.datas(), QList<DmmData *>{d});
    }
    QCOMPARE(DmmData::liveInstances(), before);
}

void TestItemData::largeItem()
{
    const int before = DmmData::liveInstances();
    {
        ItemData item(QStringLiteral("Measure1"), ItemData::Measure);
        const int n = 200000;
        for (int i = 0; i < n; ++i)
            item.addData(new DmmData);
        QCOMPARE(item.dataCount(), n);
        // A copy shares the list instead of duplicating it.
        const QList<DmmData *> a = item.datas();
        const QList<DmmData *> b = item.datas();
        QVERIFY(&a.at(0) == &b.at(0));
        QVERIFY(&a.at(0) == &item.dataList().at(0));
    }
    QCOMPARE(DmmData::liveInstances(), before);
}

QTEST_GUILESS_MAIN(TestItemData)
#include "tst_itemdata.moc"
