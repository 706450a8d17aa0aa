// Downloading the readings stored in the meter's memory.
#include "widget.h"

#include "chartpoint.h"
#include "datamodel.h"
#include "dlgdownload.h"
#include "dmmchart.h"
#include "dmmdata.h"
#include "idmm.h"
#include "imydmm.h"
#include "prompt.h"
#include "tvitemmodel.h"
#include "widgetform.h"

void Widget::on_actionItemDownload_triggered()
{
    if (!dmmIsOpen())
        return;
    dataModel->clear();
    ui->chart->clearPoints();
    storeItem()->clearDatas();
    itemSetToActive(itemModel->index(0, 0));

    // The dialog listens before the request goes out: a driver may answer, or
    // lose its link, inside requestStoreData itself.
    auto *dialog = new DlgDownload(this);
    dialog->setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint | Qt::CustomizeWindowHint);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    connect(this, &Widget::updateDowndPos, dialog, &DlgDownload::updatePos);
    m_downloadDialog = dialog;
    if (myDmm)
        myDmm->requestStoreData();
    // The dialog deletes itself when it closes.
    m_prompt->exec(*dialog);
}

void Widget::slotStoreNum(int total, int num)
{
    emit updateDowndPos(total, num);
}

void Widget::slotDisplayStore(const DmmData *data)
{
    if (!data) {
        qWarning("Meter driver fault: displayStore() carried no reading; ignored.");
        return;
    }
    auto *reading = const_cast<DmmData *>(data);
    if (!activeItem || activeItem->type() != ItemData::StoreData) {
        delete reading;
        return;
    }
    activeItem->addData(reading);
    dataModel->appendData(reading);
    scrollTableToBottom();

    const QString unit = ui->cbbChartUnit->currentText();
    const QString text = reading->valueText(unit);
    ui->chart->addPoint(new ChartPoint(reading->value(unit), text, reading->dmmDateTime(), -1, -1,
                                       QVariant(QStringLiteral("%1%2").arg(text, unit))),
                        0);
}
