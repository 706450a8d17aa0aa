#pragma once

#include <QDateTime>
#include <QMetaType>
#include <QString>

class DmmData;

// One reading as plain values: every field a DmmData carries, copyable, for
// code that wants a whole reading at once (files, the journal, tests).
struct Reading
{
    QDateTime dateTime;
    QDateTime dmmDateTime;
    double valueUW = 0.0;
    double valueMW = 0.0;
    double valueDBm = 0.0;
    QString textUW;
    QString textMW;
    QString textDBm;
    int overload = 0;
    QString unit;
    quint16 waveLength = 0;
    bool stored = false;
    int storeNo = 0;

    static Reading fromDmmData(const DmmData &data);
    // A new DmmData with the same fields; the caller owns it.
    DmmData *toDmmData() const;

    // As DmmData: exactly "uW", "mW" or "dBm"; 0.0 and an empty text otherwise.
    double value(const QString &unit) const;
    QString valueText(const QString &unit) const;

    // Field by field; values compare by their bits, so NaN equals NaN.
    bool operator==(const Reading &other) const;
    bool operator!=(const Reading &other) const { return !(*this == other); }
};
Q_DECLARE_METATYPE(Reading)
