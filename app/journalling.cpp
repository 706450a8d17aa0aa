// The recording journal: the item tree and every reading are kept on disk as
// they change, a tree that was not closed normally comes back at the next
// start, past recordings can be reopened, and closing asks about readings
// that were never exported.
#include "widget.h"

#include "datamodel.h"
#include "dlgrecentrecordings.h"
#include "dmmchart.h"
#include "journal.h"
#include "prompt.h"
#include "readingstore.h"
#include "tvitemmodel.h"
#include "widgetform.h"

#include <QApplication>
#include <QLabel>
#include <QStatusBar>
#include <QTimer>

#include <algorithm>
#include <utility>

namespace {
enum JournalWarning
{
    OpenWarning = 1,    // cannot be kept, or was moved aside
    FailedWarning = 2,  // cannot be written any more
    WaitingWarning = 4, // another program holds the file
};

const QString &dateFormat()
{
    static const QString format = QStringLiteral("yyyy-MM-dd hh:mm");
    return format;
}
} // namespace

QString Widget::readingsInItems(qint64 readings, int items) const
{
    const QString r = readings == 1 ? tr("1 reading") : tr("%L1 readings").arg(readings);
    const QString i = items == 1 ? tr("1 item") : tr("%L1 items").arg(items);
    return tr("%1 in %2").arg(r, i);
}

void Widget::journalWarning(int kind, const QString &text)
{
    // One warning of a kind a run; the status bar shows the state meanwhile.
    qWarning("Recording journal: %s", qPrintable(text));
    if (m_journalWarned & kind)
        return;
    m_journalWarned |= kind;
    QTimer::singleShot(0, this, [this, text] { m_prompt->warning(this, text); });
}

void Widget::showJournalState()
{
    if (!m_journalState)
        return;
    const Journal::State state = m_journal ? m_journal->state() : Journal::State::Off;
    const QString reason = m_journal ? m_journal->stateReason() : m_journalOffReason;
    switch (state) {
    case Journal::State::Recording:
        m_journalState->hide();
        return;
    case Journal::State::Waiting:
        m_journalState->setText(tr("Journal waiting: readings are kept in memory until its "
                                   "file is free"));
        journalWarning(WaitingWarning,
                       tr("The recording journal cannot write (%1). Readings are kept in memory "
                          "and written as soon as the file is free.")
                           .arg(reason));
        break;
    case Journal::State::Off:
        m_journalState->setText(tr("Journal off: readings are kept in memory only"));
        break;
    }
    m_journalState->setToolTip(reason);
    m_journalState->show();
}

