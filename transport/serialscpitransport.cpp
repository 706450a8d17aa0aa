#include "serialscpitransport.h"

#include "serialportdevice.h"

SerialScpiTransport::SerialScpiTransport(const QString &portName, QObject *parent)
    : LineScpiTransport(portName, parent), m_portName(portName)
{
}

SerialScpiTransport::~SerialScpiTransport() = default;

void SerialScpiTransport::startOpen()
{
    m_port = new SerialPortDevice(this);
    m_port->setBaudRate(m_baudRate);
    connect(m_port.data(), &SerialPortDevice::received, this, &SerialScpiTransport::received);
    connect(m_port.data(), &SerialPortDevice::linkLost, this, &SerialScpiTransport::linkDown);
    // Opening a port takes no time worth a thread; its answer still comes
    // from the event loop, as with every transport.
    if (m_port->openPort(m_portName))
        linkUp();
    else
        linkDown(m_port->errorString());
}

void SerialScpiTransport::stopLink()
{
    resetLines();
    if (!m_port)
        return;
    m_port->disconnect(this);
    m_port->closePort();
    // Not deleted here: stopLink() may run inside the port's own signal.
    m_port->deleteLater();
    m_port = nullptr;
}

bool SerialScpiTransport::writeBytes(const QByteArray &data)
{
    return m_port && m_port->write(data) == data.size();
}
