#pragma once

#include "sample.h"

#include <QHash>
#include <QString>

#include <optional>

namespace analysis {

enum class Verdict : quint8
{
    None, // no limits, or a reading without a usable power
    Low,
    Pass,
    High
};
// "LOW", "PASS", "HIGH"; empty for None.
const char *verdictText(Verdict verdict);

// An optional lower and an optional upper limit, both inclusive.
struct Limits
{
    std::optional<double> lower;
    std::optional<double> upper;

    bool isEmpty() const { return !lower && !upper; }
    // None when there are no limits or the value is NaN.
    Verdict verdict(double value) const;
    bool operator==(const Limits &o) const { return lower == o.lower && upper == o.upper; }
    bool operator!=(const Limits &o) const { return !(*this == o); }
};

// Reads a number typed by a person: C locale or the system's, blanks around
// it, and an optional unit after it (e.g. "-3.5 dBm" with unit "dBm").
// Infinities, NaN and anything else are no number.
std::optional<double> parseNumber(const QString &text, const QString &unit = QString());

// References per wavelength, limits, and how readings are judged against them.
//
// A reading whose wavelength has a reference is judged by its loss
// (reference dBm minus reading dBm) against the loss limits; any other reading
// by its power in dBm against the dBm limits. A reference given for every
// wavelength applies to wavelengths without one of their own.
//
// Over- and under-range readings have no power, but lie beyond the meter's
// range: under range is below every power (no light, a broken fibre), so LOW
// against a lower power limit and HIGH against an upper loss limit (the loss
// is unbounded); over range is HIGH against an upper power limit and LOW
// against a lower loss limit. They still have no loss.
class Judge
{
public:
    std::optional<double> reference(quint16 waveLength) const;
    bool hasReference(quint16 waveLength) const { return reference(waveLength).has_value(); }
    bool hasAnyReference() const { return m_hasCommon || !m_references.isEmpty(); }
    // A finite dBm value; false (and nothing changes) otherwise.
    bool setReference(quint16 waveLength, double dBm);
    bool setCommonReference(double dBm);
    void clearReferences();

    const Limits &dBmLimits() const { return m_dBmLimits; }
    const Limits &lossLimits() const { return m_lossLimits; }
    void setDBmLimits(const Limits &limits);
    void setLossLimits(const Limits &limits);
    // The limits a reading at this wavelength is judged by.
    const Limits &limitsFor(quint16 waveLength) const
    {
        return hasReference(waveLength) ? m_lossLimits : m_dBmLimits;
    }

    // Reference minus reading in dB; NaN without a reference or a usable power.
    double loss(const Sample &sample) const;
    Verdict verdict(const Sample &sample) const;
    // Both at once (one reference look-up), for callers judging many readings.
    Verdict verdict(const Sample &sample, double *loss) const;

    // Changes with every change that can change a loss or a verdict; never
    // the same for two different judges' states.
    quint64 version() const { return m_version; }

    // "1310=-3.5;1550=-2.75;*=-3" (shortest exact numbers); fromText skips
    // entries it cannot read and reports how many it skipped.
    QString referencesToText() const;
    int referencesFromText(const QString &text);

private:
    void changed();

    QHash<quint16, double> m_references;
    double m_common = 0.0;
    bool m_hasCommon = false;
    Limits m_dBmLimits;
    Limits m_lossLimits;
    quint64 m_version = 0;
};

// Shortest text that reads back as the same double ("-3.5", "1e-05", "nan").
QString exactNumber(double value);

} // namespace analysis
