#include "csvreader.h"

#include "csvtext.h"
#include "reading.h"

#include <QCoreApplication>
#include <QFile>
#include <QHash>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <deque>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

namespace csv {

namespace {

// A row of this program is about 120 bytes; far longer ones are no rows of it.
constexpr int MaxRecordBytes = 1 << 16;

QString tr(const char *text)
{
    return QCoreApplication::translate("csv", text);
}

// Splits the file into records of fields, a piece of the file at a time.
class RecordReader
{
public:
    RecordReader(QFile &file, qint64 pieceBytes, const Progress &progress)
        : m_file(file), m_pieceBytes(pieceBytes), m_progress(progress)
    {
    }

    enum Result
    {
        Record,
        End,
        Failed
    };
    // The next record's fields, valid until the next call.
    Result next(std::vector<std::string_view> &fields, QString *error);
    qint64 recordNumber() const { return m_records; }
    bool cancelled() const { return m_cancelled; }

private:
    enum Parse
    {
        Complete,
        NeedMore,
        Broken
    };
    Parse parse(std::vector<std::string_view> &fields, qsizetype *consumed);
    bool readMore();

    QFile &m_file;
    qint64 m_pieceBytes;
    const Progress &m_progress;
    QByteArray m_buffer;
    qsizetype m_pos = 0;
    bool m_eof = false;
    bool m_first = true;
    bool m_cancelled = false;
    qint64 m_records = 0;
    // Quoted fields without their quotes. The record's fields are views into
    // them, so adding one must never move the others: a deque, not a vector.
    std::deque<std::string> m_unquoted;
    QString m_broken;
};

bool RecordReader::readMore()
{
    if (m_eof || m_cancelled)
        return false;
    m_buffer.remove(0, int(m_pos));
    m_pos = 0;
    if (m_progress && !m_progress(m_file.pos(), m_file.size())) {
        m_cancelled = true;
        return false;
    }
    const QByteArray piece = m_file.read(m_pieceBytes);
    if (piece.isEmpty())
        m_eof = true;
    m_buffer.append(piece);
    return !piece.isEmpty();
}

RecordReader::Parse RecordReader::parse(std::vector<std::string_view> &fields, qsizetype *consumed)
{
    fields.clear();
    size_t quoted = 0;
    const char *begin = m_buffer.constData() + m_pos;
    const char *end = m_buffer.constData() + m_buffer.size();
    const char *p = begin;
    if (p == end)
        return m_eof ? Complete : NeedMore;
    for (;;) {
        if (*p == '"') {
            if (m_unquoted.size() <= quoted)
                m_unquoted.emplace_back();
            std::string &text = m_unquoted[quoted++];
            text.clear();
            ++p;
            for (;;) {
                if (p == end)
                    return m_eof ? (m_broken = tr("a quoted field is not closed"), Broken)
                                 : NeedMore;
                if (*p == '"') {
                    if (p + 1 == end && !m_eof)
                        return NeedMore;
                    if (p + 1 < end && p[1] == '"') {
                        text.push_back('"');
                        p += 2;
                        continue;
                    }
                    ++p;
                    break;
                }
                text.push_back(*p++);
            }
            fields.emplace_back(text);
            if (p < end && *p != ',' && *p != '\r' && *p != '\n') {
                m_broken = tr("text follows a quoted field");
                return Broken;
            }
        } else {
            const char *start = p;
            while (p < end && *p != ',' && *p != '\r' && *p != '\n')
                ++p;
            if (p == end && !m_eof)
                return NeedMore;
            fields.emplace_back(start, size_t(p - start));
        }
        if (p == end) {
            *consumed = p - begin;
            return Complete;
        }
        if (*p == ',') {
            ++p;
            if (p == end && !m_eof)
                return NeedMore;
            if (p == end) {
                fields.emplace_back();
                *consumed = p - begin;
                return Complete;
            }
            continue;
        }
        // A line end: CRLF, LF or a lone CR.
        if (*p == '\r') {
            if (p + 1 == end && !m_eof)
                return NeedMore;
            ++p;
            if (p < end && *p == '\n')
                ++p;
        } else {
            ++p;
        }
        *consumed = p - begin;
        return Complete;
    }
}

RecordReader::Result RecordReader::next(std::vector<std::string_view> &fields, QString *error)
{
    if (m_first) {
        // A byte order mark says UTF-8, which the file is anyway.
        m_first = false;
        while (m_buffer.size() < 3 && readMore()) {
        }
        if (m_buffer.startsWith("\xEF\xBB\xBF"))
            m_pos = 3;
    }
    for (;;) {
        qsizetype consumed = 0;
        const Parse result = parse(fields, &consumed);
        if (result == Broken) {
            *error = tr("Row %1: %2.").arg(m_records + 1).arg(m_broken);
            return Failed;
        }
        if (result == Complete) {
            if (consumed == 0 && fields.empty())
                return End;
            if (consumed > MaxRecordBytes) {
                *error = tr("Row %1 is longer than %2 bytes; this is no reading file.")
                             .arg(m_records + 1)
                             .arg(MaxRecordBytes);
                return Failed;
            }
            m_pos += consumed;
            ++m_records;
            return Record;
        }
        if (m_buffer.size() - m_pos > MaxRecordBytes) {
            *error = tr("Row %1 is longer than %2 bytes; this is no reading file.")
                         .arg(m_records + 1)
                         .arg(MaxRecordBytes);
            return Failed;
        }
        if (!readMore() && (m_cancelled || m_file.error() != QFileDevice::NoError)) {
            *error = m_cancelled ? tr("The import was cancelled.") : m_file.errorString();
            return Failed;
        }
    }
}

enum Column
{
    No,
    Time,
    MeterTime,
    PowerUW,
    PowerMW,
    PowerDBm,
    Unit,
    Display,
    WaveLength,
    Stored, // optional: files written before it existed number their rows instead
    ColumnCount
};
const char *const kColumnNames[ColumnCount] = {
    "No",        "Time", "MeterTime", "Power_uW",      "Power_mW",
    "Power_dBm", "Unit", "Display",   "Wavelength_nm", "Stored"};

QString text(std::string_view field)
{
    return QString::fromUtf8(field.data(), int(field.size()));
}

std::string_view trimmed(std::string_view s)
{
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
        s.remove_suffix(1);
    return s;
}

bool parseInt(std::string_view s, long long *value)
{
    s = trimmed(s);
    if (!s.empty() && s.front() == '+')
        s.remove_prefix(1);
    if (s.empty())
        return false;
    const auto result = std::from_chars(s.data(), s.data() + s.size(), *value);
    return result.ec == std::errc() && result.ptr == s.data() + s.size();
}

// The decimals the meter shows a power with: four digits in uW and mW (fewer
// decimals as the value grows), two in dBm; -1 for a value that is no number.
int meterDecimals(double value, int unit)
{
    if (!std::isfinite(value))
        return -1;
    if (unit == ReadingStore::DBm)
        return 2;
    const double a = std::fabs(value);
    return a >= 1000.0 ? 0 : a >= 100.0 ? 1 : a >= 10.0 ? 2 : 3;
}

} // namespace

ReadResult readReadings(const QString &path, qint64 pieceBytes, const Progress &progress)
{
    ReadResult result;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        result.errorMessage = file.errorString();
        return result;
    }
    RecordReader reader(file, std::max<qint64>(pieceBytes, 1), progress);
    std::vector<std::string_view> fields;
    QString error;

