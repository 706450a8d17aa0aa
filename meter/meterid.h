#pragma once

#include "imeterdriver.h"

#include <QString>

// The name of a meter: "DRIVER[@ADDRESS][#CHANNEL]", as the user writes it on
// the command line, in the meter dialog and in kv930.conf.
//
//   virtual                         a driver that needs no address
//   pm100                           the first pm100 detected now
//   pm100@/dev/usbtmc0              a USB-TMC device node (file name usbtmc*)
//   pm100@/dev/ttyACM0, @ttyACM0    a serial port (a bare name lies in /dev)
//   pm100@usbtmc:/dev/pm100         the transport named for any other path
//   n774x@tcp://meter-lab3:5025#3   a raw SCPI socket (port 5025 when left
//                                   out; IPv6 hosts in brackets) and channel 3
//
// Parsing looks at the text only, never at the file system or the network.
class MeterId
{
public:
    QString driver;
    MeterAddress address;
    int channel = 0; // 0: none given

    static constexpr quint16 DefaultTcpPort = 5025;

    // The meterId written in text, or an invalid one with *errorMessage saying
    // what is wrong (one sentence naming the offending part).
    static MeterId fromString(const QString &text, QString *errorMessage = nullptr);
    // The address part alone ("tcp://host", "/dev/ttyACM0" ...).
    static MeterAddress addressFromString(const QString &text, QString *errorMessage = nullptr);

    bool isValid() const { return !driver.isEmpty(); }
    // Canonical text: fromString(toString()) gives the same meterId, and a TCP
    // address always shows its port.
    QString toString() const;
    static QString addressToString(const MeterAddress &address);

    bool operator==(const MeterId &other) const { return toString() == other.toString(); }
    bool operator!=(const MeterId &other) const { return !(*this == other); }
};

// Transport names as metadata and messages use them: "usbtmc", "serial", "tcp".
QString meterTransportName(MeterAddress::Kind kind);
