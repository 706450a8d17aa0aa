// SPDX-License-Identifier: MIT
#pragma once

#include <QDateTime>
#include <QObject>
#include <QPointer>
#include <QString>

#include "imeterdriver.h"

#include <functional>
#include <memory>

class DmmData;
class IDmm;
class IMyDmm;
class ItemData;
class ItemTree;
class SerialDeviceInf;
class SerialRS232VirInf;

// One meter of a recording: its driver, the state of its link and its
// acquisition. Readings the driver emits land here and go straight into the
// target item of the tree (live readings while acquiring, stored readings
// while a download runs); everything else about them is the tree's listeners'
// business.
//
// The driver is reached through the plugin interfaces; its signals are
// connected by signature, as drivers are built apart from the program.
class MeterLink : public QObject
{
    Q_OBJECT
public:
    // What drives one meter. The interfaces belong to their plugin (or to
    // owned, when the link made the meter object for itself).
    struct Parts
    {
        IDmm *dmm = nullptr;                 // the KV930's link
        IMeter *meter = nullptr;             // or a meter named by an ID
        IMyDmm *myDmm = nullptr;             // memory and clock; null when the meter has none
        SerialDeviceInf *device = nullptr;   // handed to IDmm::open
        SerialRS232VirInf *finder = nullptr; // for presence, with the ids below
        std::unique_ptr<IMeter> owned;       // the meter, when made for this link
        std::function<bool()> present;       // overrides the finder's check when set
        QString meterId;                     // how the meter is named, e.g. "virtual"
        QString itemName;                    // what its own item is called ("pm100 1550")
        bool hasStoredData = true;
        bool hasClock = true;
    };

    MeterLink(Parts parts, ItemTree &tree, QObject *parent = nullptr);
    // Closes a link that is still open.
    ~MeterLink() override;

    QString meterId() const { return m_parts.meterId; }
    // The name of an item of its own, as a meter among several records into one.
    QString itemName() const
    {
        return m_parts.itemName.isEmpty() ? m_parts.meterId : m_parts.itemName;
    }
    bool hasStoredData() const { return m_parts.myDmm && m_parts.hasStoredData; }
    bool hasClock() const { return m_parts.myDmm && m_parts.hasClock; }

    // The meter is attached (for the KV930: its USB-serial converter is there).
    bool isPresent() const;
    // Starts opening the link; opened() follows. False when the driver refused at once.
    bool open();
    void close();
    bool isOpen() const;

    // Live readings go into target from now on, until stopAcquisition, the
    // link closing or the target leaving the tree. Only measurement items
    // take live readings.
    bool startAcquisition(ItemData *target);
    void stopAcquisition();
    bool isAcquiring() const { return m_target != nullptr; }
    ItemData *target() const { return m_target; }

    // Asks the meter for its memory; stored readings then go into the tree's
    // store item while it is the active item. False without memory or link.
    bool requestStoreData();
    void setMeterTime(const QDateTime &dateTime);

public slots:
    // A reading from the driver; ownership passes here (null: a driver fault, logged).
    void takeLiveReading(const DmmData *data);
    void takeStoredReading(const DmmData *data);

signals:
    void opened();
    void closed();
    // The set of attached devices may have changed (hot-plug).
    void presenceMayHaveChanged();
    void storeProgress(int total, int sent);
    // The link failed or dropped; message says why, once.
    void linkFailed(const QString &message);
    void acquisitionChanged(bool acquiring);

private slots:
    void onOpened();
    void onClosed();
    void onStoreNum(int total, int sent);
    void onUsbRefreshed();
    void onLinkLost(const QString &message);

private:
    Parts m_parts;
    ItemTree &m_tree;
    ItemData *m_target = nullptr;
    // close() was asked for and closed() has not come yet: a link closes
    // once, however often it is asked (a driver may answer each request).
    bool m_closing = false;
};
