#include "importrow.h"

#include "dmmdata.h"
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
    if (!xls::parseTimestamp(cell.toString(), &date, &time))
        return QDateTime();
    return QDateTime(date, time);
}

// C-locale decimal number; anything else, infinities and NaN included, is 0.
double numberFromText(const QString &text)
{
    bool ok = false;
    const double v = text.toDouble(&ok);
    return ok && std::isfinite(v) ? v : 0.0;
}

void setOverload(DmmData *d, bool under)
{
    const QString text = under ? QStringLiteral("   -OL") : QStringLiteral("    OL");
    d->setValueUW(under ? 0.01 : 39990.0);
    d->setValueMW(under ? 0.00001 : 39.99);
    d->setValueDBm(10.0 * std::log10(under ? 0.00001 : 39.99));
    d->setTextUW(text);
    d->setTextMW(text);
    d->setTextDBm(text);
    d->setOverload(under ? -1 : 1);
}

void setValues(DmmData *d, const QString &valueText, const QString &unit)
{
    d->setOverload(0);
    const double v = numberFromText(valueText);
    if (unit == QLatin1String("uW")) {
        d->setValueUW(v);
        d->setValueMW(v / 1000.0);
        d->setValueDBm(10.0 * std::log10(v / 1000.0));
        d->setTextUW(valueText);
        d->setTextMW(QString::number(v / 1000.0, 'f', 3));
        d->setTextDBm(QString::number(10.0 * std::log10(v / 1000.0), 'f', 2));
    } else if (unit == QLatin1String("mW")) {
        d->setValueUW(v * 1000.0);
        d->setValueMW(v);
        d->setValueDBm(10.0 * std::log10(v));
        d->setTextUW(QString::number(v * 1000.0, 'f', v > 3.999 ? 2 : 1));
        d->setTextMW(valueText);
        d->setTextDBm(QString::number(10.0 * std::log10(v), 'f', 2));
    } else if (unit == QLatin1String("dBm")) {
        const double uw = std::pow(10.0, v / 10.0) * 1000.0;
        d->setValueUW(uw);
        d->setValueMW(uw / 1000.0);
        d->setValueDBm(v);
        d->setTextUW(QString::number(uw, 'f', 1));
        d->setTextMW(QString::number(uw / 1000.0, 'f', 3));
        d->setTextDBm(valueText);
    } else {
        // Values of an unknown unit cannot be derived: leave them at zero and
        // the texts empty, as lookups by that unit report anyway.
        d->setValueUW(0.0);
        d->setValueMW(0.0);
        d->setValueDBm(0.0);
        d->setTextUW(QString());
        d->setTextMW(QString());
        d->setTextDBm(QString());
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

DmmData *readingFromRow(const QVariantList &row)
{
    auto *d = new DmmData;
    const QString valueText = row.value(2).toString();
    const QString unit = row.value(3).toString();
    if (valueText.contains(QLatin1Char('L')))
        setOverload(d, valueText.contains(QLatin1Char('-')));
    else
        setValues(d, valueText, unit);
    d->setDateTime(timeFromCell(row.value(1)));
    d->setUnit(unit);
    d->setWaveLength(waveLengthFromText(row.value(4).toString()));
    return d;
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
