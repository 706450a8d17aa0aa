// SPDX-License-Identifier: MIT
#pragma once

#include <QElapsedTimer>
#include <QHash>
#include <QObject>

class ItemData;
class ItemTree;
class Journal;
class QTimer;

// Keeps the recording journal in step with an item tree: it listens to the
// tree's signals and hands every change to the journal, which writes it on a
// thread of its own. Live readings are copied once per burst (at the next turn
// of the event loop), and at least every CopyIntervalMs while a long
// operation keeps the event loop from running; a batch of readings (an
// import, a restore) is copied at once.
class JournalKeeper : public QObject
{
    Q_OBJECT
public:
    static constexpr int CopyIntervalMs = 100;

    // Starts listening; every item already in the tree is journaled as it is,
    // except those adopt() is told about before the first change.
    JournalKeeper(Journal &journal, ItemTree &tree, QObject *parent = nullptr);
    ~JournalKeeper() override;

    Journal &journal() const { return m_journal; }
    // An item restored from the journal's own session keeps its number.
    void adopt(const ItemData *item, int number);
    // The item's number in the journal, journaling it (with its readings) on
    // first use; 0 for the group row or when the journal refused it.
    int numberOf(const ItemData *item);
    // Copies readings waiting for the end of a burst.
    void copyPending();
    // Copies every item's readings now.
    void copyAll();
    void markExported(const ItemData *item, int count);
    // The program is closing normally: everything is copied and the session ended.
    void endSession();

private:
    void readingsAppended(ItemData *item, int count);

    Journal &m_journal;
    ItemTree &m_tree;
    QHash<const ItemData *, int> m_numbers;
    const ItemData *m_pending = nullptr;
    QTimer *m_copyTimer = nullptr;
    QElapsedTimer m_sinceCopy;
};
