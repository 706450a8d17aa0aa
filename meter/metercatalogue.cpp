#include "metercatalogue.h"

#include "idmm.h"
#include "imydmm.h"
#include "pluginscan.h"
#include "serialdeviceinf.h"
#include "serialrs232virinf.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QJsonArray>
#include <QJsonObject>
#include <QPluginLoader>
#include <QRegularExpression>
#include <QSerialPortInfo>
#include <QTimer>

#include <algorithm>

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("MeterCatalogue", text);
}

QString usbIdText(quint16 vendorId, quint16 productId)
{
    return QStringLiteral("%1:%2")
        .arg(vendorId, 4, 16, QLatin1Char('0'))
        .arg(productId, 4, 16, QLatin1Char('0'));
}

// A hexadecimal id as sysfs writes it ("1313\n"); -1 when unreadable.
int readHexFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    bool ok = false;
    const uint value = file.read(16).trimmed().toUInt(&ok, 16);
    return ok && value <= 0xFFFF ? int(value) : -1;
}

QList<SerialPortEntry> systemSerialPorts()
{
    QList<SerialPortEntry> entries;
    const QList<QSerialPortInfo> ports = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo &port : ports) {
        SerialPortEntry e;
        e.path = port.systemLocation();
        e.hasUsbIds = port.hasVendorIdentifier() && port.hasProductIdentifier();
        e.vendorId = port.vendorIdentifier();
        e.productId = port.productIdentifier();
        e.description = port.description();
        entries << e;
    }
    return entries;
}

bool isKv930Interface(const QString &iid)
{
    return iid == QLatin1String(IDmm_iid) || iid == QLatin1String(IMyDmm_iid) ||
           iid == QLatin1String(SerialDeviceInf_iid) || iid == QLatin1String(SerialRS232VirInf_iid);
}

// Reads the driver's declaration; false with *problem when it cannot be used.
bool readMetadata(const QJsonObject &data, MeterDriverInfo *info, QString *problem)
{
    static const QRegularExpression name(QStringLiteral("^[A-Za-z0-9][A-Za-z0-9_.-]{0,63}$"));
    info->name = data.value(QLatin1String("driver")).toString();
    if (!name.match(info->name).hasMatch()) {
        *problem = info->name.isEmpty() ? tr("no driver name in its metadata")
                                        : tr("\"%1\" is not a driver name").arg(info->name);
        return false;
    }
    info->description = data.value(QLatin1String("description")).toString().simplified();
    QStringList bad;
    const QJsonArray transports = data.value(QLatin1String("transports")).toArray();
    for (const QJsonValue &t : transports) {
        const QString text = t.toString();
        MeterAddress::Kind kind = MeterAddress::None;
        for (MeterAddress::Kind k : {MeterAddress::UsbTmc, MeterAddress::Serial, MeterAddress::Tcp})
            if (text == meterTransportName(k))
                kind = k;
        if (kind == MeterAddress::None)
            bad << tr("unknown transport \"%1\"").arg(text);
        else if (!info->transports.contains(kind))
            info->transports << kind;
    }
    static const QRegularExpression usbId(QStringLiteral("^([0-9A-Fa-f]{4}):([0-9A-Fa-f]{4})$"));
    const QJsonArray ids = data.value(QLatin1String("usb")).toArray();
    for (const QJsonValue &id : ids) {
        const QRegularExpressionMatch m = usbId.match(id.toString());
        if (m.hasMatch())
            info->usbIds << qMakePair(quint16(m.captured(1).toUInt(nullptr, 16)),
                                      quint16(m.captured(2).toUInt(nullptr, 16)));
        else
            bad << tr("\"%1\" is not a USB id (vvvv:pppp)").arg(id.toString());
    }
    info->storedData = data.value(QLatin1String("storedData")).toBool();
    info->clock = data.value(QLatin1String("clock")).toBool();
    info->channels = qMax(1, data.value(QLatin1String("channels")).toInt(1));
    const QJsonArray settings = data.value(QLatin1String("settings")).toArray();
    info->takesRate = settings.contains(QLatin1String("rate"));
    info->takesWavelength = settings.contains(QLatin1String("wavelength"));
    // The usable rest of a declaration stands; what was skipped is said.
    if (!bad.isEmpty())
        *problem = bad.join(QStringLiteral("; "));
    return true;
}

} // namespace

