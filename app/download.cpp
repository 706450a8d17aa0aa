// Downloading the readings stored in the meter's memory.
#include "widget.h"

#include "datamodel.h"
#include "dlgdownload.h"
#include "dmmchart.h"
#include "dmmdata.h"
#include "itemchartsource.h"
#include "meterlink.h"
#include "prompt.h"
#include "tvitemmodel.h"
#include "widgetform.h"

void Widget::on_actionItemDownload_triggered()
{
    if (!dmmIsOpen() || !meter()->hasStoredData())
        return;
    dataModel->clear();
    ui->chart->clearPoints();
    m_recording->tree().clearReadings(storeItem());
    itemSetToActive(itemModel->index(0, 0));
    // The table and chart show the emptied store; points of this download are
    // labelled as they arrive, without a blank before the unit.
    dataModel->setStore(&storeItem()->readings());
    m_chartSource->setStore(&storeItem()->readings());
    m_chartSource->setUnit(ui->cbbChartUnit->currentText());
    m_chartSource->setDownloadLabels(true);
    ui->chart->setSource(0, m_chartSource.get());

    // The dialog listens before the request goes out: a driver may answer, or
    // lose its link, inside requestStoreData itself.
    auto *dialog = new DlgDownload(this);
    dialog->setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint | Qt::CustomizeWindowHint);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    connect(this, &Widget::updateDowndPos, dialog, &DlgDownload::updatePos);
    m_downloadDialog = dialog;
    meter()->requestStoreData();
    // The dialog deletes itself when it closes.
    m_prompt->exec(*dialog);
    syncViews(); // the table and chart show every reading received
}

void Widget::slotStoreNum(int total, int num)
{
    emit updateDowndPos(total, num);
}

// A stored reading handed to the window goes the way of the driver's own.
void Widget::slotDisplayStore(const DmmData *data)
{
    if (meter())
        meter()->takeStoredReading(data);
    else
        delete data;
}