void Widget::initJournal()
{
    auto *recent = new QAction(tr("Recent Recordings..."), this);
    recent->setObjectName(QStringLiteral("actionRecentRecordings"));
    connect(recent, &QAction::triggered, this, &Widget::showRecentRecordings);
    // In the File menu after Import and Export, before the separator above Close.
    for (QWidget *holder : ui->actionClose->associatedWidgets()) {
        if (auto *file = qobject_cast<QMenu *>(holder)) {
            const QList<QAction *> actions = file->actions();
            const int close = actions.indexOf(ui->actionClose);
            file->insertAction(close > 0 ? actions.at(close - 1) : ui->actionClose, recent);
            break;
        }
    }
    recent->setEnabled(false);
    if (!m_startOptions.journal.enabled)
        return;
    m_journalState = new QLabel(this);
    m_journalState->setObjectName(QStringLiteral("lblJournalState"));
    m_journalState->hide();
    ui->statusBar->addPermanentWidget(m_journalState);

    auto journal = std::make_unique<Journal>(m_startOptions.journal.resolvedFolder());
    if (!journal->open()) {
        m_journalOffReason = journal->errorString();
        showJournalState();
        journalWarning(OpenWarning,
                       tr("The recording journal cannot be kept in %1 (%2). Readings are "
                          "recorded in memory only: export them before closing the program.")
                           .arg(journal->folder(), journal->errorString()));
        return;
    }
    m_journal = std::move(journal);
    if (!m_journal->networkFolder().isEmpty())
        qInfo("Recording journal: %s is on a network file system; the journal is kept in %s",
              qPrintable(m_journal->networkFolder()), qPrintable(m_journal->folder()));
    m_journalTimer = new QTimer(this);
    m_journalTimer->setSingleShot(true);
    m_journalTimer->setInterval(0);
    connect(m_journalTimer, &QTimer::timeout, this, &Widget::journalPendingReadings);
    connect(m_journal.get(), &Journal::writeFailed, this, [this](const QString &reason) {
        journalWarning(FailedWarning,
                       tr("The recording journal cannot be written any more (%1). Readings are "
                          "recorded in memory only: export them before closing the program.")
                           .arg(reason));
    });
    connect(m_journal.get(), &Journal::stateChanged, this, &Widget::showJournalState);
    connect(m_journal.get(), &Journal::readingsWanted, this, &Widget::journalCatchUp);
    if (!m_journal->movedAsidePath().isEmpty())
        journalWarning(OpenWarning,
                       tr("The recording journal was damaged. It was moved aside to %1 and a "
                          "new one was begun.")
                           .arg(m_journal->movedAsidePath()));
    recent->setEnabled(true);

    // Restored first: pruning never takes a session that was not brought back.
    std::optional<JournalSession> unfinished = m_journal->takeOverUnfinished();
    m_journal->pruneOlderThan(Journal::KeepDays);
    if (unfinished) {
        restoreJournalSession(*unfinished);
        return;
    }
    m_journal->beginSession();
    // The tree as built so far: the store and the first item.
    journalNumber(storeItem());
    journalActivated();
}

void Widget::restoreJournalSession(JournalSession &session)
{
    // The fresh first item makes way for the tree as it was.
    syncViews();
    dataModel->clear();
    ui->chart->clearPoints();
    activeItem = nullptr;
    while (liveGroupItem->rowCount() > 0) {
        ItemData *fresh = TvItemModel::itemDataAt(liveGroupItem->child(0)->index());
        liveGroupItem->removeRow(0);
        delete fresh;
    }
    if (!session.resumed)
        m_journal->beginSession();

    QModelIndex activeIndex;
    int items = 0;
    for (JournalItem &restored : session.items) {
        ItemData *item = nullptr;
        QModelIndex index;
        if (restored.kind == ItemData::StoreData) {
            item = storeItem();
            index = itemModel->index(0, 0);
        } else {
            item = new ItemData(restored.name, restored.kind);
            auto *row = new QStandardItem(measureIcon, restored.name);
            row->setData(QVariant::fromValue(item), ItemDataRole);
            liveGroupItem->appendRow(row);
            index = row->index();
        }
        if (restored.kind != ItemData::StoreData || !restored.readings.isEmpty())
            ++items;
        item->setReadings(std::move(restored.readings));
        m_exportedCounts.insert(item, restored.exported);
        if (session.resumed) {
            m_journalNumbers.insert(item, restored.number);
        } else if (const int number = journalNumber(item)) {
            m_journal->markExported(number, restored.exported);
        }
        if (restored.number == session.activeItem)
            activeIndex = index;
    }
    if (!session.resumed)
        journalNumber(storeItem());
    ui->tvItems->expandAll();
    if (activeIndex.isValid())
        itemSetToActive(activeIndex);
    const QModelIndex current = activeIndex.isValid()           ? activeIndex
                                : liveGroupItem->rowCount() > 0 ? liveGroupItem->child(0)->index()
                                                                : liveGroupItem->index();
    ui->tvItems->setCurrentIndex(current);
    slotCurrentRowChanged(current, QModelIndex());

    QString text = tr("The program was not closed normally last time. %1 came back.")
                       .arg(readingsInItems(session.readingCount(), items));
    if (session.damaged)
        text += QLatin1Char(' ') + tr("Some readings could not be read back from the journal.");
    QTimer::singleShot(0, this, [this, text] { m_prompt->information(this, text); });
}

