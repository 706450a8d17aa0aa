#include "dlgrecentrecordings.h"

#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

DlgRecentRecordings::DlgRecentRecordings(const QVector<JournalSessionInfo> &sessions,
                                         QWidget *parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("dlgRecentRecordings"));
    setWindowTitle(tr("Recent Recordings"));
    resize(560, 320);
    auto *layout = new QVBoxLayout(this);

    auto *label = new QLabel(
        sessions.isEmpty()
            ? tr("No recordings of the last %1 days are kept.").arg(Journal::KeepDays)
            : tr("Recordings of the last %1 days. Open one to add its items under Live Data.")
                  .arg(Journal::KeepDays),
        this);
    label->setObjectName(QStringLiteral("label"));
    label->setWordWrap(true);
    layout->addWidget(label);

    m_list = new QTreeWidget(this);
    m_list->setObjectName(QStringLiteral("twRecordings"));
    m_list->setRootIsDecorated(false);
    m_list->setHeaderLabels({tr("Started"), tr("Ended"), tr("Items"), tr("Readings")});
    const QString format = QStringLiteral("yyyy-MM-dd hh:mm:ss");
    const QLocale locale;
    for (const JournalSessionInfo &session : sessions) {
        auto *row = new QTreeWidgetItem(m_list);
        row->setText(0, session.started.toString(format));
        row->setData(0, Qt::UserRole, session.id);
        row->setText(1, session.closedNormally ? session.ended.toString(format)
                                               : tr("not closed normally"));
        row->setText(2, locale.toString(session.items));
        row->setText(3, locale.toString(session.readings));
        row->setTextAlignment(2, Qt::AlignRight | Qt::AlignVCenter);
        row->setTextAlignment(3, Qt::AlignRight | Qt::AlignVCenter);
    }
    m_list->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    layout->addWidget(m_list);

    m_buttons = new QDialogButtonBox(QDialogButtonBox::Open | QDialogButtonBox::Cancel, this);
    m_buttons->setObjectName(QStringLiteral("buttonBox"));
    layout->addWidget(m_buttons);
    QPushButton *open = m_buttons->button(QDialogButtonBox::Open);
    open->setEnabled(false);
    connect(m_list, &QTreeWidget::currentItemChanged, open,
            [open](QTreeWidgetItem *current) { open->setEnabled(current != nullptr); });
    connect(m_list, &QTreeWidget::itemDoubleClicked, this, &QDialog::accept);
    connect(m_buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(m_buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

qint64 DlgRecentRecordings::selectedSession() const
{
    const QTreeWidgetItem *current = m_list->currentItem();
    return current ? current->data(0, Qt::UserRole).toLongLong() : 0;
}
