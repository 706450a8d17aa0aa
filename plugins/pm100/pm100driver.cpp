// The Thorlabs PM100 family (PM100A, PM100D, PM100USB, PM400): one power
// sensor, SCPI over USB-TMC or a serial port. Commands after Thorlabs' SCPI
// reference of these consoles: the power is read in W after CONFigure:POWer,
// by INITiate and FETCh?; the correction wavelength is in nm.
#include "scpipowermeter.h"

class Pm100Driver : public ScpiPowerMeterDriver
{
    Q_OBJECT
    Q_PLUGIN_METADATA(IID IMeterDriver_iid FILE "pm100.json")
    Q_INTERFACES(IMeterDriver)

protected:
    ScpiPowerCommands commands() const override;
};

ScpiPowerCommands Pm100Driver::commands() const
{
    ScpiPowerCommands c;
    c.driver = QStringLiteral("pm100");
    c.transports = {MeterAddress::UsbTmc, MeterAddress::Serial};
    c.channels = 1;
    c.setup = {"SENS:POW:UNIT W", "CONF:POW"};
    c.setWavelength = "SENS:CORR:WAV %w";
    c.queryWavelength = "SENS:CORR:WAV?";
    c.nanometresPerUnit = 1.0;
    c.trigger = {"INIT"};
    c.fetch = "FETC?";
    return c;
}

#include "pm100driver.moc"
