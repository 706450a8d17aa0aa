// Keysight's multiport optical power meters (N7744A, N7745A) and the power
// sensor modules of the 8163/8164 mainframes: SCPI over a raw TCP socket, one
// meter per port ("#3": SENS3, READ3). Commands after Keysight's programming
// guides: unit 1 is W, wavelengths are in metres, READ<n>:POW? triggers and
// reads one value.
#include "scpipowermeter.h"

class N774xDriver : public ScpiPowerMeterDriver
{
    Q_OBJECT
    Q_PLUGIN_METADATA(IID IMeterDriver_iid FILE "n774x.json")
    Q_INTERFACES(IMeterDriver)

protected:
    ScpiPowerCommands commands() const override;
};

ScpiPowerCommands N774xDriver::commands() const
{
    ScpiPowerCommands c;
    c.driver = QStringLiteral("n774x");
    c.transports = {MeterAddress::Tcp};
    c.channels = 8;
    c.setup = {"SENS%c:POW:UNIT 1"};
    c.setWavelength = "SENS%c:POW:WAV %w";
    c.queryWavelength = "SENS%c:POW:WAV?";
    c.nanometresPerUnit = 1e9;
    c.fetch = "READ%c:POW?";
    return c;
}

#include "n774xdriver.moc"
