#pragma once

#include "scpitransport.h"

#include <QPointer>

class QTcpSocket;
class QTimer;

// SCPI over a raw TCP socket ("SCPI-RAW", port 5025 on most instruments),
// lines ending in "\n". The host name is looked up and the connection made
// without blocking; a connection not made within the connect time fails.
class TcpScpiTransport : public LineScpiTransport
{
    Q_OBJECT
public:
    TcpScpiTransport(const QString &host, quint16 port, QObject *parent = nullptr);
    ~TcpScpiTransport() override;

    // 5000 ms unless set before open().
    void setConnectTimeout(int ms) { m_connectTimeoutMs = ms; }

protected:
    void startOpen() override;
    void stopLink() override;
    bool writeBytes(const QByteArray &data) override;

private:
    void failed();

    QString m_host;
    quint16 m_port;
    int m_connectTimeoutMs = 5000;
    bool m_connected = false;
    QPointer<QTcpSocket> m_socket; // a child, replaced at each open
    QTimer *m_connectTimer = nullptr;
};
