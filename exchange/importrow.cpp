#include "importrow.h"

#include "dmmdata.h"
#include "reading.h"
#include "readingstore.h"
#include "xlsdatetime.h"

#include <QDateTime>

#include <cmath>
#include <limits>
#include <optional>

namespace {

WallTime timeFromCell(const QVariant &cell)
{
    switch (cell.userType()) {
    case QMetaType::QDateTime:
        return WallTime::fromDateTime(cell.toDateTime());
    case QMetaType::QDate:
        return WallTime::local(cell.toDate(), QTime(0, 0));
    default:
        break;
    }
    // The program's own texts are read without making a local QDateTime,
    // which costs a time-zone lookup per row.
    const QString text = cell.toString();
    QDate date;
    QTime time;
    if (xls::parseTimestamp(text, &date, &time))
        return WallTime::local(date, time);
    // Anything else a text may hold as Qt reads ISO 8601 ("2024-05-01T12:34:56",
    // with fractions of a second or a zone), which is what converting the
    // cell to a date-time accepts.
    return WallTime::fromDateTime(cell.toDateTime());
}

// C-locale decimal number; nothing for anything else, infinities and NaN
// included.
std::optional<double> numberFromText(const QString &text)
{
    bool ok = false;
    const double v = text.toDouble(&ok);
    if (!ok || !std::isfinite(v))
        return std::nullopt;
    return v;
}

void setOverload(ReadingStore::Fields *f, bool under)
{
    static const QString overText = QStringLiteral("    OL");
    static const QString underText = QStringLiteral("   -OL");
    f->values[ReadingStore::UW] = under ? 0.01 : 39990.0;
    f->values[ReadingStore::MW] = under ? 0.00001 : 39.99;
    f->values[ReadingStore::DBm] = 10.0 * std::log10(under ? 0.00001 : 39.99);
    for (int u = 0; u < 3; ++u) {
        f->decimals[u] = -1;
        f->texts[u] = under ? underText : overText;
    }
    f->overload = under ? -1 : 1;
}

// The row's own text is kept as read; the other two units are its value
// converted and printed with the meter's decimals.
void setValues(ReadingStore::Fields *f, const QString &valueText, ReadingStore::Unit unit)
{
    f->overload = 0;
    const std::optional<double> number = numberFromText(valueText);
    if (!number && unit == ReadingStore::DBm) {
        // 0 dBm is a power (1 mW) like any other: a dBm value that is no
        // number has no power at all. Every figure leaves it out (its values
        // are no numbers); the table shows its text.
        for (int u = 0; u < 3; ++u) {
            f->values[u] = std::numeric_limits<double>::quiet_NaN();
            f->decimals[u] = -1;
            f->texts[u] = valueText;
        }
        return;
    }
    const double v = number.value_or(0.0);
    double *values = f->values;
    qint8 *decimals = f->decimals;
    switch (unit) {
    case ReadingStore::UW:
        values[ReadingStore::UW] = v;
        values[ReadingStore::MW] = v / 1000.0;
        values[ReadingStore::DBm] = 10.0 * std::log10(v / 1000.0);
        decimals[ReadingStore::MW] = 3;
        decimals[ReadingStore::DBm] = 2;
        break;
    case ReadingStore::MW:
        values[ReadingStore::UW] = v * 1000.0;
        values[ReadingStore::MW] = v;
        values[ReadingStore::DBm] = 10.0 * std::log10(v);
        decimals[ReadingStore::UW] = v > 3.999 ? 2 : 1;
        decimals[ReadingStore::DBm] = 2;
        break;
    case ReadingStore::DBm: {
        const double uw = std::pow(10.0, v / 10.0) * 1000.0;
        values[ReadingStore::UW] = uw;
        values[ReadingStore::MW] = uw / 1000.0;
        values[ReadingStore::DBm] = v;
        decimals[ReadingStore::UW] = 1;
        decimals[ReadingStore::MW] = 3;
        break;
    }
    default:
        // Values of an unknown unit cannot be derived: leave them at zero and
        // the texts empty, as lookups by that unit report anyway.
        for (int u = 0; u < 3; ++u) {
            values[u] = 0.0;
            decimals[u] = -1;
            f->texts[u].clear();
        }
        return;
    }
    for (int u = 0; u < 3; ++u)
        f->texts[u].clear();
    decimals[unit] = ReadingStore::fixedDecimals(valueText, v);
    if (decimals[unit] < 0)
        f->texts[unit] = valueText;
}

quint16 waveLengthFromText(QString text)
{
    // "1550nm" as the export writes it, or a number cell (1550) as a
    // spreadsheet may have made of it.
    if (text.endsWith(QLatin1String("nm")))
        text.chop(2);
    bool ok = false;
    const qlonglong n = text.toLongLong(&ok, 10);
    // Kept to 16 bits like the meter's own field.
    return ok ? quint16(quint64(n) & 0xFFFF) : quint16(0);
}

} // namespace

ReadingStore::Fields fieldsOfRow(const QVariantList &row)
{
    ReadingStore::Fields f;
    const QString valueText = row.value(2).toString();
    const QString unit = row.value(3).toString();
    f.unit = ReadingStore::unitOf(unit);
    if (f.unit == ReadingStore::OtherUnit)
        f.unitText = unit;
    if (valueText.contains(QLatin1Char('L')))
        setOverload(&f, valueText.contains(QLatin1Char('-')));
    else
        setValues(&f, valueText, f.unit);
    f.dateTime = timeFromCell(row.value(1));
    f.waveLength = waveLengthFromText(row.value(4).toString());
    return f;
}

Reading readingOfRow(const QVariantList &row)
{
    return ReadingStore::readingOf(fieldsOfRow(row));
}

DmmData *readingFromRow(const QVariantList &row)
{
    return readingOfRow(row).toDmmData();
}

QString nextImportName(const QStringList &existingNames)
{
    int n = 1;
    for (const QString &name : existingNames) {
        if (name.startsWith(QLatin1String("Import")))
            ++n;
    }
    return QStringLiteral("Import%1").arg(n);
}
