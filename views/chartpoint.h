#pragma once

#include <QDateTime>
#include <QString>
#include <QVariant>

// One point of the trend chart: a reading's value in the chart unit at the time
// the point was built, its display text, its time and the read-out label.
// A plain record created on the heap by the caller; the chart series owns it
// once added.
class ChartPoint
{
public:
    ChartPoint(double value, const QString &valueText, const QDateTime &dateTime, int tagA,
               int tagB, const QVariant &label);
    ChartPoint(const ChartPoint &) = delete;
    ChartPoint &operator=(const ChartPoint &) = delete;

    QDateTime dateTime() const { return m_dateTime; }
    double value() const { return m_value; }
    QVariant label() const { return m_label; }
    QString valueText() const { return m_valueText; }
    int tagA() const { return m_tagA; }
    int tagB() const { return m_tagB; }

private:
    qint32 m_tagA;
    qint32 m_tagB;
    QDateTime m_dateTime;
    double m_value;
    QString m_valueText;
    QVariant m_label;
};
