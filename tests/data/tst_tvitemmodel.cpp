#include "dmmdata.h"
#include "itemdata.h"
#include "tvitemmodel.h"

#include <QtTest>

#include <memory>

// Builds the tree the main window builds: Store Data, Live Data and one
// measurement item below Live Data.
class TreeFixture
{
public:
    TreeFixture()
    {
        store = add(model.invisibleRootItem(), QStringLiteral("Store Data"), ItemData::StoreData);
        live = add(model.invisibleRootItem(), QStringLiteral("Live Data"), ItemData::LiveData);
        measure = add(live, QStringLiteral("Measure1"), ItemData::Measure);
    }
    ~TreeFixture() { qDeleteAll(items); }

    QStandardItem *add(QStandardItem *parent, const QString &name, ItemData::DataType type)
    {
        auto *row = new QStandardItem(name);
        parent->appendRow(row);
        auto *item = new ItemData(name, type);
        items << item;
        model.setData(row->index(), QVariant::fromValue(item), ItemDataRole);
        return row;
    }

    TvItemModel model;
    QList<ItemData *> items;
    QStandardItem *store = nullptr;
    QStandardItem *live = nullptr;
    QStandardItem *measure = nullptr;
};

class TestTvItemModel : public QObject
{
    Q_OBJECT
private slots:
    void rolesAndMetaType();
    void displayShowsItemName();
    void displayWithoutItemIsEmpty();
    void itemLookup();
    void foreignValuesYieldNull_data();
    void foreignValuesYieldNull();
    void activeRowIsBoldOrange();
    void activeRowKeepsOwnFontFamily();
    void editSignal_data();
    void editSignal();
    void editOnInvalidIndexSaysNothing();
    void removingRowLeavesItemToOwner();
};

void TestTvItemModel::rolesAndMetaType()
{
    QCOMPARE(int(ActiveRole), 257);
    QCOMPARE(int(ItemDataRole), 258);
    TvItemModel model;
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
    const int id = QMetaType::fromName("ItemData*").id();
#else
    const int id = QMetaType::type("ItemData*");
#endif
    QVERIFY(id != QMetaType::UnknownType);
    QCOMPARE(id, qMetaTypeId<ItemData *>());
}

void TestTvItemModel::displayShowsItemName()
{
    TreeFixture f;
    const QModelIndex idx = f.measure->index();
    QCOMPARE(f.model.data(idx).toString(), QStringLiteral("Measure1"));
    QCOMPARE(f.model.data(f.store->index()).toString(), QStringLiteral("Store Data"));

    TvItemModel::itemDataAt(idx)->setName(QStringLiteral("Fibre A"));
    QCOMPARE(f.model.data(idx, Qt::DisplayRole).toString(), QStringLiteral("Fibre A"));
    // The standard item keeps its creation text; the tree shows the item name.
    QCOMPARE(f.measure->text(), QStringLiteral("Measure1"));
    QCOMPARE(idx.data().toString(), QStringLiteral("Fibre A"));
}

void TestTvItemModel::displayWithoutItemIsEmpty()
{
    TvItemModel model;
    auto *row = new QStandardItem(QStringLiteral("stored text"));
    model.appendRow(row);
    const QVariant v = model.data(row->index(), Qt::DisplayRole);
    QVERIFY(v.isValid());
    QCOMPARE(v.toString(), QString());
    QVERIFY(!model.data(QModelIndex(), Qt::DisplayRole).isValid());
}

void TestTvItemModel::itemLookup()
{
    TreeFixture f;
    ItemData *item = TvItemModel::itemDataAt(f.store->index());
    QVERIFY(item);
    QCOMPARE(item->type(), ItemData::StoreData);
    QCOMPARE(TvItemModel::itemDataAt(f.live->index())->type(), ItemData::LiveData);
    QCOMPARE(TvItemModel::itemDataAt(f.measure->index()), f.items.at(2));
    QVERIFY(!TvItemModel::itemDataAt(QModelIndex()));
}

void TestTvItemModel::foreignValuesYieldNull_data()
{
    QTest::addColumn<int>("kind");
    QTest::newRow("nothing stored") << 0;
    QTest::newRow("int") << 1;
    QTest::newRow("string") << 2;
    QTest::newRow("other QObject") << 3;
    QTest::newRow("null item pointer") << 4;
}

void TestTvItemModel::foreignValuesYieldNull()
{
    QFETCH(int, kind);
    TvItemModel model;
    auto *row = new QStandardItem(QStringLiteral("x"));
    model.appendRow(row);
    DmmData other;
    switch (kind) {
    case 1:
        model.setData(row->index(), 12345, ItemDataRole);
        break;
    case 2:
        model.setData(row->index(), QStringLiteral("ItemData"), ItemDataRole);
        break;
    case 3:
        model.setData(row->index(), QVariant::fromValue<QObject *>(&other), ItemDataRole);
        break;
    case 4:
        model.setData(row->index(), QVariant::fromValue<ItemData *>(nullptr), ItemDataRole);
        break;
    }
    QVERIFY(TvItemModel::itemDataAt(row->index()) == nullptr);
    QCOMPARE(model.data(row->index()).toString(), QString());
}

