#include "meterid.h"

#include <QCoreApplication>
#include <QRegularExpression>

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("MeterId", text);
}

bool fail(QString *errorMessage, const QString &message)
{
    if (errorMessage)
        *errorMessage = message;
    return false;
}

bool isUsbTmcPath(const QString &path)
{
    return path.mid(path.lastIndexOf(QLatin1Char('/')) + 1).startsWith(QLatin1String("usbtmc"));
}

bool parseTcp(const QString &rest, MeterAddress *address, QString *errorMessage)
{
    // rest is what follows "tcp://": host[:port] or [v6-host][:port].
    QString host;
    QString portText;
    if (rest.startsWith(QLatin1Char('['))) {
        const int close = rest.indexOf(QLatin1Char(']'));
        if (close < 0)
            return fail(errorMessage, tr("The IPv6 address in \"%1\" lacks its \"]\".").arg(rest));
        host = rest.mid(1, close - 1);
        const QString after = rest.mid(close + 1);
        if (!after.isEmpty()) {
            if (!after.startsWith(QLatin1Char(':')))
                return fail(errorMessage, tr("Unexpected \"%1\" after the host.").arg(after));
            portText = after.mid(1);
            if (portText.isEmpty())
                return fail(errorMessage,
                            tr("The port after \"%1:\" is missing.").arg(rest.left(close + 1)));
        }
        static const QRegularExpression v6(QStringLiteral("^[0-9A-Fa-f:.]+$"));
        if (!v6.match(host).hasMatch())
            return fail(errorMessage, tr("\"%1\" is not an IPv6 address.").arg(host));
    } else {
        const int colon = rest.indexOf(QLatin1Char(':'));
        host = colon < 0 ? rest : rest.left(colon);
        if (colon >= 0) {
            portText = rest.mid(colon + 1);
            if (portText.isEmpty())
                return fail(errorMessage, tr("The port after \"%1:\" is missing.").arg(host));
        }
        if (host.isEmpty())
            return fail(errorMessage, tr("The host after \"tcp://\" is missing."));
        static const QRegularExpression name(
            QStringLiteral("^[A-Za-z0-9]([A-Za-z0-9.-]*[A-Za-z0-9])?$"));
        if (!name.match(host).hasMatch())
            return fail(errorMessage, tr("\"%1\" is not a host name.").arg(host));
    }
    quint16 port = MeterId::DefaultTcpPort;
    if (!portText.isEmpty()) {
        bool ok = false;
        const uint value = portText.toUInt(&ok);
        static const QRegularExpression digits(QStringLiteral("^[0-9]{1,5}$"));
        if (!ok || !digits.match(portText).hasMatch() || value < 1 || value > 65535)
            return fail(errorMessage, tr("\"%1\" is not a port (1 to 65535).").arg(portText));
        port = quint16(value);
    }
    address->kind = MeterAddress::Tcp;
    address->host = host;
    address->port = port;
    return true;
}

bool parseDevice(MeterAddress::Kind kind, const QString &path, MeterAddress *address,
                 QString *errorMessage)
{
    if (path.isEmpty())
        return fail(errorMessage, tr("The device path is missing."));
    if (path.contains(QChar(0)) || path.endsWith(QLatin1Char('/')))
        return fail(errorMessage, tr("\"%1\" is not a device path.").arg(path));
    QString device = path;
    if (!device.startsWith(QLatin1Char('/'))) {
        // A bare name lies in /dev; anything else with a slash is ambiguous.
        static const QRegularExpression bare(QStringLiteral("^[A-Za-z0-9_.-]+$"));
        if (!bare.match(device).hasMatch())
            return fail(errorMessage,
                        tr("\"%1\" is neither a device name nor an absolute path.").arg(path));
        device = QStringLiteral("/dev/") + device;
    }
    if (kind == MeterAddress::None)
        kind = isUsbTmcPath(device) ? MeterAddress::UsbTmc : MeterAddress::Serial;
    address->kind = kind;
    address->device = device;
    return true;
}

} // namespace

QString meterTransportName(MeterAddress::Kind kind)
{
    switch (kind) {
    case MeterAddress::UsbTmc:
        return QStringLiteral("usbtmc");
    case MeterAddress::Serial:
        return QStringLiteral("serial");
    case MeterAddress::Tcp:
        return QStringLiteral("tcp");
    case MeterAddress::None:
        break;
    }
    return QString();
}

