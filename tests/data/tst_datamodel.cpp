#include "datamodel.h"
#include "dmmdata.h"
#include "itemdata.h"
#include "reading.h"

#include <QRandomGenerator>
#include <cmath>

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
    void syncRowsAnnouncesEachBurstOnce();
    void setStoreReplacesRows();
    void storeEmptiedUnderTheModel();
    void clearEmptyEmitsNothing();
    void clearKeepsReadings();
    void removeRows_data();
    void removeRows();
    void liveNumbersFollowPosition();
    void removeRowsAnnouncesOnlyExistingRows();
    void noChildrenBelowCells();
    void millionRows();
    void cellsAreTheReadingsOwnTexts();
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
    for (int i = 0; i < 5; ++i)
        owner.addData(liveReading(i + 5));
    m.setStore(&owner.readings());
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
    owner.addData(storedReading(17));
    m.setStore(&owner.readings());
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
    owner.addData(liveReading(0, unit));
    m.setStore(&owner.readings());
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
    owner.addData(liveReading(0, QStringLiteral("mW"), quint16(nm)));
    m.setStore(&owner.readings());
    QCOMPARE(cell(m, 0, 4), text);
}

void TestDataModel::alignmentAndOtherRoles()
{
    ItemData owner(QStringLiteral("Measure1"), ItemData::Measure);
    DataModel m;
    owner.addData(liveReading(0));
    m.setStore(&owner.readings());
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
    owner.addData(liveReading(0));
    m.setStore(&owner.readings());
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
    owner.addData(liveReading(0));
    m.setStore(&owner.readings());
    const Qt::ItemFlags f = m.flags(m.index(0, 2));
    QVERIFY(f & Qt::ItemIsSelectable);
    QVERIFY(f & Qt::ItemIsEnabled);
    QVERIFY(!(f & Qt::ItemIsEditable));
}

void TestDataModel::syncRowsAnnouncesEachBurstOnce()
{
    ItemData owner(QStringLiteral("Measure1"), ItemData::Measure);
    DataModel m;
    QAbstractItemModelTester tester(&m, QAbstractItemModelTester::FailureReportingMode::QtTest);
    m.setStore(&owner.readings());
    QSignalSpy inserted(&m, &QAbstractItemModel::rowsInserted);
    QCOMPARE(m.syncRows(), 0); // nothing new: nothing announced
    QCOMPARE(inserted.count(), 0);
    for (int burst = 0; burst < 2; ++burst) {
        for (int i = 0; i < 3; ++i)
            owner.addData(liveReading(burst * 3 + i));
        QCOMPARE(m.rowCount(), burst * 3); // rows follow the store when told
        QCOMPARE(m.syncRows(), burst * 3 + 3);
        QCOMPARE(inserted.count(), burst + 1);
        QCOMPARE(inserted.last().at(1).toInt(), burst * 3);
        QCOMPARE(inserted.last().at(2).toInt(), burst * 3 + 2);
        QVERIFY(!inserted.last().at(0).value<QModelIndex>().isValid());
    }
    QCOMPARE(cell(m, 5, 1), QStringLiteral("2024-01-02 03:04:05"));
}

void TestDataModel::setStoreReplacesRows()
{
    ItemData a(QStringLiteral("A"), ItemData::Measure);
    ItemData b(QStringLiteral("B"), ItemData::Measure);
    ItemData empty(QStringLiteral("C"), ItemData::Measure);
    for (int i = 0; i < 3; ++i)
        a.addData(liveReading(i));
    for (int i = 0; i < 2; ++i)
        b.addData(liveReading(50 + i));
    DataModel m;
    QAbstractItemModelTester tester(&m, QAbstractItemModelTester::FailureReportingMode::QtTest);
    QSignalSpy inserted(&m, &QAbstractItemModel::rowsInserted);
    m.setStore(&a.readings());
    m.setStore(&b.readings());
    QCOMPARE(m.rowCount(), 2);
    QCOMPARE(cell(m, 1, 1), QStringLiteral("2024-01-02 03:04:51"));
    QVERIFY(!m.data(m.index(2, 0)).isValid());
    // An empty store announces no insertion.
    m.setStore(&empty.readings());
    QCOMPARE(m.rowCount(), 0);
    QCOMPARE(inserted.count(), 2);
}

