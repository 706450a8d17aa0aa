#include "serialportfinder.h"

#include <QSocketNotifier>
#include <QTimer>

#ifdef KV930_HAVE_UDEV
#include <libudev.h>
#endif

// The udev monitor: a netlink socket that reports devices as udev has set them
// up, so a port is listed by the time its event arrives.
class SerialPortFinder::UdevMonitor
{
public:
#ifdef KV930_HAVE_UDEV
    ~UdevMonitor()
    {
        notifier.reset();
        if (monitor)
            udev_monitor_unref(monitor);
        if (context)
            udev_unref(context);
    }

    bool start()
    {
        context = udev_new();
        if (!context)
            return false;
        // Without a running udev daemon (containers, chroots) no event ever
        // comes: the caller polls instead.
        udev_queue *queue = udev_queue_new(context);
        const bool active = queue && udev_queue_get_udev_is_active(queue);
        if (queue)
            udev_queue_unref(queue);
        if (!active)
            return false;
        monitor = udev_monitor_new_from_netlink(context, "udev");
        if (!monitor)
            return false;
        if (udev_monitor_filter_add_match_subsystem_devtype(monitor, "tty", nullptr) < 0 ||
            udev_monitor_enable_receiving(monitor) < 0)
            return false;
        const int fd = udev_monitor_get_fd(monitor);
        if (fd < 0)
            return false;
        notifier = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
        return true;
    }

    // True for a port that came or went.
    bool takeEvent()
    {
        udev_device *device = udev_monitor_receive_device(monitor);
        if (!device)
            return false;
        const char *action = udev_device_get_action(device);
        const QByteArray what = action ? QByteArray(action) : QByteArray();
        udev_device_unref(device);
        return what == "add" || what == "remove";
    }

    udev *context = nullptr;
    udev_monitor *monitor = nullptr;
#else
    bool start()
    {
        return false;
    }
    bool takeEvent()
    {
        return false;
    }
#endif
    std::unique_ptr<QSocketNotifier> notifier;
};

SerialPortFinder::SerialPortFinder(QObject *parent)
    : SerialPortFinder(&QSerialPortInfo::availablePorts, Watch::Automatic, parent)
{
}

SerialPortFinder::SerialPortFinder(PortLister lister, Watch watch, QObject *parent)
    : QObject(parent), m_lister(std::move(lister)), m_watch(watch)
{
    if (!m_lister)
        m_lister = &QSerialPortInfo::availablePorts;
    m_lastSeen = signature(m_lister());

    if (m_watch == Watch::Automatic) {
        m_udev = std::make_unique<UdevMonitor>();
        if (m_udev->start()) {
            connect(m_udev->notifier.get(), &QSocketNotifier::activated, this,
                    &SerialPortFinder::udevEvent);
        } else {
            m_udev.reset();
            m_watch = Watch::Poll;
        }
    }
    if (m_watch == Watch::Poll)
        startPolling();
}

SerialPortFinder::~SerialPortFinder() = default;

void SerialPortFinder::startPolling()
{
    m_pollTimer = new QTimer(this);
    m_pollTimer->setInterval(1000);
    connect(m_pollTimer, &QTimer::timeout, this, &SerialPortFinder::refresh);
    m_pollTimer->start();
}

void SerialPortFinder::setPollInterval(int ms)
{
    if (m_pollTimer)
        m_pollTimer->setInterval(qMax(1, ms));
}

QSerialPortInfo SerialPortFinder::findPort(quint16 vendorId, quint16 productId)
{
    const QList<QSerialPortInfo> ports = m_lister();
    for (const QSerialPortInfo &port : ports) {
        if (port.hasVendorIdentifier() && port.hasProductIdentifier() &&
            port.vendorIdentifier() == vendorId && port.productIdentifier() == productId)
            return port;
    }
    return QSerialPortInfo();
}

QStringList SerialPortFinder::signature(const QList<QSerialPortInfo> &ports)
{
    // A port counts as the same while its place and its USB identity are.
    QStringList keys;
    for (const QSerialPortInfo &port : ports) {
        keys << QStringLiteral("%1|%2|%3|%4|%5")
                    .arg(port.systemLocation(),
                         port.hasVendorIdentifier() ? QString::number(port.vendorIdentifier())
                                                    : QString(),
                         port.hasProductIdentifier() ? QString::number(port.productIdentifier())
                                                     : QString(),
                         port.serialNumber(), port.portName());
    }
    keys.sort();
    return keys;
}

void SerialPortFinder::refresh()
{
    QStringList now = signature(m_lister());
    if (now == m_lastSeen)
        return;
    m_lastSeen = std::move(now);
    emit usbRefreshed();
}

void SerialPortFinder::udevEvent()
{
    if (!m_udev || !m_udev->takeEvent())
        return;
    // Every tty that comes or goes is news, even one the list does not show
    // yet; the list is kept so that refresh() compares against today's.
    m_lastSeen = signature(m_lister());
    emit usbRefreshed();
}
