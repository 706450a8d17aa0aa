// Meter link: plugin binding, connect/disconnect and acquisition control.
#include "widget.h"

#include "dlgdownload.h"
#include "idmm.h"
#include "imydmm.h"
#include "pluginscan.h"
#include "prompt.h"
#include "serialdeviceinf.h"
#include "serialrs232virinf.h"
#include "tvitemmodel.h"
#include "widgetform.h"

#include <QAction>
#include <QItemSelectionModel>
#include <QSerialPortInfo>

namespace {
// The meter's USB-serial converter.
constexpr quint16 ConverterVendorId = 0x1A86;
constexpr quint16 ConverterProductId = 0x7523;
} // namespace

bool Widget::loadPlugins()
{
    const PluginBinding binding = m_startOptions.driverFolder.isEmpty()
                                      ? scanPlugins(m_applicationDir)
                                      : scanPluginFolder(m_startOptions.driverFolder);
    serialDevice = binding.serialDevice;
    rs232Vir = binding.rs232Vir;
    dmm = binding.dmm;
    myDmm = binding.myDmm;
    m_missingInterfaces = binding.missing().join(QStringLiteral(", "));
    m_scannedDirectory = binding.scannedDirectory;
    return binding.complete();
}

bool Widget::pluginsComplete() const
{
    return dmm && myDmm && serialDevice && rs232Vir;
}

void Widget::initConnec()
{
    // Plugin signals are looked up by signature, as drivers are built apart from us.
    if (dmm && dmm->object()) {
        QObject *meter = dmm->object();
        connect(meter, SIGNAL(opened()), this, SLOT(slotDmmOpened()));
        connect(meter, SIGNAL(closed()), this, SLOT(slotDmmClosed()));
        connect(meter, SIGNAL(display(const DmmData *)), this,
                SLOT(slotDmmDisplay(const DmmData *)));
        connect(meter, SIGNAL(displayStore(const DmmData *)), this,
                SLOT(slotDisplayStore(const DmmData *)));
        connect(meter, SIGNAL(storeNum(int, int)), this, SLOT(slotStoreNum(int, int)));
    }
    if (serialDevice && serialDevice->object())
        connect(serialDevice->object(), SIGNAL(usbRefreshed()), this, SLOT(slotUSBRefreshed()));

    connect(itemModel, &TvItemModel::editDataChanged, this, &Widget::slotItemModeleditDataChanged);
    connect(ui->tvItems->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            &Widget::slotCurrentRowChanged);
    connect(ui->actionConnect, &QAction::triggered, this, &Widget::slotAction);
    connect(ui->actionDisconnect, &QAction::triggered, this, &Widget::slotAction);
    connect(ui->actionClose, &QAction::triggered, this, &Widget::slotAction);
}

bool Widget::converterPresent() const
{
    return rs232Vir && !rs232Vir->findPort(ConverterVendorId, ConverterProductId).isNull();
}

bool Widget::dmmIsOpen() const
{
    return dmm && dmm->isOpen();
}

// Live readings are recorded only into a measurement item: Start is offered
// only while one is active and the link is open.
bool Widget::activeItemIsMeasurement() const
{
    return activeItem && activeItem->type() == ItemData::Measure;
}

bool Widget::startAllowed() const
{
    return dmmIsOpen() && activeItemIsMeasurement();
}

ItemData *Widget::storeItem() const
{
    return TvItemModel::itemDataAt(itemModel->index(0, 0));
}

void Widget::slotAction()
{
    auto *action = qobject_cast<QAction *>(sender());
    if (!action)
        return;
    if (action == ui->actionConnect) {
        if (!dmm)
            return;
        if (!dmm->open(serialDevice))
            m_prompt->critical(this, tr("Failed to open device."));
    } else if (action == ui->actionDisconnect) {
        if (dmm)
            dmm->close();
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
    ui->actionStart->setEnabled(activeItemIsMeasurement() && !acquiring);
    ui->actionStop->setEnabled(acquiring);
    ui->actionSyncTime->setEnabled(true);
}

void Widget::slotDmmClosed()
{
    ui->actionConnect->setEnabled(true);
    ui->actionDisconnect->setEnabled(!ui->actionConnect->isEnabled());
    ui->actionStart->setEnabled(false);
    ui->actionStop->setEnabled(false);
    ui->actionSyncTime->setEnabled(false);
    acquiring = false;
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

void Widget::on_actionStart_triggered()
{
    if (!activeItemIsMeasurement())
        return;
    acquiring = true;
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
    acquiring = false;
    ui->actionStart->setEnabled(startAllowed());
    ui->actionStop->setEnabled(false);
}
