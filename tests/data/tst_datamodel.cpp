#include "datamodel.h"
#include "dmmdata.h"
#include "itemdata.h"

#include <QAbstractItemModelTester>
#include <QtTest>

namespace {
DmmData *liveReading(int second, const QString &unit = QStringLiteral("dBm"), quint16 wl = 1550)
{
    auto *d = new DmmData;
    d->setDateTime(QDateTime(QDate(2024, 1, 2), QTime(3, 4, second)));
    d->setDmmDateTime(QDateTime(QDate(2023, 11, 12), QTime(13, 14, 15)));
    d->setValueUW(501.2);
    d->setValueMW(0.5012);
    d->setValueDBm(-3.0);
    d->setTextUW(QStringLiteral("501.2"));
    d->setTextMW(QStringLiteral("0.501"));
    d->setTextDBm(QStringLiteral("-3.00"));
    d->setUnit(unit);
    d->setWaveLength(wl);
    return d;
}

DmmData *storedReading(int no)
{
    DmmData *d = liveReading(9);
    d->setStored(true);
    d->setStoreNo(no);
    return d;
}

QString cell(const DataModel &m, int row, int column)
{
    return m.data(m.index(row, column)).toString();
}
} // namespace

class TestDataModel : public QObject
{
    Q_OBJECT
private slots:
    void emptyModel();
    void headers_data();
    void headers();
    void otherHeadersAreInvalid();
    void liveCells();
    void storedCells();
    void valueFollowsOwnUnit_data();
    void valueFollowsOwnUnit();
    void wavelength_data();
    void wavelength();
    void alignmentAndOtherRoles();
    void outOfRangeIndexes();
    void flagsAreReadOnly();
    void appendData();
    void appendNullIsRefused();
    void setDatasEmptyDoesNothing();
    void setDatasFillsEmptyModel();
    void setDatasReplacesRows();
    void setDatasSkipsNulls();
    void clearEmptyEmitsNothing();
    void clearKeepsReadings();
    void removeRows_data();
    void removeRows();
    void liveNumbersFollowPosition();
    void removeRowsAnnouncesOnlyExistingRows();
    void noChildrenBelowCells();
    void millionRows();
};

void TestDataModel::emptyModel()
{
    DataModel m;
    QCOMPARE(m.rowCount(), 0);
    QCOMPARE(m.columnCount(), 5);
    for (int c = 0; c < 5; ++c)
        QVERIFY(!m.headerData(c, Qt::Horizontal).toString().isEmpty());
    QVERIFY(!m.data(m.index(0, 0)).isValid());
    QCOMPARE(QString::fromLatin1(m.metaObject()->className()), QStringLiteral("DataModel"));
}

void TestDataModel::headers_data()
{
    QTest::addColumn<int>("section");
    QTest::addColumn<QString>("text");
    QTest::newRow("0") << 0 << "NO.";
    QTest::newRow("1") << 1 << "Time";
    QTest::newRow("2") << 2 << "Value";
    QTest::newRow("3") << 3 << "Unit";
    QTest::newRow("4") << 4 << "WaveLength";
}

void TestDataModel::headers()
{
    QFETCH(int, section);
    QFETCH(QString, text);
    DataModel m;
    QCOMPARE(m.headerData(section, Qt::Horizontal, Qt::DisplayRole).toString(), text);
}

void TestDataModel::otherHeadersAreInvalid()
{
    DataModel m;
    QVERIFY(!m.headerData(5, Qt::Horizontal).isValid());
    QVERIFY(!m.headerData(-1, Qt::Horizontal).isValid());
    QVERIFY(!m.headerData(0, Qt::Vertical).isValid());
    QVERIFY(!m.headerData(0, Qt::Horizontal, Qt::ToolTipRole).isValid());
    QVERIFY(!m.headerData(0, Qt::Horizontal, Qt::TextAlignmentRole).isValid());
}

