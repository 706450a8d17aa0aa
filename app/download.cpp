// Downloading the readings stored in the meter's memory.
#include "widget.h"

#include "datamodel.h"
#include "dlgdownload.h"
#include "dmmchart.h"
#include "dmmdata.h"
#include "idmm.h"
#include "imydmm.h"
#include "prompt.h"
#include "tvitemmodel.h"
#include "widgetform.h"

#include <memory>

void Widget::on_actionItemDownload_triggered()
{
    if (!dmmIsOpen())
        return;
    dataModel->clear();
    ui->chart->clearPoints();
    storeItem()->clearDatas();
    journalItemCleared(storeItem());
    itemSetToActive(itemModel->index(0, 0));
    // The table and chart show the emptied store; points of this download are
    // labelled as they arrive, without a blank before the unit.
    dataModel->setStore(&storeItem()->readings());
    m_downloadLabels = true;
    if (myDmm)
        myDmm->requestStoreData();

    auto *dialog = new DlgDownload(this);
    dialog->setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint | Qt::CustomizeWindowHint);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    connect(this, &Widget::updateDowndPos, dialog, &DlgDownload::updatePos);
    // The dialog deletes itself when it closes.
    m_prompt->exec(*dialog);
    syncViews(); // the table and chart show every reading received
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
    std::unique_ptr<DmmData> reading(const_cast<DmmData *>(data));
    if (!activeItem || activeItem->type() != ItemData::StoreData)
        return;
    activeItem->addData(reading.release());
    readingsArrived();
}
