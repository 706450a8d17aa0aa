#include "dlgsynctime.h"

#include <QCoreApplication>
#include <QDateTimeEdit>
#include <QGridLayout>
#include <QPushButton>

void Ui::dlgSyncTime::setupUi(QDialog *dialog)
{
    if (dialog->objectName().isEmpty())
        dialog->setObjectName(QStringLiteral("dlgSyncTime"));
    dialog->resize(148, 67);

    gridLayout = new QGridLayout(dialog);
    gridLayout->setObjectName(QStringLiteral("gridLayout"));

    dateTimeEdit = new QDateTimeEdit(dialog);
    dateTimeEdit->setObjectName(QStringLiteral("dateTimeEdit"));
    gridLayout->addWidget(dateTimeEdit, 0, 0, 1, 1);

    btnSync = new QPushButton(dialog);
    btnSync->setObjectName(QStringLiteral("btnSync"));
    gridLayout->addWidget(btnSync, 1, 0, 1, 1);

    retranslateUi(dialog);
    QMetaObject::connectSlotsByName(dialog);
}

void Ui::dlgSyncTime::retranslateUi(QDialog *dialog)
{
    dialog->setWindowTitle(QString());
    dateTimeEdit->setDisplayFormat(QCoreApplication::translate("dlgSyncTime", "yyyy/M/d H:mm:ss"));
    btnSync->setText(QCoreApplication::translate("dlgSyncTime", "Synchronize"));
}

dlgSyncTime::dlgSyncTime(const QDateTime &dt, QWidget *parent)
    : QDialog(parent), ui(std::make_unique<Ui::dlgSyncTime>())
{
    ui->setupUi(this);
    setAttribute(Qt::WA_DeleteOnClose);
    ui->dateTimeEdit->setDateTime(dt);
}

dlgSyncTime::~dlgSyncTime() = default;

void dlgSyncTime::on_btnSync_clicked()
{
    emit syncTime(ui->dateTimeEdit->dateTime());
}
