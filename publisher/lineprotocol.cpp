#include "lineprotocol.h"

#include "judge.h"
#include "sample.h"

#include <charconv>
#include <cmath>

namespace lineprotocol {
namespace {

void appendNumber(QByteArray &out, double value)
{
    // Shortest text that reads back as the same double.
    char buffer[32];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    out.append(buffer, int(result.ptr - buffer));
}

void appendInteger(QByteArray &out, qint64 value)
{
    char buffer[24];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    out.append(buffer, int(result.ptr - buffer));
}

void appendField(QByteArray &out, bool &first, const char *key, double value)
{
    out.append(first ? " " : ",");
    first = false;
    out.append(key);
    out.append('=');
    appendNumber(out, value);
}

} // namespace

QByteArray tagValue(const QString &value)
{
    const QByteArray utf8 = value.toUtf8();
    QByteArray out;
    out.reserve(utf8.size() + 4);
    for (int i = 0; i < utf8.size(); ++i) {
        const char c = utf8.at(i);
        switch (c) {
        case ',':
        case '=':
        case ' ':
            out.append('\\');
            out.append(c);
            break;
        case '\n':
        case '\r':
        case '\t':
            out.append("\\ ");
            break;
        case '\\': {
            // Readers take a backslash and the character after it as a pair:
            // one before an escaped character or at the end is doubled, so
            // that it cannot take that escape (or the separator) for itself.
            const char next = i + 1 < utf8.size() ? utf8.at(i + 1) : '\0';
            const bool alone = next != '\0' && !QByteArray(",= \n\r\t\\").contains(next);
            out.append(alone ? "\\" : "\\\\");
            break;
        }
        default:
            out.append(c);
        }
    }
    return out;
}

QByteArray stringField(const QString &value)
{
    QByteArray out;
    for (const char c : value.toUtf8()) {
        if (c == '"' || c == '\\')
            out.append('\\');
        out.append(c == '\n' || c == '\r' ? ' ' : c);
    }
    return out;
}

QString topicLevel(const QString &name)
{
    QString level = name;
    for (QChar &c : level) {
        if (c == QLatin1Char('/') || c == QLatin1Char('+') || c == QLatin1Char('#') ||
            c == QChar(0))
            c = QLatin1Char('_');
    }
    return level.isEmpty() ? QStringLiteral("_") : level;
}

ItemLines ItemLines::make(const QString &station, const QString &meter, const QString &item,
                          qint64 session)
{
    ItemLines lines;
    // The meter tag names the kind of meter ("pm100"), as dashboards group by
    // it; where it is attached (its address and channel) belongs to the item.
    const QString driver = meter.section(QLatin1Char('@'), 0, 0).section(QLatin1Char('#'), 0, 0);
    for (const auto &[key, value] : {std::pair<const char *, const QString &>{"station", station},
                                     {"meter", driver},
                                     {"item", item}}) {
        const QByteArray escaped = tagValue(value);
        if (escaped.isEmpty())
            continue; // a tag cannot be empty
        lines.tags += ',';
        lines.tags += key;
        lines.tags += '=';
        lines.tags += escaped;
    }
    lines.session = QByteArray::number(session);
    return lines;
}

bool Clock::toEpochMs(const WallTime &time, qint64 *ms)
{
    switch (time.kind) {
    case WallTime::Null:
        return false;
    case WallTime::Utc:
        *ms = time.ms;
        return true;
    case WallTime::Offset:
        *ms = time.ms - qint64(time.offsetSeconds) * 1000;
        return true;
    case WallTime::Local:
        break;
    }
    const qint64 quarter = WallTime::floorDiv(time.ms, 15 * 60 * 1000);
    if (quarter != m_quarter) {
        m_quarter = quarter;
        WallTime start = time;
        start.ms = quarter * 15 * 60 * 1000;
        m_offsetMs = start.ms - start.toDateTime().toMSecsSinceEpoch();
    }
    *ms = time.ms - m_offsetMs;
    return true;
}

void appendLine(QByteArray &out, const ItemLines &item, qint64 index, const ReadingStore::Fields &r,
                const analysis::Judge *judge, Clock &clock)
{
    out.append("optical_power");
    out.append(item.tags);
    if (r.waveLength > 0) {
        out.append(",wavelength=");
        appendInteger(out, r.waveLength);
    }
    bool first = true;
    // Powers only where the meter measured one.
    if (r.overload == 0 && r.unit <= ReadingStore::DBm) {
        static const char *const keys[] = {"uw", "mw", "dbm"};
        for (const int which : {ReadingStore::DBm, ReadingStore::MW, ReadingStore::UW}) {
            if (std::isfinite(r.values[which]))
                appendField(out, first, keys[which], r.values[which]);
        }
    }
    out.append(first ? " overload=" : ",overload=");
    appendInteger(out, r.overload);
    out.append("i,index=");
    appendInteger(out, index + 1);
    out.append("i,session=\"");
    out.append(item.session);
    out.append('"');
    if (judge) {
        double loss = std::nan("");
        const analysis::Verdict verdict = judge->verdict(analysis::sampleOf(r), &loss);
        if (std::isfinite(loss)) {
            out.append(",loss_db=");
            appendNumber(out, loss);
        }
        if (verdict != analysis::Verdict::None) {
            out.append(",verdict=\"");
            out.append(analysis::verdictText(verdict));
            out.append('"');
        }
    }
    qint64 ms = 0;
    if (clock.toEpochMs(r.stored ? r.dmmDateTime : r.dateTime, &ms) ||
        clock.toEpochMs(r.stored ? r.dateTime : r.dmmDateTime, &ms)) {
        // InfluxDB keeps one point per series and instant: readings of an item
        // within one millisecond would overwrite each other. The reading's
        // index in the nanoseconds keeps them apart (and a duplicate sent
        // again lands on its own first copy).
        out.append(' ');
        appendInteger(out, ms * 1000000 + index % 1000000);
    }
}

} // namespace lineprotocol