int Widget::journalNumber(ItemData *item)
{
    if (!m_journal || !item || item->type() == ItemData::LiveData)
        return 0;
    if (const auto known = m_journalNumbers.constFind(item); known != m_journalNumbers.cend())
        return *known;
    const int number = m_journal->createItem(item->type(), item->name());
    if (number == 0)
        return 0;
    m_journalNumbers.insert(item, number);
    m_journal->appendReadings(number, item->readings());
    return number;
}

void Widget::journalActivated()
{
    journalPendingReadings();
    if (m_journal)
        m_journal->setActiveItem(activeItem ? journalNumber(activeItem) : -1);
}

void Widget::journalNewReadings()
{
    journalPendingReadings();
    if (!m_journal || !activeItem)
        return;
    if (const int number = journalNumber(activeItem))
        m_journal->appendReadings(number, activeItem->readings());
}

void Widget::journalReadingsSoon()
{
    // Called for every live reading: the copy waits for the end of the burst
    // (the next turn of the event loop), a tiny fraction of the journal's
    // commit interval.
    if (!m_journal || !activeItem || m_journalPending == activeItem)
        return;
    journalPendingReadings();
    m_journalPending = activeItem;
    m_journalTimer->start();
}

void Widget::journalPendingReadings()
{
    ItemData *item = std::exchange(m_journalPending, nullptr);
    if (!item || !m_journal)
        return;
    m_journalTimer->stop();
    if (const int number = journalNumber(item))
        m_journal->appendReadings(number, item->readings());
}

void Widget::journalItemRenamed(ItemData *item)
{
    journalPendingReadings();
    if (const int number = journalNumber(item))
        m_journal->renameItem(number, item->name());
}

void Widget::journalItemDeleted(ItemData *item)
{
    if (m_journalPending == item)
        m_journalPending = nullptr;
    journalPendingReadings();
    m_exportedCounts.remove(item);
    const int number = m_journalNumbers.take(item);
    if (m_journal && number)
        m_journal->deleteItem(number);
}

void Widget::journalItemCleared(ItemData *item)
{
    journalPendingReadings();
    m_exportedCounts.remove(item);
    if (const int number = journalNumber(item))
        m_journal->clearItem(number);
}

void Widget::journalCatchUp()
{
    journalPendingReadings();
    if (!m_journal)
        return;
    for (auto it = m_journalNumbers.cbegin(); it != m_journalNumbers.cend(); ++it)
        m_journal->appendReadings(it.value(), it.key()->readings());
}

void Widget::journalClosing(bool normally)
{
    if (!m_journal)
        return;
    m_journal->holdNothingBack();
    journalCatchUp();
    if (normally)
        m_journal->endSession();
}

void Widget::noteActiveItemExported(int rowsWritten)
{
    journalPendingReadings();
    if (!activeItem || dataModel->store() != &activeItem->readings() || rowsWritten <= 0)
        return;
    // Up to the last reading the file holds: live readings go on arriving
    // while an export runs (a report's progress dialog turns the event loop).
    const int count =
        qMax(m_exportedCounts.value(activeItem, 0), dataModel->readingIndex(rowsWritten - 1) + 1);
    m_exportedCounts.insert(activeItem, count);
    if (const int number = journalNumber(activeItem))
        m_journal->markExported(number, count);
}

qint64 Widget::unexportedReadings(int *itemCount) const
{
    qint64 readings = 0;
    int items = 0;
    auto count = [&](const ItemData *item) {
        // Readings that came from a file are not at risk.
        if (!item || item->type() == ItemData::Import || item->type() == ItemData::LiveData)
            return;
        const int unexported = item->dataCount() - m_exportedCounts.value(item, 0);
        if (unexported > 0) {
            readings += unexported;
            ++items;
        }
    };
    count(storeItem());
    for (int row = 0; row < liveGroupItem->rowCount(); ++row)
        count(TvItemModel::itemDataAt(liveGroupItem->child(row)->index()));
    if (itemCount)
        *itemCount = items;
    return readings;
}