void TestDataModel::storeEmptiedUnderTheModel()
{
    // A download empties the store and fills it again: the rows that were
    // shown go, and the new readings come in from row 0.
    ItemData owner(QStringLiteral("Store Data"), ItemData::StoreData);
    for (int i = 0; i < 4; ++i)
        owner.addData(storedReading(i));
    DataModel m;
    QAbstractItemModelTester tester(&m, QAbstractItemModelTester::FailureReportingMode::QtTest);
    m.setStore(&owner.readings());
    owner.clearDatas();
    owner.addData(storedReading(40));
    QCOMPARE(m.syncRows(), 1);
    QCOMPARE(m.data(m.index(0, 0)).toInt(), 40);
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
    {
        ItemData owner(QStringLiteral("Measure1"), ItemData::Measure);
        for (int i = 0; i < 6; ++i)
            owner.addData(liveReading(i));
        DataModel m;
        QAbstractItemModelTester tester(&m, QAbstractItemModelTester::FailureReportingMode::QtTest);
        m.setStore(&owner.readings());
        QSignalSpy removed(&m, &QAbstractItemModel::rowsRemoved);
        m.clear();
        QCOMPARE(m.rowCount(), 0);
        QCOMPARE(removed.count(), 1);
        QCOMPARE(removed.at(0).at(1).toInt(), 0);
        QCOMPARE(removed.at(0).at(2).toInt(), 5);
        // The readings stay with the item.
        QCOMPARE(owner.dataCount(), 6);
        QCOMPARE(owner.readings().dateTime(5).toDateTime().time().second(), 5);
        QVERIFY(m.store() == nullptr);
    }
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

    {
        // Stored readings carry their own number, so every row stays identifiable.
        ItemData owner(QStringLiteral("Store Data"), ItemData::StoreData);
        for (int i = 0; i < 10; ++i)
            owner.addData(storedReading(i));
        DataModel m;
        QAbstractItemModelTester tester(&m, QAbstractItemModelTester::FailureReportingMode::QtTest);
        m.setStore(&owner.readings());
        QSignalSpy removed(&m, &QAbstractItemModel::rowsRemoved);

        QCOMPARE(m.removeRows(row, count), result);
        QCOMPARE(removed.count(), result ? 1 : 0);
        QCOMPARE(m.rowCount(), left.size());
        for (int r = 0; r < left.size(); ++r)
            QCOMPARE(m.data(m.index(r, 0)).toInt(), left.at(r));
        // Removing rows never touches the readings.
        QCOMPARE(owner.dataCount(), 10);
        // Readings arriving later follow the remaining rows.
        owner.addData(storedReading(10));
        QCOMPARE(m.syncRows(), left.size() + 1);
        QCOMPARE(m.data(m.index(left.size(), 0)).toInt(), 10);
    }
}

void TestDataModel::liveNumbersFollowPosition()
{
    ItemData owner(QStringLiteral("Measure1"), ItemData::Measure);
    for (int i = 0; i < 10; ++i)
        owner.addData(liveReading(i));
    DataModel m;
    m.setStore(&owner.readings());
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
    m.setStore(&owner.readings());
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
    m.setStore(&owner.readings());
    const QModelIndex cellIndex = m.index(0, 0);
    QCOMPARE(m.rowCount(cellIndex), 0);
    QVERIFY(!m.index(0, 0, cellIndex).isValid());
    QVERIFY(!m.removeRows(0, 1, cellIndex));
    QCOMPARE(m.rowCount(), 1);
}

void TestDataModel::millionRows()
{
    const int n = 1000000;
    ItemData owner(QStringLiteral("Measure1"), ItemData::Measure);
    DataModel m;
    m.setStore(&owner.readings());
    for (int i = 0; i < n; ++i)
        owner.addData(liveReading(i % 60));
    QCOMPARE(m.syncRows(), n);
    QCOMPARE(m.data(m.index(n - 1, 0)).toInt(), n);
    QCOMPARE(cell(m, n - 1, 1), QStringLiteral("2024-01-02 03:04:39"));
}

void TestDataModel::cellsAreTheReadingsOwnTexts()
{
    // Whatever the store keeps, a cell shows what the reading itself gives:
    // its own texts, its times through QDateTime's own formatting.
    QRandomGenerator rng(930);
    const QStringList units = {"uW", "mW", "dBm", "W", ""};
    const QStringList odd = {"    OL", "   -OL", "  5.0", "1e3", "nan"};
    ItemData owner(QStringLiteral("Measure1"), ItemData::Measure);
    QList<Reading> readings;
    for (int i = 0; i < 3000; ++i) {
        Reading r;
        const double uW = std::pow(10.0, rng.bounded(8.0) - 3.0);
        r.valueUW = uW;
        r.valueMW = uW / 1000.0;
        r.valueDBm = 10.0 * std::log10(r.valueMW);
        const int pick = int(rng.bounded(12));
        r.textUW = pick < 5 ? odd.at(pick) : QString::number(uW, 'f', pick % 4);
        r.textMW = QString::number(r.valueMW, 'f', 3);
        r.textDBm = QString::number(r.valueDBm, 'f', 2);
        r.unit = units.at(int(rng.bounded(units.size())));
        r.waveLength = quint16(rng.bounded(65536));
        r.stored = rng.bounded(2) == 1;
        r.storeNo = int(rng.generate());
        const QDateTime t =
            QDateTime(QDate(2000, 1, 1), QTime(0, 0)).addMSecs(qint64(rng.bounded(1e12)));
        r.dateTime = i % 97 ? t : QDateTime();
        r.dmmDateTime = t.addSecs(-int(rng.bounded(100000)));
        readings << r;
        owner.addReading(r);
    }
    DataModel m;
    m.setStore(&owner.readings());
    for (int row = 0; row < readings.size(); ++row) {
        const Reading &r = readings.at(row);
        const QStringList expected = {
            QString::number(r.stored ? r.storeNo : row + 1),
            r.stored ? r.dmmDateTime.toString(QStringLiteral("yyyy-MM-dd hh:mm"))
                     : r.dateTime.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")),
            r.valueText(r.unit), r.unit, QStringLiteral("%1nm").arg(r.waveLength)};
        for (int c = 0; c < 5; ++c)
            QCOMPARE(cell(m, row, c), expected.at(c));
    }
}

QTEST_GUILESS_MAIN(TestDataModel)
#include "tst_datamodel.moc"