void TestDataModel::liveCells()
{
    ItemData owner(QStringLiteral("Measure1"), ItemData::Measure);
    DataModel m;
    for (int i = 0; i < 5; ++i) {
        DmmData *d = liveReading(i + 5);
        owner.addData(d);
        m.appendData(d);
    }
    // A live reading in row 4 is numbered 5 and shows its own time to the second.
    QCOMPARE(m.data(m.index(4, 0)).userType(), int(QMetaType::Int));
    QCOMPARE(m.data(m.index(4, 0)).toInt(), 5);
    QCOMPARE(m.data(m.index(0, 0)).toInt(), 1);
    QCOMPARE(cell(m, 4, 1), QStringLiteral("2024-01-02 03:04:09"));
    QCOMPARE(m.data(m.index(4, 1)).userType(), int(QMetaType::QString));
    QCOMPARE(cell(m, 4, 2), QStringLiteral("-3.00"));
    QCOMPARE(cell(m, 4, 3), QStringLiteral("dBm"));
    QCOMPARE(cell(m, 4, 4), QStringLiteral("1550nm"));
}

void TestDataModel::storedCells()
{
    ItemData owner(QStringLiteral("Store Data"), ItemData::StoreData);
    DataModel m;
    DmmData *d = storedReading(17);
    owner.addData(d);
    m.appendData(d);
    QCOMPARE(m.data(m.index(0, 0)).toInt(), 17);
    QCOMPARE(m.data(m.index(0, 0)).userType(), int(QMetaType::Int));
    // Meter time to the minute, with leading zeros and a 24-hour clock.
    QCOMPARE(cell(m, 0, 1), QStringLiteral("2023-11-12 13:14"));
}

void TestDataModel::valueFollowsOwnUnit_data()
{
    QTest::addColumn<QString>("unit");
    QTest::addColumn<QString>("text");
    QTest::newRow("uW") << "uW"
                        << "501.2";
    QTest::newRow("mW") << "mW"
                        << "0.501";
    QTest::newRow("dBm") << "dBm"
                         << "-3.00";
    QTest::newRow("unknown unit") << "W"
                                  << "";
    QTest::newRow("wrong case") << "DBM"
                                << "";
}

void TestDataModel::valueFollowsOwnUnit()
{
    QFETCH(QString, unit);
    QFETCH(QString, text);
    ItemData owner(QStringLiteral("Measure1"), ItemData::Measure);
    DataModel m;
    DmmData *d = liveReading(0, unit);
    owner.addData(d);
    m.appendData(d);
    QCOMPARE(cell(m, 0, 2), text);
    QCOMPARE(cell(m, 0, 3), unit);
}

void TestDataModel::wavelength_data()
{
    QTest::addColumn<int>("nm");
    QTest::addColumn<QString>("text");
    QTest::newRow("0") << 0 << "0nm";
    QTest::newRow("850") << 850 << "850nm";
    QTest::newRow("1310") << 1310 << "1310nm";
    QTest::newRow("65535") << 65535 << "65535nm";
}

void TestDataModel::wavelength()
{
    QFETCH(int, nm);
    QFETCH(QString, text);
    ItemData owner(QStringLiteral("Measure1"), ItemData::Measure);
    DataModel m;
    DmmData *d = liveReading(0, QStringLiteral("mW"), quint16(nm));
    owner.addData(d);
    m.appendData(d);
    QCOMPARE(cell(m, 0, 4), text);
}

void TestDataModel::alignmentAndOtherRoles()
{
    ItemData owner(QStringLiteral("Measure1"), ItemData::Measure);
    DataModel m;
    DmmData *d = liveReading(0);
    owner.addData(d);
    m.appendData(d);
    for (int c = 0; c < 5; ++c) {
        QCOMPARE(m.data(m.index(0, c), Qt::TextAlignmentRole).toInt(), 132);
        QVERIFY(!m.data(m.index(0, c), Qt::ToolTipRole).isValid());
        QVERIFY(!m.data(m.index(0, c), Qt::EditRole).isValid());
        QVERIFY(!m.data(m.index(0, c), Qt::UserRole).isValid());
    }
}

