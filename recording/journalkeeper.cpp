// SPDX-License-Identifier: MIT
#include "journalkeeper.h"

#include "itemtree.h"
#include "journal.h"

#include <QTimer>

#include <utility>

JournalKeeper::JournalKeeper(Journal &journal, ItemTree &tree, QObject *parent)
    : QObject(parent), m_journal(journal), m_tree(tree), m_copyTimer(new QTimer(this))
{
    m_copyTimer->setSingleShot(true);
    m_copyTimer->setInterval(0);
    connect(m_copyTimer, &QTimer::timeout, this, &JournalKeeper::copyPending);
    m_sinceCopy.start();

    connect(&tree, &ItemTree::itemCreated, this, [this](ItemData *item) { numberOf(item); });
    connect(&tree, &ItemTree::itemRenamed, this, [this](ItemData *item) {
        copyPending();
        if (const int number = numberOf(item))
            m_journal.renameItem(number, item->name());
    });
    connect(&tree, &ItemTree::itemMeterChanged, this, [this](ItemData *item) {
        if (const int number = m_numbers.value(item))
            m_journal.setItemMeter(number, item->meter());
        else
            numberOf(item);
    });
    connect(&tree, &ItemTree::itemAboutToBeDeleted, this, [this](ItemData *item) {
        if (m_pending == item)
            m_pending = nullptr;
        copyPending();
        if (const int number = m_numbers.take(item))
            m_journal.deleteItem(number);
    });
    connect(&tree, &ItemTree::activeChanged, this, [this](ItemData *item) {
        copyPending();
        m_journal.setActiveItem(item ? numberOf(item) : -1);
    });
    connect(&tree, &ItemTree::readingsAppended, this, &JournalKeeper::readingsAppended);
    connect(&tree, &ItemTree::readingsReplaced, this, [this](ItemData *item) {
        copyPending();
        if (const int number = numberOf(item)) {
            m_journal.clearItem(number);
            m_journal.appendReadings(number, item->readings());
            // Read back from somewhere (a recording reopened), not recorded now.
            m_journal.setPublishFrom(number, item->readings().size());
        }
    });
}

JournalKeeper::~JournalKeeper() = default;

void JournalKeeper::adopt(const ItemData *item, int number)
{
    if (item && number > 0)
        m_numbers.insert(item, number);
}

int JournalKeeper::numberOf(const ItemData *item)
{
    if (!item || item->type() == ItemData::LiveData || !m_tree.holds(item))
        return 0;
    if (const auto known = m_numbers.constFind(item); known != m_numbers.cend())
        return *known;
    const int number = m_journal.createItem(item->type(), item->name());
    if (number == 0)
        return 0;
    m_numbers.insert(item, number);
    if (!item->meter().isEmpty())
        m_journal.setItemMeter(number, item->meter());
    m_journal.appendReadings(number, item->readings());
    // Readings an item holds before it is journaled were recorded elsewhere
    // (a restored tree going on in a new session): they are not new.
    if (item->dataCount() > 0)
        m_journal.setPublishFrom(number, item->dataCount());
    return number;
}

void JournalKeeper::readingsAppended(ItemData *item, int count)
{
    // Called for every live reading: the copy waits for the end of the
    // burst, a tiny fraction of the journal's commit interval, unless the
    // event loop has not run for a while. A batch ends its own burst.
    if (count > 1) {
        if (m_pending != item)
            copyPending();
        m_pending = item;
        copyPending();
        return;
    }
    if (m_pending != item) {
        copyPending();
        m_pending = item;
        m_copyTimer->start();
    }
    if (m_sinceCopy.elapsed() >= CopyIntervalMs)
        copyPending();
}

void JournalKeeper::copyPending()
{
    m_sinceCopy.restart();
    const ItemData *item = std::exchange(m_pending, nullptr);
    if (!item)
        return;
    m_copyTimer->stop();
    if (const int number = numberOf(item))
        m_journal.appendReadings(number, item->readings());
}

void JournalKeeper::copyAll()
{
    copyPending();
    if (const int number = numberOf(m_tree.storeItem()))
        m_journal.appendReadings(number, m_tree.storeItem()->readings());
    for (int index = 0; index < m_tree.itemCount(); ++index) {
        const ItemData *item = m_tree.itemAt(index);
        if (const int number = numberOf(item))
            m_journal.appendReadings(number, item->readings());
    }
}

void JournalKeeper::markExported(const ItemData *item, int count)
{
    copyPending();
    if (const int number = numberOf(item))
        m_journal.markExported(number, count);
}

void JournalKeeper::endSession()
{
    copyAll();
    m_journal.endSession();
}
