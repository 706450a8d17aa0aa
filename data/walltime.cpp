#include "walltime.h"

#include <QTimeZone>

namespace {
constexpr qint64 MsPerDay = 86400000;
constexpr qint64 UnixEpochJulianDay = 2440588; // 1970-01-01

void twoDigits(char *out, int value)
{
    out[0] = char('0' + value / 10);
    out[1] = char('0' + value % 10);
}
} // namespace

qint64 WallTime::floorDiv(qint64 a, qint64 b)
{
    return a / b - ((a % b != 0) && ((a < 0) != (b < 0)));
}

void WallTime::civilFromDays(qint64 z, qint64 *year, int *month, int *day)
{
    z += 719468;
    const qint64 era = floorDiv(z, 146097);
    const qint64 doe = z - era * 146097;
    const qint64 yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const qint64 doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const qint64 mp = (5 * doy + 2) / 153;
    *day = int(doy - (153 * mp + 2) / 5 + 1);
    *month = int(mp < 10 ? mp + 3 : mp - 9);
    *year = yoe + era * 400 + (*month <= 2);
}

qint64 WallTime::daysFromCivil(qint64 year, int month, int day)
{
    year -= month <= 2;
    const qint64 era = floorDiv(year, 400);
    const qint64 yoe = year - era * 400;
    const qint64 doy = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const qint64 doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

WallTime WallTime::fromDateTime(const QDateTime &dateTime)
{
    WallTime t;
    if (!dateTime.isValid())
        return t;
    t.ms = (dateTime.date().toJulianDay() - UnixEpochJulianDay) * MsPerDay +
           dateTime.time().msecsSinceStartOfDay();
    switch (dateTime.timeSpec()) {
    case Qt::LocalTime:
        t.kind = Local;
        break;
    case Qt::UTC:
        t.kind = Utc;
        break;
    case Qt::OffsetFromUTC:
    case Qt::TimeZone:
        t.kind = Offset;
        t.offsetSeconds = dateTime.offsetFromUtc();
        break;
    }
    return t;
}

WallTime WallTime::local(const QDate &date, const QTime &time)
{
    WallTime t;
    if (!date.isValid() || !time.isValid())
        return t;
    t.ms = (date.toJulianDay() - UnixEpochJulianDay) * MsPerDay + time.msecsSinceStartOfDay();
    t.kind = Local;
    return t;
}

QDateTime WallTime::toDateTime() const
{
    if (kind == Null)
        return QDateTime();
    const QDate date = QDate::fromJulianDay(floorDiv(ms, MsPerDay) + UnixEpochJulianDay);
    const QTime time = QTime::fromMSecsSinceStartOfDay(int(ms - floorDiv(ms, MsPerDay) * MsPerDay));
    switch (kind) {
    case Local:
        return QDateTime(date, time, Qt::LocalTime);
    case Utc:
        return QDateTime(date, time, Qt::UTC);
    case Offset:
        return QDateTime(date, time, Qt::OffsetFromUTC, offsetSeconds);
    case Null:
        break;
    }
    return QDateTime();
}

int WallTime::format(char *out, bool withSeconds) const
{
    if (kind == Null)
        return 0;
    const qint64 days = floorDiv(ms, MsPerDay);
    const qint64 msOfDay = ms - days * MsPerDay;
    qint64 year;
    int month, day;
    civilFromDays(days, &year, &month, &day);
    if (year < 1 || year > 9999) {
        // Outside four-digit years Qt's own formatting has its own rules.
        const QByteArray text = toDateTime()
                                    .toString(withSeconds ? QStringLiteral("yyyy-MM-dd hh:mm:ss")
                                                          : QStringLiteral("yyyy-MM-dd hh:mm"))
                                    .toLatin1()
                                    .left(19);
        memcpy(out, text.constData(), size_t(text.size()));
        return text.size();
    }
    const int seconds = int(msOfDay / 1000);
    out[0] = char('0' + year / 1000);
    out[1] = char('0' + year / 100 % 10);
    out[2] = char('0' + year / 10 % 10);
    out[3] = char('0' + year % 10);
    out[4] = '-';
    twoDigits(out + 5, month);
    out[7] = '-';
    twoDigits(out + 8, day);
    out[10] = ' ';
    twoDigits(out + 11, seconds / 3600);
    out[13] = ':';
    twoDigits(out + 14, seconds / 60 % 60);
    if (!withSeconds)
        return 16;
    out[16] = ':';
    twoDigits(out + 17, seconds % 60);
    return 19;
}

QString WallTime::toString(bool withSeconds) const
{
    char text[24];
    const int length = format(text, withSeconds);
    return QString::fromLatin1(text, length);
}

double WallTime::spreadsheetSerial() const
{
    // 1899-12-30 is 25,569 days before 1970-01-01.
    return double(ms) / double(MsPerDay) + 25569.0;
}
