// SPDX-License-Identifier: MIT
// References and limits in the user's configuration (kv930.conf, with the
// journal's settings), beside (not in) options.xml, whose layout stays as it is.
#include "recording.h"

#include <QSettings>

namespace {
void writeLimit(QSettings &settings, const QString &key, const std::optional<double> &value)
{
    if (value)
        settings.setValue(key, analysis::exactNumber(*value));
    else
        settings.remove(key);
}

std::optional<double> readLimit(const QSettings &settings, const QString &key)
{
    if (!settings.contains(key))
        return std::nullopt;
    const std::optional<double> value = analysis::parseNumber(settings.value(key).toString());
    if (!value)
        qWarning("Configuration: %s is not a number; no such limit.", qPrintable(key));
    return value;
}
} // namespace

void Recording::loadAnalysisSettings()
{
    const QSettings settings(QStringLiteral("kv930"), QStringLiteral("kv930"));
    const int skipped = m_judge.referencesFromText(
        settings.value(QStringLiteral("analysis/references")).toString());
    if (skipped > 0)
        qWarning("Configuration: %d unreadable references skipped.", skipped);
    analysis::Limits limits;
    limits.lower = readLimit(settings, QStringLiteral("analysis/dBmLower"));
    limits.upper = readLimit(settings, QStringLiteral("analysis/dBmUpper"));
    m_judge.setDBmLimits(limits);
    limits.lower = readLimit(settings, QStringLiteral("analysis/lossLower"));
    limits.upper = readLimit(settings, QStringLiteral("analysis/lossUpper"));
    m_judge.setLossLimits(limits);
}

void Recording::saveAnalysisSettings() const
{
    QSettings settings(QStringLiteral("kv930"), QStringLiteral("kv930"));
    settings.setValue(QStringLiteral("analysis/references"), m_judge.referencesToText());
    writeLimit(settings, QStringLiteral("analysis/dBmLower"), m_judge.dBmLimits().lower);
    writeLimit(settings, QStringLiteral("analysis/dBmUpper"), m_judge.dBmLimits().upper);
    writeLimit(settings, QStringLiteral("analysis/lossLower"), m_judge.lossLimits().lower);
    writeLimit(settings, QStringLiteral("analysis/lossUpper"), m_judge.lossLimits().upper);
    settings.sync();
    if (settings.status() != QSettings::NoError)
        qWarning("Configuration: references and limits could not be saved to %s.",
                 qPrintable(settings.fileName()));
}
