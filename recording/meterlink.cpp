// SPDX-License-Identifier: MIT
#include "meterlink.h"

#include "dmmdata.h"
#include "idmm.h"
#include "imeterdriver.h"
#include "imydmm.h"
#include "itemtree.h"
#include "serialdeviceinf.h"
#include "serialrs232virinf.h"

#include <QSerialPortInfo>

namespace {
// The KV930's USB-serial converter.
constexpr quint16 ConverterVendorId = 0x1A86;
constexpr quint16 ConverterProductId = 0x7523;

bool hasSignal(const QObject *object, const char *signature)
{
    return object->metaObject()->indexOfSignal(QMetaObject::normalizedSignature(signature)) >= 0;
}

QObject *meterObject(const MeterLink::Parts &parts)
{
    if (parts.meter)
        return parts.meter->object();
    return parts.dmm ? parts.dmm->object() : nullptr;
}
} // namespace

MeterLink::MeterLink(Parts parts, ItemTree &tree, QObject *parent)
    : QObject(parent), m_parts(std::move(parts)), m_tree(tree)
{
    if (QObject *meter = meterObject(m_parts)) {
        connect(meter, SIGNAL(opened()), this, SLOT(onOpened()));
        connect(meter, SIGNAL(closed()), this, SLOT(onClosed()));
        connect(meter, SIGNAL(display(const DmmData *)), this,
                SLOT(takeLiveReading(const DmmData *)));
        if (hasSignal(meter, "displayStore(const DmmData*)"))
            connect(meter, SIGNAL(displayStore(const DmmData *)), this,
                    SLOT(takeStoredReading(const DmmData *)));
        if (hasSignal(meter, "storeNum(int,int)"))
            connect(meter, SIGNAL(storeNum(int, int)), this, SLOT(onStoreNum(int, int)));
        // Drivers that can tell why their link failed say so with this signal.
        if (hasSignal(meter, "linkLost(QString)"))
            connect(meter, SIGNAL(linkLost(QString)), this, SLOT(onLinkLost(QString)));
    }
    if (m_parts.device && m_parts.device->object())
        connect(m_parts.device->object(), SIGNAL(usbRefreshed()), this, SLOT(onUsbRefreshed()));
    // An item leaving the tree takes no more readings.
    connect(&m_tree, &ItemTree::itemAboutToBeDeleted, this, [this](ItemData *item) {
        if (item == m_target)
            stopAcquisition();
    });
}

MeterLink::~MeterLink()
{
    // The plugin's objects outlive us: no signal of theirs may reach this one.
    if (QObject *meter = meterObject(m_parts))
        meter->disconnect(this);
    if (m_parts.device && m_parts.device->object())
        m_parts.device->object()->disconnect(this);
    if (isOpen() && !m_closing)
        close();
    // A meter made for this link goes with it (owned), after its link closed.
}

bool MeterLink::isPresent() const
{
    if (m_parts.present)
        return m_parts.present();
    return m_parts.finder &&
           !m_parts.finder->findPort(ConverterVendorId, ConverterProductId).isNull();
}

bool MeterLink::open()
{
    m_closing = false;
    if (m_parts.meter) {
        // Whether it worked comes later: opened() or linkLost().
        m_parts.meter->open();
        return true;
    }
    return m_parts.dmm && m_parts.dmm->open(m_parts.device);
}

void MeterLink::close()
{
    if (isOpen())
        m_closing = true;
    if (m_parts.meter)
        m_parts.meter->close();
    else if (m_parts.dmm)
        m_parts.dmm->close();
}

bool MeterLink::isOpen() const
{
    if (m_parts.meter)
        return m_parts.meter->isOpen();
    return m_parts.dmm && m_parts.dmm->isOpen();
}

bool MeterLink::startAcquisition(ItemData *target)
{
    if (!target || target->type() != ItemData::Measure || !m_tree.holds(target))
        return false;
    const bool was = isAcquiring();
    m_target = target;
    m_tree.setItemMeter(target, m_parts.meterId);
    if (!was)
        emit acquisitionChanged(true);
    return true;
}

void MeterLink::stopAcquisition()
{
    if (!m_target)
        return;
    m_target = nullptr;
    emit acquisitionChanged(false);
}

bool MeterLink::requestStoreData()
{
    if (!hasStoredData() || !isOpen())
        return false;
    m_parts.myDmm->requestStoreData();
    return true;
}

void MeterLink::setMeterTime(const QDateTime &dateTime)
{
    if (hasClock())
        m_parts.myDmm->setMeterTime(dateTime);
}

void MeterLink::takeLiveReading(const DmmData *data)
{
    if (!data) {
        qWarning("Meter driver fault (%s): display() carried no reading; ignored.",
                 qPrintable(m_parts.meterId));
        return;
    }
    // From here on the reading is ours: stored or deleted, never leaked.
    auto *reading = const_cast<DmmData *>(data);
    if (!m_target) {
        delete reading;
        return;
    }
    m_tree.appendReading(m_target, reading);
}

void MeterLink::takeStoredReading(const DmmData *data)
{
    if (!data) {
        qWarning("Meter driver fault (%s): displayStore() carried no reading; ignored.",
                 qPrintable(m_parts.meterId));
        return;
    }
    auto *reading = const_cast<DmmData *>(data);
    ItemData *store = m_tree.storeItem();
    if (m_tree.active() != store) {
        delete reading;
        return;
    }
    m_tree.appendReading(store, reading);
}

void MeterLink::onOpened()
{
    emit opened();
}

void MeterLink::onClosed()
{
    m_closing = false;
    stopAcquisition();
    emit closed();
}

void MeterLink::onStoreNum(int total, int sent)
{
    emit storeProgress(total, sent);
}

void MeterLink::onUsbRefreshed()
{
    emit presenceMayHaveChanged();
}

void MeterLink::onLinkLost(const QString &message)
{
    stopAcquisition();
    emit linkFailed(message);
}
