#include "csvtext.h"

#include <QDateTime>

#include <charconv>
#include <cmath>
#include <cstring>

namespace csv {

namespace {
constexpr qint64 MsPerDay = 86400000;
constexpr qint64 MsPerQuarterHour = 900000;

int daysInMonth(qint64 year, int month)
{
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && leap ? 29 : days[month - 1];
}

char *digits(char *out, qint64 value, int width)
{
    for (int i = width - 1; i >= 0; --i) {
        out[i] = char('0' + value % 10);
        value /= 10;
    }
    return out + width;
}

char *offsetText(char *out, int seconds)
{
    *out++ = seconds < 0 ? '-' : '+';
    const int a = std::abs(seconds);
    out = digits(out, a / 3600, 2);
    *out++ = ':';
    out = digits(out, a / 60 % 60, 2);
    if (a % 60 != 0) {
        *out++ = ':';
        out = digits(out, a % 60, 2);
    }
    return out;
}

// Reads exactly n digits at p.
bool readDigits(const char *&p, const char *end, int n, qint64 *value)
{
    if (end - p < n)
        return false;
    qint64 v = 0;
    for (int i = 0; i < n; ++i) {
        if (p[i] < '0' || p[i] > '9')
            return false;
        v = v * 10 + (p[i] - '0');
    }
    p += n;
    *value = v;
    return true;
}
} // namespace

int TimeCache::localOffsetSeconds(qint64 wallMs)
{
    const qint64 bucket = WallTime::floorDiv(wallMs, MsPerQuarterHour);
    if (bucket != m_bucket) {
        WallTime start;
        start.kind = WallTime::Local;
        start.ms = bucket * MsPerQuarterHour;
        m_seconds = start.toDateTime().offsetFromUtc();
        m_bucket = bucket;
    }
    return m_seconds;
}

int formatTime(char *out, const WallTime &time, TimeCache &cache)
{
    if (time.kind == WallTime::Null)
        return 0;
    const qint64 minute = WallTime::floorDiv(time.ms, 60000);
    if (minute != cache.m_minute) {
        char *p = cache.m_minuteText;
        const qint64 days = WallTime::floorDiv(minute, 1440);
        const qint64 minuteOfDay = minute - days * 1440;
        qint64 year;
        int month, day;
        WallTime::civilFromDays(days, &year, &month, &day);
        if (year < 0) {
            *p++ = '-';
            year = -year;
        }
        int yearDigits = 4;
        for (qint64 y = year; y >= 10000; y /= 10)
            ++yearDigits;
        p = digits(p, year, yearDigits);
        *p++ = '-';
        p = digits(p, month, 2);
        *p++ = '-';
        p = digits(p, day, 2);
        *p++ = 'T';
        p = digits(p, minuteOfDay / 60, 2);
        *p++ = ':';
        p = digits(p, minuteOfDay % 60, 2);
        *p++ = ':';
        cache.m_minute = minute;
        cache.m_minuteLength = int(p - cache.m_minuteText);
    }
    char *p = out;
    memcpy(p, cache.m_minuteText, size_t(cache.m_minuteLength));
    p += cache.m_minuteLength;
    const qint64 msOfMinute = time.ms - minute * 60000;
    p = digits(p, msOfMinute / 1000, 2);
    *p++ = '.';
    p = digits(p, msOfMinute % 1000, 3);
    switch (time.kind) {
    case WallTime::Utc:
        *p++ = 'Z';
        break;
    case WallTime::Local:
        p = offsetText(p, cache.localOffsetSeconds(time.ms));
        break;
    case WallTime::Offset:
        p = offsetText(p, time.offsetSeconds);
        break;
    case WallTime::Null:
        break;
    }
    return int(p - out);
}

bool parseTime(const char *begin, const char *end, WallTime *time, TimeCache &cache)
{
    *time = WallTime();
    if (begin == end)
        return true;
    const char *p = begin;
    bool negativeYear = false;
    if (*p == '-' || *p == '+') {
        negativeYear = *p == '-';
        ++p;
    }
    // The year: four to six digits (far beyond any meter, within the millisecond range).
    const char *yearEnd = p;
    while (yearEnd < end && *yearEnd >= '0' && *yearEnd <= '9')
        ++yearEnd;
    if (yearEnd - p < 4 || yearEnd - p > 6)
        return false;
    qint64 year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, ms = 0;
    readDigits(p, yearEnd, int(yearEnd - p), &year);
    if (negativeYear)
        year = -year;
    if (p == end || *p++ != '-' || !readDigits(p, end, 2, &month) || p == end || *p++ != '-' ||
        !readDigits(p, end, 2, &day) || p == end || (*p != 'T' && *p != ' '))
        return false;
    ++p;
    if (!readDigits(p, end, 2, &hour) || p == end || *p++ != ':' || !readDigits(p, end, 2, &minute))
        return false;
    if (p < end && *p == ':') {
        ++p;
        if (!readDigits(p, end, 2, &second))
            return false;
        if (p < end && (*p == '.' || *p == ',')) {
            ++p;
            int n = 0;
            for (; p < end && *p >= '0' && *p <= '9'; ++p, ++n) {
                if (n < 3)
                    ms = ms * 10 + (*p - '0');
            }
            if (n == 0 || n > 9)
                return false;
            for (; n < 3; ++n)
                ms *= 10;
        }
    }
    if (month < 1 || month > 12 || day < 1 || day > daysInMonth(year, int(month)) || hour > 23 ||
        minute > 59 || second > 59)
        return false;
    const qint64 wall = WallTime::daysFromCivil(year, int(month), int(day)) * MsPerDay +
                        ((hour * 60 + minute) * 60 + second) * 1000 + ms;
    time->ms = wall;
    if (p == end) {
        time->kind = WallTime::Local;
        return true;
    }
    if (*p == 'Z' && p + 1 == end) {
        time->kind = WallTime::Utc;
        return true;
    }
    if (*p != '+' && *p != '-')
        return false;
    const int sign = *p++ == '-' ? -1 : 1;
    qint64 oh = 0, om = 0, os = 0;
    if (!readDigits(p, end, 2, &oh) || p == end || *p++ != ':' || !readDigits(p, end, 2, &om))
        return false;
    if (p < end && (*p != ':' || !readDigits(++p, end, 2, &os)))
        return false;
    if (p != end || oh > 23 || om > 59 || os > 59)
        return false;
    const int offset = sign * int((oh * 60 + om) * 60 + os);
    if (offset == cache.localOffsetSeconds(wall)) {
        time->kind = WallTime::Local;
    } else {
        time->kind = WallTime::Offset;
        time->offsetSeconds = offset;
    }
    return true;
}

int formatFixed(char *out, double value, int decimals)
{
    if (value == 0)
        value = 0; // "0.00", never "-0.00"
    // std::to_chars rounds a halfway case to even, Qt away from zero. Only a
    // value with at most decimals + 1 binary fraction digits can lie exactly
    // halfway; its text with one more decimal is exact and ends in 5.
    const double scaled = std::ldexp(value, decimals + 1);
    bool halfway = !std::isfinite(value);
    if (!halfway && scaled == std::trunc(scaled)) {
        const auto longer =
            std::to_chars(out, out + 340, value, std::chars_format::fixed, decimals + 1);
        halfway = longer.ec == std::errc() && longer.ptr[-1] == '5';
    }
    if (halfway) {
        const QByteArray text = QString::number(value, 'f', decimals).toLatin1();
        memcpy(out, text.constData(), size_t(text.size()));
        return text.size();
    }
    const auto end = std::to_chars(out, out + 340, value, std::chars_format::fixed, decimals);
    return end.ec == std::errc() ? int(end.ptr - out) : 0;
}

int formatNumber(char *out, double value)
{
    const auto result = std::to_chars(out, out + 32, value);
    return int(result.ptr - out);
}

bool parseNumber(const char *begin, const char *end, double *value)
{
    if (begin < end && *begin == '+')
        ++begin;
    if (begin == end)
        return false;
    const auto result = std::from_chars(begin, end, *value);
    return result.ec == std::errc() && result.ptr == end;
}

void appendField(std::string &record, const char *text, size_t size)
{
    bool quote = false;
    for (size_t i = 0; i < size && !quote; ++i)
        quote = text[i] == ',' || text[i] == '"' || text[i] == '\r' || text[i] == '\n';
    if (!quote) {
        record.append(text, size);
        return;
    }
    record.push_back('"');
    for (size_t i = 0; i < size; ++i) {
        if (text[i] == '"')
            record.push_back('"');
        record.push_back(text[i]);
    }
    record.push_back('"');
}

bool needsFormulaGuard(const char *text, size_t size)
{
    size_t i = 0;
    while (i < size && text[i] == '\'')
        ++i;
    if (i == size)
        return false;
    switch (text[i]) {
    case '=':
    case '+':
    case '-':
    case '@':
    case '\t':
    case '\r':
        break;
    default:
        return false;
    }
    if (i > 0)
        return true;
    // A plain decimal number is what a spreadsheet reads as one; "-inf" or
    // "-nan(...)" are not, and get the guard.
    for (size_t k = 0; k < size; ++k) {
        const char c = text[k];
        if ((c < '0' || c > '9') && c != '.' && c != 'e' && c != 'E' && c != '+' && c != '-')
            return true;
    }
    double number;
    return !parseNumber(text, text + size, &number);
}

void appendTextField(std::string &record, const char *text, size_t size)
{
    if (!needsFormulaGuard(text, size)) {
        appendField(record, text, size);
        return;
    }
    std::string guarded;
    guarded.reserve(size + 1);
    guarded.push_back('\'');
    guarded.append(text, size);
    appendField(record, guarded.data(), guarded.size());
}

std::string_view unguarded(std::string_view field)
{
    if (!field.empty() && field.front() == '\'' &&
        needsFormulaGuard(field.data() + 1, field.size() - 1))
        field.remove_prefix(1);
    return field;
}

} // namespace csv
