#include "xlsdatetime.h"

namespace xls {
namespace {

// Value of the n digits at pos, or -1 when any of them is no ASCII digit.
int digits(const QString &text, int pos, int n)
{
    int v = 0;
    for (int i = pos; i < pos + n; ++i) {
        const ushort c = text.at(i).unicode();
        if (c < '0' || c > '9')
            return -1;
        v = v * 10 + (c - '0');
    }
    return v;
}

bool dateAt(const QString &text, QDate *date)
{
    if (text.size() < 10 || text.at(4) != QLatin1Char('-') || text.at(7) != QLatin1Char('-'))
        return false;
    const int y = digits(text, 0, 4), m = digits(text, 5, 2), d = digits(text, 8, 2);
    if (y < 0 || m < 0 || d < 0 || !QDate::isValid(y, m, d))
        return false;
    *date = QDate(y, m, d);
    return true;
}

// "hh:mm" or "hh:mm:ss" from pos to the end of text.
bool timeAt(const QString &text, int pos, bool allowMinutes, QTime *time)
{
    const int len = text.size() - pos;
    if (len != 8 && !(allowMinutes && len == 5))
        return false;
    if (text.at(pos + 2) != QLatin1Char(':'))
        return false;
    const int h = digits(text, pos, 2), m = digits(text, pos + 3, 2);
    int s = 0;
    if (len == 8) {
        if (text.at(pos + 5) != QLatin1Char(':'))
            return false;
        s = digits(text, pos + 6, 2);
    }
    if (h < 0 || m < 0 || s < 0 || !QTime::isValid(h, m, s))
        return false;
    *time = QTime(h, m, s);
    return true;
}

} // namespace

bool parseTimestamp(const QString &text, QDate *date, QTime *time, bool allowMinutes)
{
    if (text.size() < 16 || text.at(10) != QLatin1Char(' '))
        return false;
    return dateAt(text, date) && timeAt(text, 11, allowMinutes, time);
}

QDate parseIsoDate(const QString &text)
{
    QDate date;
    if (text.size() == 10)
        dateAt(text, &date);
    return date;
}

QTime parseIsoTime(const QString &text)
{
    QTime time;
    timeAt(text, 0, false, &time);
    return time;
}

} // namespace xls
