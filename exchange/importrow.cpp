#include "importrow.h"

#include "dmmdata.h"
#include "reading.h"
#include "xlsdatetime.h"

#include <QDateTime>

#include <cmath>

namespace {

QDateTime timeFromCell(const QVariant &cell)
{
    switch (cell.userType()) {
    case QMetaType::QDateTime:
        return cell.toDateTime();
    case QMetaType::QDate:
        return QDateTime(cell.toDate(), QTime(0, 0));
    default:
        break;
    }
    QDate date;
    QTime time;
    if (xls::parseTimestamp(cell.toString(), &date, &time))
        return QDateTime(date, time);
    // Anything else a text may hold as Qt reads ISO 8601 ("2024-05-01T12:34:56",
    // with fractions of a second or a zone), which is what converting the
    // cell to a date-time accepts.
    return cell.toDateTime();
}

// C-locale decimal number; anything else, infinities and NaN included, is 0.
double numberFromText(const QString &text)
{
    bool ok = false;
    const double v = text.toDouble(&ok);
    return ok && std::isfinite(v) ? v : 0.0;
}

void setOverload(Reading *r, bool under)
{
    const QString text = under ? QStringLiteral("   -OL") : QStringLiteral("    OL");
    r->valueUW = under ? 0.01 : 39990.0;
    r->valueMW = under ? 0.00001 : 39.99;
    r->valueDBm = 10.0 * std::log10(under ? 0.00001 : 39.99);
    r->textUW = text;
    r->textMW = text;
    r->textDBm = text;
    r->overload = under ? -1 : 1;
}

void setValues(Reading *r, const QString &valueText, const QString &unit)
{
    r->overload = 0;
    const double v = numberFromText(valueText);
    if (unit == QLatin1String("uW")) {
        r->valueUW = v;
        r->valueMW = v / 1000.0;
        r->valueDBm = 10.0 * std::log10(v / 1000.0);
        r->textUW = valueText;
        r->textMW = QString::number(v / 1000.0, 'f', 3);
        r->textDBm = QString::number(10.0 * std::log10(v / 1000.0), 'f', 2);
    } else if (unit == QLatin1String("mW")) {
        r->valueUW = v * 1000.0;
        r->valueMW = v;
        r->valueDBm = 10.0 * std::log10(v);
        r->textUW = QString::number(v * 1000.0, 'f', v > 3.999 ? 2 : 1);
        r->textMW = valueText;
        r->textDBm = QString::number(10.0 * std::log10(v), 'f', 2);
    } else if (unit == QLatin1String("dBm")) {
        const double uw = std::pow(10.0, v / 10.0) * 1000.0;
        r->valueUW = uw;
        r->valueMW = uw / 1000.0;
        r->valueDBm = v;
        r->textUW = QString::number(uw, 'f', 1);
        r->textMW = QString::number(uw / 1000.0, 'f', 3);
        r->textDBm = valueText;
    } else {
        // Values of an unknown unit cannot be derived: leave them at zero and
        // the texts empty, as lookups by that unit report anyway.
        r->valueUW = 0.0;
        r->valueMW = 0.0;
        r->valueDBm = 0.0;
        r->textUW = QString();
        r->textMW = QString();
        r->textDBm = QString();
    }
}

quint16 waveLengthFromText(QString text)
{
    text.chop(2);
    bool ok = false;
    const qlonglong n = text.toLongLong(&ok, 10);
    // Kept to 16 bits like the meter's own field.
    return ok ? quint16(quint64(n) & 0xFFFF) : quint16(0);
}

} // namespace

Reading readingOfRow(const QVariantList &row)
{
    Reading reading;
    Reading *r = &reading;
    const QString valueText = row.value(2).toString();
    const QString unit = row.value(3).toString();
    if (valueText.contains(QLatin1Char('L')))
        setOverload(r, valueText.contains(QLatin1Char('-')));
    else
        setValues(r, valueText, unit);
    r->dateTime = timeFromCell(row.value(1));
    r->unit = unit;
    r->waveLength = waveLengthFromText(row.value(4).toString());
    return reading;
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