MeterAddress MeterId::addressFromString(const QString &text, QString *errorMessage)
{
    MeterAddress address;
    bool ok = false;
    if (text.isEmpty()) {
        ok = fail(errorMessage, tr("The address after \"@\" is missing."));
    } else if (text.startsWith(QLatin1String("tcp://"), Qt::CaseInsensitive)) {
        ok = parseTcp(text.mid(6), &address, errorMessage);
    } else if (text.startsWith(QLatin1String("usbtmc:"), Qt::CaseInsensitive)) {
        ok = parseDevice(MeterAddress::UsbTmc, text.mid(7), &address, errorMessage);
    } else if (text.startsWith(QLatin1String("serial:"), Qt::CaseInsensitive)) {
        ok = parseDevice(MeterAddress::Serial, text.mid(7), &address, errorMessage);
    } else if (text.contains(QLatin1String("://"))) {
        ok = fail(errorMessage, tr("Unknown transport \"%1\" (use tcp://, usbtmc: or serial:).")
                                    .arg(text.left(text.indexOf(QLatin1String("://")))));
    } else if (!text.startsWith(QLatin1Char('/')) && text.contains(QLatin1Char(':'))) {
        ok = fail(errorMessage,
                  tr("A network address starts with tcp://, as in tcp://%1.").arg(text));
    } else {
        ok = parseDevice(MeterAddress::None, text, &address, errorMessage);
    }
    if (!ok)
        return MeterAddress();
    address.text = addressToString(address);
    return address;
}

MeterId MeterId::fromString(const QString &input, QString *errorMessage)
{
    const QString text = input.trimmed();
    if (text.isEmpty()) {
        fail(errorMessage, tr("No meter given."));
        return MeterId();
    }
    MeterId meterId;
    QString rest = text;
    const int at = rest.indexOf(QLatin1Char('@'));
    const int hash = rest.lastIndexOf(QLatin1Char('#'));
    QString channelText;
    bool hasChannel = false;
    if (hash >= 0 && (at < 0 || hash > at)) {
        channelText = rest.mid(hash + 1);
        rest.truncate(hash);
        hasChannel = true;
    }
    const QString driver = at < 0 ? rest : rest.left(at);
    static const QRegularExpression driverName(QStringLiteral("^[A-Za-z0-9][A-Za-z0-9_.-]{0,63}$"));
    if (driver.isEmpty()) {
        fail(errorMessage,
             tr("The driver name before \"%1\" is missing.").arg(text.mid(driver.size(), 1)));
        return MeterId();
    }
    if (!driverName.match(driver).hasMatch()) {
        fail(errorMessage,
             tr("\"%1\" is not a driver name (letters, digits, \"_\", \"-\", \".\").").arg(driver));
        return MeterId();
    }
    if (at >= 0) {
        meterId.address = addressFromString(rest.mid(at + 1), errorMessage);
        if (meterId.address.kind == MeterAddress::None)
            return MeterId();
    }
    if (hasChannel) {
        static const QRegularExpression digits(QStringLiteral("^[0-9]{1,4}$"));
        const int channel = channelText.toInt();
        if (!digits.match(channelText).hasMatch() || channel < 1) {
            fail(errorMessage, tr("\"#%1\" is not a channel (a number from 1).").arg(channelText));
            return MeterId();
        }
        meterId.channel = channel;
    }
    meterId.driver = driver;
    return meterId;
}

QString MeterId::addressToString(const MeterAddress &address)
{
    switch (address.kind) {
    case MeterAddress::None:
        return QString();
    case MeterAddress::Tcp: {
        const QString host = address.host.contains(QLatin1Char(':'))
                                 ? QStringLiteral("[%1]").arg(address.host)
                                 : address.host;
        return QStringLiteral("tcp://%1:%2").arg(host).arg(address.port);
    }
    case MeterAddress::UsbTmc:
    case MeterAddress::Serial:
        // The transport is written out only where the name does not tell it.
        if ((address.kind == MeterAddress::UsbTmc) == isUsbTmcPath(address.device))
            return address.device;
        return meterTransportName(address.kind) + QLatin1Char(':') + address.device;
    }
    return QString();
}

QString MeterId::toString() const
{
    if (!isValid())
        return QString();
    QString text = driver;
    if (address.kind != MeterAddress::None)
        text += QLatin1Char('@') + addressToString(address);
    if (channel > 0)
        text += QLatin1Char('#') + QString::number(channel);
    return text;
}
