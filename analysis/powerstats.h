#pragma once

#include <QtGlobal>

#include <limits>

namespace analysis {

// Running figures of a set of readings at one wavelength, fed one reading at
// a time (O(1)) and mergeable, so that figures of blocks of readings combine
// into the figures of any stretch of them.
//
// Numerically: the spread of the dBm values is kept as a mean and a sum of
// squared deviations (Welford; Chan et al. to merge), never as a sum of
// squares, and so is the drift's regression of dBm against time, whose times
// are hours after a fixed origin (the item's first reading), not epoch values.
struct PowerStats
{
    qint64 count = 0;       // usable readings
    qint64 leftOut = 0;     // over or under range, non-finite, no known unit
    qint64 outOfLimits = 0; // readings judged LOW or HIGH (over and under range too)
    double minDBm = std::numeric_limits<double>::infinity();
    double maxDBm = -std::numeric_limits<double>::infinity();
    double sumMW = 0.0;
    double meanDBm = 0.0;
    double m2DBm = 0.0; // sum of squared deviations from meanDBm
    // Least squares of dBm against time, over the usable readings with a time.
    qint64 timedCount = 0;
    double meanHours = 0.0;
    double meanTimedDBm = 0.0;
    double m2Hours = 0.0;      // sum of squared deviations of the times
    double coMomentHDBm = 0.0; // sum of products of time and dBm deviations

    void add(double dBm, double mW, bool hasTime, double hours, bool outOfLimits);
    void addLeftOut() { ++leftOut; }
    void merge(const PowerStats &other);

    // Mean power (of the mW values) in dBm; NaN without readings.
    double averageDBm() const;
    // Max minus min in dB; NaN without readings.
    double spanDB() const;
    // Sample standard deviation of the dBm values (n - 1); NaN below two readings.
    double stdDB() const;
    // Slope of dBm against time in dB per hour; NaN without two distinct times.
    double driftDBPerHour() const;
};

} // namespace analysis
