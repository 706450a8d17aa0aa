#pragma once

#include <QSerialPortInfo>

// The USB-serial converter of the KV930: vendor 0x1A86, product 0x7523.
constexpr quint16 kConverterVendorId = 0x1A86;
constexpr quint16 kConverterProductId = 0x7523;

// A port the system lists with these identifiers, or a null QSerialPortInfo.
QSerialPortInfo listedPort(quint16 vendorId, quint16 productId);

// A non-null QSerialPortInfo describing a converter that exists only in a
// driver (vendor 0x1A86, product 0x7523, named portName). Qt offers no public
// way to describe a port the system does not list.
QSerialPortInfo virtualConverterPort(const QString &portName);

// The same for any USB vendor and product id (port finders' tests).
QSerialPortInfo virtualUsbPort(const QString &portName, quint16 vendorId, quint16 productId);
