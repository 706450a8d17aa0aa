// SPDX-License-Identifier: MIT
#include "itemtree.h"

#include "dmmdata.h"

#include <algorithm>

ItemTree::ItemTree(const QString &storeName, const QString &liveName, QObject *parent)
    : QObject(parent), m_store(std::make_unique<ItemData>(storeName, ItemData::StoreData)),
      m_live(std::make_unique<ItemData>(liveName, ItemData::LiveData))
{
}

ItemTree::~ItemTree() = default;

ItemData *ItemTree::itemAt(int index) const
{
    return index >= 0 && index < itemCount() ? m_items[size_t(index)].get() : nullptr;
}

int ItemTree::indexOf(const ItemData *item) const
{
    const auto found = std::find_if(m_items.begin(), m_items.end(),
                                    [item](const auto &held) { return held.get() == item; });
    return found == m_items.end() ? -1 : int(found - m_items.begin());
}

bool ItemTree::holds(const ItemData *item) const
{
    return item && (item == m_store.get() || indexOf(item) >= 0);
}

QStringList ItemTree::names() const
{
    QStringList names{m_store->name(), m_live->name()};
    for (const auto &item : m_items)
        names << item->name();
    return names;
}

QString ItemTree::freeName(const QString &base) const
{
    const QStringList taken = names();
    QString name = base;
    for (int n = 2; taken.contains(name); ++n)
        name = QStringLiteral("%1 (%2)").arg(base).arg(n);
    return name;
}

QString ItemTree::firstFreeMeasureName() const
{
    const QStringList taken = names();
    for (int number = 1;; ++number) {
        const QString name = QStringLiteral("Measure%1").arg(number);
        if (!taken.contains(name))
            return name;
    }
}

ItemData *ItemTree::createItem(const QString &name, ItemData::DataType type)
{
    if (name.isEmpty())
        return nullptr;
    m_items.push_back(std::make_unique<ItemData>(name, type));
    ItemData *item = m_items.back().get();
    emit itemCreated(item);
    return item;
}

void ItemTree::renameItem(ItemData *item, const QString &name)
{
    if (!holds(item) || name.isEmpty() || item->name() == name)
        return;
    item->setName(name);
    emit itemRenamed(item);
}

void ItemTree::setItemMeter(ItemData *item, const QString &meter)
{
    if (!holds(item) || item->meter() == meter)
        return;
    item->setMeter(meter);
    emit itemMeterChanged(item);
}

void ItemTree::deleteItem(ItemData *item)
{
    const int index = indexOf(item);
    if (index < 0)
        return;
    if (item == m_active)
        setActive(nullptr);
    emit itemAboutToBeDeleted(item);
    // Taken out before it goes, so that nothing reached from its destruction
    // finds it in the tree.
    std::unique_ptr<ItemData> gone = std::move(m_items[size_t(index)]);
    m_items.erase(m_items.begin() + index);
}

void ItemTree::deleteAllItems()
{
    while (!m_items.empty())
        deleteItem(m_items.front().get());
}

void ItemTree::setActive(ItemData *item)
{
    if (item && !holds(item))
        return;
    if (item == m_active)
        return;
    m_active = item;
    emit activeChanged(item);
}

void ItemTree::appendReading(ItemData *item, DmmData *reading)
{
    if (!holds(item)) {
        delete reading;
        return;
    }
    item->addData(reading);
    emit readingsAppended(item, 1);
}

void ItemTree::appendReading(ItemData *item, const ReadingStore::Fields &fields)
{
    if (!holds(item))
        return;
    item->addReading(fields);
    emit readingsAppended(item, 1);
}

void ItemTree::appendReadings(ItemData *item, ReadingStore &&readings)
{
    if (!holds(item) || readings.isEmpty())
        return;
    const int count = readings.size();
    item->addReadings(std::move(readings));
    emit readingsAppended(item, count);
}

void ItemTree::clearReadings(ItemData *item)
{
    if (!holds(item))
        return;
    item->clearDatas();
    emit readingsReplaced(item);
}

void ItemTree::replaceReadings(ItemData *item, ReadingStore &&readings)
{
    if (!holds(item))
        return;
    item->setReadings(std::move(readings));
    emit readingsReplaced(item);
}
