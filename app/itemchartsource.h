#pragma once

#include "chartsource.h"
#include "readingstore.h"

// The active item's readings as the trend chart's points: the value in the
// chart unit, the reading's time (the meter's for stored readings) and the
// read-out label, all read from the item's store when the chart asks.
class ItemChartSource : public ChartSource
{
public:
    // The store must stay alive while the chart holds this source.
    void setStore(const ReadingStore *store) { m_store = store; }
    const ReadingStore *store() const { return m_store; }
    void setUnit(const QString &unit);
    // While a download is shown, labels have no blank before the unit.
    void setDownloadLabels(bool on) { m_downloadLabels = on; }

    int count() const override { return m_store ? m_store->size() : 0; }
    double value(int index) const override;
    QDateTime dateTime(int index) const override;
    QString label(int index) const override;
    void values(int from, int n, double *out) const override;
    int rangeMark(int index) const override;
    // The shown time in ms, straight from the store (no QDateTime per reading).
    qint64 timeKey(int index) const override;

private:
    bool has(int index) const { return m_store && index >= 0 && index < m_store->size(); }

    const ReadingStore *m_store = nullptr;
    QString m_unit;
    ReadingStore::Unit m_unitCode = ReadingStore::OtherUnit;
    bool m_downloadLabels = false;
};