    // The header names the columns.
    RecordReader::Result got = reader.next(fields, &error);
    if (got == RecordReader::Failed) {
        result.errorMessage = error;
        result.cancelled = reader.cancelled();
        return result;
    }
    if (got == RecordReader::End) {
        result.errorMessage = tr("The file is empty.");
        return result;
    }
    int at[ColumnCount];
    int needed = 0;
    for (int c = 0; c < ColumnCount; ++c) {
        at[c] = -1;
        for (size_t f = 0; f < fields.size(); ++f) {
            if (QString::compare(text(trimmed(fields[f])), QLatin1String(kColumnNames[c]),
                                 Qt::CaseInsensitive) == 0) {
                at[c] = int(f);
                break;
            }
        }
        if (at[c] < 0 && c == Stored)
            continue;
        if (at[c] < 0) {
            result.errorMessage =
                tr("The file has no column \"%1\"; it is not a reading file of this program.")
                    .arg(QLatin1String(kColumnNames[c]));
            return result;
        }
        needed = std::max(needed, at[c] + 1);
    }

    TimeCache times;
    QHash<QByteArray, QString> units;
    const QString over = QStringLiteral("    OL");
    const QString under = QStringLiteral("   -OL");
    ReadingStore::Fields r;
    qint64 position = 0;
    for (;;) {
        got = reader.next(fields, &error);
        if (got == RecordReader::End)
            break;
        if (got == RecordReader::Failed) {
            result.errorMessage = error;
            result.cancelled = reader.cancelled();
            result.readings.clear();
            return result;
        }
        const qint64 row = reader.recordNumber();
        if (fields.size() == 1 && fields[0].empty())
            continue; // a blank line
        // Nothing of a broken file is kept: the caller makes no item of it.
        auto fail = [&](const QString &what) {
            result.errorMessage = tr("Row %1: %2").arg(row).arg(what);
            result.readings.clear();
            return std::move(result);
        };
        if (int(fields.size()) < needed)
            return fail(tr("%1 fields where %2 are needed.").arg(fields.size()).arg(needed));
        if (position >= std::numeric_limits<int>::max() - 1)
            return fail(tr("too many readings for one item."));

        auto field = [&](Column c) { return fields[size_t(at[c])]; };
        long long number = 0;
        if (!parseInt(field(No), &number) || number < std::numeric_limits<int>::min() ||
            number > std::numeric_limits<int>::max())
            return fail(tr("No \"%1\" is not a whole number.").arg(text(field(No))));

        WallTime time, meterTime;
        if (!parseTime(field(Time).data(), field(Time).data() + field(Time).size(), &time, times))
            return fail(tr("Time \"%1\" is not a time.").arg(text(field(Time))));
        if (!parseTime(field(MeterTime).data(), field(MeterTime).data() + field(MeterTime).size(),
                       &meterTime, times))
            return fail(tr("MeterTime \"%1\" is not a time.").arg(text(field(MeterTime))));

        const std::string_view unitField = unguarded(field(Unit));
        const QByteArray unitBytes(unitField.data(), int(unitField.size()));
        auto unitIt = units.constFind(unitBytes);
        if (unitIt == units.cend())
            unitIt = units.insert(unitBytes, QString::fromUtf8(unitBytes));
        const ReadingStore::Unit unit = ReadingStore::unitOf(unitIt.value());
        r.unit = unit;
        r.unitText = unit == ReadingStore::OtherUnit ? unitIt.value() : QString();
        const QString display = text(unguarded(field(Display)));

        const Column powers[3] = {PowerUW, PowerMW, PowerDBm};
        double values[3];
        int empty = 0;
        for (int k = 0; k < 3; ++k) {
            const std::string_view v = trimmed(field(powers[k]));
            if (v.empty()) {
                ++empty;
                continue;
            }
            if (!parseNumber(v.data(), v.data() + v.size(), &values[k]))
                return fail(tr("%1 \"%2\" is not a number.")
                                .arg(QLatin1String(kColumnNames[powers[k]]))
                                .arg(text(field(powers[k]))));
        }
        if (empty == 3) {
            // Over or under range: the numbers were left out on purpose.
            const bool isUnder = display.contains(QLatin1Char('-'));
            r.overload = isUnder ? -1 : 1;
            r.values[ReadingStore::UW] = isUnder ? 0.01 : 39990.0;
            r.values[ReadingStore::MW] = isUnder ? 0.00001 : 39.99;
            r.values[ReadingStore::DBm] = 10.0 * std::log10(r.values[ReadingStore::MW]);
            const QString &shown = display.isEmpty() ? (isUnder ? under : over) : display;
            for (int u = 0; u < 3; ++u) {
                r.decimals[u] = -1;
                r.texts[u] = shown;
            }
        } else if (empty != 0) {
            return fail(tr("the powers in uW, mW and dBm must all be given or all be empty."));
        } else {
            r.overload = 0;
            for (int u = 0; u < 3; ++u)
                r.values[u] = values[u];
            // The display text is the one in the reading's own unit; the others
            // are the values as the meter would show them.
            for (int u = 0; u < 3; ++u) {
                // A text that is its value printed is kept as its decimals.
                r.decimals[u] = u == unit ? ReadingStore::fixedDecimals(display, values[u])
                                          : qint8(meterDecimals(values[u], u));
                r.texts[u] = r.decimals[u] >= 0 ? QString()
                             : u == unit        ? display
                                                : QString::number(values[u]);
            }
        }

        long long waveLength = 0;
        if (!parseInt(field(WaveLength), &waveLength) || waveLength < 0 || waveLength > 0xFFFF)
            return fail(
                tr("Wavelength_nm \"%1\" is not a wavelength in nm.").arg(text(field(WaveLength))));
        r.waveLength = quint16(waveLength);
        if (at[Stored] >= 0) {
            const std::string_view stored = trimmed(field(Stored));
            if (stored != "0" && stored != "1")
                return fail(tr("Stored \"%1\" is neither 0 nor 1.").arg(text(field(Stored))));
            r.stored = stored == "1";
        } else {
            r.stored = number != position + 1;
        }
        r.storeNo = r.stored ? int(number) : 0;
        r.dateTime = time;
        r.dmmDateTime = meterTime;
        result.readings.append(r);
        ++position;
    }
    result.ok = true;
    return result;
}

} // namespace csv