void TestDataModel::outOfRangeIndexes()
{
    ItemData owner(QStringLiteral("Measure1"), ItemData::Measure);
    DataModel m;
    DmmData *d = liveReading(0);
    owner.addData(d);
    m.appendData(d);
    // Indexes made while the model was larger, or by hand, must not reach a reading.
    QVERIFY(!m.data(m.index(1, 0)).isValid());
    QVERIFY(!m.data(m.index(0, 5)).isValid());
    QVERIFY(!m.data(QModelIndex()).isValid());
    const QModelIndex stale = m.index(0, 0);
    m.clear();
    QVERIFY(!m.data(stale).isValid());
    QVERIFY(!m.data(stale, Qt::TextAlignmentRole).isValid());
}

void TestDataModel::flagsAreReadOnly()
{
    ItemData owner(QStringLiteral("Measure1"), ItemData::Measure);
    DataModel m;
    DmmData *d = liveReading(0);
    owner.addData(d);
    m.appendData(d);
    const Qt::ItemFlags f = m.flags(m.index(0, 2));
    QVERIFY(f & Qt::ItemIsSelectable);
    QVERIFY(f & Qt::ItemIsEnabled);
    QVERIFY(!(f & Qt::ItemIsEditable));
}

void TestDataModel::appendData()
{
    ItemData owner(QStringLiteral("Measure1"), ItemData::Measure);
    DataModel m;
    QAbstractItemModelTester tester(&m, QAbstractItemModelTester::FailureReportingMode::QtTest);
    QSignalSpy about(&m, &QAbstractItemModel::rowsAboutToBeInserted);
    QSignalSpy inserted(&m, &QAbstractItemModel::rowsInserted);
    for (int i = 0; i < 3; ++i) {
        DmmData *d = liveReading(i);
        owner.addData(d);
        QCOMPARE(m.appendData(d), i + 1);
        QCOMPARE(inserted.count(), i + 1);
        QCOMPARE(inserted.last().at(1).toInt(), i);
        QCOMPARE(inserted.last().at(2).toInt(), i);
        QVERIFY(!inserted.last().at(0).value<QModelIndex>().isValid());
    }
    QCOMPARE(about.count(), 3);
    QCOMPARE(cell(m, 2, 1), QStringLiteral("2024-01-02 03:04:02"));
}

void TestDataModel::appendNullIsRefused()
{
    ItemData owner(QStringLiteral("Measure1"), ItemData::Measure);
    DataModel m;
    DmmData *d = liveReading(0);
    owner.addData(d);
    m.appendData(d);
    QSignalSpy inserted(&m, &QAbstractItemModel::rowsInserted);
    QCOMPARE(m.appendData(nullptr), 1);
    QCOMPARE(m.rowCount(), 1);
    QCOMPARE(inserted.count(), 0);
}

void TestDataModel::setDatasEmptyDoesNothing()
{
    DataModel m;
    QSignalSpy about(&m, &QAbstractItemModel::rowsAboutToBeInserted);
    QSignalSpy inserted(&m, &QAbstractItemModel::rowsInserted);
    QSignalSpy reset(&m, &QAbstractItemModel::modelReset);
    QCOMPARE(m.setDatas({}), 0);
    QCOMPARE(about.count(), 0);
    QCOMPARE(inserted.count(), 0);
    QCOMPARE(reset.count(), 0);
}

void TestDataModel::setDatasFillsEmptyModel()
{
    ItemData owner(QStringLiteral("Measure1"), ItemData::Measure);
    for (int i = 0; i < 4; ++i)
        owner.addData(liveReading(i));
    DataModel m;
    QAbstractItemModelTester tester(&m, QAbstractItemModelTester::FailureReportingMode::QtTest);
    QSignalSpy inserted(&m, &QAbstractItemModel::rowsInserted);
    QCOMPARE(m.setDatas(owner.datas()), 4);
    QCOMPARE(inserted.count(), 1);
    QCOMPARE(inserted.at(0).at(1).toInt(), 0);
    QCOMPARE(inserted.at(0).at(2).toInt(), 3);
    QCOMPARE(cell(m, 3, 1), QStringLiteral("2024-01-02 03:04:03"));
    QCOMPARE(m.data(m.index(3, 0)).toInt(), 4);
}

