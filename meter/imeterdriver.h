#pragma once

#include <QObject>
#include <QString>
#include <QtPlugin>

// Drivers for meters named by an ID, "DRIVER[@ADDRESS][#CHANNEL]". Beside the
// KV930's four interfaces (idmm.h ...), a driver plugin may offer one factory,
// IMeterDriver, that makes any number of meters: one per address and channel,
// so that several meters of one driver record at the same time.
//
// Each driver declares itself in its plugin metadata (Q_PLUGIN_METADATA FILE),
// read by the program without loading the library:
//   {
//     "driver": "pm100",                       name used in meter IDs
//     "description": "Thorlabs PM100 ...",
//     "transports": ["usbtmc", "serial"],      what ADDRESS may be; [] for none
//     "usb": ["1313:8078", ...],               vendor:product ids it accepts
//     "storedData": false, "clock": false,     IMyDmm offered by its meters
//     "channels": 1,                           highest #CHANNEL
//     "settings": ["rate", "wavelength"]       which MeterOptions it honours
//   }

// Where a meter is reached: the ADDRESS of an ID, already taken apart.
struct MeterAddress
{
    enum Kind
    {
        None,   // no address given
        UsbTmc, // device node of the kernel's usbtmc driver, "/dev/usbtmc0"
        Serial, // serial port, "/dev/ttyACM0"
        Tcp,    // raw SCPI socket, "tcp://host:5025"
    };
    Kind kind = None;
    QString device; // UsbTmc, Serial: the device's path
    QString host;   // Tcp
    quint16 port = 0;
    QString text; // the address as written, for messages
};

// What the user set for a meter.
struct MeterOptions
{
    double readingsPerSecond = 5.0; // poll rate
    int wavelengthNm = 0;           // 0: leave the meter's own
    int answerTimeoutMs = 3000;     // longest wait for one answer of the meter
};

// One meter. object() emits, with these exact signatures:
//   opened(), closed(), display(const DmmData*), linkLost(QString)
// and, when object() also offers IMyDmm (memory and clock, as the KV930's),
//   displayStore(const DmmData*), storeNum(int,int).
// Every DmmData carried by display/displayStore is freshly allocated and owned
// by the receiver from the moment of emission; readings come while the meter
// is open. linkLost(reason) says, once, why the meter could not be opened or
// why an open link dropped; in the latter case closed() follows it. All
// signals come from the event loop of the thread the meter lives in, never
// from inside open() or close().
//
// The program owns the meter and may delete it at any time, also from a slot
// connected to one of its signals; the driver must allow that.
class IMeter
{
public:
    virtual ~IMeter() = default;

    virtual QObject *object() = 0;
    // Starts opening the link; opened() or linkLost() follows.
    virtual void open() = 0;
    // Closes the link; closed() follows when it was open. No linkLost for it.
    virtual void close() = 0;
    virtual bool isOpen() const = 0;
    // What the meter said it is (the answer to *IDN?); empty before opened().
    virtual QString identity() const = 0;
};

#define IMeter_iid "com.kv930.IMeter"
Q_DECLARE_INTERFACE(IMeter, IMeter_iid)

// The root object of a driver plugin that makes meters.
class IMeterDriver
{
public:
    virtual ~IMeterDriver() = default;

    // A new meter at address (channel 0: none given), or null with
    // *errorMessage set when this driver cannot use the address or channel.
    // The caller owns the result. Nothing is opened yet.
    virtual IMeter *createMeter(const MeterAddress &address, int channel,
                                const MeterOptions &options, QString *errorMessage) = 0;
};

#define IMeterDriver_iid "com.kv930.IMeterDriver"
Q_DECLARE_INTERFACE(IMeterDriver, IMeterDriver_iid)