bool MeterDriverInfo::acceptsUsb(quint16 vendorId, quint16 productId) const
{
    return usbIds.contains(qMakePair(vendorId, productId));
}

QString MeterDriverInfo::transportText() const
{
    QStringList names;
    for (MeterAddress::Kind k : transports)
        names << meterTransportName(k);
    return names.join(tr(" or "));
}

MeterCatalogue::MeterCatalogue(const QString &driverFolder, DeviceSources sources)
    : m_folder(QDir(driverFolder).absolutePath()), m_sources(std::move(sources))
{
    readFolder();
}

void MeterCatalogue::readFolder()
{
    const QString suffix = pluginLibrarySuffix();
    const QDir dir(m_folder);
    for (const QString &entry : pluginScanOrder(m_folder)) {
        const QString path = dir.absoluteFilePath(entry);
        const QFileInfo fileInfo(path);
        if (!fileInfo.isFile() || fileInfo.suffix().toLower() != suffix)
            continue;
        // Reading the metadata maps the file but runs none of its code.
        const QJsonObject meta = QPluginLoader(path).metaData();
        const QString iid = meta.value(QLatin1String("IID")).toString();
        const QJsonObject data = meta.value(QLatin1String("MetaData")).toObject();
        MeterDriverInfo info;
        if (iid == QLatin1String(IMeterDriver_iid)) {
            info.kind = MeterDriverInfo::Factory;
        } else if (isKv930Interface(iid)) {
            // A part of the KV930 set that does not name itself is bound by
            // scanPlugins() alone.
            if (data.isEmpty())
                continue;
            info.kind = MeterDriverInfo::Kv930Set;
        } else {
            continue; // not a meter driver
        }
        info.file = path;
        QString problem;
        const bool usable = readMetadata(data, &info, &problem);
        if (!problem.isEmpty())
            m_problems << tr("Meter driver %1: %2.").arg(path, problem);
        if (!usable)
            continue;
        auto same = std::find_if(m_drivers.begin(), m_drivers.end(), [&](const MeterDriverInfo &d) {
            return d.name.compare(info.name, Qt::CaseInsensitive) == 0;
        });
        if (same != m_drivers.end()) {
            m_problems << tr("Meter driver %1: the driver \"%2\" of %3 is replaced by it.")
                              .arg(path, info.name, same->file);
            *same = info;
        } else {
            m_drivers << info;
        }
    }
    std::sort(m_drivers.begin(), m_drivers.end(),
              [](const MeterDriverInfo &a, const MeterDriverInfo &b) { return a.name < b.name; });
}

const MeterDriverInfo *MeterCatalogue::driver(const QString &name) const
{
    for (const MeterDriverInfo &d : m_drivers)
        if (d.name.compare(name, Qt::CaseInsensitive) == 0)
            return &d;
    return nullptr;
}

QList<SerialPortEntry> MeterCatalogue::serialPorts() const
{
    return m_sources.serialPorts ? m_sources.serialPorts() : systemSerialPorts();
}

QList<QPair<QString, QPair<int, int>>> MeterCatalogue::usbTmcNodes() const
{
    QList<QPair<QString, QPair<int, int>>> nodes;
    static const QRegularExpression node(QStringLiteral("^usbtmc[0-9]+$"));
    const QDir dev(m_sources.devDir);
    QStringList names = dev.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot);
    // usbtmc2 before usbtmc10.
    std::sort(names.begin(), names.end(), [](const QString &a, const QString &b) {
        return a.size() != b.size() ? a.size() < b.size() : a < b;
    });
    for (const QString &name : names) {
        if (!node.match(name).hasMatch())
            continue;
        // The node's USB interface sits below the device that carries the ids.
        const QString interfaceDir =
            QFileInfo(m_sources.sysDir + QStringLiteral("/class/usbmisc/") + name +
                      QStringLiteral("/device"))
                .canonicalFilePath();
        int vendorId = -1;
        int productId = -1;
        if (!interfaceDir.isEmpty()) {
            vendorId = readHexFile(interfaceDir + QStringLiteral("/../idVendor"));
            productId = readHexFile(interfaceDir + QStringLiteral("/../idProduct"));
        }
        nodes << qMakePair(dev.absoluteFilePath(name), qMakePair(vendorId, productId));
    }
    return nodes;
}

