#include "virtualmeter.h"

#include "dmmdata.h"
#include "meterengine.h"
#include "virtualport.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QThread>

#ifdef Q_OS_UNIX
#include <dlfcn.h>
#endif

namespace {
// The folder this library was loaded from: its settings file lives beside it,
// wherever the program or a test put the library.
QString pluginDirectory()
{
#ifdef Q_OS_UNIX
    Dl_info info;
    if (dladdr(reinterpret_cast<void *>(&pluginDirectory), &info) && info.dli_fname)
        return QFileInfo(QString::fromLocal8Bit(info.dli_fname)).absolutePath();
#endif
    return QCoreApplication::applicationDirPath() + QStringLiteral("/Lib");
}
} // namespace

VirtualMeter::VirtualMeter(QObject *parent) : QObject(parent)
{
    m_settingsFile = pluginDirectory() + QStringLiteral("/virtualmeter.ini");
    m_config = MeterConfig::load(m_settingsFile);
    // Queued deliveries of readings need the pointer type known by this name.
    if (m_config.threaded)
        qRegisterMetaType<const DmmData *>("const DmmData*");
}

VirtualMeter::~VirtualMeter()
{
    if (m_thread) {
        // The engine's timers can only be stopped on its own thread; it then
        // hands itself back so that it can be deleted here.
        if (m_thread->isRunning()) {
            QThread *here = QThread::currentThread();
            QMetaObject::invokeMethod(
                m_engine, [this, here] { m_engine->shutdown(here); }, Qt::BlockingQueuedConnection);
        }
        m_thread->quit();
        m_thread->wait();
    }
    delete m_engine;
}

void VirtualMeter::ensureEngine()
{
    if (m_engine)
        return;
    m_engine = new MeterEngine(this, m_config);
    if (m_config.threaded) {
        m_thread = std::make_unique<QThread>();
        m_thread->setObjectName(QStringLiteral("virtualmeter"));
        m_engine->moveToThread(m_thread.get());
        m_thread->start();
    }
}

void VirtualMeter::post(const char *slot)
{
    ensureEngine();
    // Always through the event loop: the caller hears of the result later,
    // as from a real meter.
    QMetaObject::invokeMethod(m_engine, slot, Qt::QueuedConnection);
}

bool VirtualMeter::open(SerialDeviceInf *)
{
    if (!m_plugged.load())
        return false;
    post("startLink");
    return true;
}

void VirtualMeter::close()
{
    if (m_engine)
        post("stopLink");
}

bool VirtualMeter::isOpen()
{
    return m_open.load();
}

void VirtualMeter::requestStoreData()
{
    if (!m_open.load())
        return;
    post("startTransfer");
}

void VirtualMeter::cancelStoreData()
{
    if (m_engine)
        post("cancelTransfer");
}

void VirtualMeter::setMeterTime(const QDateTime &dt)
{
    // Only a connected meter hears the command.
    if (!dt.isValid() || !m_open.load())
        return;
    m_clockOffsetMs.store(QDateTime::currentDateTime().msecsTo(dt));
}

QDateTime VirtualMeter::meterTime() const
{
    return QDateTime::currentDateTime().addMSecs(m_clockOffsetMs.load());
}

int VirtualMeter::liveReadings() const
{
    return DmmData::liveInstances();
}

bool VirtualMeter::openPort(const QString &portName)
{
    if (!m_plugged.load())
        return false;
    m_portName = portName;
    return true;
}

void VirtualMeter::closePort()
{
    m_portName.clear();
}

qint64 VirtualMeter::write(const QByteArray &data)
{
    return m_open.load() ? data.size() : -1;
}

QSerialPortInfo VirtualMeter::findPort(quint16 vendorId, quint16 productId)
{
    if (!m_plugged.load())
        return QSerialPortInfo();
    const QSerialPortInfo listed = listedPort(vendorId, productId);
    if (!listed.isNull())
        return listed;
    if (vendorId == kConverterVendorId && productId == kConverterProductId)
        return virtualConverterPort(QStringLiteral("ttyKV930"));
    return QSerialPortInfo();
}

void VirtualMeter::unplug()
{
    m_plugged.store(false);
    post("unplugLink");
}

void VirtualMeter::plug()
{
    m_plugged.store(true);
    post("plugLink");
}
