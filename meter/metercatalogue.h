#pragma once

#include "imeterdriver.h"
#include "meterid.h"

#include <QList>
#include <QObject>
#include <QPair>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

class QFileSystemWatcher;
class QTimer;

// What a driver plugin says of itself in its metadata (see imeterdriver.h).
struct MeterDriverInfo
{
    enum Kind
    {
        Factory, // offers IMeterDriver: any number of meters
        Kv930Set // one of the KV930's four interfaces, bound by scanPlugins()
    };
    Kind kind = Factory;
    QString name;
    QString description;
    QList<MeterAddress::Kind> transports; // empty: takes no address
    QList<QPair<quint16, quint16>> usbIds;
    bool storedData = false;
    bool clock = false;
    int channels = 1;
    bool takesRate = false;
    bool takesWavelength = false;
    QString file; // the plugin library

    bool needsAddress() const { return !transports.isEmpty(); }
    bool accepts(MeterAddress::Kind transport) const { return transports.contains(transport); }
    bool acceptsUsb(quint16 vendorId, quint16 productId) const;
    // "usbtmc or serial"
    QString transportText() const;
};

// A meter found on this machine now, named by its ID.
struct DetectedMeter
{
    MeterId meterId;
    QString description; // the driver's, with where the device is
};

// A serial port as the catalogue needs it (QSerialPortInfo cannot be made up
// by tests).
struct SerialPortEntry
{
    QString path; // "/dev/ttyACM0"
    bool hasUsbIds = false;
    quint16 vendorId = 0;
    quint16 productId = 0;
    QString description;
};

// Where devices are looked for; the defaults are the machine's own.
struct DeviceSources
{
    QString devDir = QStringLiteral("/dev");             // usbtmcN nodes
    QString sysDir = QStringLiteral("/sys");             // their USB ids
    std::function<QList<SerialPortEntry>()> serialPorts; // default: QSerialPortInfo
};

// The meter drivers of a folder, read from their metadata without loading
// them, and the meters that can be named now: drivers in the folder, devices
// detected on this machine, and what an ID refers to. No widgets.
class MeterCatalogue
{
public:
    explicit MeterCatalogue(const QString &driverFolder, DeviceSources sources = DeviceSources());

    QString folder() const { return m_folder; }
    // In name order; each name once (the last library in scan order wins).
    const QList<MeterDriverInfo> &drivers() const { return m_drivers; }
    const MeterDriverInfo *driver(const QString &name) const;
    // One line per library whose metadata could not be used, for the log.
    QStringList problems() const { return m_problems; }

    // Meters present now: for each driver with USB ids, the USB-TMC nodes and
    // serial ports carrying one of them. With allSerialPorts, also every other
    // serial port for each driver that talks over serial.
    QList<DetectedMeter> detect(bool allSerialPorts = false) const;
    // The lines of --list-meters: "ID<TAB>description", each driver by its
    // name first, then every meter detected now.
    QStringList listLines() const;

    // Checks meterId against the drivers (known driver, transport it takes,
    // channel in range) and fills in a missing address with the first meter of
    // that driver detected now. False with *errorMessage otherwise.
    bool resolve(MeterId &meterId, QString *errorMessage = nullptr) const;
    // The same checks without looking for a device: a driver that needs an
    // address may be named without one.
    bool validate(const MeterId &meterId, QString *errorMessage = nullptr) const;
    // Whether the meter can be connected now (Connect's enabled state): its
    // device node or port exists. A TCP meter counts as present (whether it
    // answers shows when connecting); a KV930-set driver too, as its converter
    // is checked through the set's own port finder.
    bool isPresent(const MeterId &meterId) const;

    // Loads the driver's library (it stays loaded) and makes the meter. Null
    // with *errorMessage when the meterId does not resolve, the driver is a KV930
    // set, or the plugin refuses. The caller owns the meter.
    std::unique_ptr<IMeter> createMeter(const MeterId &meterId, const MeterOptions &options,
                                        QString *errorMessage = nullptr) const;

private:
    void readFolder();
    bool check(MeterId &meterId, bool findDevice, QString *errorMessage) const;
    QList<SerialPortEntry> serialPorts() const;
    QList<QPair<QString, QPair<int, int>>> usbTmcNodes() const; // path, ids (-1: unknown)

    QString m_folder;
    DeviceSources m_sources;
    QList<MeterDriverInfo> m_drivers;
    QStringList m_problems;
};

// Tells when meters may have come or gone: a device node appeared in or
// left the device folder (USB-TMC nodes and serial ports alike), so that
// Connect's enabled state can be checked again. Bursts of changes (a node
// made, then given its permissions) come as one signal, 500 ms after the last.
class MeterDeviceWatcher : public QObject
{
    Q_OBJECT
public:
    explicit MeterDeviceWatcher(const QString &devDir = QStringLiteral("/dev"),
                                QObject *parent = nullptr);
    ~MeterDeviceWatcher() override;

signals:
    void devicesChanged();

private:
    QFileSystemWatcher *m_watcher;
    QTimer *m_settle;
};