void TestDataModel::setDatasReplacesRows()
{
    ItemData a(QStringLiteral("A"), ItemData::Measure);
    ItemData b(QStringLiteral("B"), ItemData::Measure);
    for (int i = 0; i < 3; ++i)
        a.addData(liveReading(i));
    for (int i = 0; i < 2; ++i)
        b.addData(liveReading(50 + i));
    DataModel m;
    QAbstractItemModelTester tester(&m, QAbstractItemModelTester::FailureReportingMode::QtTest);
    m.setDatas(a.datas());
    // Without a clear first, the model must still end up showing exactly b.
    QCOMPARE(m.setDatas(b.datas()), 2);
    QCOMPARE(m.rowCount(), 2);
    QCOMPARE(cell(m, 1, 1), QStringLiteral("2024-01-02 03:04:51"));
    QVERIFY(!m.data(m.index(2, 0)).isValid());
    QCOMPARE(a.dataCount(), 3);
}

void TestDataModel::setDatasSkipsNulls()
{
    ItemData owner(QStringLiteral("Measure1"), ItemData::Measure);
    owner.addData(liveReading(1));
    owner.addData(liveReading(2));
    DataModel m;
    QList<DmmData *> list = owner.datas();
    list.insert(1, nullptr);
    QCOMPARE(m.setDatas(list), 2);
    QCOMPARE(cell(m, 1, 1), QStringLiteral("2024-01-02 03:04:02"));
    QCOMPARE(m.setDatas({nullptr}), 2);
}

void TestDataModel::clearEmptyEmitsNothing()
{
    DataModel m;
    QSignalSpy about(&m, &QAbstractItemModel::rowsAboutToBeRemoved);
    QSignalSpy removed(&m, &QAbstractItemModel::rowsRemoved);
    QSignalSpy reset(&m, &QAbstractItemModel::modelReset);
    m.clear();
    QCOMPARE(about.count(), 0);
    QCOMPARE(removed.count(), 0);
    QCOMPARE(reset.count(), 0);
}

void TestDataModel::clearKeepsReadings()
{
    const int before = DmmData::liveInstances();
    {
        ItemData owner(QStringLiteral("Measure1"), ItemData::Measure);
        for (int i = 0; i < 6; ++i)
            owner.addData(liveReading(i));
        DataModel m;
        QAbstractItemModelTester tester(&m, QAbstractItemModelTester::FailureReportingMode::QtTest);
        m.setDatas(owner.datas());
        QSignalSpy removed(&m, &QAbstractItemModel::rowsRemoved);
        m.clear();
        QCOMPARE(m.rowCount(), 0);
        QCOMPARE(removed.count(), 1);
        QCOMPARE(removed.at(0).at(1).toInt(), 0);
        QCOMPARE(removed.at(0).at(2).toInt(), 5);
        QCOMPARE(DmmData::liveInstances(), before + 6);
        // The readings are still whole objects owned by the item.
        QCOMPARE(owner.datas().at(5)->dateTime().time().second(), 5);
    }
    QCOMPARE(DmmData::liveInstances(), before);
}

void TestDataModel::removeRows_data()
{
    QTest::addColumn<int>("row");
    QTest::addColumn<int>("count");
    QTest::addColumn<bool>("result");
    QTest::addColumn<QList<int>>("left"); // seconds of the remaining readings

    QTest::newRow("row 2 count 3") << 2 << 3 << true << QList<int>{0, 1, 5, 6, 7, 8, 9};
    QTest::newRow("row 10 count 1") << 10 << 1 << false << QList<int>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
    QTest::newRow("row 11") << 11 << 1 << false << QList<int>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
    QTest::newRow("first") << 0 << 1 << true << QList<int>{1, 2, 3, 4, 5, 6, 7, 8, 9};
    QTest::newRow("last") << 9 << 1 << true << QList<int>{0, 1, 2, 3, 4, 5, 6, 7, 8};
    QTest::newRow("past the end") << 8 << 5 << true << QList<int>{0, 1, 2, 3, 4, 5, 6, 7};
    QTest::newRow("all") << 0 << 10 << true << QList<int>{};
    QTest::newRow("negative start") << -2 << 4 << true << QList<int>{2, 3, 4, 5, 6, 7, 8, 9};
    QTest::newRow("count 0") << 3 << 0 << false << QList<int>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
    QTest::newRow("negative count") << 3 << -2 << false << QList<int>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
    QTest::newRow("huge count") << 1 << INT_MAX << true << QList<int>{0};
}

