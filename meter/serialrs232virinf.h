#pragma once

#include <QSerialPortInfo>
#include <QtPlugin>

// Port finder: the program asks it for the meter's USB-serial converter.
class SerialRS232VirInf
{
public:
    virtual ~SerialRS232VirInf() = default;

    // The port with this USB vendor and product id, or a null QSerialPortInfo.
    virtual QSerialPortInfo findPort(quint16 vendorId, quint16 productId) = 0;
};

#define SerialRS232VirInf_iid "com.zr.SerialRS232VirInf"
Q_DECLARE_INTERFACE(SerialRS232VirInf, SerialRS232VirInf_iid)
