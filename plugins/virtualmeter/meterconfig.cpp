#include "meterconfig.h"

#include <QFileInfo>
#include <QSettings>

#include <algorithm>
#include <cmath>

namespace {
double readDouble(const QSettings &s, const QString &key, double fallback, double lo, double hi)
{
    bool ok = false;
    const double v = s.value(key, fallback).toDouble(&ok);
    if (!ok || !std::isfinite(v))
        return fallback;
    return std::clamp(v, lo, hi);
}

int readInt(const QSettings &s, const QString &key, int fallback, int lo, int hi)
{
    bool ok = false;
    const int v = s.value(key, fallback).toInt(&ok);
    return ok ? std::clamp(v, lo, hi) : fallback;
}

bool readBool(const QSettings &s, const QString &key, bool fallback)
{
    const QString v = s.value(key, fallback ? QStringLiteral("true") : QStringLiteral("false"))
                          .toString()
                          .trimmed()
                          .toLower();
    if (v == QLatin1String("true") || v == QLatin1String("1") || v == QLatin1String("yes") ||
        v == QLatin1String("on"))
        return true;
    if (v == QLatin1String("false") || v == QLatin1String("0") || v == QLatin1String("no") ||
        v == QLatin1String("off"))
        return false;
    return fallback;
}
} // namespace

MeterConfig MeterConfig::load(const QString &iniPath)
{
    MeterConfig c;
    if (iniPath.isEmpty() || !QFileInfo(iniPath).isFile())
        return c;
    const QSettings s(iniPath, QSettings::IniFormat);

    c.rate = readDouble(s, QStringLiteral("meter/rate"), c.rate, 0.1, 1000.0);
    const QString unit = s.value(QStringLiteral("meter/unit"), c.unit).toString().trimmed();
    for (const char *known : {"uW", "mW", "dBm", "cycle"}) {
        if (unit == QLatin1String(known))
            c.unit = unit;
    }
    c.waveLength = readInt(s, QStringLiteral("meter/waveLength"), c.waveLength, 0, 65535);
    c.powerDBm = readDouble(s, QStringLiteral("meter/power"), c.powerDBm, -70.0, 30.0);
    c.rangeEventChance =
        readDouble(s, QStringLiteral("meter/rangeEventChance"), c.rangeEventChance, 0.0, 1.0);
    c.storedCount = readInt(s, QStringLiteral("meter/storedCount"), c.storedCount, 0, 100000);
    c.burstSize = readInt(s, QStringLiteral("meter/burstSize"), c.burstSize, 1, 100000);
    c.burstIntervalMs =
        readInt(s, QStringLiteral("meter/burstIntervalMs"), c.burstIntervalMs, 0, 60000);
    c.openDelayMs = readInt(s, QStringLiteral("meter/openDelayMs"), c.openDelayMs, 0, 60000);
    c.threaded = readBool(s, QStringLiteral("meter/threaded"), c.threaded);

    c.unplugMidDownload = readBool(s, QStringLiteral("fault/unplugMidDownload"), false);
    c.stopMidTransfer = readBool(s, QStringLiteral("fault/stopMidTransfer"), false);
    c.announceExtra = readInt(s, QStringLiteral("fault/announceExtra"), 0, 0, 100000);
    c.sendExtra = readInt(s, QStringLiteral("fault/sendExtra"), 0, 0, 100000);
    c.nullEvery = readInt(s, QStringLiteral("fault/nullEvery"), 0, 0, 1000000);
    c.nonFiniteEvery = readInt(s, QStringLiteral("fault/nonFiniteEvery"), 0, 0, 1000000);
    c.unknownUnitEvery = readInt(s, QStringLiteral("fault/unknownUnitEvery"), 0, 0, 1000000);
    return c;
}
