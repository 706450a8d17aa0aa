#pragma once

#include "scpitransport.h"

#include <QPointer>

class SerialPortDevice;

// SCPI over a serial port (SerialPortDevice, 8N1), lines ending in "\n".
class SerialScpiTransport : public LineScpiTransport
{
    Q_OBJECT
public:
    // 115200 baud unless set before open(); USB CDC ports ignore the rate.
    explicit SerialScpiTransport(const QString &portName, QObject *parent = nullptr);
    ~SerialScpiTransport() override;

    void setBaudRate(qint32 baudRate) { m_baudRate = baudRate; }

protected:
    void startOpen() override;
    void stopLink() override;
    bool writeBytes(const QByteArray &data) override;

private:
    QString m_portName;
    qint32 m_baudRate = 115200;
    QPointer<SerialPortDevice> m_port; // a child, replaced at each open
};