QList<DetectedMeter> MeterCatalogue::detect(bool allSerialPorts) const
{
    QList<DetectedMeter> found;
    auto add = [&found](const MeterDriverInfo &d, MeterAddress::Kind kind, const QString &path,
                        const QString &where) {
        DetectedMeter m;
        m.meterId.driver = d.name;
        m.meterId.address.kind = kind;
        m.meterId.address.device = path;
        m.meterId.address.text = MeterId::addressToString(m.meterId.address);
        m.description =
            d.description.isEmpty() ? where : QStringLiteral("%1 (%2)").arg(d.description, where);
        found << m;
    };
    bool anyUsbTmcDriver = false;
    bool anySerialDriver = false;
    for (const MeterDriverInfo &d : m_drivers) {
        anyUsbTmcDriver |= d.kind == MeterDriverInfo::Factory && d.accepts(MeterAddress::UsbTmc);
        anySerialDriver |= d.kind == MeterDriverInfo::Factory && d.accepts(MeterAddress::Serial);
    }
    const auto nodes = anyUsbTmcDriver ? usbTmcNodes() : decltype(usbTmcNodes())();
    const QList<SerialPortEntry> ports = anySerialDriver ? serialPorts() : QList<SerialPortEntry>();
    for (const MeterDriverInfo &d : m_drivers) {
        if (d.kind != MeterDriverInfo::Factory)
            continue;
        if (d.accepts(MeterAddress::UsbTmc)) {
            for (const auto &n : nodes) {
                const bool known = n.second.first >= 0 && n.second.second >= 0;
                // A node whose ids cannot be read may be any USB-TMC meter.
                if (known && !d.acceptsUsb(quint16(n.second.first), quint16(n.second.second)))
                    continue;
                add(d, MeterAddress::UsbTmc, n.first,
                    known ? tr("USB %1 at %2")
                                .arg(usbIdText(quint16(n.second.first), quint16(n.second.second)),
                                     n.first)
                          : tr("USB-TMC device %1").arg(n.first));
            }
        }
        if (d.accepts(MeterAddress::Serial)) {
            for (const SerialPortEntry &p : ports) {
                const bool matches = p.hasUsbIds && d.acceptsUsb(p.vendorId, p.productId);
                if (matches)
                    add(d, MeterAddress::Serial, p.path,
                        tr("USB %1 at %2").arg(usbIdText(p.vendorId, p.productId), p.path));
                else if (allSerialPorts)
                    add(d, MeterAddress::Serial, p.path,
                        p.description.isEmpty()
                            ? tr("serial port %1").arg(p.path)
                            : tr("serial port %1, %2").arg(p.path, p.description));
            }
        }
    }
    return found;
}

QStringList MeterCatalogue::listLines() const
{
    QStringList lines;
    for (const MeterDriverInfo &d : m_drivers) {
        QString description = d.description;
        if (d.needsAddress()) {
            description += (description.isEmpty() ? QString() : QStringLiteral(" ")) +
                           tr("(address: %1)").arg(d.transportText());
        }
        lines << d.name + QLatin1Char('\t') + description;
    }
    for (const DetectedMeter &m : detect())
        lines << m.meterId.toString() + QLatin1Char('\t') + m.description;
    return lines;
}

bool MeterCatalogue::resolve(MeterId &meterId, QString *errorMessage) const
{
    return check(meterId, true, errorMessage);
}

bool MeterCatalogue::validate(const MeterId &meterId, QString *errorMessage) const
{
    MeterId copy = meterId;
    return check(copy, false, errorMessage);
}

