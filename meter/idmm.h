#pragma once

#include <QObject>
#include <QtPlugin>

class SerialDeviceInf;

// The meter link. object() emits, with these exact signatures:
//   opened(), closed(), display(const DmmData*), displayStore(const DmmData*),
//   storeNum(int,int)
// Every DmmData carried by display/displayStore is freshly allocated and owned
// by the receiver from the moment of emission. A driver that emits from a
// thread of its own registers "const DmmData*" with qRegisterMetaType first.
class IDmm
{
public:
    virtual ~IDmm() = default;

    virtual QObject *object() = 0;
    // Starts opening the link; opened() follows once it is up.
    virtual bool open(SerialDeviceInf *device) = 0;
    virtual void close() = 0;
    virtual bool isOpen() = 0;
};

#define IDmm_iid "com.zr.IDmm"
Q_DECLARE_INTERFACE(IDmm, IDmm_iid)
