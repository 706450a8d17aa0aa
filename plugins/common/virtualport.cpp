#include "virtualport.h"

#include <QList>
#include <QMutex>
#include <QString>

// QSerialPortInfo keeps its fields in a private record and has no public way to
// build one for a port the system does not list. Its private constructor is
// reachable from the free functions it befriends, so this file defines the
// record with the layout of qserialportinfo_p.h (the same in Qt 5.15 and 6.4):
// five strings, two 16-bit ids, two flags. Qt copies the record into its own
// allocation and frees that copy itself, so only the layout has to match.
class __attribute__((visibility("hidden"))) QSerialPortInfoPrivate
{
public:
    QString portName;
    QString device;
    QString description;
    QString manufacturer;
    QString serialNumber;

    quint16 vendorIdentifier = 0;
    quint16 productIdentifier = 0;

    bool hasVendorIdentifier = false;
    bool hasProductIdentifier = false;
};

static_assert(sizeof(QSerialPortInfoPrivate) == 5 * sizeof(QString) + 2 * sizeof(quint16) + 4,
              "QSerialPortInfoPrivate must keep Qt's layout");

namespace {
QMutex g_portMutex;
QString g_requestedName;
quint16 g_requestedVendor = 0;
quint16 g_requestedProduct = 0;
} // namespace

// One of the functions QSerialPortInfo declares as friend. Qt's own definition
// is internal to the serial port library, and this one stays internal to the
// driver, so neither can take the other's place.
__attribute__((visibility("hidden"))) QList<QSerialPortInfo>
availablePortsByFiltersOfDevices(bool &ok)
{
    QSerialPortInfoPrivate record;
    record.portName = g_requestedName;
    record.device = QStringLiteral("/dev/") + g_requestedName;
    record.description = QStringLiteral("USB-SERIAL CH340 (virtual)");
    record.manufacturer = QStringLiteral("KV930 virtual meter");
    record.vendorIdentifier = g_requestedVendor;
    record.productIdentifier = g_requestedProduct;
    record.hasVendorIdentifier = true;
    record.hasProductIdentifier = true;
    ok = true;
    return {QSerialPortInfo(record)};
}

QSerialPortInfo listedPort(quint16 vendorId, quint16 productId)
{
    const QList<QSerialPortInfo> ports = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo &port : ports) {
        if (port.hasVendorIdentifier() && port.hasProductIdentifier() &&
            port.vendorIdentifier() == vendorId && port.productIdentifier() == productId)
            return port;
    }
    return QSerialPortInfo();
}

QSerialPortInfo virtualConverterPort(const QString &portName)
{
    return virtualUsbPort(portName, kConverterVendorId, kConverterProductId);
}

QSerialPortInfo virtualUsbPort(const QString &portName, quint16 vendorId, quint16 productId)
{
    QMutexLocker lock(&g_portMutex);
    g_requestedName = portName;
    g_requestedVendor = vendorId;
    g_requestedProduct = productId;
    bool ok = false;
    const QList<QSerialPortInfo> ports = availablePortsByFiltersOfDevices(ok);
    g_requestedName.clear();
    return ok && !ports.isEmpty() ? ports.first() : QSerialPortInfo();
}
