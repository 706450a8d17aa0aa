#pragma once

#include "serialdeviceinf.h"

#include <QByteArray>
#include <QObject>
#include <QString>

#include <memory>

class QSerialPort;

// A driver's serial link over QSerialPort: opened by port name ("ttyUSB0") or
// device path ("/dev/ttyUSB0"), 8 data bits, no parity, one stop bit, no flow
// control, at the baud rate set before opening. Received bytes arrive through
// received() as they come, on the thread the object lives in. When the link
// goes down without closePort() (the other side hangs up, the converter is
// pulled out, a read or write fails) the port is closed and linkLost() says why.
//
// object() is this object; usbRefreshed() is meant to be fed by a port finder
// (see SerialPortFinder), so a driver can hand this object to the program.
class SerialPortDevice : public QObject, public SerialDeviceInf
{
    Q_OBJECT
    Q_INTERFACES(SerialDeviceInf)

public:
    explicit SerialPortDevice(QObject *parent = nullptr);
    ~SerialPortDevice() override;

    // Applies from the next openPort(); 9600 by default.
    void setBaudRate(qint32 baudRate) { m_baudRate = baudRate; }
    qint32 baudRate() const { return m_baudRate; }

    // Closes a link that is open, then opens portName. False when the port is
    // missing, busy or refuses the settings; errorString() then says why.
    bool openPort(const QString &portName) override;
    // Closes the link; linkLost() is not emitted for it.
    void closePort() override;
    // Queues data for sending; the number of bytes taken, or -1 when not open.
    qint64 write(const QByteArray &data) override;
    QObject *object() override { return this; }

    bool isOpen() const;
    QString portName() const { return m_portName; }
    // Why the last open failed or the link was lost; empty otherwise.
    QString errorString() const { return m_errorString; }

signals:
    void received(const QByteArray &data);
    void linkLost(const QString &reason);
    void usbRefreshed();

private:
    void readAvailable();
    void portFailed(int error);
    void dropLink();

    std::unique_ptr<QSerialPort> m_port;
    qint32 m_baudRate = 9600;
    QString m_portName;
    QString m_errorString;
    bool m_losing = false;
};
