#pragma once

#include <QDateTime>
#include <QtPlugin>

// Meter memory and clock.
class IMyDmm
{
public:
    virtual ~IMyDmm() = default;

    // Starts sending the stored readings: storeNum(total, sent) progress and
    // one displayStore(const DmmData*) per reading on IDmm::object().
    virtual void requestStoreData() = 0;
    // Abandons a running transfer. Kept for drivers; the program does not call it.
    virtual void cancelStoreData() = 0;
    virtual void setMeterTime(const QDateTime &dt) = 0;
};

#define IMyDmm_iid "com.zr.IMyDmm"
Q_DECLARE_INTERFACE(IMyDmm, IMyDmm_iid)
