#include "scpipowermeter.h"

#include "dmmdata.h"
#include "meterreading.h"
#include "scpitransport.h"

#include <QDateTime>
#include <QPointer>
#include <QRegularExpression>
#include <QTimer>
#include <QtMath>

#include <cmath>

namespace {

// Without an answer this often in a row the meter is taken for gone.
constexpr int TimeoutsToGiveUp = 5;

// SCPI's numbers for infinity (9.9E37) and not-a-number (9.91E37), and any
// other value this large, are no optical power.
constexpr double NoOpticalPower = 1e30;

QString printable(const QByteArray &text)
{
    QString out;
    for (char c : text.left(80))
        out += (c >= 0x20 && c < 0x7f) ? QChar::fromLatin1(c) : QChar(0xFFFD);
    return text.size() > 80 ? out + QStringLiteral("...") : out;
}

} // namespace

PowerAnswer parsePowerAnswer(const QByteArray &answer)
{
    PowerAnswer result;
    const QByteArray text = answer.trimmed();
    // An error code in place of the value: -230 data corrupt or stale, -231
    // data questionable, -222 data out of range are how meters say the power
    // is outside what they can measure.
    static const QRegularExpression errorCode(QStringLiteral("^([+-]?\\d+),\\s*\".*\"$"));
    const QRegularExpressionMatch m = errorCode.match(QString::fromLatin1(text));
    if (m.hasMatch()) {
        const int code = m.captured(1).toInt();
        result.kind =
            (code == -230 || code == -231 || code == -222) ? PowerAnswer::Over : PowerAnswer::Error;
        return result;
    }
    const QByteArray upper = text.toUpper();
    if (upper == "NAN" || upper == "INF" || upper == "+INF") {
        result.kind = PowerAnswer::Over;
        return result;
    }
    if (upper == "-INF") {
        result.kind = PowerAnswer::Under;
        return result;
    }
    static const QRegularExpression number(
        QStringLiteral("^[+-]?(\\d+\\.?\\d*|\\.\\d+)([Ee][+-]?\\d+)?$"));
    if (!number.match(QString::fromLatin1(text)).hasMatch())
        return result; // Garbage
    const double value = text.toDouble();
    if (value >= NoOpticalPower || !std::isfinite(value)) {
        result.kind = PowerAnswer::Over;
    } else if (value <= 0.0) { // also SCPI's minus infinity
        result.kind = PowerAnswer::Under;
        result.watts = value;
    } else {
        result.kind = PowerAnswer::Power;
        result.watts = value;
    }
    return result;
}

ScpiPowerMeter::ScpiPowerMeter(const ScpiPowerCommands &commands, const MeterAddress &address,
                               int channel, const MeterOptions &options, QObject *parent)
    : QObject(parent), m_commands(commands), m_address(address), m_channel(channel),
      m_options(options), m_pollTimer(new QTimer(this))
{
    m_options.readingsPerSecond = qBound(0.1, options.readingsPerSecond, 50.0);
    m_name = m_commands.driver;
    if (!m_address.text.isEmpty())
        m_name += QLatin1Char('@') + m_address.text;
    if (m_channel > 0)
        m_name += QLatin1Char('#') + QString::number(m_channel);
    m_pollTimer->setInterval(qRound(1000.0 / m_options.readingsPerSecond));
    connect(m_pollTimer, &QTimer::timeout, this, &ScpiPowerMeter::poll);
}

ScpiPowerMeter::~ScpiPowerMeter() = default;

ScpiPowerMeter *ScpiPowerMeter::create(const ScpiPowerCommands &commands,
                                       const MeterAddress &address, int channel,
                                       const MeterOptions &options, QString *errorMessage)
{
    auto fail = [errorMessage](const QString &message) -> ScpiPowerMeter * {
        if (errorMessage)
            *errorMessage = message;
        return nullptr;
    };
    if (!commands.transports.contains(address.kind))
        return fail(tr("%1 needs an address it can talk over, not \"%2\".")
                        .arg(commands.driver, address.text));
    if (channel > commands.channels)
        return fail(tr("%1 has no channel %2.").arg(commands.driver).arg(channel));
    return new ScpiPowerMeter(commands, address, channel, options);
}

QByteArray ScpiPowerMeter::command(const QByteArray &pattern, const QByteArray &wavelength) const
{
    QByteArray c = pattern;
    c.replace("%c", QByteArray::number(qMax(1, m_channel)));
    c.replace("%w", wavelength);
    return c;
}

void ScpiPowerMeter::open()
{
    if (m_state != State::Closed)
        return;
    m_state = State::Opening;
    m_identity.clear();
    m_timeoutsInARow = 0;
    if (m_transport) {
        // open() may be called from a slot of linkLost(), while the old
        // transport is still reporting: it goes once that is over.
        ScpiTransport *old = m_transport.release();
        old->setParent(this);
        old->deleteLater();
    }
    m_transport = ScpiTransport::create(m_address);
    m_transport->setTimeout(m_options.answerTimeoutMs);
    connect(m_transport.get(), &ScpiTransport::linkLost, this, &ScpiPowerMeter::lose);
    connect(m_transport.get(), &ScpiTransport::opened, this,
            [this] { m_transport->query("*IDN?", [this](const ScpiReply &r) { identified(r); }); });
    m_transport->open();
}

