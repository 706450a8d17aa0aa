#include "tcpscpitransport.h"

#include <QTcpSocket>
#include <QTimer>

TcpScpiTransport::TcpScpiTransport(const QString &host, quint16 port, QObject *parent)
    : LineScpiTransport(QStringLiteral("%1:%2").arg(host).arg(port), parent), m_host(host),
      m_port(port), m_connectTimer(new QTimer(this))
{
    m_connectTimer->setSingleShot(true);
    connect(m_connectTimer, &QTimer::timeout, this, [this] {
        linkDown(tr("Cannot connect to %1: no answer within %2 s.")
                     .arg(address())
                     .arg(m_connectTimeoutMs / 1000.0));
    });
}

TcpScpiTransport::~TcpScpiTransport()
{
    if (m_socket) {
        m_socket->disconnect(this);
        m_socket->abort();
    }
}

void TcpScpiTransport::startOpen()
{
    m_connected = false;
    m_socket = new QTcpSocket(this);
    connect(m_socket.data(), &QTcpSocket::connected, this, [this] {
        m_connected = true;
        m_connectTimer->stop();
        // Commands are short and answers awaited: no batching delay.
        m_socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        linkUp();
    });
    connect(m_socket.data(), &QTcpSocket::readyRead, this,
            [this] { received(m_socket->readAll()); });
    connect(m_socket.data(), &QTcpSocket::errorOccurred, this, &TcpScpiTransport::failed);
    connect(m_socket.data(), &QTcpSocket::disconnected, this, &TcpScpiTransport::failed);
    m_connectTimer->start(m_connectTimeoutMs);
    m_socket->connectToHost(m_host, m_port);
}

void TcpScpiTransport::failed()
{
    if (!m_socket)
        return;
    // What the instrument sent before it hung up still counts.
    if (m_socket->bytesAvailable() > 0)
        received(m_socket->readAll());
    if (!m_socket)
        return;
    QString why = m_socket->errorString();
    if (m_connected) {
        if (m_socket->error() == QAbstractSocket::RemoteHostClosedError)
            why = tr("the instrument closed the connection");
        linkDown(tr("Connection to %1 lost: %2.").arg(address(), why));
    } else {
        linkDown(tr("Cannot connect to %1: %2.").arg(address(), why));
    }
}

void TcpScpiTransport::stopLink()
{
    resetLines();
    m_connectTimer->stop();
    if (!m_socket)
        return;
    m_socket->disconnect(this);
    m_socket->abort();
    // Not deleted here: stopLink() may run inside the socket's own signal.
    m_socket->deleteLater();
    m_socket = nullptr;
}

bool TcpScpiTransport::writeBytes(const QByteArray &data)
{
    return m_socket && m_socket->write(data) == data.size();
}
