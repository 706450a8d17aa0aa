// SPDX-License-Identifier: MIT
#pragma once

#include "itemdata.h"
#include "readingstore.h"

#include <QObject>
#include <QString>
#include <QStringList>

#include <memory>
#include <vector>

class DmmData;

// The item tree of a recording, the one source of truth for it: the "Store
// Data" item (the meter's memory), the "Live Data" group and, below it, the
// measurement and imported items in the order they were made, and which item
// is active. It owns every item. Every change goes through it and is announced
// by a signal, so that the views, the recording journal and the statistics
// follow it instead of being told by each operation.
//
// Signals are emitted after the change, except itemAboutToBeDeleted, which
// comes while the item still exists so that listeners can let go of it.
class ItemTree : public QObject
{
    Q_OBJECT
public:
    ItemTree(const QString &storeName, const QString &liveName, QObject *parent = nullptr);
    ~ItemTree() override;

    ItemData *storeItem() const { return m_store.get(); }
    ItemData *liveGroup() const { return m_live.get(); }
    // The items below "Live Data", in order.
    int itemCount() const { return int(m_items.size()); }
    ItemData *itemAt(int index) const;
    int indexOf(const ItemData *item) const;
    // The store item or an item below Live Data (never the group itself).
    bool holds(const ItemData *item) const;
    ItemData *active() const { return m_active; }

    // Every name in the tree, group rows included, as default names count them.
    QStringList names() const;
    // "MeasureN" with the smallest N no row carries.
    QString firstFreeMeasureName() const;
    // base, or "base (N)" with the smallest N no row carries.
    QString freeName(const QString &base) const;

    // A new item at the end of Live Data; null for an empty name.
    ItemData *createItem(const QString &name, ItemData::DataType type);
    void renameItem(ItemData *item, const QString &name);
    // The meter that records into the item (see ItemData::meter).
    void setItemMeter(ItemData *item, const QString &meter);
    // Deletes an item below Live Data; an active item stops being active first.
    void deleteItem(ItemData *item);
    // Deletes every item below Live Data (a tree restored from the journal
    // replaces the fresh one).
    void deleteAllItems();
    // The store item or an item below Live Data; null for none.
    void setActive(ItemData *item);

    // Readings: each appends to the item and announces it. A DmmData is taken
    // over (deleted before this returns).
    void appendReading(ItemData *item, DmmData *reading);
    void appendReading(ItemData *item, const ReadingStore::Fields &fields);
    void appendReadings(ItemData *item, ReadingStore &&readings);
    // Empties an item or replaces all of its readings.
    void clearReadings(ItemData *item);
    void replaceReadings(ItemData *item, ReadingStore &&readings);

signals:
    void itemCreated(ItemData *item);
    void itemRenamed(ItemData *item);
    void itemMeterChanged(ItemData *item);
    void itemAboutToBeDeleted(ItemData *item);
    void activeChanged(ItemData *item);
    // count readings were appended: one for a live reading, more for a batch.
    void readingsAppended(ItemData *item, int count);
    // The item's readings were emptied or replaced (a download begins, a
    // recording is read back): views showing it must be refilled.
    void readingsReplaced(ItemData *item);

private:
    std::unique_ptr<ItemData> m_store;
    std::unique_ptr<ItemData> m_live;
    std::vector<std::unique_ptr<ItemData>> m_items;
    ItemData *m_active = nullptr;
};
