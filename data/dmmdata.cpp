#include "dmmdata.h"

#include <QAtomicInt>

namespace {
QAtomicInt g_liveInstances;
}

DmmData::DmmData(QObject *parent) : QObject(parent)
{
    g_liveInstances.ref();
}

DmmData::~DmmData()
{
    g_liveInstances.deref();
}

int DmmData::liveInstances()
{
    return g_liveInstances.loadRelaxed();
}

double DmmData::value(const QString &unit) const
{
    if (unit == QLatin1String("uW"))
        return m_valueUW;
    if (unit == QLatin1String("mW"))
        return m_valueMW;
    if (unit == QLatin1String("dBm"))
        return m_valueDBm;
    return 0.0;
}

QString DmmData::valueText(const QString &unit) const
{
    if (unit == QLatin1String("uW"))
        return m_textUW;
    if (unit == QLatin1String("mW"))
        return m_textMW;
    if (unit == QLatin1String("dBm"))
        return m_textDBm;
    return QString();
}
