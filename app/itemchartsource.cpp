#include "itemchartsource.h"

void ItemChartSource::setUnit(const QString &unit)
{
    m_unit = unit;
    m_unitCode = ReadingStore::unitOf(unit);
}

double ItemChartSource::value(int index) const
{
    return has(index) ? m_store->value(index, m_unitCode) : 0.0;
}

QDateTime ItemChartSource::dateTime(int index) const
{
    if (!has(index))
        return QDateTime();
    // A stored reading is dated by the meter's clock however it is drawn.
    return m_store->shownTime(index).toDateTime();
}

QString ItemChartSource::label(int index) const
{
    if (!has(index))
        return QString();
    const QString text = m_store->text(index, m_unitCode);
    if (m_downloadLabels)
        return text + m_unit;
    QString label = QStringLiteral("%1 %2").arg(text, m_unit);
    const QString ownUnit = m_store->unit(index);
    if (ownUnit != m_unit)
        label += QStringLiteral("[%1 %2]").arg(m_store->ownText(index), ownUnit);
    return label;
}

void ItemChartSource::values(int from, int n, double *out) const
{
    for (int i = 0; i < n; ++i)
        out[i] = value(from + i);
}

int ItemChartSource::rangeMark(int index) const
{
    if (!has(index))
        return 0;
    const int overload = m_store->overload(index);
    return overload > 0 ? 1 : overload < 0 ? -1 : 0;
}

qint64 ItemChartSource::timeKey(int index) const
{
    // The store's null time is the chart's NoTime.
    return has(index) ? m_store->shownTime(index).ms : NoTime;
}
