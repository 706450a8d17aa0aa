#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QtPlugin>

// The serial device a meter driver talks through. The program only hands it to
// IDmm::open and listens to object()'s usbRefreshed() signal, emitted when the
// set of serial ports may have changed.
class SerialDeviceInf
{
public:
    virtual ~SerialDeviceInf() = default;

    virtual bool openPort(const QString &portName) = 0;
    virtual void closePort() = 0;
    virtual qint64 write(const QByteArray &data) = 0;
    virtual QObject *object() = 0;
};

#define SerialDeviceInf_iid "com.zr.SerialDeviceInf"
Q_DECLARE_INTERFACE(SerialDeviceInf, SerialDeviceInf_iid)
