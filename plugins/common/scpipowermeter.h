#pragma once

#include "imeterdriver.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>

#include <memory>

class DmmData;
class QTimer;
class ScpiTransport;
struct ScpiReply;

// The commands of one family of SCPI optical power meters: what a driver is.
// In every command "%c" stands for the channel (1 when none was given) and
// "%w" for a wavelength in the meter's unit.
struct ScpiPowerCommands
{
    QString driver;                       // the driver's name, for messages
    QList<MeterAddress::Kind> transports; // the addresses it takes
    int channels = 1;                     // highest channel
    QList<QByteArray> setup;              // sent once after *IDN?
    QByteArray setWavelength;             // sent when the user set one
    QByteArray queryWavelength;           // answered in the meter's unit
    double nanometresPerUnit = 1.0;       // 1 for nm, 1e9 for metres
    QList<QByteArray> trigger;            // sent before each fetch
    QByteArray fetch;                     // answered with the power in W
};

// What the meter made of one power query.
struct PowerAnswer
{
    enum Kind
    {
        Power,   // watts holds the power
        Over,    // over range: the meter's overload value or error code
        Under,   // under range: a power of zero or less, or -9.9E37
        Error,   // another SCPI error code: no reading
        Garbage, // not an answer to a power query
    };
    Kind kind = Garbage;
    double watts = 0.0;
};
PowerAnswer parsePowerAnswer(const QByteArray &answer);

// A SCPI optical power meter polled over one transport: *IDN?, the setup
// commands, the wavelength (set when the user chose one, then read back), and
// then the power at the set rate. Each answer becomes a reading with the power
// in uW, mW and dBm, the meter's wavelength (read again once a second, in case
// it is changed on the meter) and the computer's time.
//
// Faults never stop the event loop: a query that times out or gets an answer
// that is no number costs that reading and leaves a warning in the log; five
// timeouts in a row, or a link that drops, end the link with linkLost().
class ScpiPowerMeter : public QObject, public IMeter
{
    Q_OBJECT
    Q_INTERFACES(IMeter)
public:
    ScpiPowerMeter(const ScpiPowerCommands &commands, const MeterAddress &address, int channel,
                   const MeterOptions &options, QObject *parent = nullptr);
    ~ScpiPowerMeter() override;

    // A meter for the commands' driver, or null with *errorMessage when the
    // address or channel is not one the driver takes.
    static ScpiPowerMeter *create(const ScpiPowerCommands &commands, const MeterAddress &address,
                                  int channel, const MeterOptions &options, QString *errorMessage);

    QObject *object() override { return this; }
    void open() override;
    void close() override;
    bool isOpen() const override { return m_state == State::Open; }
    QString identity() const override { return m_identity; }

    // "pm100@/dev/usbtmc0#1", the start of every message.
    QString name() const { return m_name; }

signals:
    void opened();
    void closed();
    void display(const DmmData *data);
    void linkLost(const QString &reason);

private:
    enum class State
    {
        Closed,
        Opening,
        Open
    };

    QByteArray command(const QByteArray &pattern,
                       const QByteArray &wavelength = QByteArray()) const;
    void identified(const ScpiReply &reply);
    void wavelengthRead(const ScpiReply &reply);
    void poll();
    void powerRead(const ScpiReply &reply);
    bool missed(const ScpiReply &reply, const QByteArray &what);
    void lose(const QString &reason);

    ScpiPowerCommands m_commands;
    MeterAddress m_address;
    int m_channel;
    MeterOptions m_options;
    QString m_name;
    State m_state = State::Closed;
    std::unique_ptr<ScpiTransport> m_transport;
    QTimer *m_pollTimer = nullptr;
    QString m_identity;
    quint16 m_waveLength = 0;
    int m_pollsSinceWavelength = 0;
    int m_timeoutsInARow = 0;
};

// The root object of a driver that is a table of commands: the plugin class
// adds its metadata and says which table.
//
//   class Pm100Driver : public ScpiPowerMeterDriver
//   {
//       Q_OBJECT
//       Q_PLUGIN_METADATA(IID IMeterDriver_iid FILE "pm100.json")
//       Q_INTERFACES(IMeterDriver)
//       ScpiPowerCommands commands() const override;
//   };
class ScpiPowerMeterDriver : public QObject, public IMeterDriver
{
public:
    IMeter *createMeter(const MeterAddress &address, int channel, const MeterOptions &options,
                        QString *errorMessage) override
    {
        return ScpiPowerMeter::create(commands(), address, channel, options, errorMessage);
    }

protected:
    virtual ScpiPowerCommands commands() const = 0;
};
