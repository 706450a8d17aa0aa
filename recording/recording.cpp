// SPDX-License-Identifier: MIT
#include "recording.h"

#include "journal.h"
#include "journalkeeper.h"
#include "meterlink.h"
#include "pluginscan.h"

#include <algorithm>
#include <utility>

Recording::Recording(const QString &storeName, const QString &liveName, QObject *parent)
    : QObject(parent), m_tree(std::make_unique<ItemTree>(storeName, liveName))
{
    // What a file holds is forgotten with the item, or when its readings are
    // replaced (a download into the emptied store).
    connect(m_tree.get(), &ItemTree::itemAboutToBeDeleted, this,
            [this](ItemData *item) { forget(item); });
    connect(m_tree.get(), &ItemTree::readingsReplaced, this,
            [this](ItemData *item) { forget(item); });
}

Recording::~Recording()
{
    // Meters first (they may still hand over a reading), then the journal's
    // listener, then the tree.
    qDeleteAll(std::exchange(m_meters, {}));
    m_keeper.reset();
    m_journal.reset();
}

void Recording::forget(const ItemData *item)
{
    m_exported.remove(item);
}

Recording::DriverScan Recording::bindDrivers(const QString &applicationDir,
                                             const QString &driverFolder)
{
    const PluginBinding binding =
        driverFolder.isEmpty() ? scanPlugins(applicationDir) : scanPluginFolder(driverFolder);
    DriverScan scan;
    scan.complete = binding.complete();
    scan.missing = binding.missing().join(QStringLiteral(", "));
    scan.scannedDirectory = binding.scannedDirectory;
    if (binding.dmm) {
        MeterLink::Parts parts;
        parts.dmm = binding.dmm;
        parts.myDmm = binding.myDmm;
        parts.device = binding.serialDevice;
        parts.finder = binding.rs232Vir;
        parts.spec = QStringLiteral("kv930");
        m_meters.append(new MeterLink(std::move(parts), *m_tree, this));
    }
    return scan;
}

bool Recording::journalRecording() const
{
    return m_journal && m_journal->isRecording();
}

Recording::JournalStart Recording::startJournal(const JournalOptions &options, JournalMode mode)
{
    JournalStart start;
    if (!options.enabled)
        return start;
    auto journal = std::make_unique<Journal>(options.resolvedFolder());
    start.folder = journal->folder();
    if (!journal->open()) {
        start.outcome = JournalStart::Failed;
        start.error = journal->errorString();
        return start;
    }
    m_journal = std::move(journal);
    start.folder = m_journal->folder();
    start.movedAside = m_journal->movedAsidePath();
    start.networkFolder = m_journal->networkFolder();
    connect(m_journal.get(), &Journal::writeFailed, this, &Recording::journalFailed);
    // A journal that could not write for a while (its file was busy) asks
    // for every reading it has not got.
    connect(m_journal.get(), &Journal::readingsWanted, this, [this] {
        if (m_keeper)
            m_keeper->copyAll();
    });

    std::optional<JournalSession> unfinished;
    if (mode == JournalMode::RestoreUnfinished)
        unfinished = m_journal->takeOverUnfinished();
    // Old sessions go only once an unfinished one had its chance to come back.
    if (mode == JournalMode::RestoreUnfinished)
        m_journal->pruneOlderThan(Journal::KeepDays);

    if (unfinished) {
        start.outcome = JournalStart::Restored;
        start.readings = unfinished->readingCount();
        start.damaged = unfinished->damaged;
        for (const JournalItem &item : unfinished->items) {
            if (item.kind != ItemData::StoreData || !item.readings.isEmpty())
                ++start.items;
        }
        restoreSession(*unfinished);
    } else {
        start.outcome = JournalStart::Fresh;
        m_journal->beginSession();
        m_keeper = std::make_unique<JournalKeeper>(*m_journal, *m_tree);
    }
    // The tree as it stands: the store, every item, the active one.
    m_keeper->copyAll();
    m_journal->setActiveItem(m_tree->active() ? m_keeper->numberOf(m_tree->active()) : -1);
    return start;
}

void Recording::restoreSession(JournalSession &session)
{
    // The fresh tree makes way for the tree as it was. No listener of the
    // journal yet: restored items keep or get their numbers below.
    m_tree->setActive(nullptr);
    m_tree->deleteAllItems();
    if (!session.resumed)
        m_journal->beginSession();

    ItemData *active = nullptr;
    std::vector<std::pair<ItemData *, const JournalItem *>> restored;
    for (JournalItem &item : session.items) {
        ItemData *into = item.kind == ItemData::StoreData
                             ? m_tree->storeItem()
                             : m_tree->createItem(item.name, item.kind);
        if (!into)
            continue;
        m_tree->replaceReadings(into, std::move(item.readings));
        m_tree->setItemMeter(into, item.meter);
        m_exported.insert(into, item.exported);
        restored.emplace_back(into, &item);
        if (item.number == session.activeItem)
            active = into;
    }
    m_keeper = std::make_unique<JournalKeeper>(*m_journal, *m_tree);
    for (const auto &[item, from] : restored) {
        if (session.resumed)
            m_keeper->adopt(item, from->number);
        else
            m_keeper->markExported(item, from->exported);
    }
    if (active)
        m_tree->setActive(active);
}

Recording::Reopened Recording::reopenSession(JournalSession &session, const QString &when)
{
    Reopened result;
    // The measurement items first, the downloaded readings after them.
    std::stable_partition(session.items.begin(), session.items.end(),
                          [](const JournalItem &item) { return item.kind != ItemData::StoreData; });
    for (JournalItem &reopened : session.items) {
        const bool store = reopened.kind == ItemData::StoreData;
        if (store && reopened.readings.isEmpty())
            continue;
        // Downloaded readings become an item of their own; they are not for
        // recording into, like an imported file.
        const QString name = QStringLiteral("%1 (%2)").arg(
            store ? m_tree->storeItem()->name() : reopened.name, when);
        ItemData *item = m_tree->createItem(name, store ? ItemData::Import : reopened.kind);
        if (!item)
            continue;
        const int count = reopened.readings.size();
        m_tree->setItemMeter(item, reopened.meter);
        m_tree->replaceReadings(item, std::move(reopened.readings));
        // They are kept under their own session as well: not at risk.
        noteExported(item, count);
        if (!result.first)
            result.first = item;
        result.readings += count;
        ++result.items;
    }
    return result;
}

void Recording::noteExported(const ItemData *item, int count)
{
    if (!m_tree->holds(item))
        return;
    count = qMax(count, m_exported.value(item, 0));
    m_exported.insert(item, count);
    if (m_keeper)
        m_keeper->markExported(item, count);
}

qint64 Recording::unexportedReadings(int *itemCount) const
{
    qint64 readings = 0;
    int items = 0;
    auto count = [&](const ItemData *item) {
        // Readings that came from a file are not at risk.
        if (!item || item->type() == ItemData::Import || item->type() == ItemData::LiveData)
            return;
        const int unexported = item->dataCount() - m_exported.value(item, 0);
        if (unexported > 0) {
            readings += unexported;
            ++items;
        }
    };
    count(m_tree->storeItem());
    for (int index = 0; index < m_tree->itemCount(); ++index)
        count(m_tree->itemAt(index));
    if (itemCount)
        *itemCount = items;
    return readings;
}

void Recording::closeNormally()
{
    if (!m_keeper)
        return;
    m_journal->holdNothingBack();
    m_keeper->endSession();
}

void Recording::keepForNextStart()
{
    if (!m_keeper)
        return;
    m_journal->holdNothingBack();
    m_keeper->copyAll();
}
