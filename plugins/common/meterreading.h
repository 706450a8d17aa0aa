#pragma once

#include <QDateTime>
#include <QString>

class DmmData;

// Range limits of the KV930 and the texts it shows outside them.
constexpr double kOverRangeUW = 39990.0;
constexpr double kUnderRangeUW = 0.01;
QString overRangeText();  // "    OL"
QString underRangeText(); // "   -OL"

// Display texts as the meter shows them: four significant digits in uW and mW
// ("501.2", "0.501"), two decimals in dBm ("-3.00").
QString formatUW(double uW);
QString formatMW(double mW);
QString formatDBm(double dBm);

// Range state of a power: 1 above the meter's range, -1 below it, else 0.
int rangeState(double uW);

// A fully filled reading of power uW (all three values and texts consistent;
// out-of-range powers carry the range texts and the range limit values).
// The caller owns the result.
DmmData *makeReading(double uW, const QString &unit, quint16 waveLength, const QDateTime &dateTime,
                     const QDateTime &dmmDateTime);

// The same reading marked as record storeNo of the meter's memory.
DmmData *makeStoredReading(int storeNo, double uW, const QString &unit, quint16 waveLength,
                           const QDateTime &dmmDateTime);

// A reading of a laboratory meter that reports its power in watts: all three
// values and texts, or, out of range (overload 1 over, -1 under), the range
// texts and no values (NaN), as the meter gave no power. No meter clock.
DmmData *makeWattReading(double watts, int overload, const QString &unit, quint16 waveLength,
                         const QDateTime &dateTime);

// A meter clock time as the meter reports it: to the minute.
QDateTime toMeterMinute(const QDateTime &dt);
