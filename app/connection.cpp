// Meter link: driver binding, connect/disconnect and acquisition control. The
// link itself is the recording core's; the window offers its actions.
#include "widget.h"

#include "dlgdownload.h"
#include "dmmdata.h"
#include "meterlink.h"
#include "prompt.h"
#include "tvitemmodel.h"
#include "widgetform.h"

#include <QAction>
#include <QItemSelectionModel>

#include <memory>

bool Widget::loadPlugins()
{
    const Recording::DriverScan scan =
        m_recording->bindDrivers(m_applicationDir, m_startOptions.driverFolder);
    m_missingInterfaces = scan.missing;
    m_scannedDirectory = scan.scannedDirectory;
    return scan.complete;
}

bool Widget::pluginsComplete() const
{
    return m_missingInterfaces.isEmpty() && meter();
}

void Widget::initConnec()
{
    if (MeterLink *link = meter()) {
        connect(link, &MeterLink::opened, this, &Widget::slotDmmOpened);
        connect(link, &MeterLink::closed, this, &Widget::slotDmmClosed);
        connect(link, &MeterLink::presenceMayHaveChanged, this, &Widget::slotUSBRefreshed);
        connect(link, &MeterLink::storeProgress, this, &Widget::slotStoreNum);
        // Recording can end without Stop (the link closed or failed, the item went).
        connect(link, &MeterLink::acquisitionChanged, this, [this](bool acquiring) {
            if (!acquiring) {
                ui->actionStart->setEnabled(startAllowed());
                ui->actionStop->setEnabled(false);
            }
        });
        connect(link, &MeterLink::linkFailed, this, [this](const QString &message) {
            syncViews(); // every reading received stays shown
            m_prompt->warning(this, tr("The meter link failed: %1").arg(message));
        });
    }

    connect(itemModel, &TvItemModel::editDataChanged, this, &Widget::slotItemModeleditDataChanged);
    connect(ui->tvItems->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            &Widget::slotCurrentRowChanged);
    connect(ui->actionConnect, &QAction::triggered, this, &Widget::slotAction);
    connect(ui->actionDisconnect, &QAction::triggered, this, &Widget::slotAction);
    connect(ui->actionClose, &QAction::triggered, this, &Widget::slotAction);
}

bool Widget::converterPresent() const
{
    return meter() && meter()->isPresent();
}

bool Widget::dmmIsOpen() const
{
    return meter() && meter()->isOpen();
}

// Live readings are recorded only into a measurement item: Start is offered
// only while one is active and the link is open.
bool Widget::activeItemIsMeasurement() const
{
    const ItemData *active = activeItemData();
    return active && active->type() == ItemData::Measure;
}

bool Widget::startAllowed() const
{
    return dmmIsOpen() && activeItemIsMeasurement();
}

ItemData *Widget::storeItem() const
{
    return m_recording->tree().storeItem();
}

void Widget::slotAction()
{
    auto *action = qobject_cast<QAction *>(sender());
    if (!action)
        return;
    if (action == ui->actionConnect) {
        if (!meter())
            return;
        if (!meter()->open())
            m_prompt->critical(this, tr("Failed to open device."));
    } else if (action == ui->actionDisconnect) {
        if (meter())
            meter()->close();
    } else if (action == ui->actionClose) {
        close();
    }
}

void Widget::slotDmmOpened()
{
    ui->actionConnect->setEnabled(false);
    ui->actionDisconnect->setEnabled(!ui->actionConnect->isEnabled());
    // The signal itself says the link is open. A driver repeating opened()
    // must not hide Stop from a running recording.
    ui->actionStart->setEnabled(activeItemIsMeasurement() && !isAcquiring());
    ui->actionStop->setEnabled(isAcquiring());
    ui->actionSyncTime->setEnabled(meter() && meter()->hasClock());
}

void Widget::slotDmmClosed()
{
    ui->actionConnect->setEnabled(true);
    ui->actionDisconnect->setEnabled(!ui->actionConnect->isEnabled());
    ui->actionStart->setEnabled(false);
    ui->actionStop->setEnabled(false);
    ui->actionSyncTime->setEnabled(false);
    if (meter())
        meter()->stopAcquisition();
    syncViews();
    // Readings that arrived stay with the Store Data item.
    if (m_downloadDialog)
        m_downloadDialog->finish();
}

void Widget::slotUSBRefreshed()
{
    // An open link is never opened again.
    ui->actionConnect->setEnabled(converterPresent() && !dmmIsOpen());
}

// A reading handed to the window goes the way of the driver's own: into the
// recording core, which owns it from here on.
void Widget::slotDmmDisplay(const DmmData *data)
{
    if (meter())
        meter()->takeLiveReading(data);
    else
        delete data;
}

void Widget::on_actionStart_triggered()
{
    if (!meter() || !meter()->startAcquisition(activeItemData()))
        return;
    ui->actionStart->setEnabled(false);
    ui->actionStop->setEnabled(true);
}

void Widget::on_actionStop_triggered()
{
    syncViews(); // show every reading recorded before the stop
    resetAcquisition();
}

void Widget::resetAcquisition()
{
    if (meter())
        meter()->stopAcquisition();
    ui->actionStart->setEnabled(startAllowed());
    ui->actionStop->setEnabled(false);
}
