// The recording journal, the window's side: the recording core keeps the item
// tree and every reading on disk as they change; the window says what became
// of it, shows a tree that was not closed normally when it comes back, reopens
// past recordings, and asks before closing with readings never exported.
#include "widget.h"

#include "dlgrecentrecordings.h"
#include "journal.h"
#include "prompt.h"
#include "widgetform.h"

#include <QApplication>
#include <QLabel>
#include <QStatusBar>
#include <QTimer>

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
    const Journal *journal = m_recording->journal();
    const Journal::State state = journal ? journal->state() : Journal::State::Off;
    const QString reason = journal ? journal->stateReason() : m_journalOffReason;
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

    connect(m_recording.get(), &Recording::journalFailed, this, [this](const QString &reason) {
        journalWarning(FailedWarning,
                       tr("The recording journal cannot be written any more (%1). Readings are "
                          "recorded in memory only: export them before closing the program.")
                           .arg(reason));
    });
    const Recording::JournalStart start = m_recording->startJournal(
        m_startOptions.journal, Recording::JournalMode::RestoreUnfinished);
    switch (start.outcome) {
    case Recording::JournalStart::Off:
        return;
    case Recording::JournalStart::Failed:
        m_journalOffReason = start.error;
        showJournalState();
        journalWarning(OpenWarning,
                       tr("The recording journal cannot be kept in %1 (%2). Readings are "
                          "recorded in memory only: export them before closing the program.")
                           .arg(start.folder, start.error));
        return;
    case Recording::JournalStart::Fresh:
        break;
    case Recording::JournalStart::Restored:
        journalRestored(start);
        break;
    }
    connect(m_recording->journal(), &Journal::stateChanged, this, &Widget::showJournalState);
    if (!start.networkFolder.isEmpty())
        qInfo("Recording journal: %s is on a network file system; the journal is kept in %s",
              qPrintable(start.networkFolder), qPrintable(start.folder));
    if (!start.movedAside.isEmpty())
        journalWarning(OpenWarning,
                       tr("The recording journal was damaged. It was moved aside to %1 and a "
                          "new one was begun.")
                           .arg(start.movedAside));
    recent->setEnabled(true);
}

void Widget::journalRestored(const Recording::JournalStart &start)
{
    ui->tvItems->expandAll();
    const ItemTree &tree = m_recording->tree();
    const QModelIndex current = tree.active()          ? rowOf(tree.active())
                                : tree.itemCount() > 0 ? rowOf(tree.itemAt(0))
                                                       : liveGroupItem->index();
    makeCurrent(current);

    QString text = tr("The program was not closed normally last time. %1 came back.")
                       .arg(readingsInItems(start.readings, start.items));
    if (start.damaged)
        text += QLatin1Char(' ') + tr("Some readings could not be read back from the journal.");
    QTimer::singleShot(0, this, [this, text] { m_prompt->information(this, text); });
}

qint64 Widget::unexportedReadings(int *itemCount) const
{
    return m_recording->unexportedReadings(itemCount);
}

bool Widget::confirmCloseWithUnexportedReadings()
{
    int items = 0;
    const qint64 readings = unexportedReadings(&items);
    if (readings == 0)
        return true;
    QString text = tr("%1 were never exported.").arg(readingsInItems(readings, items));
    const Journal *journal = m_recording->journal();
    const Journal::State state = journal ? journal->state() : Journal::State::Off;
    const QString reason = journal ? journal->stateReason() : m_journalOffReason;
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
    Journal *journal = m_recording->journal();
    if (!journal)
        return;
    DlgRecentRecordings dialog(journal->recentSessions(), this);
    if (m_prompt->exec(dialog) != QDialog::Accepted || dialog.selectedSession() == 0)
        return;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    std::optional<JournalSession> session = journal->loadSession(dialog.selectedSession());
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
    const Recording::Reopened reopened = m_recording->reopenSession(session, when);
    ui->tvItems->expand(liveGroupItem->index());
    if (reopened.first)
        makeCurrent(rowOf(reopened.first));
    QString text = tr("%1 of the recording of %2 were added under Live Data.")
                       .arg(readingsInItems(reopened.readings, reopened.items), when);
    if (session.damaged)
        text += QLatin1Char(' ') + tr("Some readings could not be read back from the journal.");
    m_prompt->information(this, text);
}
