#include "tablesource.h"

#include "walltime.h"
#include "xlsdatetime.h"

#include <QAbstractItemModel>
#include <QDateTime>
#include <QLocale>

#include <cmath>

namespace {

constexpr qint64 kMsecsPerDay = 86400000;
// 1970-01-01 as a Julian day: wall-clock days count from there.
constexpr qint64 kEpochJulianDay = 2440588;

bool isNumberType(const QVariant &v)
{
    switch (v.userType()) {
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Double:
    case QMetaType::Float:
    case QMetaType::Short:
    case QMetaType::UShort:
        return true;
    default:
        return false;
    }
}

// Column B: a date-time value or a time text of the table becomes a time.
bool setTimeCell(const QVariant &v, TableCell &cell)
{
    QDate date;
    QTime time;
    bool seconds = true;
    if (v.userType() == QMetaType::QDateTime) {
        const QDateTime dt = v.toDateTime();
        date = dt.date();
        time = dt.time();
    } else if (v.userType() == QMetaType::QString) {
        const QString text = v.toString();
        if (!xls::parseTimestamp(text, &date, &time))
            return false;
        seconds = text.size() != 16;
    } else {
        return false;
    }
    if (!date.isValid() || !time.isValid())
        return false;
    const qint64 wall = wallClockMsecs(date, time);
    if (!wallClockInSheetRange(wall))
        return false;
    cell.setTime(wall, seconds);
    return true;
}

} // namespace

TableSource::~TableSource() = default;

QString TableCell::displayText() const
{
    switch (kind) {
    case Number:
        // As QVariant shows them: integers without a fraction.
        if (number == std::trunc(number) && std::abs(number) < 9.0e15)
            return QString::number(qint64(number));
        return QString::number(number, 'g', QLocale::FloatingPointShortest);
    case Text:
        return text;
    case Time:
        return wallClockText(wallMsecs, seconds);
    case Empty:
        break;
    }
    return QString();
}

int ModelTableSource::rowCount() const
{
    return m_model.rowCount();
}

void ModelTableSource::row(int index, RowCells &out) const
{
    const int columns = m_model.columnCount();
    for (int c = 0; c < RowCells::kColumns; ++c) {
        TableCell &cell = out.cells[size_t(c)];
        const QVariant v =
            c < columns ? m_model.data(m_model.index(index, c), Qt::DisplayRole) : QVariant();
        if (!v.isValid()) {
            cell.setEmpty();
            continue;
        }
        if (c == 1 && setTimeCell(v, cell))
            continue;
        if (isNumberType(v)) {
            const double d = v.toDouble();
            if (std::isfinite(d)) {
                cell.setNumber(d);
                continue;
            }
        }
        cell.setText(v.toString());
    }
}

qint64 wallClockMsecs(const QDate &date, const QTime &time)
{
    return (date.toJulianDay() - kEpochJulianDay) * kMsecsPerDay + time.msecsSinceStartOfDay();
}

QString wallClockText(qint64 wallMsecs, bool seconds)
{
    WallTime time;
    time.ms = wallMsecs;
    time.kind = WallTime::Local;
    return time.toString(seconds);
}

bool wallClockInSheetRange(qint64 wallMsecs)
{
    static const qint64 first = wallClockMsecs(QDate(1900, 1, 1), QTime(0, 0));
    static const qint64 last = wallClockMsecs(QDate(10000, 1, 1), QTime(0, 0));
    return wallMsecs >= first && wallMsecs < last;
}

double wallClockSerialDays(qint64 wallMsecs)
{
    constexpr qint64 msecsPerDay = 86400000;
    constexpr qint64 serialOfEpoch = 25569; // 1970-01-01
    const qint64 epochDays = wallMsecs / msecsPerDay - ((wallMsecs % msecsPerDay) < 0 ? 1 : 0);
    const qint64 msOfDay = wallMsecs - epochDays * msecsPerDay;
    qint64 days = epochDays + serialOfEpoch;
    // The 1900 system counts a 29 February 1900 that never was.
    if (days < 61)
        --days;
    return double(days) + double(msOfDay) / 86400000.0;
}
