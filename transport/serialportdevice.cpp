#include "serialportdevice.h"

#include <QSerialPort>

SerialPortDevice::SerialPortDevice(QObject *parent)
    : QObject(parent), m_port(std::make_unique<QSerialPort>())
{
    connect(m_port.get(), &QSerialPort::readyRead, this, &SerialPortDevice::readAvailable);
    connect(m_port.get(), &QSerialPort::errorOccurred, this,
            [this](QSerialPort::SerialPortError error) { portFailed(int(error)); });
}

SerialPortDevice::~SerialPortDevice()
{
    // Closing here, while the object is whole, keeps QSerialPort's last signals
    // away from a half-destroyed receiver.
    m_port->disconnect(this);
    m_port->close();
}

bool SerialPortDevice::isOpen() const
{
    return m_port->isOpen();
}

bool SerialPortDevice::openPort(const QString &portName)
{
    closePort();
    m_errorString.clear();
    m_portName = portName;
    m_port->setPortName(portName);
    m_port->setBaudRate(m_baudRate);
    m_port->setDataBits(QSerialPort::Data8);
    m_port->setParity(QSerialPort::NoParity);
    m_port->setStopBits(QSerialPort::OneStop);
    m_port->setFlowControl(QSerialPort::NoFlowControl);
    if (!m_port->open(QIODevice::ReadWrite)) {
        m_errorString = tr("Cannot open %1: %2").arg(portName, m_port->errorString());
        return false;
    }
    // Settings given before open() are applied by it; check that they held, as
    // some adapters refuse rates they do not know.
    if (m_port->baudRate() != m_baudRate || m_port->dataBits() != QSerialPort::Data8 ||
        m_port->parity() != QSerialPort::NoParity || m_port->stopBits() != QSerialPort::OneStop) {
        m_errorString = tr("Cannot set %1 to %2 baud, 8N1.").arg(portName).arg(m_baudRate);
        m_port->close();
        return false;
    }
    m_port->clearError();
    return true;
}

void SerialPortDevice::closePort()
{
    m_losing = false;
    if (m_port->isOpen())
        m_port->close();
}

qint64 SerialPortDevice::write(const QByteArray &data)
{
    if (!m_port->isOpen())
        return -1;
    return m_port->write(data);
}

void SerialPortDevice::readAvailable()
{
    const QByteArray data = m_port->readAll();
    if (!data.isEmpty())
        emit received(data);
}

void SerialPortDevice::portFailed(int error)
{
    switch (QSerialPort::SerialPortError(error)) {
    case QSerialPort::ResourceError: // hang-up, device gone
    case QSerialPort::ReadError:
    case QSerialPort::WriteError:
        break;
    default:
        // Open failures are answered by openPort(); timeouts and the like
        // leave the link usable.
        return;
    }
    if (!m_port->isOpen() || m_losing)
        return;
    m_losing = true;
    m_errorString = tr("Link to %1 lost: %2").arg(m_portName, m_port->errorString());
    // QSerialPort reports the error from inside its own notifier: close once
    // that has returned.
    QMetaObject::invokeMethod(this, &SerialPortDevice::dropLink, Qt::QueuedConnection);
}

void SerialPortDevice::dropLink()
{
    if (!m_losing)
        return; // closePort() or openPort() came first
    m_losing = false;
    // Bytes that arrived before the failure still belong to the driver.
    readAvailable();
    m_port->close();
    emit linkLost(m_errorString);
}