void ScpiPowerMeter::identified(const ScpiReply &reply)
{
    if (!reply.answered() || reply.text.trimmed().isEmpty()) {
        lose(tr("no answer to *IDN?; is this the right meter and address?"));
        return;
    }
    m_identity = QString::fromLatin1(reply.text.trimmed());
    for (const QByteArray &c : m_commands.setup)
        m_transport->send(command(c));
    if (m_options.wavelengthNm > 0 && !m_commands.setWavelength.isEmpty()) {
        const double value = m_options.wavelengthNm / m_commands.nanometresPerUnit;
        m_transport->send(command(m_commands.setWavelength, QByteArray::number(value, 'G', 10)));
    }
    m_transport->query(command(m_commands.queryWavelength), [this](const ScpiReply &r) {
        wavelengthRead(r);
        if (m_state != State::Opening)
            return;
        m_state = State::Open;
        m_pollTimer->start();
        emit opened();
    });
}

void ScpiPowerMeter::wavelengthRead(const ScpiReply &reply)
{
    if (missed(reply, m_commands.queryWavelength))
        return;
    bool ok = false;
    const double nm = reply.text.trimmed().toDouble(&ok) * m_commands.nanometresPerUnit;
    if (!ok || !(nm >= 1.0 && nm < 65535.5)) {
        qWarning("%s: unreadable answer to %s: \"%s\"", qPrintable(m_name),
                 command(m_commands.queryWavelength).constData(),
                 qPrintable(printable(reply.text)));
        return;
    }
    m_waveLength = quint16(qRound(nm));
}

bool ScpiPowerMeter::missed(const ScpiReply &reply, const QByteArray &what)
{
    if (reply.answered()) {
        m_timeoutsInARow = 0;
        return false;
    }
    qWarning("%s: no answer to %s within %d ms", qPrintable(m_name), command(what).constData(),
             m_transport->timeout());
    if (++m_timeoutsInARow >= TimeoutsToGiveUp)
        lose(
            tr("the meter stopped answering (no answer %1 times in a row).").arg(m_timeoutsInARow));
    return true;
}

void ScpiPowerMeter::poll()
{
    // A meter slower than the rate is not asked again before it answered.
    if (m_state != State::Open || m_transport->pending() > 0)
        return;
    // The wavelength again about once a second: it may be changed on the meter.
    if (++m_pollsSinceWavelength >= qCeil(m_options.readingsPerSecond)) {
        m_pollsSinceWavelength = 0;
        m_transport->query(command(m_commands.queryWavelength),
                           [this](const ScpiReply &r) { wavelengthRead(r); });
    }
    for (const QByteArray &c : m_commands.trigger)
        m_transport->send(command(c));
    m_transport->query(command(m_commands.fetch), [this](const ScpiReply &r) { powerRead(r); });
}

void ScpiPowerMeter::powerRead(const ScpiReply &reply)
{
    if (m_state != State::Open || missed(reply, m_commands.fetch))
        return;
    const PowerAnswer power = parsePowerAnswer(reply.text);
    int overload = 0;
    switch (power.kind) {
    case PowerAnswer::Power:
        break;
    case PowerAnswer::Over:
        overload = 1;
        break;
    case PowerAnswer::Under:
        overload = -1;
        break;
    case PowerAnswer::Error:
        qWarning("%s: error in place of a power: \"%s\"", qPrintable(m_name),
                 qPrintable(printable(reply.text)));
        return;
    case PowerAnswer::Garbage:
        qWarning("%s: unreadable answer to %s: \"%s\"", qPrintable(m_name),
                 command(m_commands.fetch).constData(), qPrintable(printable(reply.text)));
        return;
    }
    emit display(makeWattReading(power.watts, overload, QStringLiteral("mW"), m_waveLength,
                                 QDateTime::currentDateTime()));
}

void ScpiPowerMeter::close()
{
    const bool wasOpen = m_state == State::Open;
    m_state = State::Closed;
    m_pollTimer->stop();
    if (m_transport) {
        m_transport->disconnect(this);
        m_transport->close();
    }
    if (wasOpen) {
        // As every signal of the meter, from the event loop.
        QMetaObject::invokeMethod(
            this,
            [this] {
                if (m_state == State::Closed)
                    emit closed();
            },
            Qt::QueuedConnection);
    }
}

void ScpiPowerMeter::lose(const QString &reason)
{
    if (m_state == State::Closed)
        return;
    const bool wasOpen = m_state == State::Open;
    m_state = State::Closed;
    m_pollTimer->stop();
    // The transport may be reporting from its own signal: it is closed, not
    // deleted, and replaced at the next open().
    m_transport->disconnect(this);
    m_transport->close();
    QPointer<ScpiPowerMeter> alive(this);
    emit linkLost(QStringLiteral("%1: %2").arg(m_name, reason));
    if (alive && wasOpen && m_state == State::Closed)
        emit closed();
}
