#pragma once

#include "serialrs232virinf.h"

#include <QList>
#include <QObject>
#include <QSerialPortInfo>
#include <QStringList>

#include <functional>
#include <memory>

class QTimer;

// A driver's port finder over QSerialPortInfo: findPort() looks through the
// ports the system lists now for a USB vendor and product id. usbRefreshed() is
// emitted when a serial port comes or goes: from libudev's monitor on Linux
// (add and remove events of the tty subsystem), by looking at the port list
// once a second elsewhere, or where the monitor cannot be had.
class SerialPortFinder : public QObject, public SerialRS232VirInf
{
    Q_OBJECT
    Q_INTERFACES(SerialRS232VirInf)

public:
    using PortLister = std::function<QList<QSerialPortInfo>()>;
    enum class Watch
    {
        Automatic, // the udev monitor where there is one, else polling
        Poll,      // compare the port list at every poll interval
        None,      // only when refresh() is called
    };

    explicit SerialPortFinder(QObject *parent = nullptr);
    // Another source of the port list (tests, or a driver that filters ports).
    SerialPortFinder(PortLister lister, Watch watch, QObject *parent = nullptr);
    ~SerialPortFinder() override;

    QSerialPortInfo findPort(quint16 vendorId, quint16 productId) override;

    // How hot-plug is watched after construction: Poll, None, or Automatic
    // when the udev monitor is running.
    Watch watch() const { return m_watch; }
    // Applies to polling; 1000 ms by default.
    void setPollInterval(int ms);

public slots:
    // Looks at the port list now; emits usbRefreshed() when it changed.
    void refresh();

signals:
    void usbRefreshed();

private:
    class UdevMonitor;

    static QStringList signature(const QList<QSerialPortInfo> &ports);
    void startPolling();
    void udevEvent();

    PortLister m_lister;
    Watch m_watch = Watch::None;
    QStringList m_lastSeen;
    QTimer *m_pollTimer = nullptr;
    std::unique_ptr<UdevMonitor> m_udev;
};