void TestTvItemModel::activeRowIsBoldOrange()
{
    TreeFixture f;
    const QModelIndex active = f.measure->index();
    f.model.setData(active, true, ActiveRole);
    f.model.setData(f.store->index(), false, ActiveRole);

    const QFont activeFont = f.model.data(active, Qt::FontRole).value<QFont>();
    QCOMPARE(activeFont.weight(), int(QFont::Bold));
#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
    QCOMPARE(activeFont.weight(), 75); // Qt 6 counts weights from 100 to 900
#else
    QCOMPARE(activeFont.weight(), 700);
#endif
    QCOMPARE(f.model.data(active, Qt::ForegroundRole).value<QColor>(), QColor(0xd5, 0x7d, 0x00));

    for (const QModelIndex &idx : {f.store->index(), f.live->index()}) {
        const QVariant font = f.model.data(idx, Qt::FontRole);
        QVERIFY(font.canConvert<QFont>());
        QCOMPARE(font.value<QFont>().weight(), int(QFont::Normal));
#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
        QCOMPARE(font.value<QFont>().weight(), 50);
#else
        QCOMPARE(font.value<QFont>().weight(), 400);
#endif
        // Inactive rows use the view's default colour.
        QVERIFY(!f.model.data(idx, Qt::ForegroundRole).isValid());
    }

    // Moving the flag moves the look.
    f.model.setData(active, false, ActiveRole);
    f.model.setData(f.store->index(), true, ActiveRole);
    QCOMPARE(f.model.data(active, Qt::FontRole).value<QFont>().weight(), int(QFont::Normal));
    QCOMPARE(f.model.data(f.store->index(), Qt::FontRole).value<QFont>().weight(),
             int(QFont::Bold));
}

void TestTvItemModel::activeRowKeepsOwnFontFamily()
{
    TreeFixture f;
    QFont own(QStringLiteral("DejaVu Sans Mono"), 17);
    own.setItalic(true);
    f.measure->setFont(own);
    f.measure->setForeground(QColor(Qt::blue));

    QFont shown = f.model.data(f.measure->index(), Qt::FontRole).value<QFont>();
    QCOMPARE(shown.pointSize(), 17);
    QVERIFY(shown.italic());
    QCOMPARE(shown.weight(), int(QFont::Normal));
    QCOMPARE(f.model.data(f.measure->index(), Qt::ForegroundRole).value<QBrush>().color(),
             QColor(Qt::blue));

    f.model.setData(f.measure->index(), true, ActiveRole);
    shown = f.model.data(f.measure->index(), Qt::FontRole).value<QFont>();
    QCOMPARE(shown.pointSize(), 17);
    QCOMPARE(shown.weight(), int(QFont::Bold));
    QCOMPARE(f.model.data(f.measure->index(), Qt::ForegroundRole).value<QColor>(),
             QColor(QStringLiteral("#d57d00")));
}

void TestTvItemModel::editSignal_data()
{
    QTest::addColumn<int>("role");
    QTest::addColumn<QVariant>("value");
    QTest::addColumn<int>("emitted");

    QTest::newRow("edit, new text")
        << int(Qt::EditRole) << QVariant(QStringLiteral("Fibre B")) << 1;
    QTest::newRow("edit, same as shown name")
        << int(Qt::EditRole) << QVariant(QStringLiteral("Measure1")) << 0;
    QTest::newRow("display role, new text")
        << int(Qt::DisplayRole) << QVariant(QStringLiteral("Fibre B")) << 0;
    QTest::newRow("active role") << int(ActiveRole) << QVariant(true) << 0;
    QTest::newRow("item role") << int(ItemDataRole) << QVariant(QStringLiteral("x")) << 0;
    QTest::newRow("tool tip role") << int(Qt::ToolTipRole) << QVariant(QStringLiteral("tip")) << 0;
}

void TestTvItemModel::editSignal()
{
    QFETCH(int, role);
    QFETCH(QVariant, value);
    QFETCH(int, emitted);

    TreeFixture f;
    QSignalSpy spy(&f.model, &TvItemModel::editDataChanged);
    const QModelIndex idx = f.measure->index();
    QVERIFY(f.model.setData(idx, value, role));
    QCOMPARE(spy.count(), emitted);
    if (emitted) {
        QCOMPARE(spy.at(0).at(0).value<QModelIndex>(), idx);
        QCOMPARE(f.model.QStandardItemModel::data(idx, role), value);
    }
}

void TestTvItemModel::editOnInvalidIndexSaysNothing()
{
    TvItemModel model;
    QSignalSpy spy(&model, &TvItemModel::editDataChanged);
    QVERIFY(!model.setData(QModelIndex(), QStringLiteral("x"), Qt::EditRole));
    QCOMPARE(spy.count(), 0);
}

void TestTvItemModel::removingRowLeavesItemToOwner()
{
    const int before = DmmData::liveInstances();
    {
        TreeFixture f;
        ItemData *item = TvItemModel::itemDataAt(f.measure->index());
        item->addData(new DmmData);
        item->addData(new DmmData);
        f.live->removeRow(0);
        // The model never deleted the item: it is still usable.
        QCOMPARE(item->dataCount(), 2);
        QCOMPARE(f.live->rowCount(), 0);
    }
    QCOMPARE(DmmData::liveInstances(), before);
}

QTEST_MAIN(TestTvItemModel)
#include "tst_tvitemmodel.moc"
