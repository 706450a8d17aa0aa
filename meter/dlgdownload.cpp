#include "dlgdownload.h"

#include <QCoreApplication>
#include <QGridLayout>
#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QTimer>
#include <QTimerEvent>

#include <algorithm>

void Ui::DlgDownload::setupUi(QDialog *dialog)
{
    if (dialog->objectName().isEmpty())
        dialog->setObjectName(QStringLiteral("DlgDownload"));
    dialog->resize(498, 57);

    gridLayout = new QGridLayout(dialog);
    gridLayout->setSpacing(1);
    gridLayout->setObjectName(QStringLiteral("gridLayout"));
    gridLayout->setContentsMargins(3, 3, 3, 3);

    progressBar = new QProgressBar(dialog);
    progressBar->setObjectName(QStringLiteral("progressBar"));
    progressBar->setValue(0);
    progressBar->setTextVisible(false);
    progressBar->setInvertedAppearance(false);
    gridLayout->addWidget(progressBar, 0, 0, 1, 1);

    label = new QLabel(dialog);
    label->setObjectName(QStringLiteral("label"));
    label->setMinimumSize(QSize(0, 30));
    label->setAlignment(Qt::AlignLeading | Qt::AlignLeft | Qt::AlignVCenter);
    gridLayout->addWidget(label, 2, 0, 1, 1);

    retranslateUi(dialog);
    QMetaObject::connectSlotsByName(dialog);
}

void Ui::DlgDownload::retranslateUi(QDialog *dialog)
{
    dialog->setWindowTitle(QCoreApplication::translate("DlgDownload", "Dialog"));
    progressBar->setFormat(QCoreApplication::translate("DlgDownload", "%p"));
    label->setText(QCoreApplication::translate("DlgDownload", " Downloading data...   "));
}

DlgDownload::DlgDownload(QWidget *parent) : QDialog(parent), ui(std::make_unique<Ui::DlgDownload>())
{
    ui->setupUi(this);
}

DlgDownload::~DlgDownload() = default;

void DlgDownload::setWatchdogInterval(int ms)
{
    m_watchdogInterval = std::max(ms, 0);
}

void DlgDownload::updatePos(int total, int pos)
{
    // A faulty meter may report nonsense; never hand the bar a negative range
    // or a value outside it.
    total = std::max(total, 0);
    pos = std::max(pos, 0);
    ui->progressBar->setRange(0, total);
    ui->progressBar->setValue(std::min(pos, total));

    if (m_timerId != 0)
        killTimer(m_timerId);
    m_timerId = startTimer(m_watchdogInterval, Qt::CoarseTimer);

    if (pos >= total)
        QTimer::singleShot(0, this, &QDialog::accept);

    // Let the bar repaint during a long burst of updates. The events may
    // accept and delete this dialog, so nothing of it is touched afterwards.
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void DlgDownload::timerEvent(QTimerEvent *event)
{
    if (event->timerId() != m_timerId) {
        QDialog::timerEvent(event);
        return;
    }
    // No progress for a whole interval: the transfer has stopped.
    killTimer(m_timerId);
    m_timerId = 0;
    QTimer::singleShot(0, this, &QDialog::accept);
}
