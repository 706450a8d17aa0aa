#pragma once

#include <QDateTime>
#include <QString>

#include <limits>

// A time stamp kept as its wall-clock reading instead of a QDateTime.
//
// Readings carry local times. Turning a local time into an instant and back
// costs a time-zone lookup (with glibc and TZ unset, several microseconds
// each), far too much per reading when an item holds 10^7 of them, and every
// table cell, chart label and file shows the wall clock anyway. So the wall
// clock is kept as milliseconds since 1970-01-01 00:00 read as if it were UTC,
// together with what the QDateTime was (local, UTC or a fixed offset) so that
// it can be rebuilt. A local time rebuilds to the same wall clock; in the hour
// that repeats when daylight saving ends, which of the two instants it means
// is Qt's choice, as for any local time made from a date and a time.
struct WallTime
{
    enum Kind : quint8
    {
        Null = 0,  // a null or invalid QDateTime
        Local = 1, // Qt::LocalTime
        Utc = 2,   // Qt::UTC
        Offset = 3 // a fixed offset from UTC (time zones are kept as their offset)
    };
    static constexpr qint64 NullMs = std::numeric_limits<qint64>::min();

    qint64 ms = NullMs;
    qint32 offsetSeconds = 0; // only for Offset
    Kind kind = Null;

    static WallTime fromDateTime(const QDateTime &dateTime);
    // A local wall-clock time from its date and time, without the time-zone
    // lookup a local QDateTime costs; null when either is invalid.
    static WallTime local(const QDate &date, const QTime &time);
    QDateTime toDateTime() const;
    bool isNull() const { return kind == Null; }

    // "yyyy-MM-dd hh:mm:ss" (withSeconds) or "yyyy-MM-dd hh:mm", exactly what
    // QDateTime::toString gives for these patterns; empty for a null time.
    QString toString(bool withSeconds) const;
    // Writes the same text as toString into out (at least 19 characters) and
    // returns its length (0 for a null time). For writers that format many.
    int format(char *out, bool withSeconds) const;
    // Days since 1899-12-30 with the time of day as the fraction: the serial
    // number spreadsheets use for dates.
    double spreadsheetSerial() const;

    // Calendar arithmetic without QDate, for code that formats or parses many
    // times: the civil date (proleptic Gregorian, as QDate) of a day count
    // since 1970-01-01 and back, and division rounding towards minus infinity.
    static void civilFromDays(qint64 days, qint64 *year, int *month, int *day);
    static qint64 daysFromCivil(qint64 year, int month, int day);
    static qint64 floorDiv(qint64 a, qint64 b);

    bool operator==(const WallTime &other) const
    {
        return kind == other.kind && (kind == Null || ms == other.ms) &&
               (kind != Offset || offsetSeconds == other.offsetSeconds);
    }
    bool operator!=(const WallTime &other) const { return !(*this == other); }
};
