#include "dlgdownload.h"

#include <QCoreApplication>
#include <QGridLayout>
#include <QLabel>
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

    restartWatchdog();
    if (pos >= total)
        finish();

    // A driver that sends its memory in one go from the GUI thread gives the
    // event loop no turn: paint the bar now and then. Processing events here
    // instead would nest every queued update inside the previous one.
    if (isVisible() && (!m_sinceRepaint.isValid() || m_sinceRepaint.elapsed() >= 100)) {
        ui->progressBar->repaint();
        m_sinceRepaint.start();
    }
}

void DlgDownload::finish()
{
    // Accepting from the event loop: a dialog accepted before its modal run
    // starts would otherwise wait for a close that has already happened.
    m_finished = true;
    QTimer::singleShot(0, this, &QDialog::accept);
}

void DlgDownload::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    // A meter that never answers must not keep the dialog up.
    restartWatchdog();
    if (m_finished)
        QTimer::singleShot(0, this, &QDialog::accept);
}

void DlgDownload::restartWatchdog()
{
    if (m_timerId != 0)
        killTimer(m_timerId);
    m_timerId = startTimer(m_watchdogInterval, Qt::CoarseTimer);
}

void DlgDownload::timerEvent(QTimerEvent *event)
{
    if (event->timerId() != m_timerId) {
        QDialog::timerEvent(event);
        return;
    }
    // Nothing for a whole interval: the transfer has stopped or never began.
    killTimer(m_timerId);
    m_timerId = 0;
    finish();
}
