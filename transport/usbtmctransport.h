#pragma once

#include "scpitransport.h"

#include <memory>

// SCPI through the kernel's usbtmc driver: each command is one write() to the
// device node (/dev/usbtmcN), each answer one read(), with the driver's own
// timeout set to the query's. A timed-out query is followed by a device clear,
// so its answer cannot turn up later. The calls block, so they run on a
// thread of the transport's own; the caller's thread only queues and is told.
//
// A terminal opened in its place (a pseudo-terminal standing in for a meter)
// is read line by line with poll() instead, and brought back in step after a
// timeout as the line transports are (syncQuery()).
class UsbTmcTransport : public ScpiTransport
{
    Q_OBJECT
public:
    explicit UsbTmcTransport(const QString &device, QObject *parent = nullptr);
    ~UsbTmcTransport() override;

protected:
    void startOpen() override;
    void stopLink() override;
    void transmit(const QByteArray &line, bool wantAnswer, int timeoutMs) override;

private:
    struct Link;
    struct Report;
    static void run(const std::shared_ptr<Link> &link);
    void take(const Report &report);

    std::shared_ptr<Link> m_link; // shared with its thread, which ends on its own
};