bool Widget::confirmCloseWithUnexportedReadings()
{
    int items = 0;
    const qint64 readings = unexportedReadings(&items);
    if (readings == 0)
        return true;
    QString text = tr("%1 were never exported.").arg(readingsInItems(readings, items));
    const Journal::State state = m_journal ? m_journal->state() : Journal::State::Off;
    const QString reason = m_journal ? m_journal->stateReason() : m_journalOffReason;
    if (state == Journal::State::Recording)
        text += QLatin1Char(' ') +
                tr("They stay in File > Recent Recordings for %1 days.").arg(Journal::KeepDays);
    else if (state == Journal::State::Waiting)
        text += QLatin1Char(' ') + tr("The recording journal is waiting for its file (%1): "
                                      "what it has not written yet may be lost.")
                                       .arg(reason);
    else if (m_startOptions.journal.enabled)
        text += QLatin1Char(' ') + tr("Journal off (%1): they are kept in memory only and are "
                                      "lost when the program closes.")
                                       .arg(reason);
    text += QStringLiteral("\n\n") + tr("Close the program anyway?");
    return m_prompt->question(this, QString(), text, QMessageBox::Yes | QMessageBox::No,
                              QMessageBox::No) == QMessageBox::Yes;
}

void Widget::showRecentRecordings()
{
    if (!m_journal)
        return;
    DlgRecentRecordings dialog(m_journal->recentSessions(), this);
    if (m_prompt->exec(dialog) != QDialog::Accepted || dialog.selectedSession() == 0)
        return;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    std::optional<JournalSession> session = m_journal->loadSession(dialog.selectedSession());
    QApplication::restoreOverrideCursor();
    if (!session) {
        m_prompt->information(this, tr("This recording is no longer in the journal."));
        return;
    }
    reopenJournalSession(*session);
}

void Widget::reopenJournalSession(JournalSession &session)
{
    const QString when = session.started.toString(dateFormat());
    qint64 readings = 0;
    int items = 0;
    QModelIndex first;
    // The measurement items first, the downloaded readings after them.
    std::stable_partition(session.items.begin(), session.items.end(),
                          [](const JournalItem &item) { return item.kind != ItemData::StoreData; });
    for (JournalItem &reopened : session.items) {
        if (reopened.kind == ItemData::StoreData && reopened.readings.isEmpty())
            continue;
        // Downloaded readings become an item of their own; they are not for
        // recording into, like an imported file.
        const bool store = reopened.kind == ItemData::StoreData;
        const QString name = tr("%1 (%2)").arg(store ? tr("Store Data") : reopened.name, when);
        auto *item = new ItemData(name, store ? ItemData::Import : reopened.kind);
        const int count = reopened.readings.size();
        item->setReadings(std::move(reopened.readings));
        auto *row = new QStandardItem(measureIcon, name);
        row->setData(QVariant::fromValue(item), ItemDataRole);
        liveGroupItem->appendRow(row);
        if (!first.isValid())
            first = row->index();
        // They are kept under their own session as well: not at risk.
        m_exportedCounts.insert(item, count);
        if (const int number = journalNumber(item))
            m_journal->markExported(number, count);
        readings += count;
        ++items;
    }
    ui->tvItems->expand(liveGroupItem->index());
    if (first.isValid()) {
        ui->tvItems->setCurrentIndex(first);
        slotCurrentRowChanged(first, QModelIndex());
    }
    QString text = tr("%1 of the recording of %2 were added under Live Data.")
                       .arg(readingsInItems(readings, items), when);
    if (session.damaged)
        text += QLatin1Char(' ') + tr("Some readings could not be read back from the journal.");
    m_prompt->information(this, text);
}
