// SPDX-License-Identifier: MIT
#include "recording.h"

#include "imydmm.h"
#include "journal.h"
#include "journalkeeper.h"
#include "metercatalogue.h"
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
    m_meters.clear();
    qDeleteAll(findChildren<MeterLink *>(QString(), Qt::FindDirectChildrenOnly));
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
    m_catalogue = std::make_unique<MeterCatalogue>(binding.scannedDirectory);
    for (const QString &problem : m_catalogue->problems())
        qWarning("%s", qPrintable(problem));
    if (binding.dmm) {
        MeterLink::Parts parts;
        parts.dmm = binding.dmm;
        parts.myDmm = binding.myDmm;
        parts.device = binding.serialDevice;
        parts.finder = binding.rs232Vir;
        // Named as its metadata names it ("virtual"), or after the meter.
        parts.meterId = QStringLiteral("kv930");
        for (const MeterDriverInfo &driver : m_catalogue->drivers()) {
            if (driver.kind == MeterDriverInfo::Kv930Set)
                parts.meterId = driver.name;
        }
        m_kv930 = new MeterLink(std::move(parts), *m_tree, this);
        m_meters.append(m_kv930);
    }
    return scan;
}

MeterLink *Recording::makeMeter(const QString &idText, const MeterOptions &options, QString *error)
{
    QString problem;
    MeterId meterId = MeterId::fromString(idText.trimmed(), &problem);
    auto fail = [error](const QString &why) {
        if (error)
            *error = why;
        return nullptr;
    };
    if (!meterId.isValid())
        return fail(problem);
    if (!m_catalogue)
        return fail(tr("no meter drivers were looked for"));
    const MeterDriverInfo *driver = m_catalogue->driver(meterId.driver);
    if (driver && driver->kind == MeterDriverInfo::Kv930Set) {
        if (!m_kv930)
            return fail(tr("the driver of '%1' is incomplete").arg(meterId.driver));
        return m_kv930;
    }
    if (!driver && m_kv930 && meterId.driver == m_kv930->meterId())
        return m_kv930;
    if (!m_catalogue->resolve(meterId, &problem))
        return fail(problem);
    std::unique_ptr<IMeter> meter = m_catalogue->createMeter(meterId, options, &problem);
    if (!meter)
        return fail(problem);

    MeterLink::Parts parts;
    parts.meter = meter.get();
    parts.myDmm = qobject_cast<IMyDmm *>(meter->object());
    parts.hasStoredData = driver && driver->storedData;
    parts.hasClock = driver && driver->clock;
    parts.meterId = meterId.toString();
    // "pm100 1550", "n774x #3": the driver, the channel and the wavelength set.
    parts.itemName = meterId.driver;
    if (meterId.channel > 0)
        parts.itemName += QStringLiteral(" #%1").arg(meterId.channel);
    if (options.wavelengthNm > 0)
        parts.itemName += QStringLiteral(" %1").arg(options.wavelengthNm);
    const MeterCatalogue *catalogue = m_catalogue.get();
    parts.present = [catalogue, meterId] { return catalogue->isPresent(meterId); };
    parts.owned = std::move(meter);
    return new MeterLink(std::move(parts), *m_tree, this);
}

MeterLink *Recording::addMeter(const QString &meterId, const MeterOptions &options, QString *error)
{
    MeterLink *link = makeMeter(meterId, options, error);
    if (!link)
        return nullptr;
    if (m_meters.contains(link)) {
        if (error)
            *error = tr("the meter '%1' is recording already").arg(link->meterId());
        return nullptr;
    }
    m_meters.append(link);
    return link;
}

bool Recording::selectMeter(const QString &meterId, const MeterOptions &options, QString *error)
{
    MeterLink *link = makeMeter(meterId, options, error);
    if (!link)
        return false;
    if (!m_meters.isEmpty() && m_meters.first() == link)
        return true;
    MeterLink *previous = m_meters.isEmpty() ? nullptr : m_meters.takeFirst();
    m_meters.removeAll(link);
    m_meters.prepend(link);
    if (previous && previous != m_kv930 && !m_meters.contains(previous))
        delete previous;
    return true;
}

void Recording::removeMeter(MeterLink *meter)
{
    if (!meter || !m_meters.removeAll(meter))
        return;
    meter->stopAcquisition();
    meter->close();
    if (meter != m_kv930)
        meter->deleteLater();
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