void TestDataModel::removeRows()
{
    QFETCH(int, row);
    QFETCH(int, count);
    QFETCH(bool, result);
    QFETCH(QList<int>, left);

    const int before = DmmData::liveInstances();
    {
        // Stored readings carry their own number, so every row stays identifiable.
        ItemData owner(QStringLiteral("Store Data"), ItemData::StoreData);
        for (int i = 0; i < 10; ++i)
            owner.addData(storedReading(i));
        DataModel m;
        QAbstractItemModelTester tester(&m, QAbstractItemModelTester::FailureReportingMode::QtTest);
        m.setDatas(owner.datas());
        QSignalSpy removed(&m, &QAbstractItemModel::rowsRemoved);

        QCOMPARE(m.removeRows(row, count), result);
        QCOMPARE(removed.count(), result ? 1 : 0);
        QCOMPARE(m.rowCount(), left.size());
        for (int r = 0; r < left.size(); ++r)
            QCOMPARE(m.data(m.index(r, 0)).toInt(), left.at(r));
        // Removing rows never deletes readings.
        QCOMPARE(DmmData::liveInstances(), before + 10);
    }
    QCOMPARE(DmmData::liveInstances(), before);
}

void TestDataModel::liveNumbersFollowPosition()
{
    ItemData owner(QStringLiteral("Measure1"), ItemData::Measure);
    for (int i = 0; i < 10; ++i)
        owner.addData(liveReading(i));
    DataModel m;
    m.setDatas(owner.datas());
    QVERIFY(m.removeRows(2, 3));
    QList<int> numbers, seconds;
    for (int r = 0; r < m.rowCount(); ++r) {
        numbers << m.data(m.index(r, 0)).toInt();
        seconds << QTime::fromString(cell(m, r, 1).mid(11), QStringLiteral("hh:mm:ss")).second();
    }
    QCOMPARE(numbers, (QList<int>{1, 2, 3, 4, 5, 6, 7}));
    QCOMPARE(seconds, (QList<int>{0, 1, 5, 6, 7, 8, 9}));
}

void TestDataModel::removeRowsAnnouncesOnlyExistingRows()
{
    ItemData owner(QStringLiteral("Measure1"), ItemData::Measure);
    for (int i = 0; i < 10; ++i)
        owner.addData(liveReading(i));
    DataModel m;
    m.setDatas(owner.datas());
    QSignalSpy about(&m, &QAbstractItemModel::rowsAboutToBeRemoved);
    QVERIFY(m.removeRows(7, 10));
    QCOMPARE(about.count(), 1);
    QCOMPARE(about.at(0).at(1).toInt(), 7);
    QCOMPARE(about.at(0).at(2).toInt(), 9);
}

void TestDataModel::noChildrenBelowCells()
{
    ItemData owner(QStringLiteral("Measure1"), ItemData::Measure);
    owner.addData(liveReading(0));
    DataModel m;
    m.setDatas(owner.datas());
    const QModelIndex cellIndex = m.index(0, 0);
    QCOMPARE(m.rowCount(cellIndex), 0);
    QVERIFY(!m.index(0, 0, cellIndex).isValid());
    QVERIFY(!m.removeRows(0, 1, cellIndex));
    QCOMPARE(m.rowCount(), 1);
}

void TestDataModel::millionRows()
{
    const int n = 1000000;
    const int before = DmmData::liveInstances();
    {
        ItemData owner(QStringLiteral("Measure1"), ItemData::Measure);
        DataModel m;
        for (int i = 0; i < n; ++i) {
            auto *d = new DmmData;
            owner.addData(d);
            m.appendData(d);
        }
        QCOMPARE(m.rowCount(), n);
        QCOMPARE(m.data(m.index(n - 1, 0)).toInt(), n);
        m.clear();
        QCOMPARE(m.setDatas(owner.datas()), n);
    }
    QCOMPARE(DmmData::liveInstances(), before);
}

QTEST_GUILESS_MAIN(TestDataModel)
#include "tst_datamodel.moc"
