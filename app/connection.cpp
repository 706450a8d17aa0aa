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

#include <algorithm>

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
    if (MeterLink *link = meter())
        bindMeterSignals(link);

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
        // The chosen meter is asked whatever state it says it is in (a link
        // closing is opened again); every other one that is there and closed.
        for (MeterLink *link : m_recording->meters()) {
            if (link != meter() && (link->isOpen() || !link->isPresent()))
                continue;
            if (!link->open())
                m_prompt->critical(this, tr("Failed to open device."));
        }
    } else if (action == ui->actionDisconnect) {
        for (MeterLink *link : m_recording->meters())
            link->close();
    } else if (action == ui->actionClose) {
        close();
    }
}

void Widget::slotDmmOpened()
{
    if (severalMeters()) {
        if (m_recordingAll)
            startMeter(meter());
        updateMeterActions();
        return;
    }
    m_selectMeterAction->setEnabled(false);
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
    if (meter())
        meter()->stopAcquisition();
    if (severalMeters()) {
        updateMeterActions();
    } else {
        ui->actionConnect->setEnabled(true);
        ui->actionDisconnect->setEnabled(!ui->actionConnect->isEnabled());
        ui->actionStart->setEnabled(false);
        ui->actionStop->setEnabled(false);
        ui->actionSyncTime->setEnabled(false);
        m_selectMeterAction->setEnabled(m_recording->catalogue() != nullptr);
    }
    syncViews();
    // Readings that arrived stay with the Store Data item.
    if (m_downloadDialog)
        m_downloadDialog->finish();
}

void Widget::slotUSBRefreshed()
{
    if (severalMeters()) {
        updateMeterActions();
        return;
    }
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
    if (severalMeters()) {
        startAllMeters();
        return;
    }
    if (!meter() || !meter()->startAcquisition(activeItemData()))
        return;
    ui->actionStart->setEnabled(false);
    ui->actionStop->setEnabled(true);
}

void Widget::on_actionStop_triggered()
{
    syncViews(); // show every reading recorded before the stop
    stopAllMeters();
    resetAcquisition();
}

void Widget::resetAcquisition()
{
    // With several meters, each records into an item of its own: looking at
    // another item or renaming one goes on recording.
    if (severalMeters()) {
        updateMeterActions();
        return;
    }
    if (meter())
        meter()->stopAcquisition();
    ui->actionStart->setEnabled(startAllowed());
    ui->actionStop->setEnabled(false);
}

bool Widget::isAcquiring() const
{
    const QList<MeterLink *> &meters = m_recording->meters();
    return std::any_of(meters.cbegin(), meters.cend(),
                       [](const MeterLink *link) { return link->isAcquiring(); });
}
