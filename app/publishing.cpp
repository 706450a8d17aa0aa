// Publishing to a broker, the window's side: File > Publishing... sets the
// broker and the station, one label in the status bar says how publishing
// goes, and the publisher (publisher/) does the rest on a thread of its own,
// reading the recording journal. Nothing here waits on the network.
#include "widget.h"

#include "dlgpublishing.h"
#include "journal.h"
#include "keyring.h"
#include "prompt.h"
#include "publisher.h"
#include "widgetform.h"

#include <QLabel>
#include <QStatusBar>
#include <QTimer>

void Widget::initPublishing()
{
    auto *action = new QAction(tr("Publishing..."), this);
    action->setObjectName(QStringLiteral("actionPublishing"));
    connect(action, &QAction::triggered, this, &Widget::editPublishing);
    // In the File menu after Recent Recordings, before the separator above Close.
    for (QWidget *holder : ui->actionClose->associatedWidgets()) {
        if (auto *file = qobject_cast<QMenu *>(holder)) {
            const QList<QAction *> actions = file->actions();
            const int close = actions.indexOf(ui->actionClose);
            file->insertAction(close > 0 ? actions.at(close - 1) : ui->actionClose, action);
            break;
        }
    }
    m_publishingState = new QLabel(this);
    m_publishingState->setObjectName(QStringLiteral("lblPublishing"));
    m_publishingState->hide();
    ui->statusBar->addPermanentWidget(m_publishingState);

    if (const Journal *journal = m_recording->journal(); journal && journal->keptUnpublished()) {
        const QString text =
            tr("%L1 readings older than %2 days were never published to the broker. The "
               "recording journal keeps them until the broker has them.")
                .arg(journal->keptUnpublished())
                .arg(Journal::KeepDays);
        qWarning("Publishing: %s", qPrintable(text));
        QTimer::singleShot(0, this, [this, text] { m_prompt->warning(this, text); });
    }
    startPublishing(m_startOptions.publishing);
}

void Widget::startPublishing(const PublishOptions &options)
{
    m_publisher.reset();
    m_publishing = options;
    if (options.isEnabled()) {
        const Journal *journal = m_recording->journal();
        m_publisher =
            std::make_unique<Publisher>(options, journal ? journal->filePath() : QString());
        m_publisher->setJudge(m_recording->judge());
        connect(m_publisher.get(), &Publisher::statusChanged, this, &Widget::showPublishingState);
        connect(m_publisher.get(), &Publisher::problem, this,
                [](const QString &message) { qWarning("Publishing: %s", qPrintable(message)); });
    }
    showPublishingState();
}

void Widget::publishJudge()
{
    if (m_publisher)
        m_publisher->setJudge(m_recording->judge());
}

void Widget::showPublishingState()
{
    if (!m_publishingState)
        return;
    if (!m_publisher) {
        m_publishingState->hide();
        return;
    }
    const Publisher::Status status = m_publisher->status();
    QString text;
    switch (status.state) {
    case Publisher::State::Starting:
        text = tr("Publishing: starting");
        break;
    case Publisher::State::Connecting:
        text = status.message.isEmpty() ? tr("Publishing: connecting to %1").arg(status.broker)
                                        : tr("Publishing: %1").arg(status.message);
        break;
    case Publisher::State::Connected:
        text = status.behind > 0 ? tr("Publishing: behind by %L1 readings").arg(status.behind)
                                 : tr("Publishing: connected");
        break;
    case Publisher::State::Elsewhere:
    case Publisher::State::Failed:
        text = tr("Publishing: %1").arg(status.message);
        break;
    }
    QString tip = tr("Station %1 publishing to %2").arg(m_publisher->station(), status.broker);
    if (status.behind >= 0)
        tip += QLatin1Char('\n') + tr("%L1 readings waiting for the broker").arg(status.behind);
    m_publishingState->setText(text);
    m_publishingState->setToolTip(tip);
    m_publishingState->show();
}

void Widget::editPublishing()
{
    DlgPublishing dialog(m_publishing, this);
    PublishOptions options;
    for (;;) {
        if (m_prompt->exec(dialog) != QDialog::Accepted)
            return;
        QString problem;
        if (dialog.read(&options, &problem))
            break;
        // Shown again with what was typed, so that it can be put right.
        m_prompt->warning(this, problem);
    }
    // The password goes into the key ring where one runs, else into
    // kv930.conf, readable by its owner only. The key ring may take a while
    // (it may ask to be unlocked): the settings are written when it answers.
    QString error;
    const std::optional<BrokerAddress> broker = BrokerAddress::parse(options.url, &error);
    if (!options.password.isEmpty() && broker && keyring::isAvailable()) {
        keyring::store(broker->host, options.user, options.password, this,
                       [options](bool stored, const QString &why) {
                           if (!stored)
                               qWarning("Publishing: the password stays in kv930.conf, as the "
                                        "key ring cannot keep it (%s)",
                                        qPrintable(why));
                           PublishOptions saved = options;
                           saved.passwordInKeyring = stored;
                           saved.save(stored ? PublishOptions::PasswordPlace::Keyring
                                             : PublishOptions::PasswordPlace::File);
                       });
    } else {
        options.save(options.passwordInKeyring ? PublishOptions::PasswordPlace::Keyring
                                               : PublishOptions::PasswordPlace::File);
    }
    startPublishing(options);
}