bool MeterCatalogue::check(MeterId &meterId, bool findDevice, QString *errorMessage) const
{
    auto fail = [errorMessage](const QString &message) {
        if (errorMessage)
            *errorMessage = message;
        return false;
    };
    if (!meterId.isValid())
        return fail(tr("No meter given."));
    const MeterDriverInfo *d = driver(meterId.driver);
    if (!d) {
        QStringList names;
        for (const MeterDriverInfo &known : m_drivers)
            names << known.name;
        return fail(names.isEmpty()
                        ? tr("No meter driver \"%1\": %2 holds no meter drivers.")
                              .arg(meterId.driver, m_folder)
                        : tr("No meter driver \"%1\" in %2 (there are: %3).")
                              .arg(meterId.driver, m_folder, names.join(QStringLiteral(", "))));
    }
    meterId.driver = d->name;
    if (findDevice && meterId.address.kind == MeterAddress::None && d->needsAddress()) {
        for (const DetectedMeter &m : detect()) {
            if (m.meterId.driver == d->name) {
                meterId.address = m.meterId.address;
                break;
            }
        }
        if (meterId.address.kind == MeterAddress::None)
            return fail(tr("No %1 meter found; give its address (%2), as in %1@ADDRESS.")
                            .arg(d->name, d->transportText()));
    }
    if (meterId.address.kind != MeterAddress::None && !d->accepts(meterId.address.kind)) {
        if (!d->needsAddress())
            return fail(tr("%1 takes no address.").arg(d->name));
        return fail(
            tr("%1 does not talk over %2 (it takes %3).")
                .arg(d->name, meterTransportName(meterId.address.kind), d->transportText()));
    }
    if (meterId.channel > d->channels) {
        return fail(d->channels == 1
                        ? tr("%1 has one channel only.").arg(d->name)
                        : tr("%1 has the channels 1 to %2.").arg(d->name).arg(d->channels));
    }
    return true;
}

bool MeterCatalogue::isPresent(const MeterId &meterId) const
{
    MeterId resolved = meterId;
    if (!resolve(resolved))
        return false;
    switch (resolved.address.kind) {
    case MeterAddress::UsbTmc:
    case MeterAddress::Serial:
        return QFileInfo::exists(resolved.address.device);
    case MeterAddress::Tcp:
    case MeterAddress::None:
        break;
    }
    return true;
}

std::unique_ptr<IMeter> MeterCatalogue::createMeter(const MeterId &meterId,
                                                    const MeterOptions &options,
                                                    QString *errorMessage) const
{
    MeterId resolved = meterId;
    if (!resolve(resolved, errorMessage))
        return nullptr;
    const MeterDriverInfo *d = driver(resolved.driver);
    auto fail = [errorMessage](const QString &message) {
        if (errorMessage)
            *errorMessage = message;
        return nullptr;
    };
    if (d->kind != MeterDriverInfo::Factory)
        return fail(tr("%1 is the KV930 driver set, connected as the KV930 is.").arg(d->name));
    // The loader goes; the library stays loaded for the meters it makes.
    QPluginLoader loader(d->file);
    QObject *root = loader.instance();
    auto *factory = qobject_cast<IMeterDriver *>(root);
    if (!factory)
        return fail(tr("Cannot load the meter driver %1: %2").arg(d->file, loader.errorString()));
    QString why;
    std::unique_ptr<IMeter> meter(
        factory->createMeter(resolved.address, resolved.channel, options, &why));
    if (!meter)
        return fail(why.isEmpty()
                        ? tr("The driver %1 cannot make %2.").arg(d->name, resolved.toString())
                        : why);
    return meter;
}

MeterDeviceWatcher::MeterDeviceWatcher(const QString &devDir, QObject *parent)
    : QObject(parent), m_watcher(new QFileSystemWatcher(this)), m_settle(new QTimer(this))
{
    m_settle->setSingleShot(true);
    m_settle->setInterval(500);
    connect(m_settle, &QTimer::timeout, this, &MeterDeviceWatcher::devicesChanged);
    connect(m_watcher, &QFileSystemWatcher::directoryChanged, m_settle,
            static_cast<void (QTimer::*)()>(&QTimer::start));
    m_watcher->addPath(devDir);
}

MeterDeviceWatcher::~MeterDeviceWatcher() = default;
