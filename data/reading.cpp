#include "reading.h"

#include "dmmdata.h"

#include <cstring>

namespace {
const QString &unitUW()
{
    static const QString unit = QStringLiteral("uW");
    return unit;
}
const QString &unitMW()
{
    static const QString unit = QStringLiteral("mW");
    return unit;
}
const QString &unitDBm()
{
    static const QString unit = QStringLiteral("dBm");
    return unit;
}

bool sameBits(double a, double b)
{
    return std::memcmp(&a, &b, sizeof a) == 0;
}
} // namespace

Reading Reading::fromDmmData(const DmmData &data)
{
    Reading r;
    r.dateTime = data.dateTime();
    r.dmmDateTime = data.dmmDateTime();
    r.valueUW = data.value(unitUW());
    r.valueMW = data.valueMW();
    r.valueDBm = data.value(unitDBm());
    r.textUW = data.valueText(unitUW());
    r.textMW = data.valueText(unitMW());
    r.textDBm = data.valueText(unitDBm());
    r.overload = data.overload();
    r.unit = data.unit();
    r.waveLength = data.waveLength();
    r.stored = data.stored();
    r.storeNo = data.storeNo();
    return r;
}

DmmData *Reading::toDmmData() const
{
    auto *d = new DmmData;
    d->setDateTime(dateTime);
    d->setDmmDateTime(dmmDateTime);
    d->setValueUW(valueUW);
    d->setValueMW(valueMW);
    d->setValueDBm(valueDBm);
    d->setTextUW(textUW);
    d->setTextMW(textMW);
    d->setTextDBm(textDBm);
    d->setOverload(overload);
    d->setUnit(unit);
    d->setWaveLength(waveLength);
    d->setStored(stored);
    d->setStoreNo(storeNo);
    return d;
}

double Reading::value(const QString &u) const
{
    if (u == unitUW())
        return valueUW;
    if (u == unitMW())
        return valueMW;
    if (u == unitDBm())
        return valueDBm;
    return 0.0;
}

QString Reading::valueText(const QString &u) const
{
    if (u == unitUW())
        return textUW;
    if (u == unitMW())
        return textMW;
    if (u == unitDBm())
        return textDBm;
    return QString();
}

bool Reading::operator==(const Reading &o) const
{
    // QDateTime's == compares instants; a reading's time also keeps how it was
    // given, so the kind of time must match as well.
    auto sameTime = [](const QDateTime &a, const QDateTime &b) {
        if (a.isValid() != b.isValid())
            return false;
        return !a.isValid() ||
               (a == b && a.timeSpec() == b.timeSpec() && a.offsetFromUtc() == b.offsetFromUtc());
    };
    return sameTime(dateTime, o.dateTime) && sameTime(dmmDateTime, o.dmmDateTime) &&
           sameBits(valueUW, o.valueUW) && sameBits(valueMW, o.valueMW) &&
           sameBits(valueDBm, o.valueDBm) && textUW == o.textUW && textMW == o.textMW &&
           textDBm == o.textDBm && overload == o.overload && unit == o.unit &&
           waveLength == o.waveLength && stored == o.stored && storeNo == o.storeNo;
}
