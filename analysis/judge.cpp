#include "judge.h"

#include <QLocale>
#include <QStringList>

#include <algorithm>
#include <atomic>
#include <charconv>
#include <cmath>
#include <limits>

namespace analysis {

namespace {
quint64 nextVersion()
{
    static std::atomic<quint64> counter{0};
    return ++counter;
}
} // namespace

const char *verdictText(Verdict verdict)
{
    switch (verdict) {
    case Verdict::Low:
        return "LOW";
    case Verdict::Pass:
        return "PASS";
    case Verdict::High:
        return "HIGH";
    case Verdict::None:
        break;
    }
    return "";
}

Verdict Limits::verdict(double value) const
{
    if (isEmpty() || std::isnan(value))
        return Verdict::None;
    if (lower && value < *lower)
        return Verdict::Low;
    if (upper && value > *upper)
        return Verdict::High;
    return Verdict::Pass;
}

std::optional<double> parseNumber(const QString &text, const QString &unit)
{
    QString t = text.trimmed();
    if (!unit.isEmpty() && t.endsWith(unit, Qt::CaseInsensitive))
        t = t.left(t.size() - unit.size()).trimmed();
    if (t.isEmpty())
        return std::nullopt;
    // Group separators are refused: "1,5" is no 15 anywhere.
    QLocale c = QLocale::c();
    c.setNumberOptions(QLocale::RejectGroupSeparator);
    QLocale system = QLocale::system();
    system.setNumberOptions(QLocale::RejectGroupSeparator);
    bool ok = false;
    double v = c.toDouble(t, &ok);
    if (!ok)
        v = system.toDouble(t, &ok);
    if (!ok || !std::isfinite(v))
        return std::nullopt;
    return v;
}

QString exactNumber(double value)
{
    char buffer[32];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return QString::fromLatin1(buffer, int(result.ptr - buffer));
}

std::optional<double> Judge::reference(quint16 waveLength) const
{
    const auto it = m_references.constFind(waveLength);
    if (it != m_references.cend())
        return it.value();
    if (m_hasCommon)
        return m_common;
    return std::nullopt;
}

bool Judge::setReference(quint16 waveLength, double dBm)
{
    if (!std::isfinite(dBm))
        return false;
    m_references.insert(waveLength, dBm);
    changed();
    return true;
}

bool Judge::setCommonReference(double dBm)
{
    if (!std::isfinite(dBm))
        return false;
    m_common = dBm;
    m_hasCommon = true;
    changed();
    return true;
}

void Judge::clearReferences()
{
    m_references.clear();
    m_hasCommon = false;
    changed();
}

void Judge::setDBmLimits(const Limits &limits)
{
    m_dBmLimits = limits;
    changed();
}

void Judge::setLossLimits(const Limits &limits)
{
    m_lossLimits = limits;
    changed();
}

void Judge::changed()
{
    m_version = nextVersion();
}

double Judge::loss(const Sample &sample) const
{
    if (!sample.usable)
        return std::nan("");
    const std::optional<double> ref = reference(sample.waveLength);
    return ref ? *ref - sample.dBm : std::nan("");
}

Verdict Judge::verdict(const Sample &sample, double *loss) const
{
    *loss = std::nan("");
    if (!sample.usable && sample.range == 0)
        return Verdict::None;
    const std::optional<double> ref = reference(sample.waveLength);
    if (!sample.usable) {
        // Beyond the range: a power past every limit on its side.
        const double beyond = sample.range * std::numeric_limits<double>::infinity();
        return ref ? m_lossLimits.verdict(-beyond) : m_dBmLimits.verdict(beyond);
    }
    if (!ref)
        return m_dBmLimits.verdict(sample.dBm);
    *loss = *ref - sample.dBm;
    return m_lossLimits.verdict(*loss);
}

Verdict Judge::verdict(const Sample &sample) const
{
    double loss;
    return verdict(sample, &loss);
}

QString Judge::referencesToText() const
{
    QList<quint16> waveLengths = m_references.keys();
    std::sort(waveLengths.begin(), waveLengths.end());
    QStringList entries;
    for (quint16 w : waveLengths)
        entries << QStringLiteral("%1=%2").arg(w).arg(exactNumber(m_references.value(w)));
    if (m_hasCommon)
        entries << QStringLiteral("*=%1").arg(exactNumber(m_common));
    return entries.join(QLatin1Char(';'));
}

int Judge::referencesFromText(const QString &text)
{
    m_references.clear();
    m_hasCommon = false;
    int skipped = 0;
    const QStringList entries = text.split(QLatin1Char(';'), Qt::SkipEmptyParts);
    for (const QString &entry : entries) {
        const int eq = entry.indexOf(QLatin1Char('='));
        bool ok = false;
        const double dBm = eq > 0 ? QLocale::c().toDouble(entry.mid(eq + 1).trimmed(), &ok) : 0.0;
        if (!ok || !std::isfinite(dBm)) {
            ++skipped;
            continue;
        }
        const QString key = entry.left(eq).trimmed();
        if (key == QLatin1String("*")) {
            m_common = dBm;
            m_hasCommon = true;
            continue;
        }
        const uint w = key.toUInt(&ok);
        if (!ok || w > 0xFFFF) {
            ++skipped;
            continue;
        }
        m_references.insert(quint16(w), dBm);
    }
    changed();
    return skipped;
}

} // namespace analysis
