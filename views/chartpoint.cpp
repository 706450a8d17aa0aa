#include "chartpoint.h"

ChartPoint::ChartPoint(double value, const QString &valueText, const QDateTime &dateTime, int tagA,
                       int tagB, const QVariant &label)
    : m_tagA(tagA), m_tagB(tagB), m_dateTime(dateTime), m_value(value), m_valueText(valueText),
      m_label(label)
{
}
