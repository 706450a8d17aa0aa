#pragma once

#include <QDateTime>
#include <QObject>
#include <QString>

// One reading of the meter: the same power in uW, mW and dBm with ready-made
// display texts, the unit the meter showed, the wavelength and two time stamps.
//
// The class is part of the driver plugin contract: plugins allocate readings
// and the program deletes them, so both sides compile this very file and the
// field order below must not change.
class DmmData : public QObject
{
    Q_OBJECT
public:
    explicit DmmData(QObject *parent = nullptr);
    ~DmmData() override;

    QDateTime dateTime() const { return m_dateTime; }
    QDateTime dmmDateTime() const { return m_dmmDateTime; }
    double valueMW() const { return m_valueMW; }
    QString unit() const { return m_unit; }
    quint16 waveLength() const { return m_waveLength; }
    bool stored() const { return m_stored; }
    int storeNo() const { return m_storeNo; }
    // Range state: 0 normal, 1 over range, -1 under range. (Inline, so drivers
    // built against an older copy of this header stay compatible.)
    int overload() const { return m_overload; }

    // Looks a value up by unit text: exactly "uW", "mW" or "dBm"; 0.0 otherwise.
    double value(const QString &unit) const;
    // Display text by unit text; empty for an unknown unit.
    QString valueText(const QString &unit) const;

    void setDateTime(const QDateTime &dateTime) { m_dateTime = dateTime; }
    void setDmmDateTime(const QDateTime &dateTime) { m_dmmDateTime = dateTime; }
    void setValueUW(double value) { m_valueUW = value; }
    void setValueMW(double value) { m_valueMW = value; }
    void setValueDBm(double value) { m_valueDBm = value; }
    void setTextUW(const QString &text) { m_textUW = text; }
    void setTextMW(const QString &text) { m_textMW = text; }
    void setTextDBm(const QString &text) { m_textDBm = text; }
    void setOverload(int overload) { m_overload = overload; }
    void setUnit(const QString &unit) { m_unit = unit; }
    void setWaveLength(const quint16 &waveLength) { m_waveLength = waveLength; }
    void setStored(bool stored) { m_stored = stored; }
    void setStoreNo(int storeNo) { m_storeNo = storeNo; }

    // Number of live DmmData objects in this module; lets tests prove that
    // every reading is deleted exactly once.
    static int liveInstances();

private:
    QDateTime m_dateTime;
    QDateTime m_dmmDateTime;
    double m_valueUW = 0.0;
    double m_valueMW = 0.0;
    double m_valueDBm = 0.0;
    QString m_textUW;
    QString m_textMW;
    QString m_textDBm;
    qint32 m_overload = 0;
    QString m_unit;
    quint16 m_waveLength = 0;
    bool m_stored = false;
    qint32 m_storeNo = 0;
};

Q_DECLARE_METATYPE(const DmmData *)
